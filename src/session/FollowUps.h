// Following up the known devices that have not answered a search: at each
// repeat of a search, the search goes once more to each such device's last
// address by unicast, which a Wi-Fi link acknowledges and retries where it
// sends a broadcast or a multicast once, at its lowest rate. Which devices,
// and the pace of their sends, are decided here by plain functions and a
// queue that reads no clock; the session sends what they say.
#ifndef NASFINDER_FOLLOWUPS_H
#define NASFINDER_FOLLOWUPS_H

#include "KnownDevices.h"
#include "Neighbours.h"
#include "NetworkInterfaces.h"
#include "SearchDeviceInfo.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace nasfinder
{
// The most known devices one send time follows up: as many as the store keeps.
constexpr std::size_t kMaxFollowUps = nasknown::kMaxKnownDevices;
// They go out a batch at a time, a batch every kFollowUpGap from the send
// time on: a full store's in 16 batches, the last 75 ms after the send time,
// so that neither the sends nor the answers come in one burst.
constexpr std::size_t kFollowUpBatch = 64;
constexpr std::chrono::milliseconds kFollowUpGap{5};
static_assert((kMaxFollowUps + kFollowUpBatch - 1) / kFollowUpBatch * kFollowUpGap <=
                  std::chrono::milliseconds(100),
              "a full store's follow-ups go out within 100 ms of their send time");
// Of the devices whose address the kernel has not resolved, at most this many
// a send time. Each such datagram waits in the kernel while it asks the link
// for the address (three seconds for one that is gone), charged to the
// socket it leaves by: a store of devices long gone would otherwise fill the
// buffers of the search's own sockets, and the next search would wait for
// room (measured: the sends due at 1.5 s went out at 3.6 s). 32 a send time,
// three send times within those seconds, stay within half the smallest
// buffer a user has (212,992 bytes, about 1 KB a datagram).
constexpr std::size_t kMaxUnresolvedFollowUps = 32;

// A known device to search at its last address (host byte order).
struct FollowUp
{
    std::uint32_t address = 0;
    std::string vendor;
    std::string id;
};

// The devices that answered in this round of a search, out of the registry's
// list: those it has not aged since they were last seen (a search's list is
// new at its start, and a watch ages it at each round's end, so an older
// entry answered an earlier round only). A device answered when a record has
// its vendor and id, or its last address.
class Answers
{
public:
    explicit Answers(const std::vector<deviceinfo>& list);
    bool Include(const std::string& vendor, const std::string& id, std::uint32_t address) const;

private:
    std::unordered_set<std::string> m_keys;
    std::unordered_set<std::uint32_t> m_addresses;
};

// The known devices to follow up now, the ones seen last first, each address
// once and at most kMaxFollowUps of them: those whose last address is a
// device's to which a unicast search may go (the library's rule, against every
// interface here), lies in a subnet of an interface being searched (of
// `interfaces`, as `choice` chooses them) and is none of this host's own, and
// that have not answered. However the store was written, nothing is sent off
// the searched subnets. The addresses the user names (`userAddresses`) are not
// followed up: every send of a search reaches them by unicast already, and a
// device gets no more than those two datagrams per send time. A device beyond
// a router is therefore searched at its address only when the user names it.
std::vector<FollowUp> ChooseFollowUps(const std::vector<nasknown::KnownDevice>& known, const Answers& answers,
                                      const std::vector<LocalInterface>& interfaces,
                                      const InterfaceChoice& choice,
                                      const std::vector<std::uint32_t>& userAddresses);

// Those of the follow-ups that may go now: every one whose address the
// kernel's neighbour table holds, and of the others the first
// kMaxUnresolvedFollowUps, in order.
std::vector<FollowUp> LimitUnresolved(std::vector<FollowUp> followUps,
                                      const nasknown::NeighbourIndex& neighbours);

// The follow-ups of the last send time, handed out a batch at a time.
class FollowUpQueue
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Replaces what is left with these; the first batch is due at `at`.
    void Plan(std::vector<FollowUp> followUps, TimePoint at);
    void Clear();
    // The batch due at `now`, taken; empty when none is. The next one falls
    // due a gap after `now`: a user held up gets one batch per look, never
    // all that it missed at once.
    std::vector<FollowUp> Take(TimePoint now);
    // The next batch is the first of the last Plan, chosen at that moment.
    bool NextIsFirst() const { return m_next == 0; }
    // When the next batch falls due; nothing when none is left.
    std::optional<TimePoint> NextAt() const;

private:
    std::vector<FollowUp> m_planned;
    std::size_t m_next = 0; // the first not taken
    TimePoint m_due{};
};
} // namespace nasfinder

#endif
