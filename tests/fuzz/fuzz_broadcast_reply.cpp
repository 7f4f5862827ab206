// Fuzzes the broadcast reply handling: the length and code checks, the key
// lookups over the 148-byte packet, and FindStringValue with any key and limit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "protocol/BroadcastProtocol.h"
#include "FuzzCheck.h"

// The checks live in namespace fuzzcheck, which the fuzz build leaves out of
// coverage: their branches describe the checker, not the code under test.
namespace fuzzcheck
{
namespace
{
const char kSender[] = "198.18.3.14";

struct KeyField
{
    const char* key;
    const char* value;
};

void CheckAcceptedReply(const std::uint8_t* data, const deviceinfo& info)
{
    fuzzcheck::CheckRecordFields(info);
    FUZZ_CHECK(info.type == data[1], "the record's type is the reply's type byte");
    FUZZ_CHECK(std::strcmp(info.ip, kSender) == 0, "the address is the datagram's sender, never the text");
    FUZZ_CHECK(info.extra[0] == '\0' && info.osversion[0] == '\0',
               "a broadcast reply has no extra or osversion");

    const char* text = reinterpret_cast<const char*>(data) + offsetof(dhcppacket, text);
    std::size_t textLen = ::strnlen(text, sizeof(dhcppacket::text));
    const KeyField keys[] = {
        {"id=", info.id}, {"host=", info.host}, {"vendor=", info.factory}, {"product=", info.product}};
    for (const KeyField& k : keys)
    {
        std::size_t n = std::strlen(k.value);
        if (n == 0)
            continue;
        FUZZ_CHECK(std::memchr(k.value, '&', n) == nullptr, "a value ends at the next '&'");
        char pair[64];
        std::size_t keyLen = std::strlen(k.key);
        std::memcpy(pair, k.key, keyLen);
        std::memcpy(pair + keyLen, k.value, n);
        FUZZ_CHECK(fuzzcheck::Contains(text, textLen, pair, keyLen + n),
                   "a value follows its key in the text");
    }
}

// FindStringValue on its own, with a key and a limit taken from the input: the
// destination is exactly limit + 1 bytes, so a write past the limit is caught.
void FuzzFindStringValue(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    std::size_t keyLen = data[0] % 9;
    int maxlen = static_cast<int>((data[0] >> 3) % 32);
    if (size < 1 + keyLen)
        return;
    const char* key = reinterpret_cast<const char*>(data + 1);
    std::size_t textLen = size - 1 - keyLen;
    std::unique_ptr<char[]> text(new char[textLen == 0 ? 1 : textLen]);
    if (textLen != 0)
        std::memcpy(text.get(), data + 1 + keyLen, textLen);
    std::unique_ptr<char[]> dest(new char[static_cast<std::size_t>(maxlen) + 1]);
    std::memset(dest.get(), 0, static_cast<std::size_t>(maxlen) + 1);

    int found = FindStringValue(text.get(), textLen, dest.get(), maxlen, key, static_cast<int>(keyLen));
    FUZZ_CHECK(dest[static_cast<std::size_t>(maxlen)] == '\0', "the value never reaches past maxlen");
    std::size_t n = ::strnlen(dest.get(), static_cast<std::size_t>(maxlen) + 1);
    if (found == 0)
    {
        FUZZ_CHECK(n == 0, "an absent key leaves the destination alone");
        return;
    }
    FUZZ_CHECK(found == 1 && keyLen > 0, "only a real key is found");
    FUZZ_CHECK(std::memchr(dest.get(), '&', n) == nullptr, "a value ends at the next '&'");
    std::size_t visible = ::strnlen(text.get(), textLen);
    std::unique_ptr<char[]> pair(new char[keyLen + n]);
    std::memcpy(pair.get(), key, keyLen);
    std::memcpy(pair.get() + keyLen, dest.get(), n);
    FUZZ_CHECK(fuzzcheck::Contains(text.get(), visible, pair.get(), keyLen + n),
               "the value follows the key inside the text's first NUL");
}
} // namespace
} // namespace fuzzcheck

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace fuzzcheck;
    std::unique_ptr<char[]> exact = ExactCopy(data, size);

    deviceinfo info;
    BroadcastReplyStatus status =
        ParseBroadcastReply(size == 0 ? nullptr : exact.get(), static_cast<int>(size), kSender, info);
    if (size != sizeof(dhcppacket))
        FUZZ_CHECK(status == BroadcastReplyStatus::WrongLength, "only 148-byte datagrams are replies");
    else if (data[0] != kSearchReplyCode)
        FUZZ_CHECK(status == BroadcastReplyStatus::NotDevice, "only code 12 is a device reply");
    else
        FUZZ_CHECK(status == BroadcastReplyStatus::Accepted, "a 148-byte datagram with code 12 is a reply");

    if (status == BroadcastReplyStatus::Accepted)
        CheckAcceptedReply(data, info);
    else
        FUZZ_CHECK(testsupport::IsClearedRecord(info), "a dropped reply leaves a cleared record");

    FuzzFindStringValue(data, size);
    return 0;
}
