// Which interface addresses get a command thread of their own in multi-address
// mode: only addresses of interfaces that are up, and never a loopback one.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include "InterfaceChoice.h"
#include "net/LocalInterfaces.h"
#include "NetworkInterfaces.h"
#include "Searcher.h"

namespace
{
unsigned int Addr(const char* text)
{
    in_addr addr{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &addr), 1) << text;
    return addr.s_addr;
}

std::uint32_t Host(const char* text)
{
    return ntohl(Addr(text));
}
} // namespace

TEST(LocalAddress, UpInterfaceAddressIsSearchable)
{
    EXPECT_TRUE(IsSearchableLocalAddress(IFF_UP, Addr("198.18.0.5")));
    EXPECT_TRUE(
        IsSearchableLocalAddress(IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST, Addr("10.0.0.5")));
}

TEST(LocalAddress, DownInterfaceIsSkipped)
{
    // A down interface still lists its addresses.
    EXPECT_FALSE(IsSearchableLocalAddress(0, Addr("198.18.0.5")));
    EXPECT_FALSE(IsSearchableLocalAddress(IFF_BROADCAST | IFF_MULTICAST, Addr("198.18.0.5")));
}

TEST(LocalAddress, LoopbackIsSkippedByFlagAndByAddress)
{
    EXPECT_FALSE(IsSearchableLocalAddress(IFF_UP | IFF_LOOPBACK, Addr("127.0.0.1")));
    // An address of another interface in 127/8, or any address on a loopback interface.
    EXPECT_FALSE(IsSearchableLocalAddress(IFF_UP, Addr("127.0.0.1")));
    EXPECT_FALSE(IsSearchableLocalAddress(IFF_UP, Addr("127.255.255.254")));
    EXPECT_FALSE(IsSearchableLocalAddress(IFF_UP | IFF_LOOPBACK, Addr("198.18.0.5")));
    // The neighbours of 127/8 are ordinary addresses: the byte order is honoured.
    EXPECT_TRUE(IsSearchableLocalAddress(IFF_UP, Addr("126.255.255.255")));
    EXPECT_TRUE(IsSearchableLocalAddress(IFF_UP, Addr("128.0.0.1")));
    EXPECT_TRUE(IsSearchableLocalAddress(IFF_UP, Addr("1.0.0.127")));
}

