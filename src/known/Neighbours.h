// Which local link a device is on, and its MAC address from the kernel's
// neighbour table (/proc/net/arp: no privilege needed). The parse and the
// subnet match are pure; reading the table and nudging the kernel to resolve
// an address are apart.
#ifndef NASFINDER_NEIGHBOURS_H
#define NASFINDER_NEIGHBOURS_H

#include "KnownDevices.h"
#include "NetworkInterfaces.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace nasknown
{
struct Neighbour
{
    std::string address; // dotted IPv4
    std::string mac;     // lower case, colon-separated
    std::string interfaceName;
};

// The complete entries of /proc/net/arp's text (flag ATF_COM, a MAC other
// than all zeros); the header, incomplete and malformed lines are skipped.
std::vector<Neighbour> ParseArpTable(const std::string& text);

// The table looked up by address: a flood of forged devices brings tens of
// thousands of addresses to look up at once.
class NeighbourIndex
{
public:
    explicit NeighbourIndex(const std::vector<Neighbour>& table);
    // The MAC of `address` on `interfaceName`, or empty.
    std::string MacOf(const std::string& address, const std::string& interfaceName) const;
    // Whether the table holds `address` on any link.
    bool Holds(const std::string& address) const;

private:
    std::unordered_map<std::string, std::string> m_macs; // address, '\n', interface
    std::unordered_set<std::string> m_addresses;
};

// Which of the addresses missing from the table get a nudge now: at most
// kNudgesAtOnce, and none nudged within kNudgeAgainAfter. Without it, every
// look at a flood of forged devices would send a datagram (and make the
// kernel send an ARP request) to each forged address. The nudges of the last
// kNudgeAgainAfter are remembered, kNudgeMemory at most, and forgotten oldest
// first as their time passes; while the memory is full, nothing new is
// nudged, however often the callers look. Thread-safe.
constexpr std::size_t kNudgesAtOnce = 64;
constexpr std::chrono::seconds kNudgeAgainAfter{60};
// A look every second nudges at most 64 x 60 = 3,840 in a minute: such a
// caller never meets the bound.
constexpr std::size_t kNudgeMemory = 4096;
static_assert(kNudgeMemory >= kNudgesAtOnce * 60, "a look a second stays below the memory's bound");
class NudgeLimiter
{
public:
    using Clock = std::chrono::steady_clock;
    std::vector<std::string> Choose(const std::vector<std::string>& missing, Clock::time_point now);

private:
    std::mutex m_mutex;
    std::unordered_set<std::string> m_nudged;                      // within kNudgeAgainAfter
    std::deque<std::pair<Clock::time_point, std::string>> m_order; // the same, oldest first
};

// A local link that holds a device's address.
struct Link
{
    std::string interfaceName;
    unsigned int index = 0;
    std::uint32_t localAddress = 0; // host byte order
    std::uint32_t netmask = 0;
    std::uint32_t Broadcast() const { return (localAddress & netmask) | ~netmask; }
};

// The interface (up, not loopback, broadcast-capable) one of whose IPv4
// subnets holds `address`, the most specific first; nothing for a device
// beyond a router.
std::optional<Link> LinkFor(const std::vector<LocalInterface>& interfaces, std::uint32_t address);

// Every such link of the host now.
std::vector<Link> BroadcastLinks(const std::vector<LocalInterface>& interfaces);

// The kernel's table now (empty when it cannot be read).
std::vector<Neighbour> ReadNeighbourTable();

// Sends one unicast datagram to each address the process's NudgeLimiter
// lets through (an SSDP search to its port 1900, from an ordinary socket),
// which makes the kernel resolve it, and waits until every one nudged is in
// the table or the deadline passes. The table as read last.
std::vector<Neighbour> ResolveNeighbours(const std::vector<std::string>& addresses,
                                         std::chrono::milliseconds deadline);

// For each device that answered: the interface whose subnet holds its
// address and its MAC from the table, asking the kernel to resolve those on
// a local link that are not in it yet, for at most `resolveFor`. A device
// beyond a router gets neither, nor does one at an address that no device
// can have (KnownAddress.h), which is not even nudged. Nor is a device on a
// link the user left out of the search (`searched`): its MAC is taken from
// the table as it stands, since nothing is to go out of that interface.
constexpr std::chrono::milliseconds kResolveTime{1500};
void FindLinksAndMacs(std::vector<KnownDevice>& sightings,
                      std::chrono::milliseconds resolveFor = kResolveTime,
                      const InterfaceChoice& searched = InterfaceChoice{});
} // namespace nasknown

#endif
