// One program's search: the one place that starts the discovery library and
// talks to it, owns the registry of devices that answer, drives the searches
// (a search with its countdown, a watch's rounds, a wake's searches) and
// remembers what answered in the store of known devices. Its user drives it
// from one thread: at each Tick it is told the time and does what fell due,
// and in between the user reads its snapshots. Nothing here reads a clock
// but Run, which is the blocking way of driving it.
#ifndef NASFINDER_SEARCHSESSION_H
#define NASFINDER_SEARCHSESSION_H

#include "DeviceSearchInterface.h"
#include "FollowUps.h"
#include "InterfaceChoice.h"
#include "KnownDevices.h"
#include "KnownStore.h"
#include "Remembering.h"
#include "SearchDeviceInfo.h"
#include "SearchDriver.h"
#include "SessionStatus.h"
#include "WakePlan.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nasfinder
{
// Where a line of the library's log echo or the registry's vendor trace goes.
using LineSink = void (*)(const char* line, std::size_t length);

struct SessionSettings
{
    // Checked by the program before: interfaces that exist and can search.
    InterfaceChoice interfaces;
    // Devices searched by unicast at every search (beyond the local network),
    // checked device addresses in host byte order.
    std::vector<std::uint32_t> addresses;
    bool multiAddress = true;
    // The library's diagnostic log goes to this folder (ending in '/'); empty:
    // no log.
    std::string logDir;
    // Gets every report as the library passes it, before the registry's
    // filter and merge (the scan's --raw).
    DeviceCallback rawReport = nullptr;
    // Where the log's echo and the registry's vendor trace go; unset: where
    // the library and the registry put them by themselves.
    std::optional<LineSink> diagnostics;
    // Whether the store of known devices is read (for the known devices'
    // rows and --known), and whether it is written.
    bool readStore = true;
    bool writeStore = true;
    // At each repeat of a search, each known device that has not answered
    // is also searched at its last address (FollowUps.h). Off: only the
    // broadcast, the group and the user's addresses are searched.
    bool followUps = true;
    std::string storePath = nasknown::DefaultStorePath();
};

// What the session asks of the world beside the library: tests give their own.
struct SessionHooks
{
    // Empty: nasknown::FindLinksAndMacs, nudging only on the interfaces searched.
    FindLinks findLinks;
    std::function<std::string(const nasknown::MacAddress&, const nasknown::WakeTarget&)> sendMagicPacket =
        &nasknown::SendMagicPacket;
    // Seconds since 1970 UTC, for when a device was seen.
    std::function<std::int64_t()> wallClock;
    // The steady clock, read only by Run, and the refresh loop's sleep on it.
    std::function<std::chrono::steady_clock::time_point()> clock = []
    { return std::chrono::steady_clock::now(); };
    std::function<void(std::chrono::steady_clock::time_point)> sleepUntil =
        [](std::chrono::steady_clock::time_point until) { std::this_thread::sleep_until(until); };
    // The kernel's neighbour table, for which known devices' addresses are
    // resolved.
    std::function<std::vector<nasknown::Neighbour>()> neighbours = &nasknown::ReadNeighbourTable;
    // The host's interfaces, for where the known devices are followed up.
    std::function<std::vector<LocalInterface>()> localInterfaces = []
    {
        std::vector<LocalInterface> all;
        ListLocalInterfaces(all);
        return all;
    };
};

// What one Tick did and found.
struct SessionTick
{
    // Searches sent.
    int sent = 0;
    // Known devices searched at their own addresses.
    int followedUp = 0;
    // A new whole second of the search began (the countdown steps): how many
    // seconds it has run, or 0 when none stepped.
    int secondStepped = 0;
    // The search's wait ended now; what answered it is kept (Answering).
    bool searchEnded = false;
    // A watch round ended: the list took its ageing step.
    bool roundEnded = false;
    // What answers changed since the last Tick.
    bool listChanged = false;
    enum class Wake
    {
        None,
        Answered, // the woken device answered
        TimedOut, // it did not within the wake's time
    } wake = Wake::None;
    // Remembering ended: Known() is new, and this is what became of the store.
    std::optional<nasknown::StoreResult> remembered;
};

class SearchSession : public CRefreshLoop
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    explicit SearchSession(SessionSettings settings, SessionHooks hooks = SessionHooks());
    ~SearchSession() override;
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    // The first thing a program does, before any thread or toolkit exists:
    // starts the broadcast helper, the one small program that holds UDP port
    // 67, then gives up every capability. False, after a line on standard
    // error, when a capability is left: the program must not go on.
    static bool StartBroadcastHelperThenDropPrivileges(const char* program);

    // Starts the library on the settings' interfaces and addresses, and reads
    // the known devices when the settings read the store. Once.
    void Start();
    // The library's stop: no search is sent after it.
    void Stop();
    // Searches these addresses too from the next search on; they replace the
    // last ones (before Start, the settings' ones).
    void SetAddresses(const std::vector<std::uint32_t>& addresses);
    // Follows up the known devices that have not answered, or no longer,
    // from the next send on.
    void SetFollowUps(bool on);

    // The known devices as the store has them now; when the settings do not
    // read the store, an empty list. What to say of the store comes back.
    nasknown::StoreResult LoadKnown();

    // A new search: the list starts empty, the sends go out on the schedule
    // and the countdown runs for `wait`; when it ends, what answered is kept
    // and remembered.
    void BeginSearch(TimePoint now, std::chrono::seconds wait = std::chrono::seconds(kSearchSeconds));
    // A search every round, each round ending in the list's ageing step; for
    // `wait`, or without end. What answers is remembered at each change and
    // once a round, without waiting for the kernel.
    void BeginWatch(TimePoint now, std::optional<std::chrono::seconds> wait = std::nullopt,
                    std::chrono::seconds round = std::chrono::seconds(kWatchSeconds));
    // Sends the plan's wake-up packets, then searches again every watch round
    // until the device answers or `wait` runs out. Why nothing went out, when
    // no packet did; otherwise empty, and each packet that failed is in
    // `failures`.
    std::string BeginWake(const nasknown::WakePlan& plan, TimePoint now,
                          std::chrono::seconds wait = std::chrono::seconds(kWakeSeconds),
                          std::vector<std::string>* failures = nullptr);
    // The running search ends now, as if its wait were over; what answered is
    // remembered, waiting at most `resolveFor` for the kernel.
    void EndSearch(std::chrono::milliseconds resolveFor);

    // Does what fell due at `now`.
    SessionTick Tick(TimePoint now);
    // When the next thing falls due: a send, a batch of follow-ups, the
    // countdown's next second, a round's end, a wake's next round or its end.
    // TimePoint::max() when nothing will.
    TimePoint NextAt(TimePoint now) const;

    // Drives the session from this thread: Tick whenever something falls due
    // and at least every `lookEvery` on the clock (one that fell behind goes
    // on from now), until `step` returns false; `look` says the step is one of
    // those every `lookEvery`. `wait(until)` blocks until then and returns
    // true to stop early (a signal).
    void Run(Clock::duration lookEvery, const std::function<bool(TimePoint until)>& wait,
             const std::function<bool(const SessionTick& tick, TimePoint now, bool look)>& step);

    // The registry's refresh loop (CDeviceSearchInterface::RefreshDeviceList
    // with this session as its parameter): a watch without end, driven from
    // the calling thread until the library stops. Nothing else may drive the
    // session meanwhile.
    void RunRefreshLoop() override;

    // What answered the search shown: while it runs, the list as the last
    // Tick copied it; once it ended, the list at its end, with a woken device
    // that answered since. A watch's and a wake's list is the live one.
    const std::vector<deviceinfo>& Answering() const;
    // The known devices, as last read or remembered.
    const std::vector<nasknown::KnownDevice>& Known() const { return m_known; }
    // A search runs, and its countdown: seconds left, rounded up.
    bool Searching() const { return m_search.has_value(); }
    int SecondsLeft(TimePoint now) const;
    // The device being woken, and when its packet went out; nullptr and
    // nothing while none is.
    const nasknown::WakePlan* Waking() const;
    std::optional<TimePoint> WakeStarted() const;
    SessionStatus Status() const;

    // Forgets the known devices with this id, of this vendor or of any when
    // `vendor` is empty; those that went.
    std::vector<nasknown::KnownDevice> Forget(const std::string& id, const std::string& vendor,
                                              nasknown::StoreResult& result);
    // Until remembering has ended; then Known() holds what it left.
    nasknown::StoreResult WaitForMemory();

private:
    struct WakeRun
    {
        nasknown::WakePlan plan;
        TimePoint start;
        SearchDriver driver;
        // The live list the last look at it saw: a look by MAC asks the
        // kernel, so it is made only when the list changed.
        std::vector<deviceinfo> looked;
    };
    void Send(SessionTick& tick);
    // At a send that repeats its round's first: the follow-ups of this send
    // time. Then, each Tick, the batch that is due.
    void PlanFollowUps(TimePoint now);
    void SendFollowUps(TimePoint now, SessionTick& tick);
    // The library's search of these addresses, now.
    void SearchNow(const std::vector<std::uint32_t>& addresses);
    void CopyList(SessionTick& tick);
    void FollowWake(TimePoint now, SessionTick& tick);
    void RememberAnswers(std::chrono::milliseconds resolveFor);
    void TakeMemory(SessionTick& tick);
    std::int64_t WallNow() const;

    SessionSettings m_settings;
    SessionHooks m_hooks;
    CDeviceSearchInterface& m_registry;
    Remembering m_remembering;
    // The number of the last remembering job submitted, and the devices
    // forgotten since: a job submitted before a Forget may have read the
    // store before it and hand back the device again.
    std::uint64_t m_lastJob = 0;
    struct Forgotten
    {
        std::uint64_t afterJob;
        std::string id;
        std::string vendor;
    };
    std::vector<Forgotten> m_forgotten;
    bool m_started = false;
    // Set by Stop, read by a refresh loop that may run on another thread.
    std::atomic<bool> m_stopped{false};

    std::optional<SearchDriver> m_search;
    TimePoint m_searchStart{};
    int m_secondsShown = 0;
    bool m_watch = false;
    std::optional<TimePoint> m_lastRemembered;
    std::optional<WakeRun> m_wake;
    FollowUpQueue m_followUps;

    std::vector<deviceinfo> m_live;
    // What answered the search, kept at its end; set only then.
    std::optional<std::vector<deviceinfo>> m_answered;
    std::vector<nasknown::KnownDevice> m_known;
    std::vector<nasknown::KnownDevice> m_rememberedSightings;
    // The interfaces chosen and what each cannot carry, as at the start.
    std::vector<ChosenInterface> m_chosen;
};
} // namespace nasfinder

#endif
