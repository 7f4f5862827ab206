#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <sstream>

#include "DeviceRecord.h"
#include "HostAddress.h"
#include "FakeSearchLib.h"
#include "ScanSession.h"
#include "ScanOptions.h"
#include "SearchPorts.h"

using nasscan::ParseScanOptions;
using nasscan::ParseStatus;

namespace
{
nasscan::ParseResult Parse(std::initializer_list<const char*> args)
{
    return ParseScanOptions(std::vector<std::string>(args.begin(), args.end()));
}

TEST(ScanOptionsTest, FlagsAndValuesInBothForms)
{
    auto r = Parse({"--verbose", "--raw", "--no-multi", "--seconds", "3600", "--log-dir", "/var/tmp/x"});
    ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
    EXPECT_TRUE(r.options.verbose);
    EXPECT_EQ(r.options.format, nasscan::Format::Raw);
    EXPECT_FALSE(r.options.multiIP);
    EXPECT_EQ(r.options.seconds, 3600);
    EXPECT_EQ(r.options.logDir, "/var/tmp/x/"); // the final slash is added

    r = Parse({"--seconds=1", "--log-dir=/var/tmp/"});
    ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
    EXPECT_EQ(r.options.seconds, 1);
    EXPECT_EQ(r.options.logDir, "/var/tmp/"); // not doubled

    r = Parse({"--watch", "--json"});
    ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
    EXPECT_TRUE(r.options.watch);
    EXPECT_EQ(r.options.format, nasscan::Format::Json);

    EXPECT_EQ(Parse({"--seconds", "007"}).options.seconds, 7);

    // A watch for monitoring, as the exporter service runs it.
    r = Parse({"--watch", "--watch-every=300", "--events", "--prometheus",
               "/var/lib/prometheus/node-exporter/nasfinder.prom"});
    ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
    EXPECT_EQ(r.options.watchSeconds, 300);
    EXPECT_TRUE(r.options.events);
    EXPECT_EQ(r.options.prometheusFile, "/var/lib/prometheus/node-exporter/nasfinder.prom");
    EXPECT_EQ(Parse({"--watch"}).options.watchSeconds, nasfinder::kWatchSeconds);
    EXPECT_EQ(Parse({"--known", "--csv"}).options.format, nasscan::Format::Csv);

    // Untold, a scan waits as long as one search lasts.
    EXPECT_EQ(Parse({}).options.seconds, nasfinder::kSearchSeconds);
    // A device takes a minute or two to start: a wake waits 3 minutes unless told.
    EXPECT_EQ(Parse({"--wake", "DEV0"}).options.seconds, 180);
    EXPECT_EQ(Parse({"--seconds", "5", "--wake=02:00:5e:10:00:01"}).options.seconds, 5);
    EXPECT_FALSE(Parse({"--known", "--no-remember"}).options.remember);
    // Known devices are followed up unless the scan is told not to, or leaves them alone.
    EXPECT_TRUE(nasscan::ScanSessionSettings(Parse({"--known"}).options, nullptr).followUps);
    EXPECT_FALSE(nasscan::ScanSessionSettings(Parse({"--no-follow-up"}).options, nullptr).followUps);
    EXPECT_FALSE(
        nasscan::ScanSessionSettings(Parse({"--known", "--no-remember"}).options, nullptr).followUps);
}

TEST(ScanOptionsTest, SecondsOutsideOneTo3600OrNotAWholeNumberAreRefused)
{
    for (const char* bad :
         {"0", "3601", "-1", "+5", "5s", " 5", "5 ", "", "1.5", "abc", "0x10", "99999999999999999999999"})
    {
        const auto r = Parse({"--seconds", bad});
        EXPECT_EQ(r.status, ParseStatus::Error) << "accepted '" << bad << "'";
        EXPECT_NE(r.error.find("--seconds"), std::string::npos);
    }
}

TEST(ScanOptionsTest, BadArgumentsGiveAnErrorWithAReason)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"--seconds"}, "needs a number"},
        {{"--log-dir"}, "needs a directory"},
        {{"--log-dir", ""}, "needs a directory"},
        // The option after a value-taking one is not taken as its value.
        {{"--log-dir", "--json"}, "needs a directory"},
        {{"--seconds", "--raw"}, "needs a number"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option"},
        {{"eth0"}, "unexpected argument 'eth0'"},
        {{"--json=yes"}, "takes no value"},
        {{"-"}, "unknown option '-'"},
        {{"--seconds="}, "invalid --seconds ''"},
        {{"--watch", "--seconds", "5"}, "--watch"},
        // Contradictory: --json would be silently ignored.
        {{"--raw", "--json"}, "--raw cannot be combined with --json"},
        {{"--json", "--raw"}, "--raw cannot be combined with --json"},
        {{"--interface"}, "needs an interface name or address"},
        {{"--exclude-interface="}, "needs an interface name or address"},
        // The choice takes the search from every interface; without it, silently nothing.
        {{"--no-multi", "--interface", "eth0"}, "--interface cannot be combined with --no-multi"},
        {{"--exclude-interface", "eth0", "--no-multi"}, "--exclude-interface cannot be combined"},
        {{"--address"}, "--address needs an IPv4 address or a host name"},
        {{"--address="}, "--address needs an IPv4 address or a host name"},
        {{"--wake"}, "--wake needs a device id or a MAC address"},
        {{"--forget="}, "--forget needs a device id"},
        {{"--known", "--raw"}, "--known cannot be combined with --raw"},
        {{"--watch", "--raw", "--wake", "X"}, "--wake cannot be combined with --watch"},
        {{"--forget", "X", "--no-remember"}, "--no-remember"},
        {{"--csv", "--json"}, "--csv cannot be combined with --json"},
        // What is about a watch's rounds goes with a watch only.
        {{"--events"}, "--events needs --watch"},
        {{"--known", "--watch-every", "60"}, "--watch-every needs --watch"},
        {{"--prometheus", "/tmp/n.prom"}, "--prometheus needs --watch"},
        {{"--watch", "--watch-every", "9"},
         "invalid --watch-every '9': expected a whole number from 10 to 3600"},
        {{"--watch", "--watch-every=3601"}, "invalid --watch-every '3601'"},
        {{"--watch", "--watch-every="}, "invalid --watch-every ''"},
        {{"--watch", "--events", "--json"}, "--events cannot be combined with --json"},
        {{"--watch", "--raw", "--events"}, "--events cannot be combined with --raw"},
        {{"--watch", "--prometheus"}, "--prometheus needs a file name"},
        {{"--watch", "--prometheus", "/var/lib/prometheus/"}, "a file, not a folder"},
    };
    for (const Case& c : cases)
    {
        const auto r = ParseScanOptions(c.args);
        EXPECT_EQ(r.status, ParseStatus::Error) << c.args[0];
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << "reason must be one line";
    }
}

