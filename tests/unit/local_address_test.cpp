// Which interface addresses get a command thread of their own in multi-address
// mode: only addresses of interfaces that are up, and never a loopback one.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include "SearchDeviceClient.h"

namespace
{
unsigned int Addr(const char* text)
{
    in_addr addr{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &addr), 1) << text;
    return addr.s_addr;
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
