// nasfinder-broadcast: the one program that holds the broadcast search's UDP
// port 67, which Linux lets only a privileged process bind. nasfinder and
// nasfinder-scan start it first thing and talk to it over one Unix socket on
// descriptor 3 (net/HelperChannel.h); they hold neither the port nor any
// privilege, so nothing they load (a toolkit's theme, modules, input methods)
// can reach the port. This program loads no toolkit and hands back data, never
// its socket:
//  - it sends nothing but a 148-byte search request (code 11) to UDP port 68,
//    as a broadcast or to one address that may be a device's, and says on
//    standard error each time that address is off every local subnet;
//  - it hands back nothing but the devices' replies to the search, so that a
//    DHCP request that reaches port 67 never leaves this process;
//  - it ends when its parent's end of the channel closes, or on SIGTERM.
//
// In order: bind, give up every capability (and any later gain of one), close
// every other descriptor, say whether the bind succeeded, serve.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Capabilities.h"
#include "net/HelperChannel.h"
#include "net/LocalInterfaces.h"
#include "net/SearchSockets.h"
#include "protocol/BroadcastProtocol.h"

namespace
{
const char kProgram[] = "nasfinder-broadcast";
constexpr int kChannel = kHelperChannelFd;
// Replies read in one go before the channel is looked at again, so that a
// burst of answers cannot keep the parent's requests waiting.
constexpr int kRepliesPerTurn = 64;
// The parent's requests served on one look at the interfaces. A look costs
// 60 to 100 microseconds, and a program that searches its known devices at
// their own addresses hands over 64 requests at once: looked at for each,
// 1,024 of them took 150 to 250 ms to leave, the parent waiting meanwhile.
constexpr int kRequestsPerTurn = 64;

const char* VerdictText(HelperSendVerdict verdict)
{
    switch (verdict)
    {
    case HelperSendVerdict::Allowed:
        break;
    case HelperSendVerdict::WrongSize:
        return "not a 148-byte search packet";
    case HelperSendVerdict::NotASearch:
        return "not a search request (its first byte is not 11)";
    case HelperSendVerdict::WrongPort:
        return "not to the devices' port 68";
    case HelperSendVerdict::WrongDestination:
        return "not to the broadcast address nor to an address a device may hold";
    case HelperSendVerdict::NoSuchInterface:
        return "out of an interface that is not there or cannot broadcast";
    }
    return "allowed";
}

std::string AddressText(std::uint32_t address)
{
    struct in_addr in
    {
        htonl(address)
    };
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &in, text, sizeof(text));
    return text;
}

