// Wake-on-LAN: the magic packet (six 0xFF bytes, then the MAC sixteen times:
// 102 bytes) and its send by UDP broadcast to port 9 out of one interface.
#ifndef NASFINDER_WAKEONLAN_H
#define NASFINDER_WAKEONLAN_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nasknown
{
using MacAddress = std::array<std::uint8_t, 6>;
constexpr std::size_t kMagicPacketSize = 102;
constexpr unsigned short kWakePort = 9;

// Six pairs of hex digits separated by ':' or '-' (either case); all zeros,
// broadcast and group addresses are refused, as they name no one device.
std::optional<MacAddress> ParseMac(const std::string& text);
std::string MacText(const MacAddress& mac); // lower case, ':'

std::array<std::uint8_t, kMagicPacketSize> MagicPacket(const MacAddress& mac);

struct WakeTarget
{
    std::string interfaceName;
    std::uint32_t subnetBroadcast = 0; // host byte order; 0: only 255.255.255.255
};

// Sends the packet to 255.255.255.255:9 and to the subnet's broadcast
// address:9 out of the named interface (IP_PKTINFO; no privilege needed).
// Empty when the packet went out, otherwise why it did not.
std::string SendMagicPacket(const MacAddress& mac, const WakeTarget& target);
} // namespace nasknown

#endif
