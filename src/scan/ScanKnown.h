// What the scan does with the known devices: remembering what answered,
// forgetting one, and choosing where to send a Wake-on-LAN packet. Apart
// from main so that the choices are testable without a network.
#ifndef NASFINDER_SCAN_SCANKNOWN_H
#define NASFINDER_SCAN_SCANKNOWN_H

#include <cstdint>
#include <string>
#include <vector>

#include "KnownDevices.h"
#include "KnownStore.h"
#include "Neighbours.h"
#include "WakeOnLan.h"
#include "SearchDeviceInfo.h"

namespace nasscan
{
// The live list as sightings at `now`, with their links and MACs read from
// the kernel (waiting at most `resolveFor` for it to learn missing ones).
std::vector<nasknown::KnownDevice> SightingsOf(const std::vector<deviceinfo>& live, std::int64_t now,
                                               std::chrono::milliseconds resolveFor = nasknown::kResolveTime);

// The known devices after this search: the store updated with the sightings,
// or, with remember false, read and updated in memory only. Each problem
// with the store is one line in `notices`, once in a run; none stops the
// scan. With `verbose`, each device not kept for its address is a line too.
std::vector<nasknown::KnownDevice> RememberSightings(const nasknown::KnownStore& store,
                                                     const std::vector<nasknown::KnownDevice>& sightings,
                                                     bool remember, bool verbose,
                                                     std::vector<std::string>& notices);

// Where --wake sends its packet and how the device is recognised when it
// answers. error set (exit status 2) for a malformed MAC, an unknown id, or
// a device whose MAC is not known.
struct WakePlan
{
    nasknown::MacAddress mac{};
    // The known device's id; empty when woken by a MAC that no known device has.
    std::string id;
    std::string vendor;
    // The interfaces to send on: the device's last, or every broadcast link.
    std::vector<nasknown::WakeTarget> targets;
    std::string error;
};

// `text` is a MAC (six pairs of hex digits) or a device id; links are the
// host's broadcast-capable links now.
WakePlan PlanWake(const std::string& text, const std::vector<nasknown::KnownDevice>& known,
                  const std::vector<nasknown::Link>& links);

// Whether the live list holds the woken device: by vendor and id when known,
// otherwise by the MAC among the sightings' MACs.
bool WokenDeviceAnswers(const WakePlan& plan, const std::vector<nasknown::KnownDevice>& sightings);
} // namespace nasscan

#endif
