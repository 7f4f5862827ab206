#include "SearchSession.h"

#include "SessionRecords.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <ctime>
#include <utility>

namespace nasfinder
{
using std::chrono::milliseconds;

bool SameRecords(const std::vector<deviceinfo>& a, const std::vector<deviceinfo>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const deviceinfo& x, const deviceinfo& y) { return x.compare(y); });
}

std::vector<nasknown::KnownDevice> SightingsOf(const std::vector<deviceinfo>& records, std::int64_t now)
{
    std::vector<nasknown::KnownDevice> sightings;
    sightings.reserve(records.size());
    for (const deviceinfo& record : records)
        sightings.push_back(nasknown::SightingFromRecord(record, now));
    return sightings;
}

namespace
{
// What a sighting tells the store, apart from when.
bool SameSightings(const std::vector<nasknown::KnownDevice>& a, const std::vector<nasknown::KnownDevice>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const nasknown::KnownDevice& x, const nasknown::KnownDevice& y)
                      {
                          return x.vendor == y.vendor && x.id == y.id && x.host == y.host &&
                                 x.product == y.product && x.address == y.address;
                      });
}

void GiveBackFreedMemory()
{
#ifdef __GLIBC__
    // A flood of forged devices may have filled the lists with tens of
    // thousands of entries; the C library keeps freed pages for later unless
    // asked to hand them back.
    malloc_trim(0);
#endif
}

SessionHooks WithLinkFinder(SessionHooks hooks, const InterfaceChoice& searched)
{
    if (!hooks.findLinks)
        hooks.findLinks = [searched](std::vector<nasknown::KnownDevice>& seen, milliseconds resolveFor)
        { nasknown::FindLinksAndMacs(seen, resolveFor, searched); };
    return hooks;
}
} // namespace

SearchSession::SearchSession(SessionSettings settings, SessionHooks hooks)
    : m_settings(std::move(settings)), m_hooks(WithLinkFinder(std::move(hooks), m_settings.interfaces)),
      m_registry(*CDeviceSearchInterface::GetInstance()),
      m_remembering(nasknown::KnownStore(m_settings.storePath), m_settings.writeStore, m_hooks.findLinks)
{
}

SearchSession::~SearchSession() = default;

nasknown::StoreResult SearchSession::LoadKnown()
{
    m_known.clear();
    if (!m_settings.readStore)
        return {};
    return nasknown::KnownStore(m_settings.storePath).Load(m_known);
}

void SearchSession::BeginSearch(TimePoint now, std::chrono::seconds wait)
{
    m_registry.ClearDeviceList();
    std::vector<deviceinfo>().swap(m_live);
    m_answered.reset();
    GiveBackFreedMemory();
    m_search = SearchDriver::Search(wait);
    m_searchStart = now;
    m_secondsShown = 0;
    m_watch = false;
    m_followUps.Clear();
}

void SearchSession::BeginWatch(TimePoint now, std::optional<std::chrono::seconds> wait,
                               std::chrono::seconds round)
{
    m_answered.reset();
    m_search = SearchDriver::Watch(wait, round);
    m_searchStart = now;
    m_secondsShown = 0;
    m_watch = true;
    m_lastRemembered.reset();
    m_followUps.Clear();
}

void SearchSession::EndSearch(milliseconds resolveFor)
{
    if (!m_search)
        return;
    m_search.reset();
    // What answered up to now, not up to the last tick: a search cut short
    // (a signal) keeps every answer the registry has taken.
    SessionTick latest;
    CopyList(latest);
    if (!m_wake)
        m_followUps.Clear();
    if (!m_watch)
        m_answered = m_live;
    RememberAnswers(resolveFor);
}

SessionTick SearchSession::Tick(TimePoint now)
{
    SessionTick tick;
    TakeMemory(tick);
    bool over = false;
    bool repeated = false;
    if (m_search)
    {
        const SearchDriver::Time since = now - m_searchStart;
        for (;;)
        {
            const SearchStep step = m_search->Take(since);
            if (step.roundEnded)
            {
                m_registry.RefreshDeviceList();
                tick.roundEnded = true;
            }
            if (step.send)
            {
                Send(tick);
                repeated = repeated || step.repeat;
                continue;
            }
            over = step.over;
            break;
        }
    }
    if (m_wake)
    {
        // A wake's rounds only search again: the list it looks at is not aged.
        for (;;)
        {
            const SearchStep step = m_wake->driver.Take(now - m_wake->start);
            if (!step.send)
                break;
            Send(tick);
            repeated = repeated || step.repeat;
        }
    }
    if (m_search || m_wake)
        CopyList(tick);
    if (repeated)
        PlanFollowUps(now);
    SendFollowUps(now, tick);
    if ((m_search && !m_watch) || m_answered)
    {
        // The countdown's seconds, and the window's one-second tick after it.
        const int seconds =
            static_cast<int>(std::chrono::floor<std::chrono::seconds>(now - m_searchStart).count());
        if (seconds > m_secondsShown)
            tick.secondStepped = m_secondsShown = seconds;
    }
    if (m_wake)
        FollowWake(now, tick);
    if (over)
    {
        tick.searchEnded = true;
        EndSearch(nasknown::kResolveTime);
    }
    else if (m_watch && m_settings.writeStore && !m_live.empty() &&
             (!m_lastRemembered || now - *m_lastRemembered >= std::chrono::seconds(1)))
    {
        // At each change, and once a round besides so that the devices still
        // there are seen again; at most once a second, as a watch looks, since
        // a flood changes the list at every tick and each remembering asks
        // the kernel about (and may nudge) the addresses it has not learnt.
        // The kernel is not waited for: a MAC it learns meanwhile is kept the
        // next time.
        std::vector<nasknown::KnownDevice> sightings = SightingsOf(m_live, 0);
        if (!SameSightings(sightings, m_rememberedSightings) || !m_lastRemembered ||
            now - *m_lastRemembered >= std::chrono::seconds(kWatchSeconds))
        {
            m_rememberedSightings = std::move(sightings);
            m_lastRemembered = now;
            RememberAnswers(milliseconds(0));
        }
    }
    return tick;
}

