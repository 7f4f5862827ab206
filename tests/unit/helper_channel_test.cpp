// The broadcast helper's rules, without a socket: what a message must be to be
// read at all, and what a send request must be to leave port 67.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/HelperChannel.h"
#include "protocol/BroadcastProtocol.h"

namespace
{
std::uint32_t Host(const char* text)
{
    in_addr addr{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &addr), 1) << text;
    return ntohl(addr.s_addr);
}

std::string SearchPacket()
{
    const dhcppacket packet = MakeStandardSearchPacket();
    return std::string(reinterpret_cast<const char*>(&packet), sizeof(packet));
}
} // namespace

// Seen from a local user who holds the helper's channel: 148 bytes of 'A' from
// port 67 to port 68 pass a firewall's DHCP rules as well as a search does.
TEST(HelperChannel, OnlyASearchRequestLeavesAndOnlyToOneDeviceOrTheBroadcast)
{
    std::vector<LocalInterface> interfaces(2);
    interfaces[0] = {"lo", 1, IFF_UP | IFF_LOOPBACK, {"127.0.0.1"}, {{Host("127.0.0.1"), 0xFF000000u}}};
    interfaces[1] = {"eth0", 2, IFF_UP | IFF_BROADCAST, {"198.18.0.1"}, {{Host("198.18.0.1"), 0xFFFF0000u}}};
    std::string otherCode = SearchPacket();
    otherCode[0] = 12;
    const struct
    {
        const char* name;
        std::string payload;
        const char* address;
        std::uint16_t port;
        std::uint32_t ifindex;
        HelperSendVerdict verdict;
        bool offLink;
    } rows[] = {
        {"broadcast", SearchPacket(), "255.255.255.255", 68, 0, HelperSendVerdict::Allowed, false},
        {"broadcast out of eth0", SearchPacket(), "255.255.255.255", 68, 2, HelperSendVerdict::Allowed,
         false},
        {"a device", SearchPacket(), "198.18.1.1", 68, 0, HelperSendVerdict::Allowed, false},
        {"a routed device", SearchPacket(), "198.19.60.5", 68, 0, HelperSendVerdict::Allowed, true},
        {"link-local", SearchPacket(), "169.254.1.1", 68, 0, HelperSendVerdict::Allowed, true},
        {"148 x A", std::string(148, 'A'), "255.255.255.255", 68, 0, HelperSendVerdict::NotASearch, false},
        {"148 x A to a routed host", std::string(148, 'A'), "198.19.60.5", 68, 0,
         HelperSendVerdict::NotASearch, true},
        {"a reply's code", otherCode, "198.18.1.1", 68, 0, HelperSendVerdict::NotASearch, false},
        {"147 bytes", SearchPacket().substr(0, 147), "198.18.1.1", 68, 0, HelperSendVerdict::WrongSize,
         false},
        {"nothing", std::string(), "198.18.1.1", 68, 0, HelperSendVerdict::WrongSize, false},
        {"port 67", SearchPacket(), "198.18.1.1", 67, 0, HelperSendVerdict::WrongPort, false},
        {"a group", SearchPacket(), "224.0.0.1", 68, 0, HelperSendVerdict::WrongDestination, true},
        {"loopback", SearchPacket(), "127.0.0.1", 68, 0, HelperSendVerdict::WrongDestination, false},
        {"the subnet's broadcast", SearchPacket(), "198.18.255.255", 68, 0,
         HelperSendVerdict::WrongDestination, false},
        {"a device out of a named interface", SearchPacket(), "198.18.1.1", 68, 2,
         HelperSendVerdict::WrongDestination, false},
        {"broadcast on lo", SearchPacket(), "255.255.255.255", 68, 1, HelperSendVerdict::NoSuchInterface,
         false},
        {"no such interface", SearchPacket(), "255.255.255.255", 68, 9, HelperSendVerdict::NoSuchInterface,
         false},
    };
    for (const auto& row : rows)
    {
        const HelperMessageHeader request =
            PeerHeader(HelperMessageKind::Send, Host(row.address), row.port, row.ifindex);
        EXPECT_EQ(CheckHelperSend(request, row.payload.data(), row.payload.size(), interfaces), row.verdict)
            << row.name;
        EXPECT_EQ(HelperSendLeavesTheLocalSubnets(request, interfaces), row.offLink) << row.name;
    }
    const HelperMessageHeader request = PeerHeader(HelperMessageKind::Send, Host("198.18.1.1"), 68, 0);
    EXPECT_EQ(CheckHelperSend(request, nullptr, 148, interfaces), HelperSendVerdict::WrongSize);
}

// A message of another version is never read as this one's, whatever its kind.
TEST(HelperChannel, EveryKindOfMessageHasItsVersionChecked)
{
    const std::string search = SearchPacket();
    const struct
    {
        HelperMessageKind kind;
        std::uint8_t version;
        std::size_t payloadSize;
        HelperDecodeStatus status;
    } rows[] = {
        {HelperMessageKind::Send, kHelperChannelVersion, search.size(), HelperDecodeStatus::Ok},
        {HelperMessageKind::Send, 7, search.size(), HelperDecodeStatus::WrongVersion},
        {HelperMessageKind::Send, 0, search.size(), HelperDecodeStatus::WrongVersion},
        {HelperMessageKind::Datagram, 7, search.size(), HelperDecodeStatus::WrongVersion},
        {HelperMessageKind::SendFailed, 7, 0, HelperDecodeStatus::WrongVersion},
        {HelperMessageKind::Hello, 7, 0, HelperDecodeStatus::WrongVersion},
        {HelperMessageKind::Hello, kHelperChannelVersion, 0, HelperDecodeStatus::Ok},
        {HelperMessageKind::Hello, kHelperChannelVersion, 4, HelperDecodeStatus::WrongPayload},
        {HelperMessageKind::Send, kHelperChannelVersion, 0, HelperDecodeStatus::WrongPayload},
    };
    for (const auto& row : rows)
    {
        HelperMessageHeader header = PeerHeader(row.kind, Host("198.18.1.1"), 68, 0);
        header.version = row.version;
        char message[kHelperMaxMessage];
        const std::size_t length =
            EncodeHelperMessage(header, search.data(), row.payloadSize, message, sizeof(message));
        ASSERT_GT(length, 0u);
        HelperMessageHeader decoded;
        const char* payload = nullptr;
        std::size_t payloadSize = 0;
        EXPECT_EQ(DecodeHelperMessage(message, length, decoded, payload, payloadSize), row.status)
            << "kind " << static_cast<int>(row.kind) << " version " << static_cast<int>(row.version);
        EXPECT_EQ(decoded.version, row.version);
    }
}
