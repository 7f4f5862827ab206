#include "WakeOnLan.h"

#include "InterfaceSend.h"
#include "JsonText.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nasknown
{
std::optional<MacAddress> ParseMac(const std::string& text)
{
    // "aa:bb:cc:dd:ee:ff": 17 characters, one separator kind throughout.
    if (text.size() != 17 || (text[2] != ':' && text[2] != '-'))
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < 6; ++i)
    {
        const int hi = nasfinder::HexDigitValue(text[i * 3]);
        const int lo = nasfinder::HexDigitValue(text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != text[2]))
            return std::nullopt;
        mac[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    const bool zero = mac == MacAddress{};
    // The group bit covers the broadcast address too.
    const bool group = (mac[0] & 0x01) != 0;
    if (zero || group)
        return std::nullopt;
    return mac;
}

std::string MacText(const MacAddress& mac)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < mac.size(); ++i)
    {
        if (i != 0)
            text += ':';
        text += kHex[mac[i] >> 4];
        text += kHex[mac[i] & 0xF];
    }
    return text;
}

std::array<std::uint8_t, kMagicPacketSize> MagicPacket(const MacAddress& mac)
{
    std::array<std::uint8_t, kMagicPacketSize> packet{};
    std::memset(packet.data(), 0xFF, 6);
    for (std::size_t i = 0; i < 16; ++i)
        std::memcpy(packet.data() + 6 + i * mac.size(), mac.data(), mac.size());
    return packet;
}

std::string SendMagicPacket(const MacAddress& mac, const WakeTarget& target)
{
    const unsigned int index = ::if_nametoindex(target.interfaceName.c_str());
    if (index == 0)
        return "no interface " + target.interfaceName;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::string("cannot open a socket: ") + std::strerror(errno);
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0)
    {
        const std::string error = std::string("cannot broadcast: ") + std::strerror(errno);
        ::close(fd);
        return error;
    }
    const std::array<std::uint8_t, kMagicPacketSize> packet = MagicPacket(mac);
    std::string error;
    int sent = 0;
    for (const std::uint32_t to : {0xFFFFFFFFu, target.subnetBroadcast})
    {
        if (to == 0)
            continue;
        // Out of the named interface for this one send, with no privilege and
        // whatever the routes say of 255.255.255.255.
        if (SendOnInterface(fd, packet.data(), packet.size(), to, kWakePort, index))
            ++sent;
        else if (error.empty())
            error =
                std::string("cannot send to port 9 on ") + target.interfaceName + ": " + std::strerror(errno);
    }
    ::close(fd);
    return sent > 0 ? std::string() : error;
}
} // namespace nasknown
