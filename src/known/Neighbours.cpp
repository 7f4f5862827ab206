#include "Neighbours.h"

#include "HostAddress.h"
#include "WakeOnLan.h"
#include "SearchProtocol.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
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

bool AllInTable(const std::vector<Neighbour>& table, const std::vector<std::string>& addresses)
{
    return std::all_of(addresses.begin(), addresses.end(),
                       [&table](const std::string& address)
                       {
                           return std::any_of(table.begin(), table.end(),
                                              [&address](const Neighbour& n)
                                              { return n.address == address; });
                       });
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

std::string MacIn(const std::vector<Neighbour>& table, const std::string& address,
                  const std::string& interfaceName)
{
    for (const Neighbour& n : table)
    {
        if (n.address == address && n.interfaceName == interfaceName)
            return n.mac;
    }
    return std::string();
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
    std::vector<Neighbour> table = ReadNeighbourTable();
    std::vector<std::string> missing;
    for (const std::string& address : addresses)
    {
        if (!AllInTable(table, {address}))
            missing.push_back(address);
    }
    if (missing.empty())
        return table;
    for (const std::string& address : missing)
        SendNudge(address);
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until)
    {
        std::this_thread::sleep_for(kResolvePoll);
        table = ReadNeighbourTable();
        if (AllInTable(table, missing))
            break;
    }
    return table;
}

void FindLinksAndMacs(std::vector<KnownDevice>& sightings, std::chrono::milliseconds resolveFor)
{
    std::vector<LocalInterface> interfaces;
    ListLocalInterfaces(interfaces);
    std::vector<std::string> onLink;
    for (KnownDevice& seen : sightings)
    {
        seen.interfaceName.clear();
        seen.mac.clear();
        const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(seen.address);
        if (!address)
            continue;
        if (const std::optional<Link> link = LinkFor(interfaces, *address))
        {
            seen.interfaceName = link->interfaceName;
            onLink.push_back(seen.address);
        }
    }
    if (onLink.empty())
        return;
    const std::vector<Neighbour> table = ResolveNeighbours(onLink, resolveFor);
    for (KnownDevice& seen : sightings)
    {
        if (!seen.interfaceName.empty())
            seen.mac = MacIn(table, seen.address, seen.interfaceName);
    }
}
} // namespace nasknown
