#include <gtest/gtest.h>

#include <net/if.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HostAddress.h"
#include "KnownAddress.h"
#include "KnownDevices.h"
#include "KnownStore.h"
#include "KnownStoreFormat.h"
#include "Neighbours.h"
#include "WakeOnLan.h"
#include "test_support.h"

using namespace nasknown;

namespace
{
KnownDevice Device(const std::string& id, std::int64_t lastSeen, const std::string& mac = "")
{
    KnownDevice d;
    d.vendor = "TAVIK";
    d.id = id;
    d.host = "nas-" + id;
    d.address = "198.18.1.1";
    d.interfaceName = mac.empty() ? "" : "eth0";
    d.mac = mac;
    d.firstSeen = lastSeen;
    d.lastSeen = lastSeen;
    return d;
}

std::string Repeated(const std::string& text, std::size_t times)
{
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// ",\"k0\":0,\"k1\":0,...": `count` members for an object.
std::string ManyMembers(std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += ",\"k" + std::to_string(i) + "\":0";
    return out;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// A folder of its own for each test, removed after it.
class StoreFolder : public ::testing::Test
{
protected:
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        const std::string list = dir + "/list";
        std::system(("ls " + dir + "/nasfinder > " + list + " 2>/dev/null").c_str());
        std::istringstream in(ReadText(list));
        for (std::string name; std::getline(in, name);)
            names.push_back(name);
        return names;
    }
    testsupport::TempDir temp;
    std::string dir = temp.str();
    std::string path = dir + "/nasfinder/devices.json";
};

TEST(KnownStoreFormatTest, WhatIsWrittenReadsBackWithTheMembersItDoesNotKnow)
{
    StoreContents contents;
    contents.unknown = {{"note", "{\"kept\":[1,2.5,null,true]}"}};
    KnownDevice a = Device("DEV0", 1796676008, "02:00:5e:10:00:01");
    a.host = "b\xC3\xBCro \"nas\"\\\n\xE2\x80\xAE"; // a device's text as it came
    a.unknown = {{"colour", "\"blue\""}};
    contents.devices = {a, Device("DEV1", 86400)};
    const std::string text = EncodeStore(contents);
    EXPECT_NE(text.find("\"last_seen\":\"2026-12-07T20:40:08Z\""), std::string::npos) << text;
    // cat of the file shows no text reordered by a device's name.
    EXPECT_NE(text.find("\\n\\u202e\""), std::string::npos) << text;
    const DecodeResult back = DecodeStore(text);
    ASSERT_TRUE(back.contents) << back.error;
    EXPECT_EQ(EncodeStore(*back.contents), text);
    EXPECT_EQ(back.contents->devices[0].host, a.host);
    EXPECT_EQ(back.contents->devices[0].unknown, a.unknown);
    EXPECT_EQ(back.contents->unknown, contents.unknown);
}

// A store as version 1.1.0 wrote it, after a newer version had added members
// to it and to a device: read as before, and written back with those members.
TEST(KnownStoreFormatTest, AFileOfVersion110ReadsAsBeforeAndKeepsWhatItDoesNotKnow)
{
    const DecodeResult read = DecodeStore(ReadText(FIXTURE_DIR "/store/written_by_1.1.0.json"));
    ASSERT_TRUE(read.contents) << read.error;
    const UnknownMembers top = {{"written_by", "{\"program\":\"nasfinder\",\"version\":[1,2,0]}"},
                                {"notes", "\"kept\""}};
    const UnknownMembers inDevice = {{"rack", "{\"row\":3,\"slot\":-25.0,\"tags\":[\"a\",null,true]}"},
                                     {"wake_port", "9"}};
    const auto check = [&](const StoreContents& contents)
    {
        ASSERT_EQ(contents.devices.size(), 2u);
        const KnownDevice& d = contents.devices[0];
        EXPECT_EQ(d.vendor + d.id + d.host + d.product, "TAVIKDEV0b\xC3\xBCro \"nas\"\\P0");
        EXPECT_EQ(d.address + d.interfaceName + d.mac, "198.18.1.1eth002:00:5e:10:00:01");
        EXPECT_EQ(d.firstSeen, 1796112000);
        EXPECT_EQ(d.lastSeen, 1796676008);
        EXPECT_EQ(d.unknown, inDevice);
        EXPECT_EQ(contents.devices[1].id, "\xE6\x95\xB0\xE6\x8D\xAE-1");
        EXPECT_TRUE(contents.devices[1].unknown.empty());
        EXPECT_EQ(contents.unknown, top);
    };
    check(*read.contents);
    const DecodeResult again = DecodeStore(EncodeStore(*read.contents));
    ASSERT_TRUE(again.contents) << again.error;
    check(*again.contents);
}

TEST(KnownStoreFormatTest, TextThatIsNoStoreIsRefusedWithAReason)
{
    const std::string dev = "{\"vendor\":\"TAVIK\",\"id\":\"D\"";
    const struct
    {
        std::string text;
        const char* reason;
    } cases[] = {
        {"", "unexpected end of input"},
        {"{\"version\":1,\"devices\":[]", "expected '}'"}, // cut short
        {"[]", "not a JSON object"},
        {"{\"version\":1}", "no \"devices\""},
        {"{\"devices\":[]} x", "expected end of input"},
        {"{\"devices\":[" + dev + "}],\"devices\":[]}", "\"devices\" twice"},
        {"{\"devices\":[],\"x\":1,\"x\":2}", "\"x\" twice"}, // the library would keep the last
        {"{\"devices\":{}}", "not a list"},
        {"{\"devices\":[7]}", "device 1: not an object"},
        {"{\"devices\":[{\"id\":\"D\"}]}", "without \"vendor\""},
        {"{\"devices\":[" + dev + ",\"id\":\"E\"}]}", "\"id\" twice"},
        {"{\"devices\":[" + dev + ",\"host\":7}]}", "\"host\" is not a text"},
        {"{\"devices\":[" + dev + "}," + dev + ",\"last_seen\":\"2026-02-30T00:00:00Z\"}]}",
         "device 2: member \"last_seen\" is not a UTC time"},
        {"{\"devices\":[" + dev + ",\"last_seen\":\"2026-12-07 20:40:08\"}]}", "not a UTC time"},
        // Found by fuzzing: month 00 was read as December of the year before,
        // and 1969 could not be read back once written.
        {"{\"devices\":[" + dev + ",\"last_seen\":\"1970-00-01T00:00:00Z\"}]}", "not a UTC time"},
        {"{\"devices\":[" + dev + ",\"host\":\"\xC3\"}]}", "ill-formed UTF-8"},
        {"{\"devices\":[" + dev + ",\"host\":\"\\ud800\"}]}", "surrogate"},
        {"{\"devices\":[" + dev + ",\"host\":\"a\tb\"}]}", "control character"},
        {"{\"devices\":[" + dev + ",\"host\":\"" + std::string(256, 'x') + "\"}]}", "too long"},
        {"{\"devices\":[],\"x\":" + std::string(40, '[') + std::string(40, ']') + "}", "nested more than 32"},
        // Deep inside a device, and deep enough to exhaust a recursive
        // reader's stack.
        {"{\"devices\":[" + dev + ",\"x\":" + std::string(33, '[') + std::string(33, ']') + "}]}", "nested"},
        {"{\"devices\":[],\"x\":" + std::string(1 << 20, '['), "nested"},
        // What the library would take minutes over: an object of many members
        // (each added after a walk of the others), and, parsed with a
        // callback, a list of many objects.
        {"{\"devices\":[]" + ManyMembers(300000) + "}", "more than 256 members"},
        {"{\"devices\":[{\"vendor\":\"V\",\"id\":\"I\"" + ManyMembers(300) + "}]}", "more than 256 members"},
        {"{\"devices\":[],\"x\":[" + Repeated("{},", 1000000) + "{}]} x", "expected end of input"},
        {"{\"devices\":[],\"x\":01}", "expected '}'"},
        {"{\"devices\":[],\"x\":1e400}", "number overflow"},
        {"{\"version\":0,\"devices\":[]}", "version below 1"},
        {"{\"version\":\"1\",\"devices\":[]}", "not a whole number"},
        // The bytes the reader stopped at are the file's, not for a terminal.
        {"{\"devices\":[],\"x\":\"\x1b]0;t\x07\"}",
         "parse error at line 1, column 20: syntax error while parsing value - invalid string: control "
         "character U+001B"},
        {"{\"devices\":[],\"x\":\"" + std::string(100000, 'x'), "missing closing quote"},
        // Found by fuzzing: a string holding the library's own "'; expected"
        // kept the rest of the file's bytes in the reason, each DEL three
        // bytes once inert, past 300.
        {"{\"devices\":[],\"x\":\"'; expected" + std::string(300, '\x7f'), "missing closing quote"},
    };
    for (const auto& c : cases)
    {
        const DecodeResult r = DecodeStore(c.text);
        EXPECT_FALSE(r.contents) << c.text.substr(0, 80);
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.text.substr(0, 80) << " -> " << r.error;
        EXPECT_LE(r.error.size(), 300u) << r.error;
        for (unsigned char ch : r.error)
            EXPECT_GE(ch, 0x20) << r.error;
    }
    // The deepest that may be kept, beside the list and in a device.
    const std::string deep = std::string(32, '[') + std::string(32, ']');
    EXPECT_TRUE(DecodeStore("{\"devices\":[" + dev + ",\"x\":" + deep + "}],\"y\":" + deep + "}").contents);
}

TEST(KnownDevicesTest, RememberRefreshesByVendorAndIdAndKeepsTheNewest)
{
    std::vector<KnownDevice> known = {Device("DEV0", 100, "02:00:00:00:00:01")};
    KnownDevice again = Device("DEV0", 200);
    again.address = "198.18.1.1";
    again.interfaceName = "eth0"; // same link, MAC not resolved this time: kept
    again.host.clear();           // a reply without a host keeps the old one
    Remember(known, {again});
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].mac, "02:00:00:00:00:01");
    EXPECT_EQ(known[0].host, "nas-DEV0");
    EXPECT_EQ(known[0].firstSeen, 100);
    EXPECT_EQ(known[0].lastSeen, 200);