SearchSession::TimePoint SearchSession::NextAt(TimePoint now) const
{
    TimePoint next = TimePoint::max();
    if (m_search)
        next = std::min(next, m_searchStart + m_search->NextAt(now - m_searchStart));
    if ((m_search && !m_watch) || m_answered)
        next = std::min(next, m_searchStart + std::chrono::seconds(m_secondsShown + 1));
    if (m_wake)
        next = std::min(next, m_wake->start + m_wake->driver.NextAt(now - m_wake->start));
    if (const std::optional<TimePoint> batch = m_followUps.NextAt())
        next = std::min(next, *batch);
    return next;
}

void SearchSession::Run(Clock::duration lookEvery, const std::function<bool(TimePoint until)>& wait,
                        const std::function<bool(const SessionTick& tick, TimePoint now, bool look)>& step)
{
    TimePoint nextLook = m_hooks.clock();
    for (;;)
    {
        const TimePoint now = m_hooks.clock();
        const bool look = now >= nextLook;
        if (look)
        {
            nextLook += lookEvery;
            if (nextLook <= now)
                nextLook = now + lookEvery;
        }
        const SessionTick tick = Tick(now);
        if (!step(tick, now, look))
            return;
        if (wait(std::min(NextAt(now), nextLook)))
            return;
    }
}

void SearchSession::RunRefreshLoop()
{
    BeginWatch(m_hooks.clock());
    Run(
        std::chrono::hours(24),
        [this](TimePoint until)
        {
            m_hooks.sleepUntil(until);
            return m_stopped.load();
        },
        [this](const SessionTick&, TimePoint, bool) { return !m_stopped.load(); });
}

const std::vector<deviceinfo>& SearchSession::Answering() const
{
    return m_answered ? *m_answered : m_live;
}

int SearchSession::SecondsLeft(TimePoint now) const
{
    return m_search ? m_search->SecondsLeft(now - m_searchStart) : 0;
}

std::vector<nasknown::KnownDevice> SearchSession::Forget(const std::string& id, const std::string& vendor,
                                                         nasknown::StoreResult& result)
{
    std::vector<nasknown::KnownDevice> removed;
    result =
        nasknown::KnownStore(m_settings.storePath)
            .Update(
                [&](std::vector<nasknown::KnownDevice>& list)
                {
                    std::vector<nasknown::KnownDevice> kept = list;
                    nasknown::Forget(kept, id, vendor);
                    // What went is what is no longer there; the list's
                    // order is kept in both.
                    std::size_t k = 0;
                    for (nasknown::KnownDevice& device : list)
                    {
                        if (k < kept.size() && kept[k].vendor == device.vendor && kept[k].id == device.id)
                            ++k;
                        else
                            removed.push_back(std::move(device));
                    }
                    list = std::move(kept);
                },
                &m_known);
    if (!removed.empty())
        m_forgotten.push_back({m_lastJob, id, vendor});
    return removed;
}

nasknown::StoreResult SearchSession::WaitForMemory()
{
    m_remembering.Wait();
    SessionTick tick;
    TakeMemory(tick);
    return tick.remembered.value_or(nasknown::StoreResult());
}

void SearchSession::Send(SessionTick& tick)
{
    // Sends due from the search and from a wake at one moment go out once.
    if (tick.sent == 0)
        m_registry.SendSearchDeviceCommand(nullptr);
    ++tick.sent;
}

void SearchSession::CopyList(SessionTick& tick)
{
    std::vector<deviceinfo> list;
    m_registry.GetDeviceList(list);
    tick.listChanged = !SameRecords(list, m_live);
    if (tick.listChanged)
        m_live.swap(list);
}

void SearchSession::RememberAnswers(milliseconds resolveFor)
{
    if (!m_settings.readStore && !m_settings.writeStore)
        return;
    m_lastJob = m_remembering.Submit(SightingsOf(Answering(), WallNow()), resolveFor);
}

void SearchSession::TakeMemory(SessionTick& tick)
{
    if (std::optional<Memory> memory = m_remembering.Take())
    {
        // A Forget made after the job was submitted may have come before or
        // after its look at the store: it holds for the list either way.
        const std::uint64_t job = memory->job;
        m_forgotten.erase(std::remove_if(m_forgotten.begin(), m_forgotten.end(),
                                         [job](const Forgotten& f) { return f.afterJob < job; }),
                          m_forgotten.end());
        for (const Forgotten& f : m_forgotten)
            nasknown::Forget(memory->known, f.id, f.vendor);
        m_known = std::move(memory->known);
        tick.remembered = std::move(memory->store);
        GiveBackFreedMemory();
    }
}

std::int64_t SearchSession::WallNow() const
{
    return m_hooks.wallClock ? m_hooks.wallClock() : static_cast<std::int64_t>(std::time(nullptr));
}
} // namespace nasfinder