TEST(ScanOptionsTest, HelpAndVersionStopParsing)
{
    EXPECT_EQ(Parse({"--help"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"-h", "--bogus"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"--version"}).status, ParseStatus::Version);
    EXPECT_EQ(Parse({"--bogus", "--help"}).status, ParseStatus::Error); // first problem wins
    const std::string usage =
        nasscan::ScanUsage("nasfinder-scan", "/usr/libexec/nasfinder/nasfinder-broadcast");
    for (const char* option :
         {"--seconds", "--json", "--csv", "--raw", "--watch", "--watch-every", "--events", "--prometheus",
          "--no-multi", "--log-dir", "--verbose", "--version", "--interface", "--exclude-interface",
          "--address", "--known", "--wake", "--forget", "--no-remember", "--no-follow-up"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    // A name of up to 14 columns has its help beside it, a longer one above
    // it; the help's further lines are indented as far.
    for (const char* lines :
         {"\n  --wake ID|MAC   send the Wake-on-LAN packet",
          "\n  --address ADDRESS\n                  also search this device",
          "\n                  --seconds run out (default 180);\n", "\n  -h, --help      show this help\n"})
        EXPECT_NE(usage.find(lines), std::string::npos) << lines;
    // The usage is written from the table the parse reads: each option it
    // lists is read, and listed once, and no line is wider than a terminal.
    std::set<std::string> listed;
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);)
    {
        EXPECT_LE(nasscan::DisplayWidth(line), 80u) << line;
        std::istringstream words(line.rfind("  -", 0) == 0 ? line.substr(0, line.find("   ")) : "");
        for (std::string name; words >> name && name[0] == '-';)
        {
            if (name.back() == ',')
                name.pop_back();
            EXPECT_TRUE(listed.insert(name).second) << name << " is listed twice";
            const auto r = Parse({name.c_str(), "1"});
            EXPECT_EQ(r.error.find("unknown option"), std::string::npos) << r.error;
        }
    }
}

