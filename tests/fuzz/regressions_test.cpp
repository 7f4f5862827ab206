// Hostile inputs that must give a clear result (dropped, an error, a bounded
// table), and regression tests named after the faults that fuzzing found. Built
// in every configuration, so the sanitizer builds run them too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BroadcastProtocol.h"
#include "FuzzCheck.h"
#include "SsdpProtocol.h"

#include "JsonCheck.h"

#ifdef NASFINDER_HAVE_SCAN_OUTPUT
#include "ScanOutput.h"
#endif

#ifdef NASFINDER_HAVE_LANGUAGE_PARSER
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "LanguageFile.h"
#endif

namespace
{
const char kSender[] = "198.18.1.50";

// Every text of the record is terminated inside its field and zero after it.
void ExpectTerminated(const deviceinfo& info)
{
    fuzzcheck::NamedField fields[7];
    fuzzcheck::Fields(info, fields);
    for (const fuzzcheck::NamedField& f : fields)
    {
        std::size_t len = fuzzcheck::FieldLen(f.bytes);
        EXPECT_LE(len, kDeviceFieldMaxLen) << f.name;
        for (std::size_t i = len; i < kDeviceFieldSize; ++i)
            EXPECT_EQ(f.bytes[i], '\0') << f.name << " byte " << i;
    }
}

std::string Message(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out + "\r\n";
}

SsdpParseStatus Parse(const std::string& msg, deviceinfo& info)
{
    return ParseSsdpMessage(msg.data(), msg.size(), kSender, info);
}
} // namespace

TEST(HostileSsdp, ServerWithTwoHundredSlashesFillsNoFieldPastItsLimit)
{
    std::string slashes(200, '/');
    deviceinfo info;
    ASSERT_EQ(Parse(Message({"HTTP/1.1 200 OK", "LOCATION: http://198.18.1.2:80/",
                             "SERVER: VEXA/2.1, UPnP/1.0, V" + slashes, "USN: uuid:s::x"}),
                    info),
              SsdpParseStatus::Accepted);
    ExpectTerminated(info);
    EXPECT_STREQ(info.factory, "V");
    EXPECT_STREQ(info.host, "");
    EXPECT_STREQ(info.product, "");
    // The rest of a 63-character description after three slashes.
    EXPECT_EQ(std::string(info.extra), std::string(31, '/'));
}

TEST(HostileSsdp, LocationAtTheVeryEndIsDroppedAndLeavesACleanRecord)
{
    std::string msg = "HTTP/1.1 200 OK\r\nSERVER: VEXA/1, a, b/c/d\r\nUSN: uuid:e::f\r\nLOCATION:";
    deviceinfo info;
    EXPECT_EQ(Parse(msg, info), SsdpParseStatus::BadLocation);
    EXPECT_TRUE(fuzzcheck::IsClearedRecord(info));
}

TEST(HostileSsdp, NulInTheMiddleHidesEverythingAfterIt)
{
    std::string msg = Message({"HTTP/1.1 200 OK", "SERVER: VEXA/2.1, UPnP/1.0, V/h/p"});
    msg += std::string(1, '\0') + Message({"USN: uuid:hidden::x"});
    deviceinfo info;
    EXPECT_EQ(Parse(msg, info), SsdpParseStatus::BadUsn);
    EXPECT_TRUE(fuzzcheck::IsClearedRecord(info));
}

TEST(HostileSsdp, HeadersWithoutValuesAreDropped)
{
    deviceinfo info;
    EXPECT_NE(Parse(Message({"HTTP/1.1 200 OK", "LOCATION:", "SERVER:", "USN:", "NTS:", "VEXA"}), info),
              SsdpParseStatus::Accepted);
    EXPECT_TRUE(fuzzcheck::IsClearedRecord(info));
}

