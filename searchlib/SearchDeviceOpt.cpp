#include "SearchDeviceOpt.h"

#include <sys/socket.h>

#include <atomic>
#include <string>
#include <vector>

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

extern "C" int search_dll_set_broadcast_socket(int fd)
{
    // The broadcast thread takes the socket as it starts.
    if (g_state.load() != LibraryState::NotStarted || !IsIPv4DatagramSocket(fd))
        return 0;
    CSearchDeviceClient::SetBroadcastSocket(fd);
    return 0;
}
