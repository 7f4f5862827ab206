// The broadcast reply parser beyond single messages (those are fixture pairs in
// tests/fixtures/broadcast/): a record reused across replies, and the key
// lookup on its own. Every datagram is handed over in a heap block of exactly
// its own size, so AddressSanitizer catches a read past it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/BroadcastProtocol.h"
#include "DeviceRecord.h"

namespace
{
constexpr int kReplySize = 148;
constexpr int kTextOffset = 20;

std::vector<char> Reply(const std::string& text, std::uint8_t code = 12, std::uint8_t type = 1)
{
    std::vector<char> bytes(kReplySize, '\0');
    bytes[0] = static_cast<char>(code);
    bytes[1] = static_cast<char>(type);
    std::memset(&bytes[4], 0xFF, 4);
    std::memcpy(&bytes[kTextOffset], text.data(), std::min<std::size_t>(text.size(), 128));
    return bytes;
}

BroadcastReplyStatus Parse(const std::vector<char>& bytes, deviceinfo& info,
                           const char* sender = "198.18.0.7")
{
    return ParseBroadcastReply(bytes.data(), static_cast<int>(bytes.size()), sender, info);
}
} // namespace

TEST(BroadcastReply, RecordIsRebuiltForEveryReply)
{
    // A record reused for a second reply must not keep values of the first.
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("id=first&host=h1&vendor=V1&product=P1", 12, 2), info),
              BroadcastReplyStatus::Accepted);
    ASSERT_EQ(Parse(Reply("id=2"), info), BroadcastReplyStatus::Accepted);
    const deviceinfo expected = testsupport::MakeRecord().Id("2").Ip("198.18.0.7").Type(1);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof(info)), 0);
}

TEST(FindStringValue, CopiesTheValueWithinTheTextAndMaxlen)
{
    // The bytes past a given length are in the text's block: there, and not
    // to be read.
    constexpr std::size_t kAll = std::string::npos;
    const struct
    {
        const char* what;
        std::string text;
        std::size_t length; // kAll: the whole text
        const char* key;
        int maxlen;
        const char* before; // what the destination holds before the call
        int found;
        const char* after;
    } rows[] = {
        {"up to the next ampersand", "id=0A1B&host=nas1&vendor=V1", kAll, "host=", 31, "", 1, "nas1"},
        {"cut to maxlen", "id=0A1B&host=nas1&vendor=V1", kAll, "id=", 2, "", 1, "0A"},
        {"an empty value", "id=&host=x", kAll, "id=", 31, "", 1, ""},
        {"a missing key leaves the destination untouched", "id=0A1B&host=nas1", kAll, "vendor=", 7, "keep", 0,
         "keep"},
        {"the key lies past the given length", "host=nas1&id=0A1B", 10, "id=", 31, "keep", 0, "keep"},
        {"the value is cut where the given length ends", "id=ABCD", 5, "id=", 31, "", 1, "AB"},
        {"a NUL ends the text before the given length", std::string("id=AB\0host=h", 12), kAll, "host=", 31,
         "keep", 0, "keep"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        std::vector<char> text(row.text.begin(), row.text.end());
        char dest[32] = {0};
        std::strcpy(dest, row.before);
        const int keylen = static_cast<int>(std::strlen(row.key));
        EXPECT_EQ(FindStringValue(text.data(), row.length == kAll ? text.size() : row.length, dest,
                                  row.maxlen, row.key, keylen),
                  row.found);
        EXPECT_STREQ(dest, row.after);
    }
}
