// Following up the known devices that have not answered: chosen at each
// repeat of a search (or of a wake's search), then sent a batch at a time.
#include "SearchSession.h"

namespace nasfinder
{
void SearchSession::SetFollowUps(bool on)
{
    m_settings.followUps = on;
    if (!on)
        m_followUps.Clear();
}

void SearchSession::PlanFollowUps(TimePoint now)
{
    // Without known devices, or with the follow-ups off, the library sees the
    // search it always saw.
    if (!m_settings.followUps || m_known.empty())
    {
        m_followUps.Clear();
        return;
    }
    // The list as the registry has it now, with its ages: the copy the
    // snapshots keep does not follow a change of age alone.
    std::vector<deviceinfo> list;
    m_registry.GetDeviceList(list);
    std::vector<FollowUp> chosen = ChooseFollowUps(m_known, Answers(list), m_hooks.localInterfaces(),
                                                   m_settings.interfaces, m_settings.addresses);
    if (!chosen.empty())
        chosen = LimitUnresolved(std::move(chosen), nasknown::NeighbourIndex(m_hooks.neighbours()));
    m_followUps.Plan(std::move(chosen), now);
}

void SearchSession::SendFollowUps(TimePoint now, SessionTick& tick)
{
    const bool first = m_followUps.NextIsFirst();
    const std::vector<FollowUp> batch = m_followUps.Take(now);
    if (batch.empty())
        return;
    // A later batch leaves out the devices that answered since the send time.
    std::optional<Answers> since;
    if (!first)
    {
        std::vector<deviceinfo> list;
        m_registry.GetDeviceList(list);
        since.emplace(list);
    }
    std::vector<std::uint32_t> addresses;
    addresses.reserve(batch.size());
    for (const FollowUp& followUp : batch)
    {
        if (!since || !since->Include(followUp.vendor, followUp.id, followUp.address))
            addresses.push_back(followUp.address);
    }
    if (addresses.empty())
        return;
    SearchNow(addresses);
    tick.followedUp += static_cast<int>(addresses.size());
}
} // namespace nasfinder
