// Which addresses a known device may have. A LAN host may name any address in
// an SSDP LOCATION, and a store may be forged: an address that no device can
// hold (this computer's loopback, a group, a broadcast, a network address, the
// blocks 0/8 and 240/4) is never kept, and so nothing is ever sent to it, not
// even the nudge that makes the kernel learn a MAC, nor a wake-up packet. Pure
// functions of the address and the host's interfaces.
#ifndef NASFINDER_KNOWNADDRESS_H
#define NASFINDER_KNOWNADDRESS_H

#include "KnownDevices.h"
#include "NetworkInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nasknown
{
// Why a device cannot be at `address` (host byte order), or nothing when it
// can: the block it belongs to, or the network or broadcast address of a
// subnet of one of `local`.
std::optional<std::string> WhyNoDeviceAt(std::uint32_t address, const std::vector<LocalInterface>& local);
// The same for an address as a device gave it: a dotted IPv4 address is
// judged; anything else (a name) is no address of these kinds.
std::optional<std::string> WhyNoDeviceAt(const std::string& address,
                                         const std::vector<LocalInterface>& local);

// Removes the devices that WhyNoDeviceAt refuses, in place; one line for each
// removed, naming it, its address and why.
std::vector<std::string> DropImpossibleAddresses(std::vector<KnownDevice>& devices,
                                                 const std::vector<LocalInterface>& local);
} // namespace nasknown

#endif
