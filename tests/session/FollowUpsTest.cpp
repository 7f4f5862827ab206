// Which known devices a search follows up at their last addresses: a table of
// stores, answers, interfaces and the user's addresses, and what is chosen.
#include "FollowUps.h"

#include "DeviceRecord.h"
#include "HostAddress.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <string>
#include <vector>

namespace
{
nasknown::KnownDevice Known(const std::string& id, const std::string& address, std::int64_t lastSeen = 100)
{
    nasknown::KnownDevice device;
    device.vendor = "TAVIK";
    device.id = id;
    device.address = address;
    device.lastSeen = lastSeen;
    return device;
}

deviceinfo Record(const char* id, const char* ip, std::int64_t life = 60)
{
    return testsupport::MakeRecord().Factory("TAVIK").Id(id).Ip(ip).Life(life);
}

// eth0 198.18.0.1/16 and eth1 10.0.0.5/24 up, wlan0 192.0.2.1/24 down, lo.
std::vector<LocalInterface> Interfaces()
{
    const unsigned int up = IFF_UP | IFF_BROADCAST | IFF_MULTICAST;
    return {{"lo", 1, IFF_UP | IFF_LOOPBACK, {"127.0.0.1"}, {{0x7F000001u, 0xFF000000u}}},
            {"eth0", 2, up, {"198.18.0.1"}, {{0xC6120001u, 0xFFFF0000u}}},
            {"eth1", 3, up, {"10.0.0.5"}, {{0x0A000005u, 0xFFFFFF00u}}},
            {"wlan0", 4, IFF_BROADCAST, {"192.0.2.1"}, {{0xC0000201u, 0xFFFFFF00u}}}};
}
} // namespace

TEST(FollowUps, OnlyKnownDevicesOnTheSearchedSubnetsThatHaveNotAnswered)
{
    std::vector<nasknown::KnownDevice> overfull;
    std::vector<std::string> newest;
    for (std::uint32_t i = 0; i < 1100; ++i)
    {
        overfull.push_back(Known("DEV" + std::to_string(i), nasfinder::IPv4Text(0xC6120400u + i), i));
        if (i >= 1100 - nasfinder::kMaxFollowUps)
            newest.insert(newest.begin(), nasfinder::IPv4Text(0xC6120400u + i));
    }
    const struct
    {
        const char* scenario;
        std::vector<nasknown::KnownDevice> known;
        std::vector<deviceinfo> list; // the registry's
        InterfaceChoice choice;
        std::vector<std::uint32_t> userAddresses;
        std::vector<std::string> chosen;
    } rows[] = {
        {"a device on each searched link",
         {Known("a", "198.18.1.11"), Known("b", "10.0.0.9")},
         {},
         {},
         {},
         {"198.18.1.11", "10.0.0.9"}},
        {"the one seen last first",
         {Known("a", "198.18.1.11", 5), Known("b", "10.0.0.9", 7)},
         {},
         {},
         {},
         {"10.0.0.9", "198.18.1.11"}},
        {"answered: by vendor and id from another address, or another device at its address",
         {Known("a", "198.18.1.11"), Known("b", "198.18.1.12"), Known("c", "198.18.1.13")},
         {Record("a", "198.18.9.9"), Record("x", "198.18.1.12")},
         {},
         {},
         {"198.18.1.13"}},
        {"an entry aged by a watch's round answered an earlier round only",
         {Known("a", "198.18.1.11")},
         {Record("a", "198.18.1.11", 50)},
         {},
         {},
         {"198.18.1.11"}},
        {"of another vendor with the same id: not the same device",
         {Known("a", "198.18.1.11")},
         {testsupport::MakeRecord().Factory("ESKAL").Id("a").Ip("198.18.9.9")},
         {},
         {},
         {"198.18.1.11"}},
        {"off every searched subnet: beyond a router, a forged or a stale entry",
         {Known("far", "203.0.113.9"), Known("down", "192.0.2.7"), Known("near", "198.19.0.1")},
         {},
         {},
         {},
         {}},
        {"an excluded interface's subnet, and one not chosen",
         {Known("a", "198.18.1.11"), Known("b", "10.0.0.9")},
         {},
         {{}, {"eth1"}},
         {},
         {"198.18.1.11"}},
        {"chosen by its address",
         {Known("a", "198.18.1.11"), Known("b", "10.0.0.9")},
         {},
         {{"10.0.0.5"}, {}},
         {},
         {"10.0.0.9"}},
        {"no device's address, or this computer's own",
         {Known("net", "198.18.0.0"), Known("edge", "198.18.255.255"), Known("edge1", "10.0.0.255"),
          Known("self", "198.18.0.1"), Known("self1", "10.0.0.5"), Known("loop", "127.0.0.1"),
          Known("group", "239.143.255.250"), Known("all", "255.255.255.255"), Known("zero", "0.0.0.0")},
         {},
         {},
         {},
         {}},
        {"not written as an address",
         {Known("a", "198.18.001.2"), Known("b", ""), Known("c", "nas.example"), Known("d", "198.18.1.2 "),
          Known("e", "198.18.1"), Known("f", "198.18.1.256")},
         {},
         {},
         {},
         {}},
        {"the user's addresses are searched at every send already",
         {Known("a", "198.18.1.11"), Known("b", "203.0.113.9")},
         {},
         {},
         {0xC612010Bu, 0xCB007109u},
         {}},
        {"two entries at one address: one follow-up",
         {Known("a", "198.18.1.11"), Known("b", "198.18.1.11")},
         {},
         {},
         {},
         {"198.18.1.11"}},
        {"more than the store keeps: the 1,024 seen last", overfull, {}, {}, {}, newest},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.scenario);
        std::vector<std::string> chosen;
        for (const nasfinder::FollowUp& followUp : nasfinder::ChooseFollowUps(
                 row.known, nasfinder::Answers(row.list), Interfaces(), row.choice, row.userAddresses))
            chosen.push_back(nasfinder::IPv4Text(followUp.address));
        EXPECT_EQ(chosen, row.chosen);
    }
}
