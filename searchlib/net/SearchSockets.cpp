#include "net/SearchSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/ShowLog.h"
#include "net/HelperChannel.h"
#include "protocol/BroadcastProtocol.h"

namespace
{
// Receive buffer asked for on every search socket. A burst of thousands of
// answers arrives faster than any loop reads it; the system caps the request at
// its own maximum.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

// One datagram with its peer's address and room for one IP_PKTINFO control
// message, which names the interface a datagram arrived on or leaves by.
struct PacketInfoMessage
{
    struct sockaddr_in peer;
    struct iovec part;
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(struct in_pktinfo))];
    struct msghdr header;

    PacketInfoMessage(void* data, std::size_t size) : peer(), part{data, size}, control(), header()
    {
        header.msg_name = &peer;
        header.msg_namelen = sizeof(peer);
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof(control);
    }
    PacketInfoMessage(const PacketInfoMessage&) = delete;
    PacketInfoMessage& operator=(const PacketInfoMessage&) = delete;
};
// A message from the helper: the datagram it forwards into buffer, or a
// report of a send that failed, which is logged and gives 0.
long TakeHelperMessage(const char* message, std::size_t size, void* buffer, std::size_t bufferSize,
                       std::uint32_t& sender, std::uint16_t& senderPort, unsigned int& ifindex)
{
    HelperMessageHeader header;
    const char* payload = nullptr;
    std::size_t payloadSize = 0;
    if (DecodeHelperMessage(message, size, header, payload, payloadSize) != HelperDecodeStatus::Ok)
        return 0;
    if (header.kind == HelperMessageKind::SendFailed)
    {
        struct in_addr target
        {
            htonl(header.address)
        };
        char text[INET_ADDRSTRLEN] = {0};
        ::inet_ntop(AF_INET, &target, text, sizeof(text));
        SearchDeviceShowLog::io_printf(
            "Broadcast Helper : Send to %s:%u on interface %u %s : %s  ", text, header.port, header.ifindex,
            header.error == EPERM ? "Refused" : "Failed", std::strerror(header.error));
        return 0;
    }
    if (header.kind != HelperMessageKind::Datagram)
        return 0;
    const std::size_t count = payloadSize < bufferSize ? payloadSize : bufferSize;
    std::memcpy(buffer, payload, count);
    sender = header.address;
    senderPort = header.port;
    ifindex = header.ifindex;
    return static_cast<long>(count);
}

bool SendThroughHelper(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                       unsigned int ifindex)
{
    const HelperMessageHeader header = PeerHeader(HelperMessageKind::Send, address, port, ifindex);
    char message[kHelperMaxMessage];
    const std::size_t length = EncodeHelperMessage(header, data, size, message, sizeof(message));
    if (length == 0)
    {
        errno = EMSGSIZE;
        return false;
    }
    // A helper that has ended must not end this process with SIGPIPE.
    return ::send(fd, message, length, MSG_NOSIGNAL) >= 0;
}
} // namespace

int OpenUdpSocket()
{
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

void ConfigureSearchSocket(int fd)
{
    int bytes = kReceiveBufferBytes;
    // With the privilege for it, go past the system's cap; otherwise take what the
    // cap allows. Neither failure matters: the default buffer still works.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
}

void PrepareBroadcastSocket(int fd)
{
    if (IsHelperChannel(fd))
        return;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
}

int OpenBroadcastSearchSocket(unsigned short port)
{
    const int fd = OpenUdpSocket();
    if (fd < 0)
        return -1;
    ConfigureSearchSocket(fd);
    PrepareBroadcastSocket(fd);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
    {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

long ReceiveWithInterface(int fd, void* buffer, std::size_t size, std::uint32_t& sender,
                          std::uint16_t& senderPort, unsigned int& ifindex)
{
    PacketInfoMessage message(buffer, size);
    // A UDP socket names the sender; the helper's channel is a socketpair,
    // whose peer has no name: one look tells the two apart without a call.
    const ssize_t count = ::recvmsg(fd, &message.header, 0);
    if (count < 0)
        return -1;
    if (message.header.msg_namelen < sizeof(message.peer) || message.peer.sin_family != AF_INET)
    {
        if (count == 0)
        {
            // The helper has gone (or the worker is stopping, which it checks
            // first): an error, not a datagram of no bytes.
            errno = ECONNRESET;
            return -1;
        }
        char copy[kHelperMaxMessage];
        const std::size_t length = std::min(static_cast<std::size_t>(count), sizeof(copy));
        std::memcpy(copy, buffer, length);
        return TakeHelperMessage(copy, length, buffer, size, sender, senderPort, ifindex);
    }
    sender = ntohl(message.peer.sin_addr.s_addr);
    senderPort = ntohs(message.peer.sin_port);
    ifindex = 0;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message.header); c != nullptr;
         c = CMSG_NXTHDR(&message.header, c))
    {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        {
            struct in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            ifindex = static_cast<unsigned int>(info.ipi_ifindex);
        }
    }
    return static_cast<long>(count);
}

bool SendOnInterface(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                     unsigned int ifindex)
{
    if (IsHelperChannel(fd))
        return SendThroughHelper(fd, data, size, address, port, ifindex);
    PacketInfoMessage message(const_cast<void*>(data), size);
    message.peer.sin_family = AF_INET;
    message.peer.sin_port = htons(port);
    message.peer.sin_addr.s_addr = htonl(address);
    struct cmsghdr* c = CMSG_FIRSTHDR(&message.header);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(struct in_pktinfo));
    struct in_pktinfo info
    {
    };
    info.ipi_ifindex = static_cast<int>(ifindex);
    std::memcpy(CMSG_DATA(c), &info, sizeof(info));
    return ::sendmsg(fd, &message.header, 0) >= 0;
}

bool RoutesOutOfThisHost(std::uint32_t address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A connect of a UDP socket only looks the route up and picks the source
    // address of its interface; a broadcast route needs SO_BROADCAST for it.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    struct sockaddr_in target
    {
    };
    target.sin_family = AF_INET;
    target.sin_port = htons(kBroadcastDevicePort);
    target.sin_addr.s_addr = htonl(address);
    struct sockaddr_in source
    {
    };
    socklen_t length = sizeof(source);
    const bool routed =
        ::connect(fd, reinterpret_cast<const struct sockaddr*>(&target), sizeof(target)) == 0 &&
        ::getsockname(fd, reinterpret_cast<struct sockaddr*>(&source), &length) == 0;
    ::close(fd);
    const std::uint32_t from = ntohl(source.sin_addr.s_addr);
    return routed && from != INADDR_ANY && (from >> 24) != 127;
}
