// Which device addresses the window puts into a URL for the desktop to open.
#include "DeviceAddress.h"

#include <gtest/gtest.h>

TEST(DeviceAddress, OnlyAddressesAndPlainHostNamesOpen)
{
    for (const char* safe :
         {"198.18.0.5", "1.0.0.1", "126.255.255.255", "128.0.0.1", "223.255.255.255", "nas", "NAS-Box.local",
          "a1.b2", "x-1", "198.18.1.example", "localhost-nas", "nas.localhost.example"})
        EXPECT_TRUE(IsSafeDeviceAddress(safe)) << safe;
    for (const char* unsafe : {"",
                               "198.18.0.5@elsewhere.example",
                               "198.18.0.5:8080",
                               "198.18.0.5/admin",
                               "198.18.0.5 x",
                               "198.18.0.5#frag",
                               "198.18.0.5?q",
                               "user@host",
                               "host%2fpath",
                               "[::1]",
                               "198.18.0.256",
                               "198.18.0",
                               "1.2.3.4.5",
                               "010.0.0.1",
                               "0x7f.1",
                               "0X7F",
                               "2130706433",
                               "host.",
                               ".host",
                               "a..b",
                               "ho_st",
                               "h\xc3\xa9te",
                               "198.18.0.5\\evil",
                               // Not a device on the LAN: this network, this machine, multicast,
                               // the reserved block and the limited broadcast.
                               "0.0.0.0",
                               "0.1.2.3",
                               "127.0.0.1",
                               "127.255.0.9",
                               "224.0.0.1",
                               "239.143.255.250",
                               "240.0.0.1",
                               "255.255.255.255",
                               "localhost",
                               "LocalHost",
                               "nas.localhost",
                               "198.18.1.1.example",
                               "127.0.0.1.nip.example"})
        EXPECT_FALSE(IsSafeDeviceAddress(QString::fromUtf8(unsafe))) << unsafe;
}
