// Waking a known device: its packets, then the usual search every watch
// round until it answers or the time runs out.
#include "SearchSession.h"

#include "SessionRecords.h"

#include <cstring>

namespace nasfinder
{
using nasknown::FieldText;

std::string SearchSession::BeginWake(const nasknown::WakePlan& plan, TimePoint now, std::chrono::seconds wait,
                                     std::vector<std::string>* failures)
{
    std::string why = "no interface to send the packet on";
    bool sent = false;
    for (const nasknown::WakeTarget& target : plan.targets)
    {
        const std::string error = m_hooks.sendMagicPacket(plan.mac, target);
        if (error.empty())
            sent = true;
        else if (failures != nullptr)
            failures->push_back(error);
        if (!error.empty())
            why = error;
    }
    if (!sent)
        return why;
    m_wake = WakeRun{plan, now, SearchDriver::Watch(wait), {}};
    return std::string();
}

void SearchSession::FollowWake(TimePoint now, SessionTick& tick)
{
    const nasknown::WakePlan& plan = m_wake->plan;
    const deviceinfo* woken = nullptr;
    if (!plan.id.empty())
    {
        for (const deviceinfo& record : m_live)
            if (FieldText(record.factory) == plan.vendor && FieldText(record.id) == plan.id)
                woken = &record;
    }
    else if (!m_live.empty() && !SameRecords(m_live, m_wake->looked))
    {
        // A device woken by its MAC alone is known by the MAC the kernel
        // learns for it.
        m_wake->looked = m_live;
        std::vector<nasknown::KnownDevice> sightings = SightingsOf(m_live, WallNow());
        m_hooks.findLinks(sightings, nasknown::kResolveTime);
        for (std::size_t i = 0; i < sightings.size(); ++i)
            if (nasknown::WokenDeviceAnswers(plan, {sightings[i]}))
                woken = &m_live[i];
    }
    if (woken != nullptr)
    {
        // It joins what answered the search shown.
        if (m_answered)
            m_answered->push_back(*woken);
        tick.wake = SessionTick::Wake::Answered;
        m_wake.reset();
        RememberAnswers(nasknown::kResolveTime);
    }
    else if (m_wake->driver.Over(now - m_wake->start))
    {
        tick.wake = SessionTick::Wake::TimedOut;
        m_wake.reset();
    }
}

const nasknown::WakePlan* SearchSession::Waking() const
{
    return m_wake ? &m_wake->plan : nullptr;
}

std::optional<SearchSession::TimePoint> SearchSession::WakeStarted() const
{
    if (!m_wake)
        return std::nullopt;
    return m_wake->start;
}
} // namespace nasfinder
