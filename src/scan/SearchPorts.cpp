#include "SearchPorts.h"

#include <cerrno>
#include <cstring>

#include "SessionStatus.h"

namespace nasscan
{
namespace
{
std::string Why(int error)
{
    return error > 0 ? std::strerror(error) : std::string("no reason given");
}

std::string CannotBind(int port, int error)
{
    return "cannot bind UDP port " + std::to_string(port) + " (" + Why(error) + ")";
}
} // namespace

SearchPortVerdict JudgeSearchPorts(const nasfinder::LibraryStatus& status, const std::string& helperPath)
{
    using nasfinder::PortCheck;
    SearchPortVerdict verdict;
    const bool broadcastRuns = status.broadcast_bound != 0;
    const bool groupRuns = status.group_bound_port != 0;
    const bool addressesRun = status.multi_address != 0 && status.address_searches_bound > 0;
    const bool ssdpRuns = groupRuns || addressesRun;

    std::string broadcast;
    switch (nasfinder::BroadcastPortCheck(status).state)
    {
    case PortCheck::Available:
        break;
    case PortCheck::HelperMissing:
        broadcast =
            "cannot start the broadcast helper " + helperPath + " (" + Why(status.broadcast_error) +
            "), so the broadcast search is off; install the nasfinder-common package, which holds it.";
        break;
    case PortCheck::HelperNotAllowed:
        broadcast = "cannot start the broadcast helper " + helperPath + " (" + Why(status.broadcast_error) +
                    "), so the broadcast search is off: only the members of the group nasfinder may use it. "
                    "Ask the administrator for membership in nasfinder (adduser USER nasfinder), then log in "
                    "again.";
        break;
    case PortCheck::NoPrivilege:
        broadcast = CannotBind(status.broadcast_port, status.broadcast_error) +
                    ", so the broadcast search is off: its helper " + helperPath +
                    " lacks the privilege. Grant it, as root: setcap cap_net_bind_service=+ep " + helperPath +
                    ".";
        break;
    case PortCheck::InUse:
        broadcast =
            CannotBind(status.broadcast_port, status.broadcast_error) +
            ", so the broadcast search gets no answers. Ports " + std::to_string(status.broadcast_port) +
            " and " + std::to_string(status.broadcast_device_port) +
            " are the DHCP ports: a DHCP server on this computer (such as dnsmasq, or a virtual-machine "
            "network) may hold it.";
        break;
    case PortCheck::Failed:
        broadcast = status.broadcast_error == ESRCH
                        ? "the broadcast helper " + helperPath +
                              " ended as it started, so the broadcast search is off."
                        : CannotBind(status.broadcast_port, status.broadcast_error) +
                              ", so the broadcast search gets no answers.";
        break;
    }

    std::string ssdp;
    if (!groupRuns && addressesRun)
        ssdp = CannotBind(status.group_port, status.group_error) +
               ", so SSDP announcements are not heard; the SSDP search goes on from each local address's "
               "own port.";
    else if (!groupRuns)
        ssdp = CannotBind(status.group_port, status.group_error) +
               (status.multi_address != 0
                    ? std::string(" nor a port of its own for any local address")
                    : " nor one of the " + std::to_string(status.group_retry_ports) + " ports above it") +
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
