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

TEST(FindStringValue, CopiesUpToTheNextAmpersandOrMaxlen)
{
    const char text[] = "id=0A1B&host=nas1&vendor=V1";
    char dest[32] = {0};
    EXPECT_EQ(FindStringValue(text, sizeof(text), dest, 31, "host=", 5), 1);
    EXPECT_STREQ(dest, "nas1");

    char shortDest[32] = {0};
    EXPECT_EQ(FindStringValue(text, sizeof(text), shortDest, 2, "id=", 3), 1);
    EXPECT_STREQ(shortDest, "0A");

    char emptyValue[32] = {0};
    const char empty[] = "id=&host=x";
    EXPECT_EQ(FindStringValue(empty, sizeof(empty), emptyValue, 31, "id=", 3), 1);
    EXPECT_STREQ(emptyValue, "");
}

TEST(FindStringValue, MissingKeyLeavesDestinationUntouched)
{
    const char text[] = "id=0A1B&host=nas1";
    char dest[8] = {'k', 'e', 'e', 'p', '\0', 0, 0, 0};
    EXPECT_EQ(FindStringValue(text, sizeof(text), dest, 7, "vendor=", 7), 0);
    EXPECT_STREQ(dest, "keep");
}

TEST(FindStringValue, StopsAtTheTextLengthAndAtANul)
{
    // The key lies past the given length: not found.
    const char text[] = "host=nas1&id=0A1B";
    char dest[32] = {0};
    EXPECT_EQ(FindStringValue(text, 10, dest, 31, "id=", 3), 0);

    // The value is cut where the given length ends.
    std::vector<char> noNul = {'i', 'd', '=', 'A', 'B', 'C', 'D'};
    EXPECT_EQ(FindStringValue(noNul.data(), 5, dest, 31, "id=", 3), 1);
    EXPECT_STREQ(dest, "AB");

    // A NUL ends the text before the given length.
    const char withNul[] = "id=AB\0host=h";
    char hostDest[32] = {0};
    EXPECT_EQ(FindStringValue(withNul, sizeof(withNul), hostDest, 31, "host=", 5), 0);
}
