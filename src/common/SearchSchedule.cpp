#include "SearchSchedule.h"

namespace nasfinder
{
static_assert(kSearchSendTimes.front().count() == 0, "the first send of a search goes out at once");

std::optional<std::chrono::milliseconds> SearchSchedule::NextSendAt() const
{
    if (m_sent >= kSearchSendTimes.size())
        return std::nullopt;
    return kSearchSendTimes[m_sent];
}

std::optional<std::chrono::milliseconds> SearchSchedule::Sent()
{
    if (m_sent >= kSearchSendTimes.size())
        return std::nullopt;
    ++m_sent;
    if (m_sent >= kSearchSendTimes.size())
        return std::nullopt;
    return kSearchSendTimes[m_sent] - kSearchSendTimes[m_sent - 1];
}
} // namespace nasfinder
