// Parsing of the 148-byte broadcast replies. Every datagram is handed over in a
// heap block of exactly its own size, so AddressSanitizer catches a read past it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "BroadcastProtocol.h"
#include "DeviceRecord.h"
#include "SearchDeviceBroadcastThread.h"

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

TEST(BroadcastReply, OnlyExactly148BytesAreLookedAt)
{
    std::vector<char> reply = Reply("id=0A1B&host=nas1");
    deviceinfo info;
    std::vector<char> shorter(reply.begin(), reply.end() - 1);
    EXPECT_EQ(Parse(shorter, info), BroadcastReplyStatus::WrongLength);
    std::vector<char> longer = reply;
    longer.push_back('\0');
    EXPECT_EQ(Parse(longer, info), BroadcastReplyStatus::WrongLength);
    EXPECT_EQ(Parse(reply, info), BroadcastReplyStatus::Accepted);
}

TEST(BroadcastReply, CodeOtherThan12IsNotADevice)
{
    // Another host's search request (code 11) arrives on port 67 as well.
    deviceinfo info;
    EXPECT_EQ(Parse(Reply("id=0A1B", 11), info), BroadcastReplyStatus::NotDevice);
    EXPECT_EQ(Parse(Reply("id=0A1B", 0), info), BroadcastReplyStatus::NotDevice);
    EXPECT_EQ(Parse(Reply("id=0A1B", 13), info), BroadcastReplyStatus::NotDevice);
}

TEST(BroadcastReply, FullReplyFillsTheRecord)
{
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("id=0A1B&host=nas1&vendor=V1&product=N2"), info), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.id, "0A1B");
    EXPECT_STREQ(info.host, "nas1");
    EXPECT_STREQ(info.factory, "V1");
    EXPECT_STREQ(info.product, "N2");
    EXPECT_STREQ(info.ip, "198.18.0.7");
    EXPECT_STREQ(info.extra, "");
    EXPECT_STREQ(info.osversion, "");
    EXPECT_EQ(info.type, 1);
    EXPECT_EQ(info.life, 60);
}

TEST(BroadcastReply, MissingKeysLeaveTheirFieldsEmpty)
{
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("id=A&host=B"), info), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.id, "A");
    EXPECT_STREQ(info.host, "B");
    EXPECT_STREQ(info.factory, "");
    EXPECT_STREQ(info.product, "");

    ASSERT_EQ(Parse(Reply(""), info), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.id, "");
    EXPECT_STREQ(info.ip, "198.18.0.7");
}

TEST(BroadcastReply, IpComesFromTheSenderNeverFromTheText)
{
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("ip=203.0.113.9&id=X"), info, "198.18.3.4"), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.ip, "198.18.3.4");
}

TEST(BroadcastReply, LongValueIsCutTo31Characters)
{
    std::string product40 = "P123456789abcdefghijklmnopqrstuvwxyzABCD";
    ASSERT_EQ(product40.size(), 40u);
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("id=1&product=" + product40 + "&host=h"), info), BroadcastReplyStatus::Accepted);
    EXPECT_EQ(std::string(info.product), product40.substr(0, 31));
    EXPECT_STREQ(info.host, "h");
    EXPECT_EQ(testsupport::EveryFieldTerminated(info).fault, "");
}

TEST(BroadcastReply, LastPairRunsToTheEndOfTheText)
{
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("host=nas1&vendor=V1"), info), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.factory, "V1");
}

TEST(BroadcastReply, KeyIsFoundAsAPlainSubstring)
{
    // "id=" first occurs inside "uuid=": the value of that pair wins.
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("uuid=X&id=Y"), info), BroadcastReplyStatus::Accepted);
    EXPECT_STREQ(info.id, "X");
}

TEST(BroadcastReply, TypeBytePassesThroughUnchanged)
{
    deviceinfo info;
    ASSERT_EQ(Parse(Reply("id=1", 12, 4), info), BroadcastReplyStatus::Accepted);
    EXPECT_EQ(info.type, 4);
    // The byte is unsigned on the wire: 0xFF must not turn into -1.
    ASSERT_EQ(Parse(Reply("id=1", 12, 0xFF), info), BroadcastReplyStatus::Accepted);
    EXPECT_EQ(info.type, 255);
    ASSERT_EQ(Parse(Reply("id=1", 12, 0), info), BroadcastReplyStatus::Accepted);
    EXPECT_EQ(info.type, 0);
}

TEST(BroadcastReply, TextAreaWithoutAnyNulIsNeverReadPastThePacket)
{
    // 128 text bytes and no NUL anywhere: the last pair ends with the packet.
    std::string text = "id=" + std::string(100, 'i') + "&product=";
    const std::string product(128 - text.size(), 'Z');
    text += product;
    ASSERT_EQ(text.size(), 128u);
    std::vector<char> reply = Reply(text);
    ASSERT_EQ(std::memchr(&reply[kTextOffset], '\0', 128), nullptr);

    deviceinfo info;
    ASSERT_EQ(Parse(reply, info), BroadcastReplyStatus::Accepted);
    EXPECT_EQ(std::string(info.id), std::string(31, 'i'));
    EXPECT_EQ(std::string(info.product), product);
    EXPECT_EQ(testsupport::EveryFieldTerminated(info).fault, "");
}

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

TEST(FindStringValue, BroadcastThreadHelperReadsAtMost128Bytes)
{
    // The thread's own helper takes a bare text pointer; it must bound the search
    // by the packet's 128-byte text area.
    std::vector<char> text(128, 'x');
    const char tail[] = "vendor=V1";
    std::memcpy(&text[128 - (sizeof(tail) - 1)], tail, sizeof(tail) - 1);
    CSearchDeviceBroadcastThread thread;
    char dest[32] = {0};
    char key[] = "vendor=";
    EXPECT_EQ(thread.FindStringValue(text.data(), dest, 31, key, 7), 1);
    EXPECT_STREQ(dest, "V1");
}
