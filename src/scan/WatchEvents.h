// What a watch reports with --events: each change between two successive
// lists as one JSON line, for scripts and log shippers that want to hear what
// appeared, changed or went rather than compare whole lists. Pure: the watch
// hands in the lists and the time.
#ifndef NASFINDER_SCAN_WATCHEVENTS_H
#define NASFINDER_SCAN_WATCHEVENTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "SearchDeviceInfo.h"

namespace nasscan
{
struct WatchEvent
{
    enum Kind
    {
        Appeared, // its address is in the list and was not before
        Changed,  // a field the JSON carries differs from what was listed
        Gone,     // the registry aged it out: its address left the list
    } kind;
    deviceinfo device; // as listed now; as last listed for Gone
};

// The events between two successive lists of a watch, as FoldSnapshot leaves
// them (so that a device answering both searches does not flip between its
// two records): devices are followed by WatchKey. The devices gone first, in
// the order they were listed, then those that appeared or changed, in the
// order of the new list.
std::vector<WatchEvent> EventsBetween(const std::vector<deviceinfo>& before,
                                      const std::vector<deviceinfo>& after);

// One event as a line: {"event":"appeared"|"changed"|"gone","time":"<RFC 3339,
// UTC>","device":{the --json fields}}, ending in '\n'. `now` in seconds since
// 1970.
std::string EventLine(const WatchEvent& event, std::int64_t now);
} // namespace nasscan

#endif
