#include "FollowUps.h"

#include "HostAddress.h"

#include <algorithm>
#include <cstring>

namespace nasfinder
{
namespace
{
std::string Key(const std::string& vendor, const std::string& id)
{
    return vendor + '\0' + id;
}

} // namespace

Answers::Answers(const std::vector<deviceinfo>& list)
{
    const std::int64_t fresh = deviceinfo().life;
    for (const deviceinfo& record : list)
    {
        if (record.life < fresh)
            continue;
        m_keys.insert(Key(nasknown::FieldText(record.factory), nasknown::FieldText(record.id)));
        if (const std::optional<std::uint32_t> address = ParseCanonicalIPv4(nasknown::FieldText(record.ip)))
            m_addresses.insert(*address);
    }
}

bool Answers::Include(const std::string& vendor, const std::string& id, std::uint32_t address) const
{
    return m_addresses.count(address) != 0 || m_keys.count(Key(vendor, id)) != 0;
}

std::vector<FollowUp> ChooseFollowUps(const std::vector<nasknown::KnownDevice>& known, const Answers& answers,
                                      const std::vector<LocalInterface>& interfaces,
                                      const InterfaceChoice& choice,
                                      const std::vector<std::uint32_t>& userAddresses)
{
    const std::vector<LocalInterface> searched = SearchableInterfaces(interfaces, choice);
    std::vector<const nasknown::KnownDevice*> newest;
    newest.reserve(known.size());
    for (const nasknown::KnownDevice& device : known)
        newest.push_back(&device);
    // A store written by hand may hold more than the cap: the ones seen last
    // are the likeliest to be there.
    std::stable_sort(newest.begin(), newest.end(),
                     [](const nasknown::KnownDevice* a, const nasknown::KnownDevice* b)
                     { return a->lastSeen > b->lastSeen; });
    std::vector<FollowUp> chosen;
    std::unordered_set<std::uint32_t> taken;
    for (const nasknown::KnownDevice* device : newest)
    {
        if (chosen.size() >= kMaxFollowUps)
            break;
        const std::optional<std::uint32_t> address = ParseCanonicalIPv4(device->address);
        if (!address || !IsSearchableUnicastAddress(*address, interfaces) ||
            IsLocalAddress(*address, interfaces) || !IsOnLocalSubnet(*address, searched))
            continue;
        if (std::find(userAddresses.begin(), userAddresses.end(), *address) != userAddresses.end() ||
            answers.Include(device->vendor, device->id, *address) || !taken.insert(*address).second)
            continue;
        chosen.push_back({*address, device->vendor, device->id});
    }
    return chosen;
}

std::vector<FollowUp> LimitUnresolved(std::vector<FollowUp> followUps,
                                      const nasknown::NeighbourIndex& neighbours)
{
    std::size_t unresolved = 0;
    followUps.erase(std::remove_if(followUps.begin(), followUps.end(),
                                   [&](const FollowUp& followUp) {
                                       return !neighbours.Holds(IPv4Text(followUp.address)) &&
                                              ++unresolved > kMaxUnresolvedFollowUps;
                                   }),
                    followUps.end());
    return followUps;
}

void FollowUpQueue::Plan(std::vector<FollowUp> followUps, TimePoint at)
{
    m_planned = std::move(followUps);
    m_next = 0;
    m_due = at;
}

void FollowUpQueue::Clear()
{
    Plan({}, TimePoint());
}

std::vector<FollowUp> FollowUpQueue::Take(TimePoint now)
{
    if (m_next >= m_planned.size() || now < m_due)
        return {};
    const std::size_t end = std::min(m_planned.size(), m_next + kFollowUpBatch);
    std::vector<FollowUp> batch(m_planned.begin() + static_cast<std::ptrdiff_t>(m_next),
                                m_planned.begin() + static_cast<std::ptrdiff_t>(end));
    m_next = end;
    m_due = now + kFollowUpGap;
    return batch;
}

std::optional<FollowUpQueue::TimePoint> FollowUpQueue::NextAt() const
{
    if (m_next >= m_planned.size())
        return std::nullopt;
    return m_due;
}
} // namespace nasfinder
