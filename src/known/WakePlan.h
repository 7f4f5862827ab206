// Where a Wake-on-LAN packet goes and how the woken device is recognised when
// it answers: chosen before anything is sent, from the known devices and the
// host's links, so that a bad MAC or an unknown device sends nothing.
#ifndef NASFINDER_WAKEPLAN_H
#define NASFINDER_WAKEPLAN_H

#include "KnownDevices.h"
#include "Neighbours.h"
#include "WakeOnLan.h"

#include <string>
#include <vector>

namespace nasknown
{
struct WakePlan
{
    MacAddress mac{};
    // The known device's vendor and id; empty when woken by a MAC that no
    // known device has, and then it is recognised by its MAC.
    std::string vendor;
    std::string id;
    // The interfaces to send on: the device's last, or every broadcast link.
    std::vector<WakeTarget> targets;
    // Why nothing can be sent; empty when the plan holds.
    std::string error;
};

// The plan for a known device, named in errors as `name`: its MAC, out of the
// interface it was last seen on (every broadcast link when that is unknown).
WakePlan PlanWakeFor(const KnownDevice& device, const std::vector<Link>& links, const std::string& name);

// `text` is a MAC (six pairs of hex digits) or a device id, as the user typed it.
WakePlan PlanWake(const std::string& text, const std::vector<KnownDevice>& known,
                  const std::vector<Link>& links);

// Whether the sightings hold the woken device: by vendor and id when known,
// otherwise by the MAC among the sightings' MACs.
bool WokenDeviceAnswers(const WakePlan& plan, const std::vector<KnownDevice>& sightings);
} // namespace nasknown

#endif
