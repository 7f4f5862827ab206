#include "KnownDevices.h"

#include "SearchDeviceInfo.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>

namespace nasknown
{
std::string FieldText(const char (&field)[kDeviceFieldSize])
{
    return std::string(field, ::strnlen(field, kDeviceFieldSize));
}

namespace
{

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;
} // namespace

KnownDevice SightingFromRecord(const deviceinfo& record, std::int64_t now)
{
    KnownDevice seen;
    seen.vendor = FieldText(record.factory);
    seen.id = FieldText(record.id);
    seen.host = FieldText(record.host);
    seen.product = FieldText(record.product);
    seen.address = FieldText(record.ip);
    seen.firstSeen = now;
    seen.lastSeen = now;
    return seen;
}

void Remember(std::vector<KnownDevice>& known, const std::vector<KnownDevice>& sightings)
{
    // Looked up by key: a watch over a flood of forged devices hands tens of
    // thousands of sightings at once, and a walk of the list for each would
    // hold the watch for seconds.
    std::unordered_map<std::string, std::size_t> byKey;
    byKey.reserve(known.size() + std::min(sightings.size(), kMaxKnownDevices));
    // The vendor's length first: no two keys of different vendor and id read alike.
    const auto key = [](const KnownDevice& d)
    { return std::to_string(d.vendor.size()) + ':' + d.vendor + d.id; };
    for (std::size_t i = 0; i < known.size(); ++i)
        byKey.emplace(key(known[i]), i);
    // Once kMaxKnownDevices new devices seen at least as late are in, a later
    // new one could never stay: it is not even copied (a flood's tens of
    // thousands would be, only to be dropped). Known ones are still refreshed.
    std::size_t added = 0;
    std::int64_t earliestAdded = 0;
    for (const KnownDevice& seen : sightings)
    {
        if (seen.vendor.empty() || seen.id.empty())
            continue;
        std::string seenKey = key(seen);
        const auto found = byKey.find(seenKey);
        if (found == byKey.end())
        {
            if (added >= kMaxKnownDevices && seen.lastSeen <= earliestAdded)
                continue;
            earliestAdded = added == 0 ? seen.lastSeen : std::min(earliestAdded, seen.lastSeen);
            ++added;
            byKey.emplace(std::move(seenKey), known.size());
            known.push_back(seen);
            continue;
        }
        KnownDevice* const entry = &known[found->second];
        // A broadcast reply and an SSDP reply of one device fill different
        // fields: an empty one keeps what was known.
        if (!seen.host.empty())
            entry->host = seen.host;
        if (!seen.product.empty())
            entry->product = seen.product;
        const bool moved = entry->address != seen.address || entry->interfaceName != seen.interfaceName;
        entry->address = seen.address;
        entry->interfaceName = seen.interfaceName;
        // A MAC read now wins; beyond a router there is none to wake by; on the
        // same link and address an unresolved one keeps the last.
        if (!seen.mac.empty() || seen.interfaceName.empty() || moved)
            entry->mac = seen.mac;
        entry->lastSeen = std::max(entry->lastSeen, seen.lastSeen);
        if (entry->firstSeen == 0 || (seen.firstSeen != 0 && seen.firstSeen < entry->firstSeen))
            entry->firstSeen = seen.firstSeen;
    }
    KeepNewest(known);
}

void KeepNewest(std::vector<KnownDevice>& known, std::size_t limit)
{
    if (known.size() <= limit)
        return;
    // The newest `limit` by last seen; of equal times, the earlier entry stays.
    std::vector<std::size_t> order(known.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&known](std::size_t a, std::size_t b)
                     { return known[a].lastSeen > known[b].lastSeen; });
    std::vector<bool> keep(known.size(), false);
    for (std::size_t i = 0; i < limit; ++i)
        keep[order[i]] = true;
    std::vector<KnownDevice> kept;
    kept.reserve(limit);
    for (std::size_t i = 0; i < known.size(); ++i)
    {
        if (keep[i])
            kept.push_back(std::move(known[i]));
    }
    known.swap(kept);
}

std::size_t Forget(std::vector<KnownDevice>& known, const std::string& id, const std::string& vendor)
{
    const std::size_t before = known.size();
    known.erase(std::remove_if(known.begin(), known.end(),
                               [&](const KnownDevice& k)
                               { return k.id == id && (vendor.empty() || k.vendor == vendor); }),
                known.end());
    return before - known.size();
}

const KnownDevice* FindById(const std::vector<KnownDevice>& known, const std::string& id)
{
    const KnownDevice* found = nullptr;
    for (const KnownDevice& k : known)
    {
        if (k.id == id && (found == nullptr || k.lastSeen > found->lastSeen))
            found = &k;
    }
    return found;
}

Elapsed ElapsedSince(std::int64_t then, std::int64_t now)
{
    const std::int64_t seconds = now > then ? now - then : 0;
    if (seconds < kMinute)
        return {Elapsed::Now, 0};
    if (seconds < kHour)
        return {Elapsed::Minutes, seconds / kMinute};
    if (seconds < kDay)
        return {Elapsed::Hours, seconds / kHour};
    return {Elapsed::Days, seconds / kDay};
}
} // namespace nasknown
