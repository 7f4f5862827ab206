// The C entry points: a thin face over the library's one searcher.
#include "SearchDeviceOpt.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "Library.h"
#include "Searcher.h"
#include "log/ShowLog.h"
#include "net/HelperChannel.h"
#include "NetworkInterfaces.h"
#include "protocol/BroadcastProtocol.h"

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

bool IsIPv4DatagramSocket(int fd)
{
    int type = 0;
    socklen_t typeLength = sizeof(type);
    sockaddr_storage local{};
    socklen_t localLength = sizeof(local);
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 && type == SOCK_DGRAM &&
           ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
           local.ss_family == AF_INET;
}

// How long the helper may take to bind its port and say so: it starts in a
// few milliseconds; a helper that says nothing in this time never will.
constexpr int kHelperHelloMilliseconds = 5000;
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

Searcher& LibrarySearcher()
{
    // Detached workers report into it until the process is gone: never destroyed.
    static Searcher* const searcher = new Searcher;
    return *searcher;
}

extern "C" int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir,
                               bool bMultiIP)
{
    if (!Advance(LibraryState::NotStarted, LibraryState::Running))
        return 0;
    SearchDeviceShowLog::io_log_init(bLogEnable, logDir);
    LibrarySearcher().Start(callback, bMultiIP);
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
        LibrarySearcher().Search(packet);
    }
    else
    {
        io_printf("SendMessage : pdhcp is not NULL ");
        LibrarySearcher().Search(*pdhcp);
    }
    return 0;
}

extern "C" void search_dll_exit(void)
{
    if (!Advance(LibraryState::Running, LibraryState::Stopped))
        return;
    LibrarySearcher().Stop();
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
    LibrarySearcher().SetInterfaceChoice(choice);
    return 0;
}

extern "C" int search_dll_set_broadcast_socket(int fd, int bindError)
{
    // The broadcast worker takes the socket, or the reason, as it starts.
    if (g_state.load() != LibraryState::NotStarted)
        return 0;
    if (fd == -1 && bindError > 0)
        LibrarySearcher().SetBroadcastSocket(-1, bindError);
    else if (IsIPv4DatagramSocket(fd))
        LibrarySearcher().SetBroadcastSocket(fd, 0);
    return 0;
}

extern "C" int search_dll_start_broadcast_helper(const char* helperPath)
{
    // The broadcast worker takes the channel, or the reason, as it starts.
    if (g_state.load() != LibraryState::NotStarted || helperPath == nullptr)
        return 0;
    HelperProcess helper;
    if (!StartHelperProcess(helperPath, helper))
    {
        io_printf("Broadcast Helper : cannot start %s : %s ", helperPath, std::strerror(helper.startError));
        LibrarySearcher().SetBroadcastHelper(-1, helper.startError, false);
        return 0;
    }
    int bindError = 0;
    if (!ReadHelperHello(helper.channel, kHelperHelloMilliseconds, bindError))
        bindError = ESRCH;
    if (bindError == 0)
    {
        io_printf("Broadcast Helper : %s holds port %d ", helperPath, kBroadcastPort);
        LibrarySearcher().SetBroadcastHelper(helper.channel, 0, true);
        return 0;
    }
    io_printf("Broadcast Helper : %s has no port %d : %s ", helperPath, kBroadcastPort,
              std::strerror(bindError));
    // Closing the channel ends a helper that is still there; then it is reaped.
    ::close(helper.channel);
    EndHelperProcess(helper);
    LibrarySearcher().SetBroadcastHelper(-1, bindError, true);
    return 0;
}

extern "C" int search_dll_get_status(struct search_dll_status* status)
{
    if (status == nullptr)
        return 0;
    *status = g_state.load() == LibraryState::NotStarted ? search_dll_status{} : LibrarySearcher().Status();
    return 0;
}

namespace
{
// An address a caller names, in the form it came in: the text (for the log)
// and its value, none when the text is no dotted IPv4 address.
struct NamedAddress
{
    std::string text;
    std::optional<std::uint32_t> value;
};

// The one check of the addresses a caller names, whichever form they came in
// and whatever they are for: such a search must reach one device, and a group
// or a broadcast would reach many, from a socket that may broadcast. Each
// address once.
std::vector<boost::asio::ip::address_v4> CheckedUnicastTargets(const std::vector<NamedAddress>& named)
{
    std::vector<LocalInterface> interfaces;
    ListLocalInterfaces(interfaces);
    std::vector<boost::asio::ip::address_v4> targets;
    for (const NamedAddress& item : named)
    {
        if (!item.value || !IsSearchableUnicastAddress(*item.value, interfaces))
        {
            io_printf("Unicast Search : '%s' is not a device's unicast IPv4 address; ignored ",
                      item.text.c_str());
            continue;
        }
        const boost::asio::ip::address_v4 address(*item.value);
        if (std::find(targets.begin(), targets.end(), address) == targets.end())
            targets.push_back(address);
    }
    return targets;
}

std::vector<NamedAddress> NamedNumbers(const uint32_t* addresses, int nAddresses)
{
    std::vector<NamedAddress> named;
    for (int i = 0; addresses != nullptr && i < nAddresses; ++i)
        named.push_back({boost::asio::ip::address_v4(addresses[i]).to_string(), addresses[i]});
    return named;
}
} // namespace

extern "C" int search_dll_set_unicast_addresses(const char* const* addresses, int nAddresses)
{
    // Before the start the list waits for the first search; once stopped there
    // is no search left to send it.
    if (g_state.load() == LibraryState::Stopped)
        return 0;
    std::vector<NamedAddress> named;
    for (const std::string& text : Texts(addresses, nAddresses))
    {
        boost::system::error_code ec;
        const boost::asio::ip::address_v4 address = boost::asio::ip::make_address_v4(text, ec);
        named.push_back({text, ec ? std::nullopt : std::optional<std::uint32_t>(address.to_uint())});
    }
    LibrarySearcher().SetUnicastTargets(CheckedUnicastTargets(named));
    return 0;
}

extern "C" int search_dll_set_unicast_ipv4(const uint32_t* addresses, int nAddresses)
{
    if (g_state.load() == LibraryState::Stopped)
        return 0;
    LibrarySearcher().SetUnicastTargets(CheckedUnicastTargets(NamedNumbers(addresses, nAddresses)));
    return 0;
}

extern "C" int search_dll_search_unicast_ipv4(const uint32_t* addresses, int nAddresses)
{
    // Only the running workers have sockets to send from.
    if (g_state.load() != LibraryState::Running || addresses == nullptr || nAddresses < 1)
        return 0;
    LibrarySearcher().SearchAddressesNow(CheckedUnicastTargets(NamedNumbers(addresses, nAddresses)));
    return 0;
}
