#include "net/SearchSockets.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/BroadcastProtocol.h"

namespace
{
// Receive buffer asked for on every search socket. A burst of thousands of
// answers arrives faster than any loop reads it; the system caps the request at
// its own maximum.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
} // namespace

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
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
}

int OpenBroadcastSearchSocket(unsigned short port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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
