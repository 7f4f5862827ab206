// The search session on a clock of the test's own, over the real registry and
// the recording stand-in for the library's entry points (FakeSearchLib): no
// socket, no kernel table, no wire. Each row is a search as a program drives
// it: what falls due and when, what the list and the store hold afterwards.
#include "SearchSession.h"

#include "DeviceRecord.h"
#include "HostAddress.h"
#include "FakeSearchLib.h"
#include "KnownStore.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
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
        // One link, 198.18.0.1/16, beside loopback.
        hooks.localInterfaces = []
        {
            std::vector<LocalInterface> all(2);
            all[0] = {"lo", 1, IFF_UP | IFF_LOOPBACK, {"127.0.0.1"}, {{0x7F000001u, 0xFF000000u}}};
            all[1] = {"eth0",
                      2,
                      IFF_UP | IFF_BROADCAST | IFF_MULTICAST,
                      {"198.18.0.1"},
                      {{0xC6120001u, 0xFFFF0000u}}};
            return all;
        };
        return hooks;
    }
    std::vector<nasknown::KnownDevice> Stored() const
    {
        std::vector<nasknown::KnownDevice> known;
        nasknown::KnownStore((home.path() / "devices.json").string()).Load(known);
        return known;
    }
};

// A wake of the device with this id, on eth0, for `wait`.
std::function<void(SearchSession&)> WakeOf(const char* id, seconds wait)
{
    return [id, wait](SearchSession& s)
    {
        nasknown::WakePlan plan;
        plan.vendor = "TAVIK";
        plan.id = id;
        plan.targets = {{"eth0", 0}};
        s.BeginWake(plan, kStart, wait);
    };
}

// Things that happen to the world at a time of the row: a device answers.
using Events = std::map<int, std::function<void()>>;

