// Where --wake sends its packet, and what it says when it sends nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WakePlan.h"

namespace
{
nasknown::KnownDevice Known(const std::string& id, const std::string& mac, const std::string& interfaceName)
{
    nasknown::KnownDevice device;
    device.vendor = "TAVIK";
    device.id = id;
    device.address = interfaceName.empty() ? "198.18.20.10" : "198.18.1.1";
    device.interfaceName = interfaceName;
    device.mac = mac;
    return device;
}
} // namespace

TEST(PlanWakeTest, ARefusedArgumentSaysWhyAndIsQuotedShort)
{
    const std::vector<nasknown::KnownDevice> known = {Known("DEV0", "02:00:5e:10:00:01", "eth0"),
                                                      Known("BEYOND", "", ""),
                                                      Known("02:00", "02:00:5e:10:00:02", "eth1")};
    const std::vector<nasknown::Link> links = {{"eth0", 2, 0xC6120001u, 0xFFFF0000u},
                                               {"eth1", 3, 0xC6130001u, 0xFFFF0000u}};
    const std::string cut64 = std::string(64, 'x') + "\u2026";
    const std::string e64 = []
    {
        std::string text;
        for (int i = 0; i < 64; ++i)
            text += "\u00e9";
        return text;
    }();
    const struct
    {
        std::string text;
        std::string error; // empty: a plan
        std::vector<std::string> interfaces;
    } rows[] = {
        {"DEV0", "", {"eth0"}},
        {"02:00:5e:10:00:01", "", {"eth0"}},
        {"02:00:5e:10:00:09", "", {"eth0", "eth1"}}, // no known device: every link
        {"02:00", "", {"eth1"}},                     // an id that reads like part of a MAC is an id
        {"11:22:33", "--wake '11:22:33': the MAC address is malformed", {}},
        {"11-22-33-44-55", "--wake '11-22-33-44-55': the MAC address is malformed", {}},
        {"02:00:00:00:00:0g", "--wake '02:00:00:00:00:0g' is not a MAC address a device can have", {}},
        {"ff:ff:ff:ff:ff:ff", "is not a MAC address a device can have", {}},
        {"NOSUCH", "--wake 'NOSUCH': no known device has this id (see --known)", {}},
        {"BEYOND", "is not known (a device beyond a router cannot be woken)", {}},
        // A 100 kB argument is quoted back 64 characters long.
        {std::string(100000, 'x'), "--wake '" + cut64 + "': no known device has this id", {}},
        {std::string(64, 'x'), "--wake '" + std::string(64, 'x') + "': no known device", {}},
        {e64 + "\u00e9", "--wake '" + e64 + "\u2026': no known device", {}},
    };
    for (const auto& row : rows)
    {
        const nasknown::WakePlan plan = nasknown::PlanWake(row.text, known, links);
        const std::string name = row.text.substr(0, 80);
        if (row.error.empty())
        {
            EXPECT_EQ(plan.error, "") << name;
        }
        else
        {
            EXPECT_NE(plan.error.find(row.error), std::string::npos) << name << " -> " << plan.error;
            EXPECT_LT(plan.error.size(), 300u) << name;
        }
        std::vector<std::string> interfaces;
        for (const nasknown::WakeTarget& target : plan.targets)
            interfaces.push_back(target.interfaceName);
        EXPECT_EQ(interfaces, row.interfaces) << name;
    }
}
