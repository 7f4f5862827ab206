#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "JsonText.h"
#include "ScanOutput.h"
#include "TerminalText.h"
#include "WatchEvents.h"

using nasfinder::TerminalText;
using nasscan::DisplayWidth;
using nasscan::RecordToJson;
using testsupport::MakeRecord;

namespace
{
const std::string kFFFD = "\xEF\xBF\xBD";

// A device's text as every JSON output writes it.
std::string Json(const std::string& bytes)
{
    return nasfinder::JsonText(nasfinder::ValidUtf8(bytes));
}

std::string ListToJson(const std::vector<deviceinfo>& list)
{
    return nasscan::PrintedList(nasscan::Format::Json, list);
}

std::string ListToTable(const std::vector<deviceinfo>& list)
{
    return nasscan::PrintedList(nasscan::Format::Table, list);
}

TEST(JsonTextTest, EscapesQuotesBackslashesAndControlCharacters)
{
    EXPECT_EQ(Json("plain"), "\"plain\"");
    EXPECT_EQ(Json(""), "\"\"");
    EXPECT_EQ(Json("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
    EXPECT_EQ(Json("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(Json(std::string("\x01\x1f\x7f\x00z", 5)), "\"\\u0001\\u001f\\u007f\\u0000z\"");
    EXPECT_EQ(Json("\x1b[31m"), "\"\\u001b[31m\"");
    EXPECT_EQ(Json("\xC2\x85\xC2\x9B"), "\"\\u0085\\u009b\""); // C1 controls
    // Text-direction controls: cat of a file shows the text in its order.
    EXPECT_EQ(Json("a\xE2\x80\xAE"
                   "b\xE2\x81\xA6"
                   "c\xE2\x81\xA9"),
              "\"a\\u202eb\\u2066c\\u2069\"");
    EXPECT_EQ(Json("\xE2\x80\xAA\xE2\x80\xAD\xE2\x81\xA8"), "\"\\u202a\\u202d\\u2068\"");
}

TEST(JsonTextTest, KeepsValidUtf8)
{
    const std::string text =
        "caf\xC3\xA9 \xE2\x82\xAC \xE6\x95\xB0 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xEF\xBF\xBD";
    EXPECT_EQ(Json(text), "\"" + text + "\"");
}

TEST(JsonTextTest, EachInvalidByteBecomesOneReplacementCharacter)
{
    struct Case
    {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"\x80", kFFFD},        // lone continuation byte
        {"a\xC3", "a" + kFFFD}, // cut at the end
        {"\xC3"
         "A",
         kFFFD + "A"},                                       // lead byte without continuation
        {"\xC0\x80", kFFFD + kFFFD},                         // overlong NUL
        {"\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},             // overlong '/'
        {"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},             // UTF-16 surrogate
        {"\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD}, // above U+10FFFF
        {"\xF5\xFE\xFF", kFFFD + kFFFD + kFFFD},
        {"\xE2\x82"
         "A",
         kFFFD + kFFFD + "A"},
        {"\xF0\x9F\x98", kFFFD + kFFFD + kFFFD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Json(c.in), "\"" + c.out + "\"") << "input bytes: " << c.in.size();
}

TEST(JsonTextTest, NoRawControlByteEverLeaves)
{
    // Every one- and two-byte input: the output may hold no byte below 0x20 and
    // no DEL, and must stay quoted.
    for (int a = 0; a < 256; ++a)
        for (int b = -1; b < 256; ++b)
        {
            std::string in(1, static_cast<char>(a));
            if (b >= 0)
                in += static_cast<char>(b);
            const std::string out = Json(in);
            ASSERT_GE(out.size(), 3u);
            ASSERT_EQ(out.front(), '"');
            ASSERT_EQ(out.back(), '"');
            for (unsigned char c : out)
                ASSERT_TRUE(c >= 0x20 && c != 0x7F) << a << "," << b;
        }
}

TEST(TerminalTextTest, ReplacesControlsBidiOverridesAndInvalidBytes)
{
    EXPECT_EQ(TerminalText("\x1b[2Jx", 5), kFFFD + "[2Jx");
    EXPECT_EQ(TerminalText("a\xE2\x80\xAE"
                           "b",
                           5),
              "a" + kFFFD + "b"); // U+202E
    EXPECT_EQ(TerminalText("\xFF\xC2\x9B", 3), kFFFD + kFFFD);
    EXPECT_EQ(TerminalText("nas \xE6\x95\xB0", 7), "nas \xE6\x95\xB0");
    // A log line for standard error: its own line end kept as one '\n', device
    // bytes inside it inert.
    const std::string line = "ID : \x1b]0;t\x07\x1b[2J\r\n";
    EXPECT_EQ(nasfinder::InertLine(line.data(), line.size()),
              "ID : " + kFFFD + "]0;t" + kFFFD + kFFFD + "[2J\n");
    EXPECT_EQ(nasfinder::InertLine("a\rb", 3), "a" + kFFFD + "b\n");
}

TEST(DisplayWidthTest, CountsColumnsNotBytes)
{
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth("caf\xC3\xA9"), 4u);
    EXPECT_EQ(DisplayWidth("\xE6\x95\xB0\xE6\x8D\xAE"), 4u); // two wide characters
    EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);                // combining accent
    EXPECT_EQ(DisplayWidth(kFFFD), 1u);
}

// The watch's list after each snapshot, and the events of --events between
// one list and the next: a change of the list is an event, a flip of the
// registry between a device's two records is neither.
TEST(FoldSnapshotTest, OnlyRealChangesCount)
{
    // Device A answers both searches: its SSDP record carries extra and
    // osversion, its broadcast record does not.
    const deviceinfo ssdpA = MakeRecord()
                                 .Id("A")
                                 .Ip("198.18.1.1")
                                 .Host("nas-a")
                                 .Product("P1")
                                 .Extra("r5")
                                 .OsVersion("2.1")
                                 .Factory("TAVIK");
    const deviceinfo broadcastA =
        MakeRecord().Id("A").Ip("198.18.1.1").Host("nas-a").Product("P1").Factory("TAVIK");
    const deviceinfo b = MakeRecord().Id("B").Ip("198.18.1.2").Host("nas-b").Product("P2").Factory("ESKAL");
    deviceinfo renamedA = broadcastA;
    CopyDeviceField(renamedA.host, "nas-a2");
    deviceinfo agedB = b;
    agedB.life = 50;
    deviceinfo productB = b;
    CopyDeviceField(productB.product, "P3");

    struct Step
    {
        std::vector<deviceinfo> snapshot;
        bool changed;
        const char* events; // each as "kind id", in order
    };
    const Step steps[] = {
        {{}, false, ""},
        {{broadcastA}, true, "appeared A"}, // appears
        {{ssdpA}, true, "changed A"},       // osversion and extra become known
        {{broadcastA}, false, ""},          // the registry flips back: nothing new
        {{ssdpA}, false, ""},               // and forth
        {{broadcastA, b}, true, "appeared B"},
        {{broadcastA, agedB}, false, ""},
        {{renamedA, productB}, true, "changed A changed B"}, // values they carry change
        {{productB}, true, "gone A"},                        // A is aged out
        {{ssdpA}, true, "gone B appeared A"},                // one goes as the other comes back
    };
    std::vector<deviceinfo> shown;
    for (std::size_t i = 0; i < std::size(steps); ++i)
    {
        const std::vector<deviceinfo> before = shown;
        EXPECT_EQ(nasscan::FoldSnapshot(shown, steps[i].snapshot), steps[i].changed) << "step " << i;
        std::string events;
        for (const nasscan::WatchEvent& event : nasscan::EventsBetween(before, shown))
        {
            static const char* const kKinds[] = {"appeared", "changed", "gone"};
            events += std::string(events.empty() ? "" : " ") + kKinds[event.kind] + " " + event.device.id;
        }
        EXPECT_EQ(events, steps[i].events) << "step " << i;
    }
    // The broadcast record of A leaves what the SSDP record told.
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_FALSE(nasscan::FoldSnapshot(shown, {broadcastA}));
    EXPECT_EQ(RecordToJson(shown[0]), RecordToJson(ssdpA));
}

TEST(RecordToJsonTest, HasExactlyTheKeysInOrderWithNumbersForTypeAndPort)
{
    deviceinfo d = MakeRecord()
                       .Id("abcd")
                       .Ip("198.18.1.1")
                       .Host("nas1")
                       .Product("N2")
                       .Extra("r5")
                       .OsVersion("2.1")
                       .Factory("TAVIK")
                       .Type(4);
    EXPECT_EQ(RecordToJson(d), "{\"id\":\"abcd\",\"ip\":\"198.18.1.1\",\"host\":\"nas1\",\"product\":\"N2\","
                               "\"extra\":\"r5\",\"osversion\":\"2.1\",\"vendor\":\"TAVIK\",\"type\":4}");
    d.type = 255;
    EXPECT_EQ(RecordToJson(d, true, 1900).substr(RecordToJson(d).size() - 1), ",\"port\":1900}");
    // An event of --events carries the same object as its device.
    EXPECT_EQ(nasscan::EventLine({nasscan::WatchEvent::Gone, d}, 1796676008),
              "{\"event\":\"gone\",\"time\":\"2026-12-07T20:40:08Z\",\"device\":" + RecordToJson(d) + "}\n");
}

TEST(RecordToJsonTest, FieldWithoutTerminatorIsReadAsItsThirtyTwoBytes)
{
    // A record that did not come through the library's field copy: nothing past
    // the field may be read (the next field's text must not leak in).
    deviceinfo d = MakeRecord();
    std::memset(d.id, 'A', sizeof(d.id));
    CopyDeviceField(d.ip, "IPTEXT");
    const std::string json = RecordToJson(d);
    const std::string expected = "{\"id\":\"" + std::string(32, 'A') + "\",\"ip\":\"IPTEXT\"";
    EXPECT_EQ(json.substr(0, expected.size()), expected);
}

TEST(ListToJsonTest, KeepsListOrder)
{
    EXPECT_EQ(ListToJson({}), "[]\n");
    const auto json = ListToJson({MakeRecord().Id("1").Ip("a"), MakeRecord().Id("2").Ip("b")});
    EXPECT_EQ(json.front(), '[');
    EXPECT_EQ(json.substr(json.size() - 2), "]\n");
    EXPECT_LT(json.find("\"id\":\"1\""), json.find("\"id\":\"2\""));
    EXPECT_NE(json.find("},{"), std::string::npos);
}

TEST(ListToTableTest, AlignsColumnsByDisplayWidth)
{
    EXPECT_EQ(ListToTable({}), "HOST  IP  PRODUCT  VENDOR  ID\n");
    const std::vector<deviceinfo> list = {
        MakeRecord().Id("DEV1").Ip("198.18.1.1").Host("nas-one").Product("P1").Factory("TAVIK"),
        MakeRecord()
            .Id("DEV22")
            .Ip("198.18.1.200")
            .Host("\xE6\x95\xB0\xE6\x8D\xAE")
            .Product("Product-Long")
            .Factory("ESKAL"),
    };
    EXPECT_EQ(ListToTable(list), "HOST     IP            PRODUCT       VENDOR  ID\n"
                                 "nas-one  198.18.1.1    P1            TAVIK   DEV1\n"
                                 "\xE6\x95\xB0\xE6\x8D\xAE     198.18.1.200  Product-Long  ESKAL   DEV22\n");
}

TEST(ListToTableTest, HostileTextCannotBreakTheTable)
{
    const std::vector<deviceinfo> list = {
        MakeRecord().Id("X").Ip("1.2.3.4").Host("a\nb\x1b[2J").Product("\xFF").Factory("T")};
    const std::string table = ListToTable(list);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2);
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_NE(table.find("a" + kFFFD + "b" + kFFFD + "[2J"), std::string::npos);
}
} // namespace

// The known devices in every format: the table's columns and the JSON keys in
// their order (CSV's header names them), an unknown MAC as "-" in the table,
// the state as a word there and a boolean in JSON; the raw reports print no
// list.
TEST(PrintedKnownTest, EachFormatHasItsColumnsOrKeys)
{
    nasknown::KnownDevice a;
    a.vendor = "TAVIK";
    a.id = "DEV0";
    a.host = "nas-one";
    a.address = "198.18.1.1";
    a.product = "P\"1";
    a.mac = "02:00:5e:10:00:01";
    a.interfaceName = "eth0";
    a.firstSeen = 1700000000;
    a.lastSeen = 1700003600;
    nasknown::KnownDevice b;
    b.vendor = "ESKAL";
    b.id = "DEV22";
    b.address = "198.18.1.200";
    b.lastSeen = 86400;
    const std::vector<nasscan::KnownRow> rows = {{a, true}, {b, false}};
    const struct
    {
        nasscan::Format format;
        std::string printed;
    } cases[] = {
        {nasscan::Format::Table,
         "HOST     IP            PRODUCT  VENDOR  ID     MAC                LAST SEEN             STATE\n"
         "nas-one  198.18.1.1    P\"1      TAVIK   DEV0   02:00:5e:10:00:01  2023-11-14T23:13:20Z  "
         "answering\n"
         "         198.18.1.200           ESKAL   DEV22  -                  1970-01-02T00:00:00Z  not "
         "answering\n"},
        {nasscan::Format::Json,
         "[{\"id\":\"DEV0\",\"ip\":\"198.18.1.1\",\"host\":\"nas-one\",\"product\":\"P\\\"1\",\"vendor\":"
         "\"TAVIK\","
         "\"mac\":\"02:00:5e:10:00:01\",\"interface\":\"eth0\",\"first_seen\":\"2023-11-14T22:13:20Z\","
         "\"last_seen\":\"2023-11-14T23:13:20Z\",\"answering\":true},"
         "{\"id\":\"DEV22\",\"ip\":\"198.18.1.200\",\"host\":\"\",\"product\":\"\",\"vendor\":\"ESKAL\","
         "\"mac\":\"\","
         "\"interface\":\"\",\"first_seen\":\"1970-01-01T00:00:00Z\",\"last_seen\":\"1970-01-02T00:00:00Z\","
         "\"answering\":false}]\n"},
        {nasscan::Format::Csv,
         "id,ip,host,product,vendor,mac,interface,first_seen,last_seen,answering\r\n"
         "DEV0,198.18.1.1,nas-one,\"P\"\"1\",TAVIK,02:00:5e:10:00:01,eth0,2023-11-14T22:13:20Z,"
         "2023-11-14T23:13:20Z,true\r\n"
         "DEV22,198.18.1.200,,,ESKAL,,,1970-01-01T00:00:00Z,1970-01-02T00:00:00Z,false\r\n"},
        {nasscan::Format::Raw, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nasscan::PrintedKnown(c.format, rows), c.printed);
}
