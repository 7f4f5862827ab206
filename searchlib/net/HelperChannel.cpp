#include "net/HelperChannel.h"

#include <net/if.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "NetworkInterfaces.h"
#include "protocol/BroadcastProtocol.h"

namespace
{
// Byte offsets of the header's fields.
constexpr std::size_t kKindAt = 0;
constexpr std::size_t kVersionAt = 1;
constexpr std::size_t kPortAt = 2;
constexpr std::size_t kAddressAt = 4;
constexpr std::size_t kIfindexAt = 8;
constexpr std::size_t kErrorAt = 12;
static_assert(kErrorAt + sizeof(std::int32_t) == kHelperHeaderBytes, "the header's fields fill it");

template <class T> void Put(char* out, std::size_t at, T value)
{
    std::memcpy(out + at, &value, sizeof(value));
}

template <class T> T Take(const char* data, std::size_t at)
{
    T value;
    std::memcpy(&value, data + at, sizeof(value));
    return value;
}

bool CarriesPayload(HelperMessageKind kind)
{
    return kind == HelperMessageKind::Datagram || kind == HelperMessageKind::Send;
}
} // namespace

std::size_t EncodeHelperMessage(const HelperMessageHeader& header, const void* payload, std::size_t size,
                                char* out, std::size_t outSize)
{
    if (outSize < kHelperHeaderBytes || size > outSize - kHelperHeaderBytes)
        return 0;
    Put(out, kKindAt, static_cast<std::uint8_t>(header.kind));
    Put(out, kVersionAt, header.version);
    Put(out, kPortAt, header.port);
    Put(out, kAddressAt, header.address);
    Put(out, kIfindexAt, header.ifindex);
    Put(out, kErrorAt, header.error);
    if (size > 0)
        std::memcpy(out + kHelperHeaderBytes, payload, size);
    return kHelperHeaderBytes + size;
}

HelperDecodeStatus DecodeHelperMessage(const char* data, std::size_t size, HelperMessageHeader& header,
                                       const char*& payload, std::size_t& payloadSize)
{
    if (data == nullptr || size < kHelperHeaderBytes)
        return HelperDecodeStatus::TooShort;
    const auto kind = Take<std::uint8_t>(data, kKindAt);
    if (kind < static_cast<std::uint8_t>(HelperMessageKind::Hello) ||
        kind > static_cast<std::uint8_t>(HelperMessageKind::Send))
        return HelperDecodeStatus::UnknownKind;
    header.kind = static_cast<HelperMessageKind>(kind);
    header.version = Take<std::uint8_t>(data, kVersionAt);
    header.port = Take<std::uint16_t>(data, kPortAt);
    header.address = Take<std::uint32_t>(data, kAddressAt);
    header.ifindex = Take<std::uint32_t>(data, kIfindexAt);
    header.error = Take<std::int32_t>(data, kErrorAt);
    payload = data + kHelperHeaderBytes;
    payloadSize = size - kHelperHeaderBytes;
    // Every message, not only the Hello: a request of another layout must
    // not be read as this one's.
    if (header.version != kHelperChannelVersion)
        return HelperDecodeStatus::WrongVersion;
    if (CarriesPayload(header.kind) != (payloadSize > 0))
        return HelperDecodeStatus::WrongPayload;
    return HelperDecodeStatus::Ok;
}

HelperSendVerdict CheckHelperSend(const HelperMessageHeader& request, const char* payload,
                                  std::size_t payloadSize, const std::vector<LocalInterface>& interfaces)
{
    if (payload == nullptr || payloadSize != sizeof(dhcppacket))
        return HelperSendVerdict::WrongSize;
    if (static_cast<std::uint8_t>(payload[offsetof(dhcppacket, code)]) != kSearchRequestCode)
        return HelperSendVerdict::NotASearch;
    if (request.port != kBroadcastDevicePort)
        return HelperSendVerdict::WrongPort;
    if (request.address == INADDR_BROADCAST)
    {
        if (request.ifindex == 0)
            return HelperSendVerdict::Allowed;
        for (const LocalInterface& iface : interfaces)
        {
            if (iface.index == request.ifindex)
                return (iface.flags & IFF_BROADCAST) != 0 ? HelperSendVerdict::Allowed
                                                          : HelperSendVerdict::NoSuchInterface;
        }
        return HelperSendVerdict::NoSuchInterface;
    }
    // One device, by whatever route reaches it: never a group, and never a
    // subnet's broadcast under another name.
    if (request.ifindex != 0 || !IsSearchableUnicastAddress(request.address, interfaces))
        return HelperSendVerdict::WrongDestination;
    return HelperSendVerdict::Allowed;
}

bool HelperSendLeavesTheLocalSubnets(const HelperMessageHeader& request,
                                     const std::vector<LocalInterface>& interfaces)
{
    return request.address != INADDR_BROADCAST && !IsOnLocalSubnet(request.address, interfaces);
}

bool StartHelperProcess(const char* path, HelperProcess& helper)
{
    helper = HelperProcess{};
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
    {
        helper.startError = errno;
        return false;
    }
    // dup2 onto its own number would keep close-on-exec: move it out of the way.
    if (ends[1] == kHelperChannelFd)
    {
        const int moved = ::fcntl(ends[1], F_DUPFD_CLOEXEC, kHelperChannelFd + 1);
        ::close(ends[1]);
        ends[1] = moved;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], kHelperChannelFd);
    // The helper runs with no environment of the user's: nothing it reads there
    // could choose what it loads or does.
    char name[] = "nasfinder-broadcast";
    char* const argv[] = {name, nullptr};
    char* const envp[] = {nullptr};
    pid_t pid = -1;
    const int error = ends[1] < 0 ? errno : ::posix_spawn(&pid, path, &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0)
        ::close(ends[1]);
    if (error != 0)
    {
        ::close(ends[0]);
        helper.startError = error;
        return false;
    }
    helper.pid = pid;
    helper.channel = ends[0];
    return true;
}

void EndHelperProcess(const HelperProcess& helper)
{
    using namespace std::chrono;
    if (helper.pid <= 0)
        return;
    // It ends at once; one that does not is left to end with this process.
    const auto deadline = steady_clock::now() + seconds(1);
    while (::waitpid(helper.pid, nullptr, WNOHANG) == 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
}

bool IsHelperChannel(int fd)
{
    int domain = 0;
    socklen_t length = sizeof(domain);
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

bool ReadHelperHello(int fd, int timeoutMs, int& bindError)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (;;)
    {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return false;
        struct pollfd wait
        {
            fd, POLLIN, 0
        };
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char message[kHelperMaxMessage];
        const ssize_t count = ::recv(fd, message, sizeof(message), MSG_DONTWAIT);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return false; // the helper ended without a word
        HelperMessageHeader header;
        const char* payload = nullptr;
        std::size_t payloadSize = 0;
        if (DecodeHelperMessage(message, static_cast<std::size_t>(count), header, payload, payloadSize) !=
                HelperDecodeStatus::Ok ||
            header.kind != HelperMessageKind::Hello)
            return false;
        bindError = header.error;
        return true;
    }
}
