// The host's network interfaces as the searches see them, and the user's choice
// among them. The choice and the filtering are pure functions of a list, so every
// rule is testable without a network; only ListLocalInterfaces asks the system.
#ifndef SEARCHLIB_LOCALINTERFACES_H
#define SEARCHLIB_LOCALINTERFACES_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

struct LocalInterface
{
    std::string name;
    unsigned int index = 0;
    unsigned int flags = 0;             // IFF_* of the interface
    std::vector<std::string> addresses; // its IPv4 addresses, dotted, in the system's order
    std::vector<std::string> netmasks;  // the netmask of each address, dotted, same order
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

// Every address of the interfaces, in their order.
std::vector<std::string> InterfaceAddresses(const std::vector<LocalInterface>& interfaces);

// Empty when every item names an interface of `all`; otherwise one line that
// names the first unknown item and every interface there is, sorted by name.
std::string UnknownInterfaceError(const std::vector<LocalInterface>& all,
                                  const std::vector<std::string>& items);

// Whether a local interface address can carry a search: an IPv4 address of an
// interface that is up, outside 127.0.0.0/8. addr is in network byte order.
bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder);

// Empty when no interface is both chosen and excluded; otherwise one line that
// names the first such interface and the two items that name it.
std::string ContradictoryInterfaceError(const std::vector<LocalInterface>& all,
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

// One line saying which search cannot run on the interface and why; empty for
// InterfaceLimit::None.
std::string InterfaceLimitText(const std::string& name, InterfaceLimit limit);

// False only when interfaces were chosen and none of them can carry a search.
bool AnyChosenInterfaceSearches(const std::vector<ChosenInterface>& chosen);

// Which interfaces' datagrams a worker may parse. Searching threads update it
// before each search while the workers ask it for every datagram.
class CArrivalFilter
{
public:
    // Only datagrams that arrived on one of these interfaces pass from now on.
    void Restrict(std::vector<unsigned int> indices);
    // ifindex 0 (arrival unknown) passes only while nothing is restricted.
    bool Allows(unsigned int ifindex) const;

private:
    // Read for every datagram of every worker: without a choice the answer
    // needs no lock.
    std::atomic<bool> m_bRestricted{false};
    mutable std::mutex m_Lock;
    std::vector<unsigned int> m_vAllowed; // guarded by m_Lock
};

// The addresses searched by unicast beside the broadcast and the group. The
// searching thread replaces the list and reads it at each search, while every
// worker may ask about the sender of a datagram, so it is under a lock.
class CUnicastTargets
{
public:
    void Set(std::vector<boost::asio::ip::address_v4> targets);
    std::vector<boost::asio::ip::address_v4> Get() const;
    bool Contains(const boost::asio::ip::address_v4& address) const;

private:
    mutable std::mutex m_Lock;
    std::vector<boost::asio::ip::address_v4> m_vTargets; // guarded by m_Lock
};

#endif
