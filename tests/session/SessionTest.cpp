// The search session on a clock of the test's own, over the real registry and
// the recording stand-in for the library's entry points (FakeSearchLib): no
// socket, no kernel table, no wire. Each row is a search as a program drives
// it: what falls due and when, what the list and the store hold afterwards.
#include "SearchSession.h"

#include "DeviceRecord.h"
#include "FakeSearchLib.h"
#include "KnownStore.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

using nasfinder::SearchSession;
using nasfinder::SessionTick;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace
{
const SearchSession::TimePoint kStart{};

deviceinfo Device(const char* id, const char* ip)
{
    return testsupport::MakeRecord().Factory("TAVIK").Id(id).Ip(ip).Host(id).Product("P");
}

void Answer(const deviceinfo& record)
{
    deviceinfo copy = record;
    CDeviceSearchInterface::GetInstance()->AddDeviceInfo(copy);
}

struct World
{
    testsupport::TempDir home;
    std::vector<std::string> magicPackets;
    std::int64_t wall = 1'800'000'000;

    nasfinder::SessionSettings Settings() const
    {
        nasfinder::SessionSettings settings;
        settings.storePath = (home.path() / "devices.json").string();
        settings.diagnostics = [](const char*, std::size_t) {};
        return settings;
    }
    nasfinder::SessionHooks Hooks()
    {
        nasfinder::SessionHooks hooks;
        // Every device on one link, with a MAC made of its address's last part.
        hooks.findLinks = [](std::vector<nasknown::KnownDevice>& seen, milliseconds)
        {
            for (nasknown::KnownDevice& device : seen)
            {
                device.interfaceName = "eth0";
                device.mac = "02:00:5e:00:00:" + device.address.substr(device.address.size() - 2);
            }
        };
        hooks.sendMagicPacket = [this](const nasknown::MacAddress& mac, const nasknown::WakeTarget& target)
        {
            magicPackets.push_back(nasknown::MacText(mac) + " " + target.interfaceName);
            return target.interfaceName == "down0" ? std::string("down0 is down") : std::string();
        };
        hooks.wallClock = [this] { return wall; };
        return hooks;
    }
    std::vector<nasknown::KnownDevice> Stored() const
    {
        std::vector<nasknown::KnownDevice> known;
        nasknown::KnownStore((home.path() / "devices.json").string()).Load(known);
        return known;
    }
};

// Things that happen to the world at a time of the row: a device answers.
using Events = std::map<int, std::function<void()>>;

// Drives the session as a program does, waking when it says or when the row
// has something happen, until `untilMs`. The result lists "ms:" and
// s(ent), =N (the search's Nth second began), e(nded), r(ound ended),
// W (the woken device answered), T (the wake timed out), c (the list
// changed).
std::string Drive(SearchSession& session, int untilMs, const Events& events = {})
{
    std::string out;
    SearchSession::TimePoint now = kStart;
    auto event = events.begin();
    while (now <= kStart + milliseconds(untilMs))
    {
        while (event != events.end() && kStart + milliseconds(event->first) <= now)
            (event++)->second();
        const SessionTick tick = session.Tick(now);
        std::string what;
        what += tick.listChanged ? "c" : "";
        what += tick.sent > 0 ? "s" : "";
        what += tick.secondStepped > 0 ? "=" + std::to_string(tick.secondStepped) : "";
        what += tick.roundEnded ? "r" : "";
        what += tick.searchEnded ? "e" : "";
        what += tick.wake == SessionTick::Wake::Answered   ? "W"
                : tick.wake == SessionTick::Wake::TimedOut ? "T"
                                                           : "";
        if (!what.empty())
            out += " " + std::to_string(std::chrono::duration_cast<milliseconds>(now - kStart).count()) +
                   ":" + what;
        SearchSession::TimePoint next = session.NextAt(now);
        if (event != events.end())
            next = std::min(next, kStart + milliseconds(event->first));
        if (next <= now)
            return out + " stuck";
        now = next;
    }
    return out.empty() ? out : out.substr(1);
}

class SessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_fakeSearchLib = FakeSearchLib{};
        CDeviceSearchInterface::GetInstance()->ClearDeviceList();
    }
    void TearDown() override { CDeviceSearchInterface::GetInstance()->ClearDeviceList(); }
    World world;
};
} // namespace

