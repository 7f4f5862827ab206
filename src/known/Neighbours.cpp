#include "Neighbours.h"

#include "HostAddress.h"
#include "KnownAddress.h"
#include "WakeOnLan.h"
#include "SearchProtocol.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace nasknown
{
namespace
{
// /proc/net/arp's flag of a resolved entry (ATF_COM).
constexpr unsigned long kArpComplete = 0x2;
// How often the table is read again while the kernel resolves.
constexpr std::chrono::milliseconds kResolvePoll{50};

std::string IndexKey(const std::string& address, const std::string& interfaceName)
{
    return address + '\n' + interfaceName;
}

bool AllInTable(const std::vector<Neighbour>& table, const std::vector<std::string>& addresses)
{
    const NeighbourIndex index(table);
    return std::all_of(addresses.begin(), addresses.end(),
                       [&index](const std::string& address) { return index.Holds(address); });
}

void SendNudge(const std::string& address)
{
    const std::optional<std::uint32_t> parsed = nasfinder::ParseCanonicalIPv4(address);
    if (!parsed)
        return;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kSsdpPort);
    to.sin_addr.s_addr = htonl(*parsed);
    // The device answers a search as usual; that answer is nobody's here.
    ::sendto(fd, upnp_searchfmt, sizeof(upnp_searchfmt) - 1, 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof(to));
    ::close(fd);
}
} // namespace

std::vector<Neighbour> ParseArpTable(const std::string& text)
{
    std::vector<Neighbour> table;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        std::string address, hwType, flags, mac, mask, device;
        if (!(fields >> address >> hwType >> flags >> mac >> mask >> device))
            continue;
        if (!nasfinder::ParseCanonicalIPv4(address))
            continue; // the header, or anything not an entry
        char* end = nullptr;
        const unsigned long flagBits = std::strtoul(flags.c_str(), &end, 16);
        if (end == flags.c_str() || *end != '\0' || (flagBits & kArpComplete) == 0)
            continue;
        // An all-zero MAC is an entry the kernel has not resolved.
        if (mac == "00:00:00:00:00:00")
            continue;
        const std::optional<MacAddress> parsed = ParseMac(mac);
        if (!parsed)
            continue;
        table.push_back({address, MacText(*parsed), device});
    }
    return table;
}

NeighbourIndex::NeighbourIndex(const std::vector<Neighbour>& table)
{
    for (const Neighbour& n : table)
    {
        m_macs.emplace(IndexKey(n.address, n.interfaceName), n.mac);
        m_addresses.insert(n.address);
    }
}

std::string NeighbourIndex::MacOf(const std::string& address, const std::string& interfaceName) const
{
    const auto found = m_macs.find(IndexKey(address, interfaceName));
    return found == m_macs.end() ? std::string() : found->second;
}

bool NeighbourIndex::Holds(const std::string& address) const
{
    return m_addresses.count(address) != 0;
}

std::vector<std::string> NudgeLimiter::Choose(const std::vector<std::string>& missing, Clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    // Forgetting everything once the memory was full let the first addresses
    // of a flood be nudged again within their minute: only time forgets here.
    while (!m_order.empty() && now - m_order.front().first >= kNudgeAgainAfter)
    {
        m_nudged.erase(m_order.front().second);
        m_order.pop_front();
    }
    std::vector<std::string> chosen;
    for (const std::string& address : missing)
    {
        if (chosen.size() == kNudgesAtOnce || m_nudged.size() >= kNudgeMemory)
            break;
        if (!m_nudged.insert(address).second)
            continue;
        m_order.emplace_back(now, address);
        chosen.push_back(address);
    }
    return chosen;
}

std::vector<Link> BroadcastLinks(const std::vector<LocalInterface>& interfaces)
{
    std::vector<Link> links;
    for (const LocalInterface& iface : interfaces)
    {
        if ((iface.flags & IFF_UP) == 0 || (iface.flags & IFF_LOOPBACK) != 0 ||
            (iface.flags & IFF_BROADCAST) == 0)
            continue;
        for (const LocalSubnet& subnet : iface.subnets)
        {
            if ((subnet.address >> 24) == 127)
                continue;
            links.push_back({iface.name, iface.index, subnet.address, subnet.netmask});
        }
    }
    return links;
}

std::optional<Link> LinkFor(const std::vector<LocalInterface>& interfaces, std::uint32_t address)
{
    std::optional<Link> best;
    for (const Link& link : BroadcastLinks(interfaces))
    {
        // A /32 or /31 holds no other host to broadcast to.
        if ((address & link.netmask) != (link.localAddress & link.netmask) || address == link.localAddress ||
            link.netmask >= 0xFFFFFFFEu)
            continue;
        if (!best || link.netmask > best->netmask)
            best = link;
    }
    return best;
}

std::vector<Neighbour> ReadNeighbourTable()
{
    std::ifstream file("/proc/net/arp");
    std::stringstream text;
    text << file.rdbuf();
    return ParseArpTable(text.str());
}

std::vector<Neighbour> ResolveNeighbours(const std::vector<std::string>& addresses,
                                         std::chrono::milliseconds deadline)
{
    static NudgeLimiter limiter;
    std::vector<Neighbour> table = ReadNeighbourTable();
    std::vector<std::string> missing;
    {
        const NeighbourIndex index(table);
        for (const std::string& address : addresses)
        {
            if (!index.Holds(address))
                missing.push_back(address);
        }
    }
    const std::vector<std::string> nudged = limiter.Choose(missing, NudgeLimiter::Clock::now());
    if (nudged.empty())
        return table;
    for (const std::string& address : nudged)
        SendNudge(address);
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until)
    {
        std::this_thread::sleep_for(kResolvePoll);
        table = ReadNeighbourTable();
        if (AllInTable(table, nudged))
            break;
    }
    return table;
}

void FindLinksAndMacs(std::vector<KnownDevice>& sightings, std::chrono::milliseconds resolveFor,
                      const InterfaceChoice& searched)
{
    std::vector<LocalInterface> interfaces;
    ListLocalInterfaces(interfaces);
    std::vector<std::string> onLink;
    std::vector<std::string> toNudge;
    for (KnownDevice& seen : sightings)
    {
        seen.interfaceName.clear();
        seen.mac.clear();
        const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(seen.address);
        // Nothing goes to an address no device can have: not even a nudge.
        if (!address || WhyNoDeviceAt(*address, interfaces))
            continue;
        if (const std::optional<Link> link = LinkFor(interfaces, *address))
        {
            seen.interfaceName = link->interfaceName;
            onLink.push_back(seen.address);
            const auto iface =
                std::find_if(interfaces.begin(), interfaces.end(),
                             [&](const LocalInterface& i) { return i.name == link->interfaceName; });
            if (iface != interfaces.end() && InterfaceChosen(*iface, searched))
                toNudge.push_back(seen.address);
        }
    }
    if (onLink.empty())
        return;
    const NeighbourIndex index(toNudge.empty() ? ReadNeighbourTable()
                                               : ResolveNeighbours(toNudge, resolveFor));
    for (KnownDevice& seen : sightings)
    {
        if (!seen.interfaceName.empty())
            seen.mac = index.MacOf(seen.address, seen.interfaceName);
    }
}
} // namespace nasknown