// Drives the session as a program does, waking when it says or when the row
// has something happen, until `untilMs`. The result lists "ms:" and
// s(ent), fN (N known devices followed up), =N (the search's Nth second
// began), e(nded), r(ound ended),
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
        what += tick.followedUp > 0 ? "f" + std::to_string(tick.followedUp) : "";
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
    SearchSession* running = nullptr;
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
        {"a search ended early (Ctrl-C) keeps what answered since the last look",
         [](SearchSession& s) { s.BeginSearch(kStart, seconds(3)); },
         1000,
         {{600,
           [&]
           {
               Answer(a);
               running->EndSearch(milliseconds(0));
           }}},
         "0:s 500:s 1000:=1",
         2,
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
         WakeOf("id-z", seconds(12)),
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
        // What the remembering hands back may come in time for a later send
        // or not; the follow-ups it brings have a test of their own.
        nasfinder::SessionSettings settings = world.Settings();
        settings.followUps = false;
        SearchSession session(settings, world.Hooks());
        running = &session;
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

    // A device forgotten after a remembering job wrote the store, before its
    // list came back, stays forgotten in the list too.
    SetUp();
    const std::string path = (world.home.path() / "devices.json").string();
    ASSERT_TRUE(nasknown::KnownStore(path).Update([&](auto& list) { list = {old}; }).ok);
    SearchSession racing(world.Settings(), world.Hooks());
    racing.Start();
    racing.BeginSearch(kStart, seconds(2));
    Drive(racing, 2000, {{100, [&] { Answer(a); }}});
    const auto deadline = std::chrono::steady_clock::now() + seconds(10);
    while (world.Stored().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    ASSERT_EQ(racing.Forget("id-old", "", result).size(), 1u);
    racing.WaitForMemory();
    ASSERT_EQ(racing.Known().size(), 1u);
    EXPECT_EQ(racing.Known().front().id, "id-a");
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

namespace
{
nasknown::KnownDevice Known(const std::string& id, const std::string& address)
{
    nasknown::KnownDevice device;
    device.vendor = "TAVIK";
    device.id = id;
    device.address = address;
    device.lastSeen = 1'700'000'000;
    return device;
}

// n known devices from 198.18.4.0 up, DEV<i> each.
std::vector<nasknown::KnownDevice> ManyKnown(std::size_t n)
{
    std::vector<nasknown::KnownDevice> known;
    for (std::size_t i = 0; i < n; ++i)
        known.push_back(Known("DEV" + std::to_string(i),
                              nasfinder::IPv4Text(0xC6120400u + static_cast<std::uint32_t>(i))));
    return known;
}

std::vector<std::string> AddressesOf(const std::vector<nasknown::KnownDevice>& known, std::size_t from = 0,
                                     std::size_t to = std::string::npos)
{
    std::vector<std::string> addresses;
    for (std::size_t i = from; i < std::min(to, known.size()); ++i)
        addresses.push_back(known[i].address);
    return addresses;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Times(int n, const std::vector<std::string>& addresses)
{
    std::vector<std::string> all;
    for (int i = 0; i < n; ++i)
        all.insert(all.end(), addresses.begin(), addresses.end());
    return all;
}

// The answers of known devices i in [from, to), each from its own address.
void AnswerMany(const std::vector<nasknown::KnownDevice>& known, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        Answer(Device(known[i].id.c_str(), known[i].address.c_str()));
}
} // namespace

// The known devices that have not answered are searched at their own
// addresses at each repeat of a search, a batch at a time; what answered, by
// either protocol, and what lies off the searched subnets, never are; with
// the follow-ups off, an empty store or one not read, the library sees the
// search of old.
TEST_F(SessionTest, FollowsUpTheKnownDevicesThatHaveNotAnswered)
{
    const std::vector<nasknown::KnownDevice> full = ManyKnown(1024);
    const std::vector<nasknown::KnownDevice> hundred = ManyKnown(100);
    std::string paced = "0:s";
    for (int ms = 500; ms < 580; ms += 5)
        paced += " " + std::to_string(ms) + (ms == 500 ? ":sf64" : ":f64");
    const auto search = [](int ms)
    { return [ms](SearchSession& s) { s.BeginSearch(kStart, seconds(ms / 1000)); }; };
    const struct
    {
        const char* scenario;
        std::vector<nasknown::KnownDevice> known;
        std::function<void(nasfinder::SessionSettings&)> set;
        std::function<void(SearchSession&)> begin;
        int untilMs;
        Events events;
        std::string drive;
        std::vector<std::string> searched; // every address the library was asked to search now
        // How many of the known devices, from the first, the kernel has resolved.
        std::size_t resolved = std::string::npos;
    } rows[] = {
        {"a device that does not answer: at each repeat, never at the first send",
         {Known("id-a", "198.18.1.11")},
         {},
         search(6000),
         6000,
         {},
         "0:s 500:sf1 1000:=1 1500:sf1 2000:=2 3000:sf1=3 4000:=4 5000:sf1=5 6000:=6e",
         Times(4, {"198.18.1.11"})},
        {"answered by the broadcast or SSDP, matched by vendor and id or by address: no more",
         {Known("id-a", "198.18.1.11"), Known("id-b", "198.18.1.12"), Known("id-c", "198.18.1.13")},
         {},
         search(2000),
         2000,
         {{100, [&] { Answer(Device("id-b", "198.18.1.22")); }},
          {700, [&] { Answer(Device("id-a", "198.18.1.11")); }},
          {1600, [&] { Answer(Device("id-other", "198.18.1.13")); }}},
         "0:s 100:c 500:sf2 700:c 1000:=1 1500:sf1 1600:c 2000:=2e",
         {"198.18.1.11", "198.18.1.13", "198.18.1.13"}},
        {"the follow-ups off (--no-follow-up, the window's setting): the search of old",
         {Known("id-a", "198.18.1.11")},
         [](nasfinder::SessionSettings& s) { s.followUps = false; },
         search(2000),
         2000,
         {},
         "0:s 500:s 1000:=1 1500:s 2000:=2e",
         {}},
        {"the store not read (--no-remember): the search of old",
         {Known("id-a", "198.18.1.11")},
         [](nasfinder::SessionSettings& s) { s.readStore = s.writeStore = false; },
         search(2000),
         2000,
         {},
         "0:s 500:s 1000:=1 1500:s 2000:=2e",
         {}},
        {"an empty store: the search of old",
         {},
         {},
         search(2000),
         2000,
         {},
         "0:s 500:s 1000:=1 1500:s 2000:=2e",
         {}},
        {"a full store not answering: 16 batches 5 ms apart, the last 75 ms after the send",
         full,
         {},
         search(3000),
         580,
         {},
         paced,
         AddressesOf(full)},
        {"a full store answering the first send: no follow-up at all",
         full,
         {},
         search(2000),
         2000,
         {{100, [&] { AnswerMany(full, 0, full.size()); }}},
         "0:s 100:c 500:s 1000:=1 1500:s 2000:=2e",
         {}},
        {"a batch after the first leaves out what answered since the send",
         hundred,
         {},
         search(1000),
         1000,
         {{502, [&] { AnswerMany(hundred, 64, 90); }}},
         "0:s 500:sf64 502:c 505:f10 1000:=1e",
         Joined(AddressesOf(hundred, 0, 64), AddressesOf(hundred, 90))},
        {"a forged store: only the entry on the searched subnet is followed up",
         {Known("far", "203.0.113.9"), Known("edge", "198.18.255.255"), Known("net", "198.18.0.0"),
          Known("loop", "127.0.0.1"), Known("group", "239.143.255.250"), Known("all", "255.255.255.255"),
          Known("self", "198.18.0.1"), Known("zeros", "198.18.001.2"), Known("name", "nas.example"),
          Known("none", ""), Known("real", "198.18.1.50")},
         {},
         search(1000),
         1000,
         {},
         "0:s 500:sf1 1000:=1e",
         {"198.18.1.50"}},
        {"the user's addresses: searched at every send already, not followed up a second time",
         {Known("named", "198.18.1.11"), Known("routed", "198.19.5.5")},
         [](nasfinder::SessionSettings& s) {
             s.addresses = {0xC612010Bu, 0xC6130505u};
         },
         search(1000),
         1000,
         {},
         "0:s 500:s 1000:=1e",
         {}},
        {"a watch: a device silent through a round is followed up in it",
         {Known("id-a", "198.18.1.11")},
         {},
         [](SearchSession& s) { s.BeginWatch(kStart); },
         16000,
         {{100, [&] { Answer(Device("id-a", "198.18.1.11")); }}},
         "0:s 100:c 500:s 1500:s 3000:s 5000:s 10000:sr 10500:sf1 11500:sf1 13000:sf1 15000:sf1",
         Times(4, {"198.18.1.11"})},
        {"a wake's searches follow up too",
         {Known("id-a", "198.18.1.11")},
         {},
         WakeOf("id-a", seconds(60)),
         1000,
         {},
         "0:s 500:sf1",
         {"198.18.1.11"}},
        {"of the devices the kernel has not resolved, 32 a send time: the others go all",
         hundred,
         {},
         search(1000),
         1000,
         {},
         "0:s 500:sf64 505:f18 1000:=1e",
         AddressesOf(hundred, 0, 82),
         50},
        {"none resolved, as after a restart or with every device gone",
         hundred,
         {},
         search(2000),
         2000,
         {},
         "0:s 500:sf32 1000:=1 1500:sf32 2000:=2e",
         Times(2, AddressesOf(hundred, 0, 32)),
         0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.scenario);
        SetUp();
        const std::string path = (world.home.path() / "devices.json").string();
        ASSERT_TRUE(nasknown::KnownStore(path).Update([&](auto& list) { list = row.known; }).ok);
        nasfinder::SessionSettings settings = world.Settings();
        settings.writeStore = false;
        if (row.set)
            row.set(settings);
        nasfinder::SessionHooks hooks = world.Hooks();
        hooks.neighbours = [&row]
        {
            std::vector<nasknown::Neighbour> table;
            for (std::size_t i = 0; i < std::min(row.resolved, row.known.size()); ++i)
                table.push_back({row.known[i].address, "02:00:5e:00:00:01", "eth0"});
            return table;
        };
        SearchSession session(settings, hooks);
        session.Start();
        session.LoadKnown();
        row.begin(session);
        EXPECT_EQ(Drive(session, row.untilMs, row.events), row.drive);
        EXPECT_EQ(g_fakeSearchLib.searchedNow, row.searched);
        session.WaitForMemory();
    }
}
