// Runs the SSDP parser over every message in the fixture folder. NAME.msg holds
// the datagram exactly as sent; NAME.expected beside it holds key=value lines:
//   sender=ADDR        address the datagram came from (required)
//   status=NAME        Accepted, NoDeviceOs, BadLocation, BadUsn, NotRootDevice,
//                      NoNts or UnknownStart (required)
//   size=N             the .msg file must be exactly N bytes (optional)
//   type=N, id=, ip=, host=, product=, extra=, osversion=, factory=
//                      the record of an accepted message; a field not listed is
//                      expected empty, type 0. Values take \r, \n, \t and \\.
// Adding a case means adding two files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ssdp_test_support.h"
#include "test_support.h"

#ifndef SSDP_FIXTURE_DIR
#error "SSDP_FIXTURE_DIR must name the folder of SSDP fixtures"
#endif

namespace
{
namespace fs = std::filesystem;

std::string Unescape(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i)
    {
        if (value[i] != '\\' || i + 1 == value.size())
        {
            out += value[i];
            continue;
        }
        char c = value[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

std::map<std::string, std::string> ReadExpected(const fs::path& file)
{
    std::map<std::string, std::string> out;
    std::istringstream in(testsupport::ReadFile(file));
    std::string line;
    while (std::getline(in, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::string::size_type eq = line.find('=');
        if (eq == std::string::npos)
        {
            ADD_FAILURE() << file << ": line without '=': " << line;
            continue;
        }
        out[line.substr(0, eq)] = Unescape(line.substr(eq + 1));
    }
    return out;
}

void CheckFixture(const fs::path& msgFile)
{
    fs::path expectedFile = msgFile;
    expectedFile.replace_extension(".expected");
    ASSERT_TRUE(fs::exists(expectedFile)) << expectedFile << " is missing";
    std::map<std::string, std::string> expected = ReadExpected(expectedFile);
    std::string message = testsupport::ReadFile(msgFile);

    const char* known[] = {"sender", "status",  "size",  "type",      "id",     "ip",
                           "host",   "product", "extra", "osversion", "factory"};
    for (const auto& entry : expected)
    {
        EXPECT_NE(
            std::find_if(std::begin(known), std::end(known), [&](const char* k) { return entry.first == k; }),
            std::end(known))
            << "unknown key " << entry.first;
    }
    ASSERT_EQ(expected.count("sender"), 1u) << "sender= is required";
    ASSERT_EQ(expected.count("status"), 1u) << "status= is required";
    if (expected.count("size") != 0)
    {
        ASSERT_EQ(message.size(), std::stoul(expected["size"])) << "the message file was changed";
    }

    ssdptest::Parsed p = ssdptest::Parse(message, expected["sender"].c_str());
    EXPECT_EQ(std::string(ssdptest::StatusName(p.status)), expected["status"]);
    if (p.status != SsdpParseStatus::Accepted)
        return;

    EXPECT_EQ(p.info.type, expected.count("type") != 0 ? std::stoi(expected["type"]) : 0);
    EXPECT_EQ(std::string(p.info.id), expected["id"]) << "id";
    EXPECT_EQ(std::string(p.info.ip), expected["ip"]) << "ip";
    EXPECT_EQ(std::string(p.info.host), expected["host"]) << "host";
    EXPECT_EQ(std::string(p.info.product), expected["product"]) << "product";
    EXPECT_EQ(std::string(p.info.extra), expected["extra"]) << "extra";
    EXPECT_EQ(std::string(p.info.osversion), expected["osversion"]) << "osversion";
    EXPECT_EQ(std::string(p.info.factory), expected["factory"]) << "factory";
}
} // namespace

TEST(SsdpFixtures, EveryMessageParsesAsExpected)
{
    std::vector<fs::path> messages;
    for (const fs::path& file : testsupport::ListDir(SSDP_FIXTURE_DIR))
        if (file.extension() == ".msg")
            messages.push_back(file);
    std::sort(messages.begin(), messages.end());
    ASSERT_GE(messages.size(), 10u) << "fixture folder " << SSDP_FIXTURE_DIR << " looks incomplete";

    for (const fs::path& file : messages)
    {
        SCOPED_TRACE(file.filename().string());
        CheckFixture(file);
    }
}

TEST(SsdpFixtures, EveryExpectationHasItsMessage)
{
    for (const fs::path& file : testsupport::ListDir(SSDP_FIXTURE_DIR))
    {
        if (file.extension() != ".expected")
            continue;
        fs::path msg = file;
        msg.replace_extension(".msg");
        EXPECT_TRUE(fs::exists(msg)) << file << " has no message beside it";
    }
}
