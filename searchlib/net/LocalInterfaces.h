// The library's own use of the host's interfaces (NetworkInterfaces.h holds
// what programs may use too): the addresses a search sends from, the arrival
// filter and the addresses searched by unicast.
#ifndef SEARCHLIB_LOCALINTERFACES_H
#define SEARCHLIB_LOCALINTERFACES_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "NetworkInterfaces.h"

// Every address of the interfaces, in their order.
std::vector<std::string> InterfaceAddresses(const std::vector<LocalInterface>& interfaces);

// Whether a local interface address can carry a search: an IPv4 address of an
// interface that is up, outside 127.0.0.0/8. addr is in network byte order.
bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder);

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