    KnownDevice routed = Device("DEV0", 300);
    routed.address = "198.18.20.10"; // now beyond a router: no MAC to wake by
    Remember(known, {routed});
    EXPECT_EQ(known[0].mac, "");

    KnownDevice other = Device("DEV0", 300);
    other.vendor = "ESKAL"; // another vendor's id is another device
    Remember(known, {other});
    EXPECT_EQ(known.size(), 2u);
    EXPECT_EQ(Forget(known, "DEV0"), 2u);
}

TEST(KnownDevicesTest, TheCapDropsTheDeviceSeenLongestAgo)
{
    std::vector<KnownDevice> known;
    for (std::size_t i = 0; i < kMaxKnownDevices; ++i)
        known.push_back(Device("D" + std::to_string(i), i == 7 ? 5 : 1000 + static_cast<std::int64_t>(i)));
    Remember(known, {Device("NEW", 5000)});
    ASSERT_EQ(known.size(), kMaxKnownDevices);
    EXPECT_EQ(FindById(known, "D7"), nullptr);
    EXPECT_NE(FindById(known, "NEW"), nullptr);
    EXPECT_EQ(known[7].id, "D8"); // the others keep their order

    // A flood of new devices at once: the first to come fill the room left by
    // those not seen again, and a known one among the last is still refreshed.
    std::vector<KnownDevice> flood;
    for (std::size_t i = 0; i < 3 * kMaxKnownDevices; ++i)
        flood.push_back(Device("F" + std::to_string(i), 6000));
    flood.push_back(Device("NEW", 6000));
    Remember(known, flood);
    ASSERT_EQ(known.size(), kMaxKnownDevices);
    EXPECT_EQ(known[0].id, "NEW");
    EXPECT_EQ(known[0].lastSeen, 6000);
    EXPECT_EQ(known.back().id, "F" + std::to_string(kMaxKnownDevices - 2));
}

