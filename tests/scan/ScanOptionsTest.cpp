#include <gtest/gtest.h>

#include "ScanOptions.h"

using nasscan::ParseScanOptions;
using nasscan::ParseStatus;

namespace
{
nasscan::ParseResult Parse(std::initializer_list<const char*> args)
{
    return ParseScanOptions(std::vector<std::string>(args.begin(), args.end()));
}

TEST(ScanOptionsTest, NoArgumentsGiveTheDefaults)
{
    const auto r = Parse({});
    ASSERT_EQ(r.status, ParseStatus::Run);
    EXPECT_EQ(r.options.seconds, 11);
    EXPECT_TRUE(r.options.multiIP);
    EXPECT_FALSE(r.options.json);
    EXPECT_FALSE(r.options.raw);
    EXPECT_FALSE(r.options.watch);
    EXPECT_TRUE(r.options.logDir.empty());
}

TEST(ScanOptionsTest, FlagsAndValuesInBothForms)
{
    auto r = Parse({"--json", "--raw", "--no-multi", "--seconds", "3600", "--log-dir", "/var/tmp/x"});
    ASSERT_EQ(r.status, ParseStatus::Run) << r.error;
    EXPECT_TRUE(r.options.json);
    EXPECT_TRUE(r.options.raw);
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

    EXPECT_EQ(Parse({"--seconds", "007"}).options.seconds, 7);
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
        {{"--seconds"}, "needs a value"},   {{"--log-dir"}, "needs a value"},
        {{"--log-dir", ""}, "directory"},   {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option"},         {{"eth0"}, "unexpected argument 'eth0'"},
        {{"--json=yes"}, "takes no value"}, {{"--watch", "--seconds", "5"}, "--watch"},
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
    const std::string usage = nasscan::ScanUsage("nasfinder-scan");
    for (const char* option :
         {"--seconds", "--json", "--raw", "--watch", "--no-multi", "--log-dir", "--version"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}
} // namespace