int NoReport(void*, int)
{
    return 0;
}

TEST(ScanStartTest, TheOptionsReachTheLibrary)
{
    struct Case
    {
        std::vector<std::string> args;
        bool multiIP;
        const char* logDir; // nullptr: log off
        bool rawCallback;
        std::vector<std::string> include = {};
        std::vector<std::string> exclude = {};
        std::vector<std::string> unicast = {};
    };
    const Case cases[] = {
        {{}, true, nullptr, false},
        {{"--no-multi"}, false, nullptr, false},
        {{"--raw", "--no-multi", "--log-dir", "/tmp"}, false, "/tmp/", true},
        {{"--watch", "--json"}, true, nullptr, false},
        {{"--interface", "eth1", "--exclude-interface=eth0", "--interface=198.19.0.1"},
         true,
         nullptr,
         false,
         {"eth1", "198.19.0.1"},
         {"eth0"}},
        // Each address once, in the order given.
        {{"--address", "198.18.20.10", "--address=10.1.2.3", "--address", "198.18.20.10"},
         true,
         nullptr,
         false,
         {},
         {},
         {"198.18.20.10", "10.1.2.3"}},
    };
    for (const Case& c : cases)
    {
        const auto r = ParseScanOptions(c.args);
        ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
        g_fakeSearchLib = FakeSearchLib{};
        const nasfinder::SearchAddresses beyond = nasfinder::ResolveSearchAddresses(r.options.addresses);
        ASSERT_EQ(beyond.error, "");
        nasfinder::SearchSession(nasscan::ScanSessionSettings(r.options, &NoReport, beyond.addresses)).Start();
        const std::string what = c.args.empty() ? "no arguments" : c.args[0];
        EXPECT_EQ(g_fakeSearchLib.unicast, c.unicast) << what;
        EXPECT_EQ(g_fakeSearchLib.initCalls, 1) << what;
        EXPECT_EQ(g_fakeSearchLib.bMultiIP, c.multiIP) << what;
        EXPECT_EQ(g_fakeSearchLib.include, c.include) << what;
        EXPECT_EQ(g_fakeSearchLib.exclude, c.exclude) << what;
        EXPECT_EQ(g_fakeSearchLib.bLogEnable, c.logDir != nullptr) << what;
        EXPECT_EQ(g_fakeSearchLib.logDir, c.logDir == nullptr ? "(null)" : c.logDir) << what;
        // The registry's own handler always goes to the library; the scan's raw
        // printer only behind it.
        EXPECT_EQ(g_fakeSearchLib.callback, &CDeviceSearchInterface::SearchDeviceRecallHandle) << what;
    }
}

// Anything but one device's address would turn the unicast search into a
// broadcast, a group search or a search of this computer; a number in another
// notation would name another host than the one written.
TEST(ScanStartTest, AnAddressThatNamesNoDeviceIsRefusedWithAReason)
{
    const struct
    {
        std::vector<std::string> texts;
        const char* reason;
    } rows[] = {
        {{"224.0.0.1"}, "'224.0.0.1' is no device's address"},
        {{"198.18.20.10", "255.255.255.255"}, "'255.255.255.255' is no device's address"},
        {{"0.1.2.3"}, "no device's address"},
        {{"127.0.0.1"}, "no device's address"},
        {{"240.0.0.1"}, "no device's address"},
        {{"010.0.0.1"}, "'010.0.0.1' is not an IPv4 address in dotted decimal form"},
        {{"0x7f.1"}, "dotted decimal form"},
        {{"3323073546"}, "dotted decimal form"},
        {{"999.1.1.1"}, "'999.1.1.1' is not an IPv4 address in dotted decimal form"},
        // From the hosts file: no query leaves the machine.
        {{"localhost"}, "'localhost' resolves to no device's address (127.0.0.1)"},
    };
    for (const auto& row : rows)
    {
        const nasfinder::SearchAddresses beyond = nasfinder::ResolveSearchAddresses(row.texts);
        const std::string& error = beyond.error;
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_TRUE(beyond.addresses.empty()) << "no address of a refused list is searched";
        EXPECT_EQ(error.find('\n'), std::string::npos) << "reason must be one line";
    }
}