TEST(HostileSsdp, MessageCutAt1024BytesInsideAHeaderKeepsWhatCameBefore)
{
    // Cut inside the padding header, and inside the SERVER line that follows it.
    std::string msg = Message({"HTTP/1.1 200 OK", "LOCATION: http://198.18.4.4:5000/d.xml",
                               "SERVER: VEXA/2.1, UPnP/1.0, TAVIK/nas/P", "USN: uuid:cut::urn:x",
                               "X-PADDING: " + std::string(1200, 'p')});
    std::string second =
        Message({"HTTP/1.1 200 OK", "USN: uuid:cut2::urn:x", "X-PADDING: " + std::string(900, 'p'),
                 "SERVER: VEXA/2.1, UPnP/1.0, TAVIK/" + std::string(200, 'h')});
    for (const std::string& m : {msg, second})
    {
        char buffer[1025];
        std::memset(buffer, 0, sizeof(buffer));
        std::memcpy(buffer, m.data(), 1024);
        deviceinfo info;
        ASSERT_EQ(ParseSsdpMessage(buffer, 1024, kSender, info), SsdpParseStatus::Accepted);
        ExpectTerminated(info);
    }
    deviceinfo info;
    ParseSsdpMessage(msg.data(), 1024, kSender, info);
    EXPECT_STREQ(info.ip, "198.18.4.4");
    EXPECT_STREQ(info.id, "cut");
    EXPECT_STREQ(info.factory, "TAVIK");
    EXPECT_STREQ(info.host, "nas");
    // The description ends only at a CR; cut before it, it fills nothing.
    ParseSsdpMessage(second.data(), 1024, kSender, info);
    EXPECT_STREQ(info.ip, kSender);
    EXPECT_STREQ(info.osversion, "2.1");
    EXPECT_STREQ(info.factory, "");
}

TEST(HostileBroadcast, TextAreaWithoutNulStopsAtThePacketEnd)
{
    dhcppacket packet = MakeStandardSearchPacket();
    packet.code = kSearchReplyCode;
    std::memset(packet.text, 'x', sizeof(packet.text));
    std::memcpy(packet.text + sizeof(packet.text) - 8, "&host=ab", 8);
    // Exactly 148 bytes on the heap: a read past them is an AddressSanitizer error.
    std::vector<char> bytes(reinterpret_cast<const char*>(&packet),
                            reinterpret_cast<const char*>(&packet) + sizeof(packet));
    deviceinfo info;
    ASSERT_EQ(ParseBroadcastReply(bytes.data(), static_cast<int>(bytes.size()), kSender, info),
              BroadcastReplyStatus::Accepted);
    ExpectTerminated(info);
    EXPECT_STREQ(info.host, "ab");
}

// The fuzz target's verdict on the scan output is only as good as its
// validator: it must refuse what a strict consumer refuses.
TEST(JsonValidator, RefusesWhatAStrictParserRefuses)
{
    const char* const bad[] = {
        "\"raw\ttab\"",      // a raw control character inside a string
        "\"\xff\"",          // an invalid UTF-8 byte
        "\"\xed\xa0\x80\"",  // an encoded surrogate
        "\"\xc0\xaf\"",      // an overlong form
        "\"\\ud800\"",       // a lone high surrogate escape
        "\"\\udc00\"",       // a lone low surrogate escape
        "\"\\x41\"",         // an escape JSON does not have
        "{\"a\":1,\"a\":2}", // a duplicate key
        "{\"a\":1} x",       // trailing text
        "[1,]",              // a trailing comma
        "01",                // a leading zero
        "\"open",            // an unterminated string
    };
    for (const char* text : bad)
    {
        jsoncheck::Value value;
        EXPECT_FALSE(jsoncheck::Parse(text, value)) << text;
    }
    jsoncheck::Value value;
    ASSERT_TRUE(jsoncheck::Parse("[{\"id\":\"\\u00e9\\ud83d\\ude00\\u0000x\",\"type\":-1}]", value));
    ASSERT_EQ(value.items.size(), 1u);
    EXPECT_EQ(value.items[0].Find("id")->text, std::string("\xc3\xa9\xf0\x9f\x98\x80\0x", 8));
    EXPECT_EQ(value.items[0].Find("type")->text, "-1");
}

