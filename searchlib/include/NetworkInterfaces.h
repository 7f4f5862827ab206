// The host's network interfaces as the searches see them, the user's choice
// among them, and the addresses a unicast search may reach: what a program
// needs to check a choice of interfaces or an address it is given. The choice
// and the rules are pure functions of a list, so every rule is testable without
// a network; only ListLocalInterfaces asks the system.
#ifndef SEARCHLIB_NETWORKINTERFACES_H
#define SEARCHLIB_NETWORKINTERFACES_H

#include <cstdint>
#include <string>
#include <vector>

// One IPv4 address of an interface with its netmask, both in host byte order.
struct LocalSubnet
{
    std::uint32_t address = 0;
    std::uint32_t netmask = 0xFFFFFFFFu;
};

struct LocalInterface
{
    std::string name;
    unsigned int index = 0;
    unsigned int flags = 0;             // IFF_* of the interface
    std::vector<std::string> addresses; // its IPv4 addresses, dotted, in the system's order
    std::vector<LocalSubnet> subnets{}; // the same addresses with their netmasks, in the same order
};

// Every interface of the host, addresses or not, in the system's index order.
// False, with errno set, when the system cannot list them.
bool ListLocalInterfaces(std::vector<LocalInterface>& list);

// The interfaces the user asked for: every one named (by name or by one of its
// IPv4 addresses) in include, or all when include is empty, minus those named in
// exclude. Inactive when both are empty: then nothing is filtered at all.
struct InterfaceChoice
{
    std::vector<std::string> include;
    std::vector<std::string> exclude;

    bool Active() const { return !include.empty() || !exclude.empty(); }
};

bool InterfaceMatches(const LocalInterface& iface, const std::string& nameOrAddress);
bool InterfaceChosen(const LocalInterface& iface, const InterfaceChoice& choice);

// The interfaces a search may use: up, not loopback, holding an IPv4 address,
// and chosen. Their addresses outside 127.0.0.0/8 only.
std::vector<LocalInterface> SearchableInterfaces(const std::vector<LocalInterface>& all,
                                                 const InterfaceChoice& choice);

// What keeps a chosen interface from a search, the first that holds.
enum class InterfaceLimit
{
    None,        // both searches run there
    Loopback,    // nothing runs there
    Down,        // nothing runs there
    NoAddress,   // no IPv4 address a search may use: nothing runs there
    NoBroadcast, // a point-to-point tunnel: only the SSDP search runs there
};

// What keeps one interface from a search, whether chosen or not.
InterfaceLimit InterfaceLimitOf(const LocalInterface& iface);

struct ChosenInterface
{
    std::string name;
    InterfaceLimit limit = InterfaceLimit::None;
};

// Every interface chosen by the include list, in the host's order, with its
// limit; empty when the choice names no interface to include.
std::vector<ChosenInterface> ChosenInterfaceLimits(const std::vector<LocalInterface>& all,
                                                   const InterfaceChoice& choice);
// ChosenInterfaceLimits against the interfaces the host has now.
std::vector<ChosenInterface> ChosenInterfaceLimits(const InterfaceChoice& choice);

// False only when interfaces were chosen and none of them can carry a search.
bool AnyChosenInterfaceSearches(const std::vector<ChosenInterface>& chosen);

// The block an IPv4 address (host byte order) belongs to, by its value alone.
enum class IPv4Block
{
    Unicast,          // an address a device on a network may hold
    ThisNetwork,      // 0.0.0.0/8
    Loopback,         // 127.0.0.0/8, this computer itself
    Multicast,        // 224.0.0.0/4
    Reserved,         // 240.0.0.0/4 but the limited broadcast
    LimitedBroadcast, // 255.255.255.255
};
IPv4Block IPv4BlockOf(std::uint32_t address);

// An address that a device on a network may hold (host byte order): not "this
// network" (0/8), this computer's loopback (127/8), multicast (224/4), nor the
// reserved block with the limited broadcast (240/4).
bool IsDeviceUnicastIPv4(std::uint32_t address);

// The network or the broadcast address of a subnet of one of the interfaces
// (a /31 or /32 has neither): sent there, a "unicast" leaves as a broadcast.
bool IsLocalSubnetEdge(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

// Whether the address is one of the interfaces' own.
bool IsLocalAddress(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

// Whether a subnet of one of the interfaces holds the address: false for a
// device beyond a router.
bool IsOnLocalSubnet(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

// Both rules: an address a unicast search may be sent to.
bool IsSearchableUnicastAddress(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

#endif
