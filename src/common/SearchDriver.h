// A search from its start to its end: when each send falls due, what the
// countdown shows, when a watch round ends and when the wait is over. It reads
// no clock: its user tells it the time since the start, so the window counts
// in its timers' ticks, the scan and the refresh loop in steady_clock time.
// Not thread-safe: one owner, the thread that owns the library's entry points.
#ifndef NASFINDER_SEARCHDRIVER_H
#define NASFINDER_SEARCHDRIVER_H

#include "SearchSchedule.h"

#include <chrono>
#include <cstddef>
#include <optional>

namespace nasfinder
{
// What falls due at one moment of a search, to be done in this order.
struct SearchStep
{
    // A watch round ended: the list takes its ageing step, and the next
    // round's sends begin.
    bool roundEnded = false;
    // The search goes out now.
    bool send = false;
    // That send repeats an earlier one of its round.
    bool repeat = false;
    // The wait is over: nothing falls due any more.
    bool over = false;
};

class SearchDriver
{
public:
    // A time since the search's start.
    using Time = std::chrono::steady_clock::duration;

    // One search that lasts `wait`, counted down; a send that would fall due
    // at or after its end is dropped.
    static SearchDriver Search(std::chrono::seconds wait = std::chrono::seconds(kSearchSeconds));
    // A search every `round` (at least kWatchSeconds), each round ending in
    // the list's ageing step; for `wait`, or without end.
    static SearchDriver Watch(std::optional<std::chrono::seconds> wait = std::nullopt,
                              std::chrono::seconds round = std::chrono::seconds(kWatchSeconds));

    // Back to the start: the first send is due at once.
    void Start();

    // What is due at `now`, taken. At most one send per call. A send taken
    // late moves the rest of its round's sends as much later, so that the
    // gaps between them stay the schedule's: a user held up (a busy window, a
    // large list printed) does not crowd the sends it missed, whose answers
    // would then arrive in one burst.
    SearchStep Take(Time now);

    // When the next send of the running round falls due; nullopt when it has
    // none left.
    std::optional<Time> NextSendAt() const;

    // When the user has something to do next: a send, the end of a round, the
    // countdown's next second or the end of the wait. At or before `now` when
    // something is due already.
    Time NextAt(Time now) const;

    // The countdown: the seconds left of the wait, rounded up; 0 once it is
    // over, and for a watch without end.
    int SecondsLeft(Time now) const;
    bool Over(Time now) const;

private:
    SearchDriver(std::optional<Time> wait, std::optional<Time> round) : m_wait(wait), m_round(round) {}

    std::optional<Time> m_wait;  // the end of the wait, if it has one
    std::optional<Time> m_round; // the length of a watch round
    Time m_roundStart{};
    std::size_t m_sent = 0; // of the running round
    Time m_late{};          // how much later than scheduled its sends go out
};
} // namespace nasfinder

#endif
