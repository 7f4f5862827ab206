// Which device addresses the window puts into a URL for the desktop to open.
#include "DeviceAddress.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

TEST(DeviceAddress, OnlyAddressesAndPlainHostNamesOpen)
{
    for (const char* safe :
         {"198.18.0.5", "1.0.0.1", "126.255.255.255", "128.0.0.1", "223.255.255.255", "nas", "NAS-Box.local",
          "a1.b2", "x-1", "198.18.1.example", "localhost-nas", "nas.localhost.example"})
        EXPECT_TRUE(IsSafeDeviceAddress(safe)) << safe;
    for (const char* unsafe :
         {"", "198.18.0.5@elsewhere.example", "198.18.0.5:8080", "198.18.0.5/admin", "198.18.0.5 x",
          "198.18.0.5#frag", "198.18.0.5?q", "user@host", "host%2fpath", "[::1]", "198.18.0.256", "198.18.0",
          "1.2.3.4.5", "010.0.0.1", "0x7f.1", "0X7F", "2130706433", "host.", ".host", "a..b", "ho_st",
          "h\xc3\xa9te", "198.18.0.5\\evil",
          // Not a device on the LAN: this network, this machine, multicast,
          // the reserved block and the limited broadcast.
          "0.0.0.0", "0.1.2.3", "127.0.0.1", "127.255.0.9", "224.0.0.1", "239.143.255.250", "240.0.0.1",
          "255.255.255.255", "localhost", "LocalHost", "nas.localhost", "198.18.1.1.example",
          "127.0.0.1.nip.example"})
        EXPECT_FALSE(IsSafeDeviceAddress(QString::fromUtf8(unsafe))) << unsafe;
}

// A device may announce a name instead of an address. The name is resolved
// once and only the address it resolves to is opened, when every address it
// resolves to may be: names of this computer under other spellings lead
// nowhere. The resolver reads a hosts file of the test's own, mounted over
// /etc/hosts in a private mount namespace, and nothing but that file.
TEST(DeviceAddress, NamesOpenOnlyAsTheAddressTheyResolveToWhenThatIsADevice)
{
    char hostName[256] = {};
    gethostname(hostName, sizeof(hostName) - 1);
    const testsupport::TempDir folder;
    const std::string hosts = folder.str() + "/hosts";
    const std::string nsswitch = folder.str() + "/nsswitch.conf";
    std::ofstream(hosts) << "127.0.0.1 localhost localhost.localdomain\n"
                         << "127.0.1.1 " << hostName << "\n"
                         << "::1 localhost ip6-localhost ip6-loopback\n"
                         << "127.0.0.1 evil-nas\n"
                         << "198.18.5.5 lan-nas\n"
                         << "198.18.0.1 own-nas\n"
                         << "198.18.5.6 mixed-nas\n"
                         << "127.0.0.1 mixed-nas\n";
    std::ofstream(nsswitch) << "hosts: files\n";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
    {
        const std::string why = std::strerror(errno);
        GTEST_SKIP() << "a private mount namespace needs root here: " << why;
    }
    std::vector<LocalInterface> local(1);
    local[0].subnets = {{*nasfinder::ParseCanonicalIPv4("198.18.0.1"), 0xFFFF0000u}};
    const struct
    {
        QString text;
        QString opened; // empty: nothing opens
    } rows[] = {
        {"localhost.localdomain", ""},
        {"ip6-localhost", ""},
        {"ip6-loopback", ""},
        {QString::fromLatin1(hostName), ""},
        {"evil-nas", ""},
        {"no-such-nas", ""},
        {"mixed-nas", ""},
        {"own-nas", ""},
        {"198.18.0.1", ""},
        {"198.18.255.255", ""},
        {"lan-nas", "198.18.5.5"},
        {"198.18.5.7", "198.18.5.7"},
    };
    for (const auto& row : rows)
    {
        const OpenTarget target = CheckedOpenTarget(row.text, local);
        EXPECT_EQ(target.address, row.opened) << row.text.toStdString();
        EXPECT_EQ(target.refusal.isEmpty(), !row.opened.isEmpty()) << row.text.toStdString();
    }
    umount("/etc/nsswitch.conf");
    umount("/etc/hosts");
}
