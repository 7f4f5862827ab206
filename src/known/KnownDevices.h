// The devices this user has seen: one entry per device, kept between runs so
// that a device that sleeps, is switched off or is cut off is still listed,
// with when it was last seen and how to wake it. Pure functions of a list;
// the file is KnownStore's, the kernel's tables Neighbours'.
#ifndef NASFINDER_KNOWNDEVICES_H
#define NASFINDER_KNOWNDEVICES_H

#include "SearchDeviceInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nasknown
{
// Members of a JSON object that this version does not know, in file order:
// the key as decoded text and the value as the exact JSON text read. Written
// back unchanged, so a newer program's additions survive an older one.
using UnknownMembers = std::vector<std::pair<std::string, std::string>>;

struct KnownDevice
{
    // The key, as the registry names a device: its vendor and its id.
    std::string vendor;
    std::string id;
    std::string host;
    std::string product;
    // The last address it answered from, and the local interface whose subnet
    // holds that address (empty for a device beyond a router).
    std::string address;
    std::string interfaceName;
    // "aa:bb:cc:dd:ee:ff" in lower case, or empty: unknown (beyond a router,
    // or never resolved), and then it cannot be woken.
    std::string mac;
    // Seconds since 1970-01-01 UTC.
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    UnknownMembers unknown;
};

// The most devices kept: the one seen longest ago goes first.
constexpr std::size_t kMaxKnownDevices = 1024;

// A device that answered a search now, as the store takes it: identity and
// address from the record, the interface and MAC as found by the caller.
KnownDevice SightingFromRecord(const deviceinfo& record, std::int64_t now);

// Adds each sighting or refreshes its entry (last seen, address, host,
// product, interface; the MAC when the sighting has one, cleared when the
// device is now beyond a router), then keeps at most kMaxKnownDevices.
// Sightings without vendor or id are skipped.
void Remember(std::vector<KnownDevice>& known, const std::vector<KnownDevice>& sightings);

// Drops the devices seen longest ago until at most `limit` remain; the
// order of those kept does not change.
void KeepNewest(std::vector<KnownDevice>& known, std::size_t limit = kMaxKnownDevices);

// Removes every entry with this id, of this vendor or of any when `vendor` is
// empty; how many went.
// A text field of a record, up to its NUL or its end.
std::string FieldText(const char (&field)[kDeviceFieldSize]);

std::size_t Forget(std::vector<KnownDevice>& known, const std::string& id, const std::string& vendor = {});

// The entry with this id, or nullptr. With several vendors using one id, the
// one seen last.
const KnownDevice* FindById(const std::vector<KnownDevice>& known, const std::string& id);

// How long ago `then` was, for a person: "now" below a minute, then whole
// minutes, hours or days. `unit` is one of the four keys below; value the
// number of them (0 for now).
struct Elapsed
{
    enum Unit
    {
        Now,
        Minutes,
        Hours,
        Days,
    } unit = Now;
    std::int64_t value = 0;
};
Elapsed ElapsedSince(std::int64_t then, std::int64_t now);
} // namespace nasknown

#endif
