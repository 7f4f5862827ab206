// When the sends of one search go out. UDP may lose a search on its way to a
// device or the answer on its way back, and a device whose one chance is lost
// is missing from the list: both programs therefore send each search several
// times within its first seconds, the first at once. The library sends once
// per call; the repeats are the programs' own, and SearchDriver says when each
// falls due.
#ifndef NASFINDER_SEARCHSCHEDULE_H
#define NASFINDER_SEARCHSCHEDULE_H

#include <array>
#include <chrono>

namespace nasfinder
{
// How long one search lasts: the window's countdown, in one-second ticks, and
// the scan's wait when it is given no other.
constexpr int kSearchSeconds = 11;

// The sends of one search, as times from its start. Five sends: with a fifth
// of the datagrams lost each way, a device that answers only the broadcast
// search hears a send and is heard back with probability 0.64, so three sends
// list 95 % of such devices, four 98.3 %, five 99.4 % (measured alike:
// BENCHMARKS.md, lossy link). Gaps that grow from half a second, so that a
// burst of thousands of answers has drained before the next send and a loss
// lasting a second or two (a Wi-Fi scan, a retrain) does not take every send;
// the last at 5 s leaves the devices their three seconds of MX and a margin
// before an 11-second search or a 10-second watch round ends.
constexpr std::array<std::chrono::milliseconds, 5> kSearchSendTimes{
    std::chrono::milliseconds(0), std::chrono::milliseconds(500), std::chrono::milliseconds(1500),
    std::chrono::milliseconds(3000), std::chrono::milliseconds(5000)};

// The watch's round: a search with its repeats, then an ageing step of the
// list at its end, again and again; a device that answers none of a round's
// sends leaves the list at that step. A wake searches again at this rhythm.
constexpr int kWatchSeconds = 10;

// How long a woken device is searched for, a watch round at a time (the
// scan's --wake by default, the window's Wake): storage devices take a
// minute or two to start.
constexpr int kWakeSeconds = 180;

static_assert(kSearchSendTimes.front().count() == 0, "the first send of a search goes out at once");
static_assert(kSearchSendTimes.back() < std::chrono::seconds(kWatchSeconds),
              "every send of a round goes out before the round's ageing step");
static_assert(kSearchSendTimes.back() < std::chrono::seconds(kSearchSeconds),
              "every send of a search goes out before its countdown ends");
} // namespace nasfinder

#endif
