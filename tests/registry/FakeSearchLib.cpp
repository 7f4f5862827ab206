#include "FakeSearchLib.h"

#include "SearchDeviceOpt.h"

FakeSearchLib g_fakeSearchLib;

// Defining all of them here keeps the linker from pulling the real entry points
// out of the library archive.
extern "C" int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir,
                               bool bMultiIP)
{
    ++g_fakeSearchLib.initCalls;
    g_fakeSearchLib.callback = callback;
    g_fakeSearchLib.bLogEnable = bLogEnable;
    g_fakeSearchLib.logDir = logDir != nullptr ? logDir : "(null)";
    g_fakeSearchLib.bMultiIP = bMultiIP;
    return g_fakeSearchLib.initResult;
}

extern "C" int SendMessageToDevice(struct dhcppacket* pdhcp)
{
    ++g_fakeSearchLib.sendCalls;
    g_fakeSearchLib.lastPacket = pdhcp;
    return g_fakeSearchLib.sendResult;
}

extern "C" void search_dll_exit(void)
{
    ++g_fakeSearchLib.exitCalls;
}

extern "C" int search_dll_set_interfaces(const char* const* include, int nInclude, const char* const* exclude,
                                         int nExclude)
{
    g_fakeSearchLib.include.assign(include, include + nInclude);
    g_fakeSearchLib.exclude.assign(exclude, exclude + nExclude);
    return 0;
}

extern "C" int search_dll_set_broadcast_socket(int fd, int /*bindError*/)
{
    g_fakeSearchLib.broadcastSocket = fd;
    return 0;
}

extern "C" int search_dll_start_broadcast_helper(const char* helperPath)
{
    g_fakeSearchLib.broadcastHelper = helperPath != nullptr ? helperPath : "";
    return 0;
}

extern "C" int search_dll_get_status(struct search_dll_status* status)
{
    *status = g_fakeSearchLib.status;
    return 0;
}

search_dll_status AllSearchesRun()
{
    search_dll_status status{};
    status.multi_address = 1;
    status.broadcast_port = 67;
    status.broadcast_device_port = 68;
    status.broadcast_bound = 1;
    status.group_port = 1900;
    status.group_bound_port = 1900;
    status.address_searches = 1;
    status.address_searches_bound = 1;
    status.search_interfaces = 1;
    return status;
}

extern "C" int search_dll_set_unicast_addresses(const char* const* addresses, int nAddresses)
{
    ++g_fakeSearchLib.unicastCalls;
    g_fakeSearchLib.unicast.assign(addresses, addresses + (nAddresses > 0 ? nAddresses : 0));
    return 0;
}

namespace
{
std::string Dotted(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}
} // namespace

extern "C" int search_dll_set_unicast_ipv4(const uint32_t* addresses, int nAddresses)
{
    ++g_fakeSearchLib.unicastCalls;
    g_fakeSearchLib.unicast.clear();
    for (int i = 0; i < nAddresses; ++i)
        g_fakeSearchLib.unicast.push_back(Dotted(addresses[i]));
    return 0;
}

extern "C" int search_dll_search_unicast_ipv4(const uint32_t* addresses, int nAddresses)
{
    ++g_fakeSearchLib.searchNowCalls;
    for (int i = 0; i < nAddresses; ++i)
        g_fakeSearchLib.searchedNow.push_back(Dotted(addresses[i]));
    return 0;
}