#ifdef NASFINDER_HAVE_SCAN_OUTPUT
TEST(HostileScanOutput, EveryByteValueInEveryFieldGivesValidJson)
{
    deviceinfo record;
    char* fields[] = {record.id,    record.ip,        record.host,   record.product,
                      record.extra, record.osversion, record.factory};
    for (int b = 0; b < 256; ++b)
    {
        for (char* f : fields)
            std::memset(f, b, kDeviceFieldSize);
        jsoncheck::Value value;
        std::string error;
        ASSERT_TRUE(jsoncheck::Parse(nasscan::RecordToJson(record, true, 1900), value, &error))
            << "byte " << b << ": " << error;
        ASSERT_EQ(value.kind, jsoncheck::Value::Object);
        ASSERT_EQ(value.members.size(), 9u);
    }
}
#endif

#ifdef NASFINDER_HAVE_LANGUAGE_PARSER
namespace
{
double SecondsToParse(const QByteArray& data, LanguageParseResult& result)
{
    auto start = std::chrono::steady_clock::now();
    result = ParseLanguageData(data);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

TEST(HostileLanguageFile, NestingOneHundredThousandLevelsDeepEndsWithABoundedResult)
{
    QByteArray data = "<LanguageCFG>";
    data += QByteArray("<NODE>").repeated(100000);
    data += "<KEY KeyString=\"deep\" String=\"d\"/>";
    data += QByteArray("</NODE>").repeated(100000);
    data += "</LanguageCFG>";
    LanguageParseResult result;
    EXPECT_LT(SecondsToParse(data, result), 20.0);
    EXPECT_LE(result.table.size(), 1u);
    if (!result.error)
    {
        EXPECT_EQ(result.completions, 1);
    }
}

TEST(HostileLanguageFile, BillionLaughsIsRefusedWithoutExpanding)
{
    QByteArray data = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    for (int i = 1; i < 10; ++i)
    {
        QByteArray ref = i == 1 ? QByteArray("&lol;") : "&lol" + QByteArray::number(i - 1) + ";";
        data += " <!ENTITY lol" + QByteArray::number(i) + " \"" + ref.repeated(10) + "\">\n";
    }
    data += "]>\n<LanguageCFG><NODE><KEY KeyString=\"List1\" String=\"&lol9;\"/></NODE></LanguageCFG>\n";
    LanguageParseResult result;
    EXPECT_LT(SecondsToParse(data, result), 5.0);
    EXPECT_TRUE(result.error.has_value());
    EXPECT_TRUE(result.table.empty());
    EXPECT_EQ(result.completions, 0);
}

TEST(HostileLanguageFile, ExternalEntityIsNeverLoaded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile secret(dir.filePath("secret.txt"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("SECRET-CONTENT");
    secret.close();
    QByteArray data = "<?xml version=\"1.0\"?>\n<!DOCTYPE LanguageCFG [\n <!ENTITY xxe SYSTEM \"file://" +
                      QFile::encodeName(secret.fileName()) +
                      "\">\n]>\n<LanguageCFG><NODE><KEY KeyString=\"List1\" String=\"&xxe;\"/></NODE>"
                      "</LanguageCFG>\n";
    LanguageParseResult result = ParseLanguageData(data);
    EXPECT_TRUE(result.error.has_value());
    for (const auto& item : result.table)
        EXPECT_FALSE(item.second.String && item.second.String->contains(QStringLiteral("SECRET")));
}

TEST(HostileLanguageFile, EmptyBinaryAndTruncatedFilesGiveAnErrorAndNoCompletion)
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    const QByteArray full =
        "<LanguageCFG><NODE><KEY KeyString=\"List1\" String=\"Host\"/></NODE></LanguageCFG>";
    for (const QByteArray& data : {QByteArray(), binary, full.left(full.size() - 5)})
    {
        LanguageParseResult result = ParseLanguageData(data);
        EXPECT_TRUE(result.error.has_value());
        EXPECT_EQ(result.completions, 0);
    }
}
#endif
