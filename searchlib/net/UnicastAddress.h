// Which IPv4 addresses a search may reach by unicast: one device, never a group
// or a subnet's broadcast under another name. Plain functions of an address
// and a list of interfaces, shared by the library, its broadcast helper and the
// programs that check what a user names.
#ifndef SEARCHLIB_UNICASTADDRESS_H
#define SEARCHLIB_UNICASTADDRESS_H

#include <cstdint>
#include <vector>

#include "net/LocalInterfaces.h"

// An address that a device on a network may hold (host byte order): not "this
// network" (0/8), this computer's loopback (127/8), multicast (224/4), nor the
// reserved block with the limited broadcast (240/4).
bool IsDeviceUnicastIPv4(std::uint32_t address);

// The network or the broadcast address of a subnet of one of the interfaces
// (a /31 or /32 has neither): sent there, a "unicast" leaves as a broadcast.
bool IsLocalSubnetEdge(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

// Both rules: an address a unicast search may be sent to.
bool IsSearchableUnicastAddress(std::uint32_t address, const std::vector<LocalInterface>& interfaces);

#endif
