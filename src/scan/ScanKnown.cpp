#include "ScanKnown.h"

#include "KnownAddress.h"
#include "JsonText.h"
#include "Neighbours.h"
#include "TerminalText.h"

#include <algorithm>

namespace nasscan
{
std::vector<nasknown::KnownDevice> SightingsOf(const std::vector<deviceinfo>& live, std::int64_t now,
                                               std::chrono::milliseconds resolveFor)
{
    std::vector<nasknown::KnownDevice> sightings;
    sightings.reserve(live.size());
    for (const deviceinfo& record : live)
        sightings.push_back(nasknown::SightingFromRecord(record, now));
    nasknown::FindLinksAndMacs(sightings, resolveFor);
    return sightings;
}

std::vector<nasknown::KnownDevice> RememberSightings(const nasknown::KnownStore& store,
                                                     const std::vector<nasknown::KnownDevice>& sightings,
                                                     bool remember, bool verbose,
                                                     std::vector<std::string>& notices)
{
    std::vector<nasknown::KnownDevice> known;
    nasknown::StoreResult result;
    if (remember)
    {
        result = store.Update([&sightings](std::vector<nasknown::KnownDevice>& list)
                              { nasknown::Remember(list, sightings); },
                              &known);
    }
    else
    {
        // What the store would keep, though nothing is written.
        result = store.Load(known);
        nasknown::Remember(known, sightings);
        std::vector<LocalInterface> local;
        ListLocalInterfaces(local);
        const std::vector<std::string> dropped = nasknown::DropImpossibleAddresses(known, local);
        result.notKept.insert(result.notKept.end(), dropped.begin(), dropped.end());
    }
    if (!result.movedAside.empty())
        notices.push_back(result.movedAside);
    if (!result.ok && !result.saidBefore)
        notices.push_back("the known devices cannot be kept: " + result.error);
    if (verbose)
        notices.insert(notices.end(), result.notKept.begin(), result.notKept.end());
    return known;
}

namespace
{
// Hex digits in groups between ':' or '-': meant as a MAC address, however
// many groups it has.
bool WrittenAsMac(const std::string& text)
{
    bool separated = false;
    bool digits = false;
    for (const char c : text)
    {
        if (c == ':' || c == '-')
            separated = true;
        else if (nasfinder::HexDigitValue(c) >= 0)
            digits = true;
        else
            return false;
    }
    return separated && digits;
}
} // namespace

WakePlan PlanWake(const std::string& text, const std::vector<nasknown::KnownDevice>& known,
                  const std::vector<nasknown::Link>& links)
{
    WakePlan plan;
    const nasknown::KnownDevice* device = nullptr;
    const std::string echoed = nasfinder::EchoedArgument(text);
    // Seventeen characters with a separator where a MAC has one is meant as a
    // MAC, and is refused as one when it is not valid.
    const bool looksLikeMac = text.size() == 17 && (text[2] == ':' || text[2] == '-');
    if (looksLikeMac)
    {
        const std::optional<nasknown::MacAddress> mac = nasknown::ParseMac(text);
        if (!mac)
        {
            plan.error = "--wake '" + echoed + "' is not a MAC address a device can have";
            return plan;
        }
        plan.mac = *mac;
        const std::string macText = nasknown::MacText(*mac);
        for (const nasknown::KnownDevice& k : known)
            if (k.mac == macText && (device == nullptr || k.lastSeen > device->lastSeen))
                device = &k;
    }
    else
    {
        device = nasknown::FindById(known, text);
        if (device == nullptr && WrittenAsMac(text))
        {
            plan.error = "--wake '" + echoed +
                         "': the MAC address is malformed (six pairs of hex digits separated by ':' or '-', "
                         "such as 02:00:5e:10:00:01)";
            return plan;
        }
        if (device == nullptr)
        {
            plan.error = "--wake '" + echoed + "': no known device has this id (see --known)";
            return plan;
        }
        const std::optional<nasknown::MacAddress> mac = nasknown::ParseMac(device->mac);
        if (!mac)
        {
            plan.error = "--wake '" + echoed + "': the MAC address of " + device->address +
                         " is not known (a device beyond a router cannot be woken)";
            return plan;
        }
        plan.mac = *mac;
    }
    if (device != nullptr)
    {
        plan.id = device->id;
        plan.vendor = device->vendor;
    }
    for (const nasknown::Link& link : links)
    {
        if (device != nullptr && !device->interfaceName.empty() &&
            link.interfaceName != device->interfaceName)
            continue;
        const bool repeated = std::any_of(plan.targets.begin(), plan.targets.end(),
                                          [&link](const nasknown::WakeTarget& t)
                                          { return t.interfaceName == link.interfaceName; });
        if (!repeated)
            plan.targets.push_back({link.interfaceName, link.Broadcast()});
    }
    if (plan.targets.empty())
        plan.error = "--wake '" + echoed + "': no interface to send the packet on" +
                     (device != nullptr && !device->interfaceName.empty()
                          ? " (the device was last seen on " + device->interfaceName + ")"
                          : std::string());
    return plan;
}

bool WokenDeviceAnswers(const WakePlan& plan, const std::vector<nasknown::KnownDevice>& sightings)
{
    const std::string mac = nasknown::MacText(plan.mac);
    return std::any_of(sightings.begin(), sightings.end(),
                       [&](const nasknown::KnownDevice& seen) {
                           return plan.id.empty() ? seen.mac == mac
                                                  : seen.id == plan.id && seen.vendor == plan.vendor;
                       });
}
} // namespace nasscan