// The sends of each kind of search, its seconds and its end, and what the
// list and the store make of the devices that answer.
TEST_F(SessionTest, SearchesWatchesAndWakesOnTheClock)
{
    const deviceinfo a = Device("id-a", "198.18.1.11");
    const deviceinfo b = Device("id-b", "198.18.1.12");
    const struct
    {
        const char* scenario;
        std::function<void(SearchSession&)> begin;
        int untilMs;
        Events events;
        const char* drive;
        int sends;
        std::vector<std::string> listed; // the ids Answering() holds at the end
    } rows[] = {
        {"a search: five sends, a tick every second, its end keeps what answered",
         [](SearchSession& s) { s.BeginSearch(kStart, seconds(3)); },
         4000,
         {{600, [&] { Answer(a); }}},
         "0:s 500:s 600:c 1000:=1 1500:s 2000:=2 3000:=3e 4000:=4",
         3,
         {"id-a"}},
        {"a watch ages its list at each round's end: a device silent for a round goes at the next",
         [](SearchSession& s) { s.BeginWatch(kStart); },
         21000,
         {{100,
           [&]
           {
               Answer(a);
               Answer(b);
           }},
          {10600, [&] { Answer(a); }}},
         "0:s 100:c 500:s 1500:s 3000:s 5000:s 10000:sr 10500:s 11500:s 13000:s 15000:s 20000:csr 20500:s",
         12,
         {"id-a"}},
        {"a wake searches every round until the device answers",
         [this](SearchSession& s)
         {
             nasknown::WakePlan plan;
             plan.vendor = "TAVIK";
             plan.id = "id-b";
             plan.targets = {{"down0", 0}, {"eth0", 0xC612FFFFu}};
             EXPECT_EQ(s.BeginWake(plan, kStart, seconds(60)), "") << "one packet went out";
             EXPECT_EQ(world.magicPackets.size(), 2u);
         },
         20000,
         {{12000, [&] { Answer(b); }}},
         "0:s 500:s 1500:s 3000:s 5000:s 10000:s 10500:s 11500:s 12000:cW",
         8,
         {"id-b"}},
        {"a wake that gets no answer ends at its time",
         [](SearchSession& s)
         {
             nasknown::WakePlan plan;
             plan.vendor = "TAVIK";
             plan.id = "id-z";
             plan.targets = {{"eth0", 0}};
             s.BeginWake(plan, kStart, seconds(12));
         },
         13000,
         {},
         "0:s 500:s 1500:s 3000:s 5000:s 10000:s 10500:s 11500:s 12000:T",
         8,
         {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.scenario);
        SetUp();
        SearchSession session(world.Settings(), world.Hooks());
        session.Start();
        row.begin(session);
        EXPECT_EQ(Drive(session, row.untilMs, row.events), row.drive);
        EXPECT_EQ(g_fakeSearchLib.sendCalls, row.sends);
        std::vector<std::string> listed;
        for (const deviceinfo& record : session.Answering())
            listed.push_back(record.id);
        EXPECT_EQ(listed, row.listed);
        session.WaitForMemory();
    }
}

// What answered is remembered once the search ends, at each change of a watch
// and once a round, and when a woken device answers; --no-remember reads the
// store without writing it, and a session that neither reads nor writes it
// leaves it alone.
TEST_F(SessionTest, RemembersWhatAnswered)
{
    const deviceinfo a = Device("id-a", "198.18.1.11");
    const deviceinfo b = Device("id-b", "198.18.1.12");
    nasknown::KnownDevice old;
    old.vendor = "TAVIK";
    old.id = "id-old";
    old.address = "198.18.1.99";
    old.lastSeen = 1'700'000'000;
    const struct
    {
        const char* scenario;
        bool read, write;
        std::function<void(SearchSession&)> begin;
        int untilMs;
        Events events;
        std::vector<std::string> stored; // "id mac last-seen", in the store's order
        std::vector<std::string> known;  // the ids of Known() afterwards
    } rows[] = {
        {"a search remembers what answered at its end, with the links found",
         true,
         true,
         [](SearchSession& s) { s.BeginSearch(kStart, seconds(2)); },
         3000,
         {{100, [&] { Answer(a); }}, {2500, [&] { Answer(b); }}},
         {"id-old  1700000000", "id-a 02:00:5e:00:00:11 1800000000"},
         {"id-old", "id-a"}},
        {"--no-remember with --known: read, updated in memory, not written",
         true,
         false,
         [](SearchSession& s) { s.BeginSearch(kStart, seconds(2)); },
         2000,
         {{100, [&] { Answer(a); }}},
         {"id-old  1700000000"},
         {"id-old", "id-a"}},
        {"--no-remember alone: the store is neither read nor written",
         false,
         false,
         [](SearchSession& s) { s.BeginSearch(kStart, seconds(2)); },
         2000,
         {{100, [&] { Answer(a); }}},
         {"id-old  1700000000"},
         {}},
        {"a watch remembers the change at once and the devices still there once a round",
         true,
         true,
         [](SearchSession& s) { s.BeginWatch(kStart); },
         12000,
         {{100, [&] { Answer(a); }}, {5000, [&] { world.wall += 100; }}, {10000, [&] { world.wall += 100; }}},
         {"id-old  1700000000", "id-a 02:00:5e:00:00:11 1800000200"},
         {"id-old", "id-a"}},
        {"a woken device is remembered when it answers",
         true,
         true,
         [](SearchSession& s)
         {
             nasknown::WakePlan plan;
             plan.vendor = "TAVIK";
             plan.id = "id-b";
             plan.targets = {{"eth0", 0}};
             s.BeginWake(plan, kStart);
         },
         3000,
         {{2000, [&] { Answer(b); }}},
         {"id-old  1700000000", "id-b 02:00:5e:00:00:12 1800000000"},
         {"id-old", "id-b"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.scenario);
        SetUp();
        world.wall = 1'800'000'000;
        const std::string path = (world.home.path() / "devices.json").string();
        ASSERT_TRUE(nasknown::KnownStore(path).Update([&](auto& list) { list = {old}; }).ok);
        nasfinder::SessionSettings settings = world.Settings();
        settings.readStore = row.read;
        settings.writeStore = row.write;
        SearchSession session(settings, world.Hooks());
        session.Start();
        EXPECT_TRUE(session.LoadKnown().ok);
        row.begin(session);
        // Remembering runs beside the driving: each of its jobs ends before
        // the clock moves on, so that a watch's writes are all seen.
        Events events = row.events;
        for (int ms = 0; ms <= row.untilMs; ms += 1000)
            events[ms + 1] = [&session, before = events[ms + 1]]
            {
                session.WaitForMemory();
                if (before)
                    before();
            };
        Drive(session, row.untilMs, events);
        EXPECT_TRUE(session.WaitForMemory().ok);
        std::vector<std::string> stored;
        for (const nasknown::KnownDevice& device : world.Stored())
            stored.push_back(device.id + " " + device.mac + " " + std::to_string(device.lastSeen));
        EXPECT_EQ(stored, row.stored);
        std::vector<std::string> known;
        for (const nasknown::KnownDevice& device : session.Known())
            known.push_back(device.id);
        EXPECT_EQ(known, row.known);
    }

    // Forgetting: every entry with the id, of the vendor asked for or any.
    SearchSession session(world.Settings(), world.Hooks());
    nasknown::StoreResult result;
    EXPECT_TRUE(session.Forget("id-b", "OTHER", result).empty());
    const std::vector<nasknown::KnownDevice> gone = session.Forget("id-b", "", result);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone.front().address, "198.18.1.12");
    EXPECT_EQ(world.Stored().size(), 1u);
    EXPECT_EQ(session.Known().size(), 1u);
}

// The registry's refresh loop is a watch driven by the session: its rounds'
// sends and ageing steps, until the library stops.
TEST_F(SessionTest, TheRegistrysRefreshLoopIsASessionWatch)
{
    SearchSession::TimePoint now = kStart;
    std::vector<int> wakes;
    nasfinder::SessionHooks hooks = world.Hooks();
    hooks.clock = [&now] { return now; };
    SearchSession* running = nullptr;
    hooks.sleepUntil = [&](SearchSession::TimePoint until)
    {
        now = until;
        wakes.push_back(static_cast<int>(std::chrono::duration_cast<milliseconds>(now - kStart).count()));
        if (now >= kStart + seconds(12))
            running->Stop();
    };
    SearchSession session(world.Settings(), hooks);
    running = &session;
    session.Start();
    Answer(Device("id-a", "198.18.1.11"));
    EXPECT_EQ(CDeviceSearchInterface::RefreshDeviceList(&session), nullptr);
    EXPECT_EQ(wakes, std::vector<int>({500, 1500, 3000, 5000, 10000, 10500, 11500, 13000}));
    EXPECT_EQ(g_fakeSearchLib.sendCalls, 8);
    EXPECT_EQ(g_fakeSearchLib.exitCalls, 1);
    std::vector<deviceinfo> list;
    CDeviceSearchInterface::GetInstance()->GetDeviceList(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().life, 50) << "aged once, at the first round's end";
}