// False once the parent has gone.
bool Tell(const HelperMessageHeader& header, const void* payload, std::size_t size)
{
    char message[kHelperMaxMessage];
    const std::size_t length = EncodeHelperMessage(header, payload, size, message, sizeof(message));
    for (;;)
    {
        if (::send(kChannel, message, length, MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool TellSendFailed(const HelperMessageHeader& request, int error)
{
    HelperMessageHeader failed = request;
    failed.kind = HelperMessageKind::SendFailed;
    failed.version = kHelperChannelVersion;
    failed.error = error;
    return Tell(failed, nullptr, 0);
}

// One request of the parent's, checked against the interfaces as they were
// when it was waiting; false once the parent has gone.
bool Serve(int udp, const char* message, std::size_t size, const std::vector<LocalInterface>& interfaces)
{
    HelperMessageHeader request;
    const char* payload = nullptr;
    std::size_t payloadSize = 0;
    const HelperDecodeStatus decoded = DecodeHelperMessage(message, size, request, payload, payloadSize);
    if (decoded == HelperDecodeStatus::WrongVersion)
    {
        std::fprintf(stderr, "%s: refused a message of version %u; this helper speaks version %u\n", kProgram,
                     request.version, kHelperChannelVersion);
        return request.kind != HelperMessageKind::Send || TellSendFailed(request, EPERM);
    }
    if (decoded != HelperDecodeStatus::Ok || request.kind != HelperMessageKind::Send)
    {
        std::fprintf(stderr, "%s: refused a message of %zu bytes that is not a send request\n", kProgram,
                     size);
        return true;
    }
    const HelperSendVerdict verdict = CheckHelperSend(request, payload, payloadSize, interfaces);
    if (verdict != HelperSendVerdict::Allowed)
    {
        std::fprintf(stderr, "%s: refused to send %zu bytes to %s:%u on interface %u: %s\n", kProgram,
                     payloadSize, AddressText(request.address).c_str(), request.port, request.ifindex,
                     VerdictText(verdict));
        return TellSendFailed(request, EPERM);
    }
    if (HelperSendLeavesTheLocalSubnets(request, interfaces))
        std::fprintf(stderr, "%s: sending the search to %s:%u, an address off every local subnet\n", kProgram,
                     AddressText(request.address).c_str(), request.port);
    if (!SendOnInterface(udp, payload, payloadSize, request.address, request.port, request.ifindex))
        return TellSendFailed(request, errno);
    return true;
}

// Hands the parent the replies waiting on the port; false once it has gone.
bool ForwardReplies(int udp)
{
    for (int i = 0; i < kRepliesPerTurn; ++i)
    {
        char datagram[kHelperMaxMessage];
        std::uint32_t sender = 0;
        std::uint16_t senderPort = 0;
        unsigned int ifindex = 0;
        const long count = ReceiveWithInterface(udp, datagram, sizeof(datagram), sender, senderPort, ifindex);
        if (count < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        // Whatever else reaches port 67, a DHCP client's request above all,
        // stays here.
        if (CheckBroadcastReply(datagram, static_cast<std::size_t>(count)) != BroadcastReplyStatus::Accepted)
            continue;
        const HelperMessageHeader reply =
            PeerHeader(HelperMessageKind::Datagram, sender, senderPort, ifindex);
        if (!Tell(reply, datagram, static_cast<std::size_t>(count)))
            return false;
    }
    return true;
}

// Until the parent's end closes.
void ServeParent(int udp)
{
    struct pollfd watched[2] = {{kChannel, POLLIN, 0}, {udp, POLLIN, 0}};
    for (;;)
    {
        if (::poll(watched, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[0].revents != 0)
        {
            // Looked at once the requests are there, so never older than they.
            std::vector<LocalInterface> interfaces;
            ListLocalInterfaces(interfaces);
            for (int i = 0; i < kRequestsPerTurn; ++i)
            {
                char message[kHelperMaxMessage + 1];
                const ssize_t count = ::recv(kChannel, message, sizeof(message), MSG_DONTWAIT);
                if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR))
                    return;
                if (count < 0)
                    break;
                if (!Serve(udp, message, static_cast<std::size_t>(count), interfaces))
                    return;
            }
        }
        if ((watched[1].revents & POLLIN) != 0 && !ForwardReplies(udp))
            return;
    }
}

bool IsChannel(int fd)
{
    int type = 0;
    socklen_t length = sizeof(type);
    return IsHelperChannel(fd) && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
           type == SOCK_SEQPACKET;
}

// Closes every descriptor but standard input, output and error, the channel
// and the port's socket, which moves to the number after the channel's. The
// socket's new number, or -1 when it cannot be moved.
int CloseOtherDescriptors(int udp)
{
    const int kept = kChannel + 1;
    if (udp >= 0 && udp != kept)
    {
        if (::dup2(udp, kept) < 0)
            return -1;
        ::close(udp);
    }
    ::syscall(SYS_close_range, static_cast<unsigned int>(udp >= 0 ? kept + 1 : kept), ~0u, 0u);
    return udp >= 0 ? kept : udp;
}
} // namespace

int main()
{
    // Whatever the parent had blocked or ignored, SIGTERM ends this process.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGTERM, SIG_DFL);
    // Ctrl-C in the parent's terminal is the parent's to handle; this ends
    // when the parent does.
    signal(SIGINT, SIG_IGN);

    if (!IsChannel(kChannel))
    {
        std::fprintf(stderr,
                     "%s: descriptor %d is not a channel; this helper is started by nasfinder and "
                     "nasfinder-scan, not by hand\n",
                     kProgram, kChannel);
        return 2;
    }

    const int udp = OpenBroadcastSearchSocket();
    HelperMessageHeader hello;
    hello.kind = HelperMessageKind::Hello;
    hello.port = kBroadcastPort;
    hello.error = udp >= 0 ? 0 : errno;

    std::string why;
    if (!DropAllCapabilities(&why) || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    {
        std::fprintf(stderr, "%s: cannot give up the privileges it was started with (%s); not going on\n",
                     kProgram, why.empty() ? std::strerror(errno) : why.c_str());
        return 1;
    }
    // A parent that is gone takes this process with it, even before the
    // channel says so.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
    const int port = CloseOtherDescriptors(udp);
    if (udp >= 0 && port < 0)
    {
        std::fprintf(stderr, "%s: cannot close what it inherited (%s); not going on\n", kProgram,
                     std::strerror(errno));
        return 1;
    }

    if (!Tell(hello, nullptr, 0) || port < 0)
        return 0;
    // Replies are read until none is left, then the channel is looked at.
    ::fcntl(port, F_SETFL, ::fcntl(port, F_GETFL) | O_NONBLOCK);
    ServeParent(port);
    return 0;
}