// The user's choice of interfaces: by name or by address, exclusions win, and
// a chosen interface still needs to be up, not loopback and hold an address.
TEST(LocalAddress, ChosenInterfacesAreSearchedOnlyWhenUsable)
{
    const std::vector<LocalInterface> all = {
        {"lo", 1, IFF_UP | IFF_LOOPBACK, {"127.0.0.1"}},
        {"eth0", 2, IFF_UP | IFF_BROADCAST | IFF_MULTICAST, {"198.18.0.1"}},
        {"eth1", 3, IFF_UP | IFF_BROADCAST | IFF_MULTICAST, {"198.19.0.1", "198.19.0.2"}},
        {"tun0", 4, IFF_UP | IFF_POINTOPOINT, {"10.8.0.2"}},
        {"br0", 5, IFF_BROADCAST, {"172.17.0.1"}},
        {"wlan0", 6, IFF_UP | IFF_BROADCAST, {}},
    };
    struct Case
    {
        InterfaceChoice choice;
        std::vector<std::string> searched;
    };
    const Case cases[] = {
        {{}, {"eth0", "eth1", "tun0"}},
        {{{"eth1"}, {}}, {"eth1"}},
        {{{"198.19.0.2"}, {}}, {"eth1"}},
        {{{}, {"eth0", "10.8.0.2"}}, {"eth1"}},
        {{{"eth0", "eth1"}, {"eth1"}}, {"eth0"}},
        {{{"lo", "br0", "wlan0"}, {}}, {}},
        {{{"198.19"}, {}}, {}},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> names;
        for (const LocalInterface& iface : SearchableInterfaces(all, c.choice))
            names.push_back(iface.name);
        EXPECT_EQ(names, c.searched) << ::testing::PrintToString(c.choice.include) << " minus "
                                     << ::testing::PrintToString(c.choice.exclude);
    }
    EXPECT_EQ(UnknownInterfaceError(all, {"eth1", "198.18.0.1"}), std::nullopt);
    EXPECT_EQ(UnknownInterfaceError(all, {"eth1", "eth9"}),
              "unknown interface 'eth9'; the interfaces here are: br0, eth0, eth1, lo, tun0, wlan0");

    // An interface both chosen and excluded, by name or by one of its
    // addresses, searches nothing: the choice is refused, not run empty.
    const struct
    {
        InterfaceChoice choice;
        std::optional<std::string> error;
    } contradictions[] = {
        {{{"eth0"}, {"eth0"}},
         "interface eth0 is both chosen (--interface eth0) and excluded (--exclude-interface eth0)"},
        {{{"eth0", "198.19.0.2"}, {"198.19.0.1"}},
         "interface eth1 is both chosen (--interface 198.19.0.2) and excluded (--exclude-interface "
         "198.19.0.1)"},
        {{{"eth0"}, {"eth1"}}, std::nullopt},
        {{{}, {"eth0"}}, std::nullopt},
    };
    for (const auto& row : contradictions)
        EXPECT_EQ(ContradictoryInterfaceError(all, row.choice), row.error);

    // Which search a chosen interface cannot carry, said once per interface;
    // a choice of none that can carry one is no search at all.
    const struct
    {
        std::vector<std::string> include;
        std::vector<std::string> notices;
        bool anySearch;
    } limits[] = {
        {{}, {}, true},
        {{"eth0", "eth1"}, {}, true},
        {{"eth0", "tun0"}, {"interface tun0 has no broadcast: only the SSDP search runs there"}, true},
        {{"10.8.0.2"}, {"interface tun0 has no broadcast: only the SSDP search runs there"}, true},
        {{"lo"}, {"interface lo is a loopback interface: no search runs there"}, false},
        {{"wlan0", "br0"},
         {"interface br0 is down: no search runs there",
          "interface wlan0 has no IPv4 address: no search runs there"},
         false},
    };
    for (const auto& row : limits)
    {
        const std::vector<ChosenInterface> chosen = ChosenInterfaceLimits(all, {row.include, {}});
        std::vector<std::string> notices;
        for (const ChosenInterface& iface : chosen)
        {
            if (iface.limit != InterfaceLimit::None)
                notices.push_back(InterfaceLimitText(iface.name, iface.limit));
        }
        EXPECT_EQ(notices, row.notices) << ::testing::PrintToString(row.include);
        EXPECT_EQ(AnyChosenInterfaceSearches(chosen), row.anySearch) << ::testing::PrintToString(row.include);
    }

    // Nothing left to search: every interface, with what keeps it out, so that
    // an empty result is not blamed on the network.
    const struct
    {
        std::vector<LocalInterface> all;
        InterfaceChoice choice;
        std::string reason;
    } nowhere[] = {
        {all,
         {{}, {"eth0", "eth1", "10.8.0.2"}},
         "lo is a loopback interface, eth0 is excluded, eth1 is excluded, tun0 is excluded, br0 is down, "
         "wlan0 "
         "has no IPv4 address"},
        {all,
         {{"br0", "wlan0"}, {"lo"}},
         "lo is a loopback interface, eth0 is not chosen, eth1 is not chosen, tun0 is not chosen, br0 is "
         "down, "
         "wlan0 has no IPv4 address"},
        {{all[0]}, {}, "lo is a loopback interface"},
        {{}, {}, "no interface is listed here"},
    };
    for (const auto& row : nowhere)
    {
        EXPECT_TRUE(SearchableInterfaces(row.all, row.choice).empty()) << row.reason;
        EXPECT_EQ(NoSearchInterfaceReason(row.all, row.choice), row.reason);
    }
}

// A unicast search goes to one device: never a group, loopback, "this
// network", nor a local subnet's network or broadcast address, where the
// "unicast" would leave as a broadcast.
TEST(LocalAddress, UnicastSearchReachesOneDeviceOnly)
{
    std::vector<LocalInterface> all(2);
    all[0].subnets = {{Host("198.18.0.1"), 0xFFFF0000u}, {Host("10.0.0.1"), 0xFFFFFFFEu}};
    all[1].subnets = {{Host("192.0.2.10"), 0xFFFFFF00u}, {Host("203.0.113.5"), 0xFFFFFFFFu}};
    const struct
    {
        const char* address;
        bool searchable;
    } rows[] = {
        {"198.18.20.10", true},     {"198.18.255.255", false}, {"198.18.0.0", false},
        {"198.19.255.255", true},   {"192.0.2.255", false},    {"192.0.2.0", false},
        {"192.0.2.254", true},      {"10.0.0.0", true},        {"10.0.0.1", true},
        {"203.0.113.5", true},      {"224.0.0.1", false},      {"239.143.255.250", false},
        {"127.0.0.1", false},       {"0.1.2.3", false},        {"240.0.0.1", false},
        {"255.255.255.255", false}, {"223.255.255.254", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsSearchableUnicastAddress(Host(row.address), all), row.searchable) << row.address;
}
