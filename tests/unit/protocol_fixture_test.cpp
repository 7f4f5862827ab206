// Runs each protocol's parser over every message in its fixture folder:
// ssdp/NAME.msg and broadcast/NAME.bin hold the datagram exactly as sent, and
// NAME.expected beside it holds key=value lines:
//   sender=ADDR        address the datagram came from (required)
//   status=NAME        the parser's verdict (required): Accepted, or for SSDP
//                      NoDeviceOs, BadLocation, BadUsn, NotRootDevice, NoNts,
//                      UnknownStart; for broadcast WrongLength or NotDevice
//   size=N             the message file must be exactly N bytes (optional)
//   type=N, id=, ip=, host=, product=, extra=, osversion=, factory=
//                      the record of an accepted message; a field not listed is
//                      expected empty, type 0. Values take \r, \n, \t, \\ and \xHH.
// Lines starting with '#' say what the case is about. Adding a case means
// adding two files; the fuzz targets take the same messages as their seeds.
#include <cctype>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/BroadcastProtocol.h"
#include "ssdp_test_support.h"
#include "test_support.h"

#ifndef FIXTURE_DIR
#error "FIXTURE_DIR must name the folder of protocol fixtures"
#endif

namespace
{
namespace fs = std::filesystem;

using Expected = std::map<std::string, std::string>;

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
        if (c == 'x' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(value[i + 2])))
        {
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
            continue;
        }
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

Expected ReadExpected(const fs::path& file)
{
    Expected out;
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

// The message and its expectations, once the .expected file is known to be
// complete; false (with the failure recorded) when it is not.
bool LoadCase(const fs::path& messageFile, std::string& message, Expected& expected)
{
    fs::path expectedFile = messageFile;
    expectedFile.replace_extension(".expected");
    if (!fs::exists(expectedFile))
    {
        ADD_FAILURE() << expectedFile << " is missing";
        return false;
    }
    expected = ReadExpected(expectedFile);
    message = testsupport::ReadFile(messageFile);

    const char* known[] = {"sender", "status",  "size",  "type",      "id",     "ip",
                           "host",   "product", "extra", "osversion", "factory"};
    for (const auto& entry : expected)
    {
        EXPECT_NE(
            std::find_if(std::begin(known), std::end(known), [&](const char* k) { return entry.first == k; }),
            std::end(known))
            << "unknown key " << entry.first;
    }
    if (expected.count("sender") != 1 || expected.count("status") != 1)
    {
        ADD_FAILURE() << "sender= and status= are required";
        return false;
    }
    if (expected.count("size") != 0 && message.size() != std::stoul(expected["size"]))
    {
        ADD_FAILURE() << "the message file was changed: " << message.size() << " bytes";
        return false;
    }
    return true;
}

void ExpectRecord(const deviceinfo& info, Expected& expected)
{
    EXPECT_EQ(info.type, expected.count("type") != 0 ? std::stoi(expected["type"]) : 0);
    EXPECT_EQ(std::string(info.id), expected["id"]) << "id";
    EXPECT_EQ(std::string(info.ip), expected["ip"]) << "ip";
    EXPECT_EQ(std::string(info.host), expected["host"]) << "host";
    EXPECT_EQ(std::string(info.product), expected["product"]) << "product";
    EXPECT_EQ(std::string(info.extra), expected["extra"]) << "extra";
    EXPECT_EQ(std::string(info.osversion), expected["osversion"]) << "osversion";
    EXPECT_EQ(std::string(info.factory), expected["factory"]) << "factory";
}

void CheckSsdpCase(const fs::path& file)
{
    std::string message;
    Expected expected;
    if (!LoadCase(file, message, expected))
        return;
    ssdptest::Parsed p = ssdptest::Parse(message, expected["sender"].c_str());
    EXPECT_EQ(std::string(ssdptest::StatusName(p.status)), expected["status"]);
    if (p.status == SsdpParseStatus::Accepted)
        ExpectRecord(p.info, expected);
}

const char* BroadcastStatusName(BroadcastReplyStatus status)
{
    switch (status)
    {
    case BroadcastReplyStatus::Accepted:
        return "Accepted";
    case BroadcastReplyStatus::WrongLength:
        return "WrongLength";
    case BroadcastReplyStatus::NotDevice:
        return "NotDevice";
    }
    return "?";
}

void CheckBroadcastCase(const fs::path& file)
{
    std::string message;
    Expected expected;
    if (!LoadCase(file, message, expected))
        return;
    // Exactly the datagram's bytes on the heap: a read past them is an
    // AddressSanitizer error.
    std::vector<char> bytes(message.begin(), message.end());
    deviceinfo info;
    BroadcastReplyStatus status =
        ParseBroadcastReply(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(bytes.size()),
                            expected["sender"].c_str(), info);
    EXPECT_EQ(std::string(BroadcastStatusName(status)), expected["status"]);
    if (status != BroadcastReplyStatus::Accepted)
        return;
    ssdptest::ExpectWellFormedRecord(info);
    ExpectRecord(info, expected);
}

// Every file with the extension in the folder, in name order; each needs its
// .expected, and each .expected its message.
std::vector<fs::path> Cases(const fs::path& dir, const std::string& extension)
{
    std::vector<fs::path> cases;
    for (const fs::path& file : testsupport::ListDir(dir))
    {
        if (file.extension() == extension)
        {
            cases.push_back(file);
        }
        else if (file.extension() == ".expected")
        {
            fs::path message = file;
            EXPECT_TRUE(fs::exists(message.replace_extension(extension)))
                << file << " has no message beside it";
        }
    }
    std::sort(cases.begin(), cases.end());
    return cases;
}
} // namespace

TEST(SsdpFixtures, EveryMessageParsesAsExpected)
{
    std::vector<fs::path> cases = Cases(fs::path(FIXTURE_DIR) / "ssdp", ".msg");
    ASSERT_GE(cases.size(), 38u) << "the SSDP fixture folder looks incomplete";
    for (const fs::path& file : cases)
    {
        SCOPED_TRACE(file.filename().string());
        CheckSsdpCase(file);
    }
}

TEST(BroadcastFixtures, EveryPacketParsesAsExpected)
{
    std::vector<fs::path> cases = Cases(fs::path(FIXTURE_DIR) / "broadcast", ".bin");
    ASSERT_GE(cases.size(), 20u) << "the broadcast fixture folder looks incomplete";
    for (const fs::path& file : cases)
    {
        SCOPED_TRACE(file.filename().string());
        CheckBroadcastCase(file);
    }
}