TEST(KnownDevicesTest, ElapsedTimeInTheLargestWholeUnit)
{
    const struct
    {
        std::int64_t seconds;
        Elapsed::Unit unit;
        std::int64_t value;
    } cases[] = {{-5, Elapsed::Now, 0},     {59, Elapsed::Now, 0},
                 {60, Elapsed::Minutes, 1}, {3599, Elapsed::Minutes, 59},
                 {3600, Elapsed::Hours, 1}, {86399, Elapsed::Hours, 23},
                 {86400, Elapsed::Days, 1}, {3 * 86400 + 5, Elapsed::Days, 3}};
    for (const auto& c : cases)
    {
        const Elapsed e = ElapsedSince(1000000, 1000000 + c.seconds);
        EXPECT_EQ(e.unit, c.unit) << c.seconds;
        EXPECT_EQ(e.value, c.value) << c.seconds;
    }
}

TEST(WakeOnLanTest, MagicPacketBytes)
{
    const std::optional<MacAddress> mac = ParseMac("02:00:5E:10:00:AB");
    ASSERT_TRUE(mac);
    std::string expected = "ffffffffffff";
    for (int i = 0; i < 16; ++i)
        expected += "02005e1000ab";
    std::string got;
    char hex[3];
    for (std::uint8_t b : MagicPacket(*mac))
    {
        std::snprintf(hex, sizeof(hex), "%02x", b);
        got += hex;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(MacText(*mac), "02:00:5e:10:00:ab");
    EXPECT_TRUE(ParseMac("02-00-5e-10-00-ab"));
    for (const char* bad :
         {"", "02:00:5e:10:00", "02:00:5e:10:00:ab:cd", "02:00-5e:10:00:ab", "02:00:5e:10:00:ag",
          "00:00:00:00:00:00", "ff:ff:ff:ff:ff:ff", "01:00:5e:00:00:01", " 02:00:5e:10:00:ab"})
        EXPECT_FALSE(ParseMac(bad)) << bad;
}

TEST(NeighboursTest, OnlyCompleteEntriesOfTheArpTableCount)
{
    const std::string text =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "198.18.1.1       0x1         0x2         02:00:5E:10:00:01     *        eth0\n"
        "198.18.1.2       0x1         0x0         00:00:00:00:00:00     *        eth0\n"
        "198.18.1.3       0x1         0x6         02:00:5e:10:00:03     *        eth1\n"
        "198.18.1.4       0x1         0x2         garbage               *        eth0\n"
        "198.18.1.5 0x1\n";
    const std::vector<Neighbour> table = ParseArpTable(text);
    ASSERT_EQ(table.size(), 2u);
    const NeighbourIndex index(table);
    EXPECT_EQ(index.MacOf("198.18.1.1", "eth0"), "02:00:5e:10:00:01");
    EXPECT_EQ(index.MacOf("198.18.1.3", "eth0"), ""); // learned on another link
    EXPECT_EQ(index.MacOf("198.18.1.3", "eth1"), "02:00:5e:10:00:03");
    EXPECT_FALSE(index.Holds("198.18.1.2"));
}

// The addresses of a flood of forged devices, none of them nudged yet.
std::vector<std::string> ForgedAddresses(int count)
{
    std::vector<std::string> flood;
    for (int i = 0; i < count; ++i)
        flood.push_back("198.19." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    return flood;
}

// A flood of forged devices must not turn into a datagram and an ARP request
// to every forged address at every look.
TEST(NeighboursTest, NudgesAreFewAtOnceAndNotRepeatedSoon)
{
    NudgeLimiter limiter;
    const NudgeLimiter::Clock::time_point start{};
    const std::vector<std::string> flood = ForgedAddresses(10000);
    const std::vector<std::string> first = limiter.Choose(flood, start);
    ASSERT_EQ(first.size(), kNudgesAtOnce);
    EXPECT_EQ(first.front(), flood.front());
    // The next look goes on with the next ones, not those just nudged.
    const std::vector<std::string> second = limiter.Choose(flood, start + std::chrono::seconds(1));
    ASSERT_EQ(second.size(), kNudgesAtOnce);
    EXPECT_EQ(second.front(), flood[kNudgesAtOnce]);
    EXPECT_TRUE(limiter.Choose({first.front()}, start + kNudgeAgainAfter - std::chrono::seconds(1)).empty());
    EXPECT_EQ(limiter.Choose({first.front()}, start + kNudgeAgainAfter).size(), 1u);
}

// Looked at twice a second (a wake's look), a flood of more than 4,096 forged
// addresses filled the limiter's memory within the minute; it was then
// cleared, and the first addresses were nudged again within their minute.
TEST(NeighboursTest, AFloodLookedAtOftenIsNudgedAtMostOnceAMinute)
{
    NudgeLimiter limiter;
    const NudgeLimiter::Clock::time_point start{};
    const std::vector<std::string> flood = ForgedAddresses(5000);
    std::map<std::string, NudgeLimiter::Clock::time_point> last;
    std::size_t nudges = 0;
    for (int look = 0; look < 240; ++look)
    {
        const auto now = start + std::chrono::milliseconds(500) * look;
        for (const std::string& address : limiter.Choose(flood, now))
        {
            const auto before = last.find(address);
            if (before != last.end())
            {
                ASSERT_GE(now - before->second, kNudgeAgainAfter) << address << " at look " << look;
            }
            last[address] = now;
            ++nudges;
        }
    }
    // The memory's bound holds back new nudges, it never forgets early:
    // 4,096 in the first minute, then as many as the minute lets go.
    EXPECT_EQ(nudges, 2 * kNudgeMemory);
}

TEST(NeighboursTest, TheLinkIsTheMostSpecificSubnetHoldingTheAddress)
{
    const unsigned up = IFF_UP | IFF_BROADCAST;
    const auto iface =
        [](const char* name, unsigned index, unsigned flags, const char* address, const char* mask)
    {
        LocalInterface made{name, index, flags, {address}};
        made.subnets = {{*nasfinder::ParseCanonicalIPv4(address), *nasfinder::ParseCanonicalIPv4(mask)}};
        return made;
    };
    const std::vector<LocalInterface> ifaces = {
        iface("lo", 1, IFF_UP | IFF_LOOPBACK, "127.0.0.1", "255.0.0.0"),
        iface("eth0", 2, up, "198.18.0.1", "255.255.0.0"),
        iface("eth1", 3, up, "198.18.20.1", "255.255.255.0"),
        iface("tun0", 4, IFF_UP | IFF_POINTOPOINT, "198.19.5.1", "255.255.255.0"),
        iface("eth2", 5, IFF_BROADCAST, "198.19.9.1", "255.255.255.0"), // down
    };
    const struct
    {
        const char* address;
        const char* link;
    } cases[] = {{"198.18.1.1", "eth0"}, {"198.18.20.10", "eth1"}, {"198.19.5.7", ""},
                 {"198.19.9.7", ""},     {"127.0.0.2", ""},        {"198.18.0.1", ""}};
    for (const auto& c : cases)
    {
        const std::optional<Link> link = LinkFor(ifaces, *nasfinder::ParseCanonicalIPv4(c.address));
        EXPECT_EQ(link ? link->interfaceName : "", c.link) << c.address;
    }
    EXPECT_EQ(LinkFor(ifaces, 0xC612140Au)->Broadcast(), 0xC61214FFu); // 198.18.20.255
}

TEST_F(StoreFolder, ACorruptFileIsMovedAsideAndReported)
{
    ASSERT_TRUE(KnownStore(path).Update([](auto& list) { list.push_back(Device("DEV0", 100)); }).ok);
    EXPECT_EQ(ReadText(dir + "/nasfinder/devices.json").find("DEV0") != std::string::npos, true);
    struct stat st
    {
    };
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    WriteText(path, "{\"devices\": [ torn");
    std::vector<KnownDevice> list;
    const StoreResult r = KnownStore(path).Load(list);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(list.empty());
    EXPECT_NE(r.movedAside.find("moved aside to " + path + ".bad-"), std::string::npos) << r.movedAside;
    bool aside = false;
    for (const std::string& name : Files())
        if (name.rfind("devices.json.bad-", 0) == 0)
            aside = ReadText(dir + "/nasfinder/" + name) == "{\"devices\": [ torn";
    EXPECT_TRUE(aside) << "the unreadable file must be kept as it was";
}

// Adds DEV0 through the store at `path`. A call that waits (on a FIFO that
// no one writes) is let go after a few seconds and reported.
StoreResult AddWithin(const std::string& path, bool& waited)
{
    auto done = std::async(
        std::launch::async,
        [path] { return KnownStore(path).Update([](auto& list) { list.push_back(Device("DEV0", 100)); }); });
    waited = done.wait_for(std::chrono::seconds(5)) != std::future_status::ready;
    if (waited)
    {
        // A reader blocked in open: a writer that comes and goes lets it on.
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
    }
    return done.get();
}

// What another user, or an old mistake, may leave where the store lives. A
// root run followed a folder planted as a link into one of root's own, and a
// FIFO planted as the store held every writer behind the lock: now the store
// never goes through a link, never writes into a folder not the user's own
// alone, never waits, and moves aside what is not a regular file.
TEST_F(StoreFolder, WhatIsPlantedThereIsNeverFollowedNorWaitedOn)
{
    const std::string theirs = "{\"version\": 1, \"devices\": []}";
    const struct
    {
        const char* name;
        std::function<void(const std::string& folder)> plant;
        bool ok;
        const char* said;
    } rows[] = {
        {"the folder is a link to another folder",
         [&](const std::string& f)
         {
             mkdir((f + "-theirs").c_str(), 0700);
             WriteText(f + "-theirs/devices.json", theirs);
             symlink((f + "-theirs").c_str(), f.c_str());
         },
         false, "nasfinder is a symbolic link, not a folder of this user's own"},
        {"the folder is another user's",
         [](const std::string& f)
         {
             mkdir(f.c_str(), 0700);
             ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0) << "the test runs as root";
         },
         false, "nasfinder belongs to user 65534, not to this user"},
        {"others may write in the folder",
         [](const std::string& f)
         {
             mkdir(f.c_str(), 0700);
             chmod(f.c_str(), 0777);
         },
         false, "nasfinder may be written by other users (mode 0777)"},
        {"a FIFO as the store",
         [](const std::string& f)
         {
             mkdir(f.c_str(), 0700);
             mkfifo((f + "/devices.json").c_str(), 0600);
         },
         true, "devices.json was not a regular file; moved aside to "},
        {"a FIFO as the lock",
         [](const std::string& f)
         {
             mkdir(f.c_str(), 0700);
             mkfifo((f + "/devices.json.lock").c_str(), 0600);
         },
         true, "devices.json.lock was not a regular file; moved aside to "},
        {"a link as the store",
         [&](const std::string& f)
         {
             mkdir(f.c_str(), 0700);
             WriteText(f + "-theirs", theirs);
             symlink((f + "-theirs").c_str(), (f + "/devices.json").c_str());
         },
         true, "devices.json was not a regular file; moved aside to "},
    };
    int n = 0;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        if (std::string(row.name) == "the folder is another user's" && geteuid() != 0)
            continue;
        // A folder of its own for each row: a refused one stays refused.
        const std::string row_dir = dir + "/row" + std::to_string(n++);
        mkdir(row_dir.c_str(), 0700);
        const std::string folder = row_dir + "/nasfinder";
        row.plant(folder);
        bool waited = false;
        const StoreResult r = AddWithin(folder + "/devices.json", waited);
        EXPECT_FALSE(waited) << "the store waited";
        EXPECT_EQ(r.ok, row.ok) << r.error;
        EXPECT_NE((r.error + r.movedAside).find(row.said), std::string::npos) << r.error << r.movedAside;
        // What is theirs stays as it was, with nothing added beside it.
        if (access((folder + "-theirs").c_str(), F_OK) == 0)
        {
            const std::string target = folder + "-theirs";
            struct stat st
            {
            };
            lstat(target.c_str(), &st);
            EXPECT_EQ(ReadText(S_ISDIR(st.st_mode) ? target + "/devices.json" : target), theirs);
            if (S_ISDIR(st.st_mode))
            {
                EXPECT_EQ(std::system(("test \"$(ls -A " + target + ")\" = devices.json").c_str()), 0);
            }
        }
        std::vector<KnownDevice> list;
        const StoreResult loaded = KnownStore(folder + "/devices.json").Load(list);
        EXPECT_EQ(loaded.ok, row.ok);
        if (row.ok)
        {
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].id, "DEV0");
        }
        else
        {
            // Said once: the folder is not looked at again in this run.
            EXPECT_TRUE(loaded.saidBefore);
            EXPECT_EQ(loaded.error, r.error);
            if (std::string(row.name) != "the folder is a link to another folder")
            {
                EXPECT_EQ(std::system(("test -z \"$(ls -A " + folder + ")\"").c_str()), 0) << "written into";
            }
        }
    }
}

