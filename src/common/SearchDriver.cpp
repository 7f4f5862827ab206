#include "SearchDriver.h"

#include <algorithm>

namespace nasfinder
{
SearchDriver SearchDriver::Search(std::chrono::seconds wait)
{
    return SearchDriver(wait, std::nullopt);
}

SearchDriver SearchDriver::Watch(std::optional<std::chrono::seconds> wait, std::chrono::seconds round)
{
    // Every send of a round goes out before its ageing step (SearchSchedule.h).
    return SearchDriver(wait, std::max(round, std::chrono::seconds(kWatchSeconds)));
}

void SearchDriver::Start()
{
    m_roundStart = Time::zero();
    m_sent = 0;
    m_late = Time::zero();
}

SearchStep SearchDriver::Take(Time now)
{
    SearchStep step;
    const auto takeSend = [this, now, &step]
    {
        const std::optional<Time> at = NextSendAt();
        if (at && *at <= now)
        {
            step.repeat = m_sent > 0;
            ++m_sent;
            m_late += now - *at;
            step.send = true;
        }
    };
    takeSend();
    if (step.send)
        return step;
    if (Over(now))
    {
        step.over = true;
        return step;
    }
    if (m_round && now >= m_roundStart + *m_round)
    {
        // The next round starts when the end of this one is seen, not at that
        // end: a loop that was held up (a suspended machine) ages the list
        // once and goes on, rather than catching up on every round it missed.
        step.roundEnded = true;
        m_roundStart = now;
        m_sent = 0;
        m_late = Time::zero();
        takeSend();
    }
    return step;
}

std::optional<SearchDriver::Time> SearchDriver::NextSendAt() const
{
    if (m_sent >= kSearchSendTimes.size())
        return std::nullopt;
    // Every send falls before a round's end (SearchSchedule.h) unless the
    // sends went out late, and not necessarily before the end of a short
    // wait: the round's end or the wait's drops what is left.
    const Time at = m_roundStart + kSearchSendTimes[m_sent] + m_late;
    if (m_wait && at >= *m_wait)
        return std::nullopt;
    return at;
}

SearchDriver::Time SearchDriver::NextAt(Time now) const
{
    Time next = Time::max();
    if (const std::optional<Time> at = NextSendAt())
        next = *at;
    if (m_round)
        next = std::min(next, m_roundStart + *m_round);
    // The countdown's next second; the last of them is the end of the wait.
    if (m_wait)
        next = std::min(next, *m_wait - std::chrono::seconds(std::max(0, SecondsLeft(now) - 1)));
    return next;
}

int SearchDriver::SecondsLeft(Time now) const
{
    if (!m_wait || Over(now))
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(*m_wait - now).count());
}

bool SearchDriver::Over(Time now) const
{
    return m_wait && now >= *m_wait;
}
} // namespace nasfinder
