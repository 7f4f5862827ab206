// What the session's files share of the lists they compare and remember.
#ifndef NASFINDER_SESSIONRECORDS_H
#define NASFINDER_SESSIONRECORDS_H

#include "KnownDevices.h"
#include "SearchDeviceInfo.h"

#include <cstdint>
#include <vector>

namespace nasfinder
{
// Whether two lists show the same devices: their records alike but for the
// age counter, which every sighting and ageing step changes.
bool SameRecords(const std::vector<deviceinfo>& a, const std::vector<deviceinfo>& b);

// The records as the store takes them, seen at `now`.
std::vector<nasknown::KnownDevice> SightingsOf(const std::vector<deviceinfo>& records, std::int64_t now);
} // namespace nasfinder

#endif