// A LAN host's SSDP LOCATION made the scan store "devices" at 127.0.0.1,
// 224.0.0.1 and the local subnet's broadcast; a forged store could hold them
// too. None is kept, whichever way it comes, and the reason is given.
TEST_F(StoreFolder, AnAddressNoDeviceCanHaveIsNeverKept)
{
    LocalInterface eth0{"eth0", 2, IFF_UP | IFF_BROADCAST, {"198.18.50.1"}};
    eth0.subnets = {{*nasfinder::ParseCanonicalIPv4("198.18.50.1"), 0xFFFFFF00u}};
    const std::vector<LocalInterface> local = {eth0};
    const struct
    {
        const char* address;
        const char* why; // empty: kept
    } rows[] = {
        {"127.0.0.1", "loopback"},
        {"224.0.0.1", "multicast"},
        {"239.143.255.250", "multicast"},
        {"255.255.255.255", "the limited broadcast"},
        {"198.18.50.255", "the network or broadcast address of a local subnet"},
        {"198.18.50.0", "the network or broadcast address of a local subnet"},
        {"0.1.2.3", "0.0.0.0/8"},
        {"240.0.0.1", "reserved (240.0.0.0/4)"},
        {"198.18.50.7", ""},
        {"198.18.60.9", ""}, // beyond a router, as --address finds it
        {"223.255.255.254", ""},
        {"nas.local", ""}, // a name is no address of these kinds
    };
    for (const auto& row : rows)
    {
        const std::optional<std::string> why = WhyNoDeviceAt(std::string(row.address), local);
        EXPECT_EQ(why.has_value(), row.why[0] != '\0') << row.address;
        if (why)
        {
            EXPECT_NE(why->find(row.why), std::string::npos) << row.address << ": " << *why;
        }
    }

    // A forged store: what it holds at such an address goes as it is read,
    // and so does a sighting at one.
    mkdir((dir + "/nasfinder").c_str(), 0700);
    StoreContents forged;
    forged.devices = {Device("LOOP", 100, "02:00:00:00:00:01"), Device("REAL", 100), Device("GROUP", 100)};
    forged.devices[0].address = "127.0.0.1";
    forged.devices[2].address = "224.0.0.1";
    WriteText(path, EncodeStore(forged));
    std::vector<KnownDevice> list;
    StoreResult r = KnownStore(path).Load(list);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, "REAL");
    ASSERT_EQ(r.notKept.size(), 2u);
    EXPECT_EQ(r.notKept[0], "TAVIK LOOP at 127.0.0.1 is not kept: this computer's loopback (127.0.0.0/8)");
    KnownDevice reserved = Device("RESERVED", 200);
    reserved.address = "240.0.0.1";
    r = KnownStore(path).Update([&](auto& known) { Remember(known, {reserved, Device("NEW", 200)}); }, &list);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.notKept.size(), 3u);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].id, "NEW");
    const std::string text = ReadText(path);
    for (const char* gone : {"127.0.0.1", "224.0.0.1", "240.0.0.1"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;
}

TEST_F(StoreFolder, AStoreThatCannotBeWrittenStillHandsBackTheChange)
{
    // A folder that cannot be made (a file stands in its way) fails even for
    // root, as a read-only home or a full disk would.
    WriteText(dir + "/nasfinder", "not a folder");
    std::vector<KnownDevice> after;
    const StoreResult r =
        KnownStore(path).Update([](auto& list) { list.push_back(Device("DEV1", 200)); }, &after);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(after.size(), 1u);
    EXPECT_EQ(ReadText(dir + "/nasfinder"), "not a folder");
}

TEST_F(StoreFolder, TwoWritersAtOnceBothKeepTheirDevices)
{
    constexpr int kWriters = 2;
    constexpr int kEach = 40;
    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w)
    {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0)
        {
            for (int i = 0; i < kEach; ++i)
                KnownStore(path).Update(
                    [&](auto& list)
                    { list.push_back(Device("W" + std::to_string(w) + "-" + std::to_string(i), i)); });
            _exit(0);
        }
    }
    for (pid_t child : children)
    {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<KnownDevice> list;
    ASSERT_TRUE(KnownStore(path).Load(list).ok);
    EXPECT_EQ(list.size(), static_cast<std::size_t>(kWriters * kEach));
}

TEST_F(StoreFolder, AWriterKilledMidWriteLeavesTheOldFileOrTheNew)
{
    // A writer rewrites a large store in a loop; SIGKILL lands at random
    // points. What is left must always read as a whole store.
    std::srand(static_cast<unsigned>(getpid()));
    for (int round = 0; round < 20; ++round)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            for (std::int64_t i = 0;; ++i)
                KnownStore(path).Update(
                    [i](auto& list)
                    {
                        list.clear();
                        for (int k = 0; k < 1024; ++k)
                            list.push_back(Device("D" + std::to_string(k), i));
                    });
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + std::rand() % 20000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        if (access(path.c_str(), F_OK) != 0)
            continue; // killed before its first write ended
        const DecodeResult r = DecodeStore(ReadText(path));
        ASSERT_TRUE(r.contents) << "round " << round << ": " << r.error;
        EXPECT_EQ(r.contents->devices.size(), 1024u);
    }
}
} // namespace