TEST(ScanStartTest, DeviceTextReachesStandardErrorOnlyWithVerboseAndInert)
{
    // A vendor that would retitle the terminal and clear the screen.
    const deviceinfo record =
        testsupport::MakeRecord().Id("X1").Ip("198.18.1.9").Factory("\x1b]0;x\x07\x1b[2J");
    const std::string kFFFD = "\xEF\xBF\xBD";
    for (bool verbose : {false, true})
    {
        nasscan::ScanOptions opts;
        opts.verbose = verbose;
        g_fakeSearchLib = FakeSearchLib{};
        nasfinder::SearchSession session(nasscan::ScanSessionSettings(opts, &NoReport));
        session.Start();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        deviceinfo copy = record;
        g_fakeSearchLib.callback(&copy, 67);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, "");
        EXPECT_EQ(err, verbose ? "NewDeviceInfo.factory = " + kFFFD + "]0;X" + kFFFD + kFFFD + "[2J\n" : "");
    }
}
} // namespace

// The warnings name exactly the searches that cannot run: SSDP taken by another
// user is not "going on with SSDP alone", and nothing running is no scan at all.
TEST(SearchPorts, WarningsNameExactlyTheSearchesThatCannotRun)
{
    // What the library says of each search: 0 when its socket is bound, or the
    // errno of the refused bind.
    const auto status = [](int broadcastError, int groupError, bool multi, int addresses, int bound)
    {
        nasfinder::LibraryStatus s{};
        s.multi_address = multi ? 1 : 0;
        s.broadcast_port = 67;
        s.broadcast_device_port = 68;
        s.broadcast_bound = broadcastError == 0 ? 1 : 0;
        s.broadcast_error = broadcastError;
        s.group_port = 1900;
        s.group_retry_ports = multi ? 0 : 20;
        s.group_bound_port = groupError == 0 ? 1900 : 0;
        s.group_error = groupError;
        s.address_searches = addresses;
        s.address_searches_bound = bound;
        return s;
    };
    const struct
    {
        nasfinder::LibraryStatus status;
        std::vector<std::string> starts; // each warning's beginning, in order
        bool anyRuns;
    } rows[] = {
        {status(0, 0, true, 2, 2), {}, true},
        {status(EACCES, 0, true, 2, 2),
         {"cannot bind UDP port 67 (Permission denied), so the broadcast search is off"},
         true},
        // Ports 67 and 68 are DHCP's: a DHCP server here is the likely holder.
        {status(EADDRINUSE, 0, false, 0, 0),
         {"cannot bind UDP port 67 (Address already in use), so the broadcast search gets no answers. Ports "
          "67 "
          "and 68 are the DHCP ports: a DHCP server on this computer (such as dnsmasq, or a virtual-machine "
          "network) may hold it. Going on with SSDP alone."},
         true},
        // The group member's port is taken, the per-address searches still run.
        {status(0, EADDRINUSE, true, 2, 1),
         {"cannot bind UDP port 1900 (Address already in use), so SSDP announcements"},
         true},
        {status(0, EADDRINUSE, false, 0, 0),
         {"cannot bind UDP port 1900 (Address already in use) nor one of the 20"},
         true},
        {status(EACCES, EADDRINUSE, true, 2, 0),
         {"cannot bind UDP port 67",
          "cannot bind UDP port 1900 (Address already in use) nor a port of its own", "no search can run."},
         false},
    };
    for (const auto& row : rows)
    {
        const nasscan::SearchPortVerdict verdict =
            nasscan::JudgeSearchPorts(row.status, "/usr/bin/nasfinder-scan");
        EXPECT_EQ(verdict.anyRuns, row.anyRuns);
        ASSERT_EQ(verdict.warnings.size(), row.starts.size());
        for (std::size_t i = 0; i < row.starts.size(); ++i)
            EXPECT_EQ(verdict.warnings[i].substr(0, row.starts[i].size()), row.starts[i]);
        // "Going on with SSDP alone" only where SSDP does go on.
        for (const std::string& warning : verdict.warnings)
        {
            const bool ssdpGoesOn = row.status.group_bound_port != 0 ||
                                    (row.status.multi_address != 0 && row.status.address_searches_bound > 0);
            if (warning.find("SSDP alone") != std::string::npos)
            {
                EXPECT_TRUE(ssdpGoesOn) << warning;
            }
            if (warning.find("broadcast search alone") != std::string::npos)
            {
                EXPECT_EQ(row.status.broadcast_bound, 1) << warning;
            }
        }
    }
}
