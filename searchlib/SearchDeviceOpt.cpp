#include "SearchDeviceOpt.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "BroadcastProtocol.h"
#include "SearchDeviceClient.h"
#include "SearchDeviceInfo.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;

namespace
{
// The library runs once per process: started, then stopped, never again. A call
// out of that order would send on sockets that worker threads close, or rewrite
// the log path under the workers that read it, so it does nothing instead.
enum class LibraryState
{
    NotStarted,
    Running,
    Stopped,
};
std::atomic<LibraryState> g_state{LibraryState::NotStarted};

bool Advance(LibraryState from, LibraryState to)
{
    return g_state.compare_exchange_strong(from, to);
}

std::vector<std::string> Texts(const char* const* list, int count)
{
    std::vector<std::string> texts;
    for (int i = 0; list != nullptr && i < count; ++i)
    {
        if (list[i] != nullptr)
            texts.emplace_back(list[i]);
    }
    return texts;
}
} // namespace

extern "C" int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir,
                               bool bMultiIP)
{
    if (!Advance(LibraryState::NotStarted, LibraryState::Running))
        return 0;
    SearchDeviceShowLog::io_log_init(bLogEnable, logDir);
    CSearchDeviceClient::InitSocketThread(callback, bMultiIP);
    return 0;
}

extern "C" int SendMessageToDevice(struct dhcppacket* pdhcp)
{
    if (g_state.load() != LibraryState::Running)
        return 0;
    if (pdhcp == nullptr)
    {
        io_printf("SendMessage : pdhcp is NULL ");
        dhcppacket packet = MakeStandardSearchPacket();
        CSearchDeviceClient::SendMessageToDevice(packet);
    }
    else
    {
        io_printf("SendMessage : pdhcp is not NULL ");
        CSearchDeviceClient::SendMessageToDevice(*pdhcp);
    }
    return 0;
}

extern "C" void search_dll_exit(void)
{
    if (!Advance(LibraryState::Running, LibraryState::Stopped))
        return;
    CSearchDeviceClient::ExitSocketThread();
    SearchDeviceShowLog::io_log_exit();
}

extern "C" int search_dll_set_interfaces(const char* const* include, int nInclude, const char* const* exclude,
                                         int nExclude)
{
    // The workers read the choice once they run; it is fixed before they start.
    if (g_state.load() != LibraryState::NotStarted)
        return 0;
    InterfaceChoice choice;
    choice.include = Texts(include, nInclude);
    choice.exclude = Texts(exclude, nExclude);
    CSearchDeviceClient::SetInterfaceChoice(choice);
    return 0;
}

extern "C" int search_dll_set_unicast_addresses(const char* const* addresses, int nAddresses)
{
    // Before the start the list waits for the first search; once stopped there
    // is no search left to send it.
    if (g_state.load() == LibraryState::Stopped)
        return 0;
    std::vector<boost::asio::ip::address_v4> targets;
    for (const std::string& text : Texts(addresses, nAddresses))
    {
        boost::system::error_code ec;
        const boost::asio::ip::address_v4 address = boost::asio::ip::make_address_v4(text, ec);
        // Such a search must reach one device: a group or a broadcast would
        // reach many, from a socket that may broadcast.
        if (ec || address.is_multicast() || address.is_unspecified() ||
            address == boost::asio::ip::address_v4::broadcast())
        {
            io_printf("Unicast Search : '%s' is not a unicast IPv4 address; ignored ", text.c_str());
            continue;
        }
        if (std::find(targets.begin(), targets.end(), address) == targets.end())
            targets.push_back(address);
    }
    CSearchDeviceClient::SetUnicastTargets(std::move(targets));
    return 0;
}
