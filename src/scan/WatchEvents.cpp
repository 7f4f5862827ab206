#include "WatchEvents.h"

#include "JsonText.h"
#include "KnownStoreFormat.h"
#include "ScanOutput.h"

#include <nlohmann/json.hpp>

#include <string_view>
#include <unordered_map>

namespace nasscan
{
std::vector<WatchEvent> EventsBetween(const std::vector<deviceinfo>& before,
                                      const std::vector<deviceinfo>& after)
{
    // By key, not a walk of one list for each entry of the other: a flood
    // lists tens of thousands.
    std::unordered_map<std::string_view, const deviceinfo*> earlier;
    earlier.reserve(before.size());
    for (const deviceinfo& record : before)
        earlier.emplace(WatchKey(record), &record);
    std::unordered_map<std::string_view, const deviceinfo*> later;
    later.reserve(after.size());
    for (const deviceinfo& record : after)
        later.emplace(WatchKey(record), &record);

    std::vector<WatchEvent> events;
    for (const deviceinfo& record : before)
    {
        if (later.count(WatchKey(record)) == 0)
            events.push_back({WatchEvent::Gone, record});
    }
    for (const deviceinfo& record : after)
    {
        const auto found = earlier.find(WatchKey(record));
        if (found == earlier.end())
            events.push_back({WatchEvent::Appeared, record});
        else if (!found->second->compare(record))
            events.push_back({WatchEvent::Changed, record});
    }
    return events;
}

std::string EventLine(const WatchEvent& event, std::int64_t now)
{
    static const char* const kNames[] = {"appeared", "changed", "gone"};
    nasfinder::Json line = nasfinder::Json::object();
    line["event"] = kNames[event.kind];
    line["time"] = nasknown::IsoTimeText(now);
    line["device"] = RecordValue(event.device);
    return nasfinder::JsonText(line) + "\n";
}
} // namespace nasscan
