#include "NetworkInterfaces.h"

IPv4Block IPv4BlockOf(std::uint32_t address)
{
    const std::uint32_t first = address >> 24;
    if (first == 0)
        return IPv4Block::ThisNetwork;
    if (first == 127)
        return IPv4Block::Loopback;
    if (first >= 224 && first < 240)
        return IPv4Block::Multicast;
    if (address == 0xFFFFFFFFu)
        return IPv4Block::LimitedBroadcast;
    if (first >= 240)
        return IPv4Block::Reserved;
    return IPv4Block::Unicast;
}

bool IsDeviceUnicastIPv4(std::uint32_t address)
{
    return IPv4BlockOf(address) == IPv4Block::Unicast;
}

bool IsLocalSubnetEdge(std::uint32_t address, const std::vector<LocalInterface>& interfaces)
{
    for (const LocalInterface& iface : interfaces)
    {
        for (const LocalSubnet& subnet : iface.subnets)
        {
            // A /31 or /32 is all hosts: no address of it stands for the subnet.
            if (~subnet.netmask <= 1u)
                continue;
            const std::uint32_t network = subnet.address & subnet.netmask;
            if ((address & subnet.netmask) == network &&
                (address == network || address == (network | ~subnet.netmask)))
                return true;
        }
    }
    return false;
}

bool IsLocalAddress(std::uint32_t address, const std::vector<LocalInterface>& interfaces)
{
    for (const LocalInterface& iface : interfaces)
    {
        for (const LocalSubnet& subnet : iface.subnets)
        {
            if (subnet.address == address)
                return true;
        }
    }
    return false;
}

bool IsOnLocalSubnet(std::uint32_t address, const std::vector<LocalInterface>& interfaces)
{
    for (const LocalInterface& iface : interfaces)
    {
        for (const LocalSubnet& subnet : iface.subnets)
        {
            if ((address & subnet.netmask) == (subnet.address & subnet.netmask))
                return true;
        }
    }
    return false;
}

bool IsSearchableUnicastAddress(std::uint32_t address, const std::vector<LocalInterface>& interfaces)
{
    return IsDeviceUnicastIPv4(address) && !IsLocalSubnetEdge(address, interfaces);
}
