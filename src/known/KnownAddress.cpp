#include "KnownAddress.h"

#include "HostAddress.h"

#include <algorithm>

namespace nasknown
{
std::optional<std::string> WhyNoDeviceAt(std::uint32_t address, const std::vector<LocalInterface>& local)
{
    switch (IPv4BlockOf(address))
    {
    case IPv4Block::Unicast:
        break;
    case IPv4Block::ThisNetwork:
        return std::string("\"this network\" (0.0.0.0/8)");
    case IPv4Block::Loopback:
        return std::string("this computer's loopback (127.0.0.0/8)");
    case IPv4Block::Multicast:
        return std::string("a multicast group (224.0.0.0/4)");
    case IPv4Block::Reserved:
        return std::string("reserved (240.0.0.0/4)");
    case IPv4Block::LimitedBroadcast:
        return std::string("the limited broadcast");
    }
    if (IsLocalSubnetEdge(address, local))
        return std::string("the network or broadcast address of a local subnet");
    return std::nullopt;
}

std::optional<std::string> WhyNoDeviceAt(const std::string& address, const std::vector<LocalInterface>& local)
{
    const std::optional<std::uint32_t> parsed = nasfinder::ParseCanonicalIPv4(address);
    return parsed ? WhyNoDeviceAt(*parsed, local) : std::nullopt;
}

std::vector<std::string> DropImpossibleAddresses(std::vector<KnownDevice>& devices,
                                                 const std::vector<LocalInterface>& local)
{
    std::vector<std::string> dropped;
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&](const KnownDevice& device)
                                 {
                                     const std::optional<std::string> why =
                                         WhyNoDeviceAt(device.address, local);
                                     if (why)
                                         dropped.push_back(device.vendor + " " + device.id + " at " +
                                                           device.address + " is not kept: " + *why);
                                     return why.has_value();
                                 }),
                  devices.end());
    return dropped;
}
} // namespace nasknown
