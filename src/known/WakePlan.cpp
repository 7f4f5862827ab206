#include "WakePlan.h"

#include "JsonText.h"
#include "TerminalText.h"

#include <algorithm>

namespace nasknown
{
namespace
{
// Every link of the interface the device was last seen on, once; every link
// when that is unknown.
void AddTargets(WakePlan& plan, const std::vector<Link>& links, const std::string& lastInterface)
{
    for (const Link& link : links)
    {
        if (!lastInterface.empty() && link.interfaceName != lastInterface)
            continue;
        const bool repeated =
            std::any_of(plan.targets.begin(), plan.targets.end(),
                        [&link](const WakeTarget& t) { return t.interfaceName == link.interfaceName; });
        if (!repeated)
            plan.targets.push_back({link.interfaceName, link.Broadcast()});
    }
}

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

void SayIfNoTarget(WakePlan& plan, const std::string& name, const std::string& lastInterface)
{
    if (plan.targets.empty())
        plan.error =
            name + ": no interface to send the packet on" +
            (lastInterface.empty() ? std::string() : " (the device was last seen on " + lastInterface + ")");
}
} // namespace

WakePlan PlanWakeFor(const KnownDevice& device, const std::vector<Link>& links, const std::string& name)
{
    WakePlan plan;
    plan.vendor = device.vendor;
    plan.id = device.id;
    const std::optional<MacAddress> mac = ParseMac(device.mac);
    if (!mac)
    {
        plan.error = name + ": the MAC address of " + device.address +
                     " is not known (a device beyond a router cannot be woken)";
        return plan;
    }
    plan.mac = *mac;
    AddTargets(plan, links, device.interfaceName);
    SayIfNoTarget(plan, name, device.interfaceName);
    return plan;
}

WakePlan PlanWake(const std::string& text, const std::vector<KnownDevice>& known,
                  const std::vector<Link>& links)
{
    const std::string name = "--wake '" + nasfinder::EchoedArgument(text) + "'";
    // Seventeen characters with a separator where a MAC has one is meant as a
    // MAC, and is refused as one when it is not valid.
    const bool looksLikeMac = text.size() == 17 && (text[2] == ':' || text[2] == '-');
    if (!looksLikeMac)
    {
        const KnownDevice* device = FindById(known, text);
        WakePlan plan;
        if (device == nullptr && WrittenAsMac(text))
            plan.error = name + ": the MAC address is malformed (six pairs of hex digits separated by ':' or '-', "
                                "such as 02:00:5e:10:00:01)";
        else if (device == nullptr)
            plan.error = name + ": no known device has this id (see --known)";
        if (device == nullptr)
            return plan;
        return PlanWakeFor(*device, links, name);
    }
    WakePlan plan;
    const std::optional<MacAddress> mac = ParseMac(text);
    if (!mac)
    {
        plan.error = name + " is not a MAC address a device can have";
        return plan;
    }
    plan.mac = *mac;
    // The known device with this MAC, the one seen last, is woken as itself.
    const std::string macText = MacText(*mac);
    const KnownDevice* device = nullptr;
    for (const KnownDevice& k : known)
        if (k.mac == macText && (device == nullptr || k.lastSeen > device->lastSeen))
            device = &k;
    const std::string lastInterface = device != nullptr ? device->interfaceName : std::string();
    if (device != nullptr)
    {
        plan.vendor = device->vendor;
        plan.id = device->id;
    }
    AddTargets(plan, links, lastInterface);
    SayIfNoTarget(plan, name, lastInterface);
    return plan;
}

bool WokenDeviceAnswers(const WakePlan& plan, const std::vector<KnownDevice>& sightings)
{
    const std::string mac = MacText(plan.mac);
    return std::any_of(sightings.begin(), sightings.end(),
                       [&](const KnownDevice& seen) {
                           return plan.id.empty() ? seen.mac == mac
                                                  : seen.id == plan.id && seen.vendor == plan.vendor;
                       });
}
} // namespace nasknown
