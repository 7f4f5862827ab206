#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "AtomicFile.h"
#include "PrometheusText.h"
#include "test_support.h"

namespace
{
nasknown::KnownDevice Device(const std::string& id, const std::string& host, std::int64_t lastSeen)
{
    nasknown::KnownDevice d;
    d.vendor = "TAVIK";
    d.id = id;
    d.host = host;
    d.address = "198.18.1.1";
    d.product = "P1";
    d.lastSeen = lastSeen;
    return d;
}

TEST(PrometheusTextTest, EveryFamilyWithItsHelpTypeAndSamples)
{
    nasscan::MetricsRound round;
    round.known = {{Device("DEV0", "nas0", 1796676008), true}, {Device("DEV1", "", 1796000000), false}};
    round.known[1].device.address = "198.18.20.10";
    round.answering = 3;
    round.rounds = 42;
    round.broadcastSearch = true;
    EXPECT_EQ(
        nasscan::PrometheusText(round),
        "# HELP nasfinder_device_up Whether a known storage device answered the last search round (1) or "
        "not (0).\n"
        "# TYPE nasfinder_device_up gauge\n"
        "nasfinder_device_up{id=\"DEV0\",vendor=\"TAVIK\",host=\"nas0\",address=\"198.18.1.1\",product="
        "\"P1\"} "
        "1\n"
        "nasfinder_device_up{id=\"DEV1\",vendor=\"TAVIK\",host=\"\",address=\"198.18.20.10\",product=\"P1\"} "
        "0\n"
        "# HELP nasfinder_device_last_seen_timestamp_seconds When a known storage device last answered a "
        "search, in seconds since 1970 (UTC).\n"
        "# TYPE nasfinder_device_last_seen_timestamp_seconds gauge\n"
        "nasfinder_device_last_seen_timestamp_seconds{id=\"DEV0\",vendor=\"TAVIK\",host=\"nas0\",address="
        "\"198.18.1.1\",product=\"P1\"} 1796676008\n"
        "nasfinder_device_last_seen_timestamp_seconds{id=\"DEV1\",vendor=\"TAVIK\",host=\"\",address="
        "\"198.18.20.10\",product=\"P1\"} 1796000000\n"
        "# HELP nasfinder_devices_answering Storage devices that answered the last search round.\n"
        "# TYPE nasfinder_devices_answering gauge\n"
        "nasfinder_devices_answering 3\n"
        "# HELP nasfinder_search_rounds_total Search rounds since the watch started.\n"
        "# TYPE nasfinder_search_rounds_total counter\n"
        "nasfinder_search_rounds_total 42\n"
        "# HELP nasfinder_broadcast_search_available Whether the broadcast search runs (1), or the SSDP "
        "search alone (0).\n"
        "# TYPE nasfinder_broadcast_search_available gauge\n"
        "nasfinder_broadcast_search_available 1\n");
}

// What a device names itself is hostile: it must not close a label value,
// start a line or a label of its own, or reorder what a terminal shows.
const struct
{
    const char* what;
    std::string host;
    std::string label;
} kHostile[] = {
    {"quote and label", "x\",evil=\"1", "x\\\",evil=\\\"1"},
    {"backslash", "a\\b\\", "a\\\\b\\\\"},
    {"line and sample", "x\"} 1\nnasfinder_device_up{id=\"forged",
     "x\\\"} 1\\nnasfinder_device_up{id=\\\"forged"},
    {"controls", "\x1b[2J\r\x7f\xC2\x9B", "\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"direction",
     "a\xE2\x80\xAE"
     "b",
     "a\xEF\xBF\xBD"
     "b"},
    {"not UTF-8", "\xFF\xC3(", "\xEF\xBF\xBD\xEF\xBF\xBD("},
    {"alike once escaped", "\xFE\xC3(", "\xEF\xBF\xBD\xEF\xBF\xBD("},
};

nasscan::MetricsRound HostileRound()
{
    nasscan::MetricsRound round;
    for (const auto& row : kHostile)
        round.known.push_back({Device("H", row.host, 1796676008), false});
    return round;
}

TEST(PrometheusTextTest, HostileTextsStayInsideTheirLabelValues)
{
    const std::string text = nasscan::PrometheusText(HostileRound());
    for (const auto& row : kHostile)
        EXPECT_NE(text.find("host=\"" + row.label + "\","), std::string::npos) << row.what << "\n" << text;
    // Two devices whose labels came out alike are one series (a scrape that
    // meets a series twice fails whole): 6 series of 7 devices, 2 samples
    // each, 3 figures, and 5 families of 2 comment lines.
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 6u * 2 + 3 + 5 * 2);
}

// Prometheus's own checker on the file as the watch writes it.
TEST(PrometheusTextTest, PromtoolTakesTheFileHostileTextsAndAll)
{
    if (std::system("command -v promtool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "promtool (Debian package prometheus) is not installed";
    const testsupport::TempDir folder;
    const std::string path = folder.str() + "/nasfinder.prom";
    ASSERT_EQ(nasfinder::ReplaceFile(path, nasscan::PrometheusText(HostileRound()), 0644), "");
    const std::string check = "promtool check metrics < " + path + " 2>&1";
    FILE* out = ::popen(check.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string said;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), out)) > 0;)
        said.append(buffer, n);
    const int status = ::pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
}
} // namespace
