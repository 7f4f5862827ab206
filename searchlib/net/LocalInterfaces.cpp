#include "net/LocalInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace
{
LocalInterface* FindByName(std::vector<LocalInterface>& list, const char* name)
{
    for (LocalInterface& iface : list)
    {
        if (iface.name == name)
            return &iface;
    }
    return nullptr;
}

bool AnyMatches(const LocalInterface& iface, const std::vector<std::string>& items)
{
    return std::any_of(items.begin(), items.end(),
                       [&iface](const std::string& item) { return InterfaceMatches(iface, item); });
}

} // namespace

InterfaceLimit InterfaceLimitOf(const LocalInterface& iface)
{
    if ((iface.flags & IFF_LOOPBACK) != 0)
        return InterfaceLimit::Loopback;
    if ((iface.flags & IFF_UP) == 0)
        return InterfaceLimit::Down;
    if (SearchableInterfaces({iface}, InterfaceChoice{}).empty())
        return InterfaceLimit::NoAddress;
    // The broadcast thread leaves such an interface out; the SSDP search
    // still goes out from its address.
    if ((iface.flags & IFF_BROADCAST) == 0)
        return InterfaceLimit::NoBroadcast;
    return InterfaceLimit::None;
}
bool ListLocalInterfaces(std::vector<LocalInterface>& list)
{
    list.clear();
    struct ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0)
        return false;
    // Every interface appears first as its link-layer entry, in index order;
    // its IPv4 addresses follow later in the list.
    for (struct ifaddrs* ifa = head; ifa != nullptr; ifa = ifa->ifa_next)
    {
        if (ifa->ifa_name == nullptr)
            continue;
        LocalInterface* iface = FindByName(list, ifa->ifa_name);
        if (iface == nullptr)
        {
            list.emplace_back();
            iface = &list.back();
            iface->name = ifa->ifa_name;
            iface->index = ::if_nametoindex(ifa->ifa_name);
        }
        iface->flags = ifa->ifa_flags;
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        const struct sockaddr_in* in = reinterpret_cast<const struct sockaddr_in*>(ifa->ifa_addr);
        char text[INET_ADDRSTRLEN] = {0};
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) == nullptr)
            continue;
        iface->addresses.emplace_back(text);
        LocalSubnet subnet;
        subnet.address = ntohl(in->sin_addr.s_addr);
        if (ifa->ifa_netmask != nullptr && ifa->ifa_netmask->sa_family == AF_INET)
            subnet.netmask =
                ntohl(reinterpret_cast<const struct sockaddr_in*>(ifa->ifa_netmask)->sin_addr.s_addr);
        iface->subnets.push_back(subnet);
    }
    ::freeifaddrs(head);
    return true;
}

bool InterfaceMatches(const LocalInterface& iface, const std::string& nameOrAddress)
{
    return iface.name == nameOrAddress ||
           std::find(iface.addresses.begin(), iface.addresses.end(), nameOrAddress) != iface.addresses.end();
}

bool InterfaceChosen(const LocalInterface& iface, const InterfaceChoice& choice)
{
    if (!choice.include.empty() && !AnyMatches(iface, choice.include))
        return false;
    return !AnyMatches(iface, choice.exclude);
}

std::vector<LocalInterface> SearchableInterfaces(const std::vector<LocalInterface>& all,
                                                 const InterfaceChoice& choice)
{
    std::vector<LocalInterface> usable;
    for (const LocalInterface& iface : all)
    {
        if (!InterfaceChosen(iface, choice))
            continue;
        LocalInterface kept = iface;
        kept.addresses.clear();
        kept.subnets.clear();
        for (std::size_t i = 0; i < iface.addresses.size(); ++i)
        {
            in_addr addr{};
            if (::inet_pton(AF_INET, iface.addresses[i].c_str(), &addr) == 1 &&
                IsSearchableLocalAddress(iface.flags, addr.s_addr))
            {
                kept.addresses.push_back(iface.addresses[i]);
                if (i < iface.subnets.size())
                    kept.subnets.push_back(iface.subnets[i]);
            }
        }
        if (!kept.addresses.empty())
            usable.push_back(std::move(kept));
    }
    return usable;
}

bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder)
{
    if ((ifaFlags & IFF_UP) == 0 || (ifaFlags & IFF_LOOPBACK) != 0)
        return false;
    return (ntohl(addrNetworkOrder) >> 24) != 127;
}

std::vector<std::string> InterfaceAddresses(const std::vector<LocalInterface>& interfaces)
{
    std::vector<std::string> addresses;
    for (const LocalInterface& iface : interfaces)
        addresses.insert(addresses.end(), iface.addresses.begin(), iface.addresses.end());
    return addresses;
}

std::vector<ChosenInterface> ChosenInterfaceLimits(const std::vector<LocalInterface>& all,
                                                   const InterfaceChoice& choice)
{
    std::vector<ChosenInterface> chosen;
    if (choice.include.empty())
        return chosen;
    for (const LocalInterface& iface : all)
    {
        if (InterfaceChosen(iface, choice))
            chosen.push_back({iface.name, InterfaceLimitOf(iface)});
    }
    return chosen;
}

std::vector<ChosenInterface> ChosenInterfaceLimits(const InterfaceChoice& choice)
{
    std::vector<LocalInterface> all;
    ListLocalInterfaces(all);
    return ChosenInterfaceLimits(all, choice);
}

bool AnyChosenInterfaceSearches(const std::vector<ChosenInterface>& chosen)
{
    return chosen.empty() || std::any_of(chosen.begin(), chosen.end(),
                                         [](const ChosenInterface& iface) {
                                             return iface.limit == InterfaceLimit::None ||
                                                    iface.limit == InterfaceLimit::NoBroadcast;
                                         });
}

void CArrivalFilter::Restrict(std::vector<unsigned int> indices)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_vAllowed = std::move(indices);
    m_bRestricted.store(true);
}

bool CArrivalFilter::Allows(unsigned int ifindex) const
{
    if (!m_bRestricted.load())
        return true;
    std::lock_guard<std::mutex> guard(m_Lock);
    return std::find(m_vAllowed.begin(), m_vAllowed.end(), ifindex) != m_vAllowed.end();
}

void CUnicastTargets::Set(std::vector<boost::asio::ip::address_v4> targets)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_vTargets = std::move(targets);
}

std::vector<boost::asio::ip::address_v4> CUnicastTargets::Get() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_vTargets;
}

bool CUnicastTargets::Contains(const boost::asio::ip::address_v4& address) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return std::find(m_vTargets.begin(), m_vTargets.end(), address) != m_vTargets.end();
}
