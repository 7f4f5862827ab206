// Hostile inputs that must give a clear result (an error, a bounded table, valid
// output), and regression tests named after the faults that fuzzing found. The
// hostile datagrams of the two search protocols are fixture pairs in
// tests/fixtures/, where the unit tests and the fuzz seeds both take them.
// Built in every configuration, so the sanitizer builds run them too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
