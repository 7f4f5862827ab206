#include "SearchPorts.h"

#include <cstring>

namespace nasscan
{
namespace
{
std::string Why(const nasfinder::PortCheckResult& port)
{
    return std::strerror(port.error);
}
} // namespace

SearchPortVerdict JudgeSearchPorts(const SearchPortStates& states, const std::string& programPath)
{
    using nasfinder::PortCheck;
    SearchPortVerdict verdict;
    const bool broadcastRuns = states.broadcast.state == PortCheck::Available;
    const bool groupRuns = states.group.state == PortCheck::Available;
    const bool addressesRun = states.multiIP && states.addressesWithPort > 0;
    const bool ssdpRuns = groupRuns || addressesRun;

    std::string broadcast;
    if (states.broadcast.state == PortCheck::NoPrivilege)
        broadcast = "cannot bind UDP port 67 (" + Why(states.broadcast) +
                    "), so the broadcast search is off; run as root or grant the binary the capability: "
                    "setcap cap_net_bind_service=+ep " +
                    programPath + ".";
    else if (states.broadcast.state == PortCheck::InUse)
        broadcast = "cannot bind UDP port 67 (" + Why(states.broadcast) +
                    "), so the broadcast search gets no answers. Ports 67 and 68 are the DHCP ports: a DHCP "
                    "server on this computer (such as dnsmasq, or a virtual-machine network) may hold it.";
    else if (!broadcastRuns)
        broadcast = "cannot bind UDP port 67 (" + Why(states.broadcast) +
                    "), so the broadcast search gets no answers.";

    std::string ssdp;
    if (!groupRuns && addressesRun)
        ssdp = "cannot bind UDP port 1900 (" + Why(states.group) +
               "), so SSDP announcements are not heard; the SSDP search goes on from each local address's "
               "own port.";
    else if (!groupRuns)
        ssdp = "cannot bind UDP port 1900 (" + Why(states.group) + ")" +
               (states.multiIP ? std::string(" nor a port of its own for any local address")
                               : std::string(" nor one of the 20 ports above it")) +
               ", so the SSDP search is off.";

    if (!broadcast.empty())
        verdict.warnings.push_back(broadcast + (ssdpRuns ? " Going on with SSDP alone." : ""));
    if (!ssdp.empty())
        verdict.warnings.push_back(ssdp +
                                   (broadcastRuns ? " Going on with the broadcast search alone." : ""));
    verdict.anyRuns = broadcastRuns || ssdpRuns;
    if (!verdict.anyRuns)
        verdict.warnings.push_back("no search can run.");
    return verdict;
}
} // namespace nasscan
