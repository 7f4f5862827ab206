// Fuzzes the SSDP message parser with whatever a peer on the LAN could send to
// port 1900 or to a command thread's port.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "DeviceRecord.h"
#include "FuzzCheck.h"
#include "protocol/SsdpProtocol.h"

// The checks live in namespace fuzzcheck, which the fuzz build leaves out of
// coverage: their branches describe the checker, not the code under test.
namespace fuzzcheck
{
namespace
{
const char kSender[] = "198.18.1.77";
const char kOtherSender[] = "198.19.200.3";
// The receive loop hands over at most this many bytes, followed by a zero byte.
constexpr std::size_t kMaxDatagram = 1024;

bool StartsWith(const char* msg, std::size_t len, const char* prefix)
{
    std::size_t n = std::strlen(prefix);
    return len >= n && std::memcmp(msg, prefix, n) == 0;
}

bool Has(const char* msg, std::size_t len, const char* text)
{
    return fuzzcheck::Contains(msg, len, text, std::strlen(text));
}

// What an accepted message must have carried, and where every text came from.
void CheckAccepted(const char* msg, std::size_t len, const deviceinfo& info, const char* sender)
{
    fuzzcheck::CheckRecordFields(info);
    FUZZ_CHECK(Has(msg, len, "VEXA"), "only messages naming the device OS are accepted");
    FUZZ_CHECK(Has(msg, len, "USN:") && Has(msg, len, "uuid:"), "an accepted message has a USN with a uuid");
    if (StartsWith(msg, len, "HTTP"))
    {
        FUZZ_CHECK(info.type == kReportSearchReply, "a search reply has type 1");
    }
    else
    {
        FUZZ_CHECK(StartsWith(msg, len, "NOTIFY"), "only replies and announcements are accepted");
        FUZZ_CHECK(Has(msg, len, "rootdevice"), "only root-device announcements are accepted");
        FUZZ_CHECK(Has(msg, len, "NTS:"), "an announcement needs NTS");
        FUZZ_CHECK(info.type == kSsdpTypeOther || info.type == kReportAlive || info.type == kReportByebye,
                   "an announcement has type 0, 2 or 4");
    }

    // No text is invented: each one is a piece of the message, the address may
    // also be the sender's.
    for (const testsupport::TextField& f : testsupport::kTextFields)
    {
        const char* text = info.*f.member;
        bool fromMessage = fuzzcheck::Contains(msg, len, text, testsupport::FieldLength(text));
        bool isSender = text == info.ip && std::strcmp(info.ip, sender) == 0;
        if (!fromMessage && !isSender)
        {
            std::fprintf(stderr, "field %s holds text that is not in the message\n", f.name);
            std::abort();
        }
    }
    FUZZ_CHECK(info.ip[0] != '\0', "an accepted record always has an address");
}
} // namespace
} // namespace fuzzcheck

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace fuzzcheck;
    // The parser must stop at len: no terminator follows the copy.
    std::unique_ptr<char[]> exact = ExactCopy(data, size);
    const char* text = size == 0 ? nullptr : exact.get();

    deviceinfo info;
    // Garbage in the record first: the parser must not leave any of it behind.
    std::memset(static_cast<void*>(&info), 0x5A, sizeof(info));
    SsdpParseStatus status = ParseSsdpMessage(text, size, kSender, info);
    std::size_t visible = text == nullptr ? 0 : ::strnlen(text, size);
    if (status == SsdpParseStatus::Accepted)
    {
        CheckAccepted(text, visible, info, kSender);

        // Only the address may depend on who sent the datagram.
        deviceinfo other;
        FUZZ_CHECK(ParseSsdpMessage(text, size, kOtherSender, other) == SsdpParseStatus::Accepted,
                   "the sender does not decide acceptance");
        deviceinfo a, b;
        std::memcpy(static_cast<void*>(&a), &info, sizeof(a));
        std::memcpy(static_cast<void*>(&b), &other, sizeof(b));
        std::memset(a.ip, 0, sizeof(a.ip));
        std::memset(b.ip, 0, sizeof(b.ip));
        FUZZ_CHECK(std::memcmp(&a, &b, sizeof(a)) == 0, "only ip depends on the sender");
        if (std::strcmp(info.ip, kSender) != 0)
            FUZZ_CHECK(std::strcmp(info.ip, other.ip) == 0,
                       "an address from LOCATION is the same for any sender");
    }
    else
    {
        FUZZ_CHECK(testsupport::IsClearedRecord(info), "a dropped message leaves a cleared record");
    }

    // The same bytes as the receive loop hands them over: cut to 1024 bytes in a
    // zeroed buffer one byte longer. Within that limit the result is the same.
    char buffer[kMaxDatagram + 1];
    std::memset(buffer, 0, sizeof(buffer));
    std::size_t count = size < kMaxDatagram ? size : kMaxDatagram;
    if (count != 0)
        std::memcpy(buffer, data, count);
    deviceinfo looped;
    SsdpParseStatus loopedStatus = ParseSsdpMessage(buffer, count, kSender, looped);
    if (size <= kMaxDatagram)
    {
        FUZZ_CHECK(loopedStatus == status, "a terminated copy parses the same");
        FUZZ_CHECK(std::memcmp(&looped, &info, sizeof(info)) == 0, "a terminated copy gives the same record");
    }
    else if (loopedStatus == SsdpParseStatus::Accepted)
    {
        CheckAccepted(buffer, ::strnlen(buffer, count), looped, kSender);
    }
    else
    {
        FUZZ_CHECK(testsupport::IsClearedRecord(looped), "a dropped message leaves a cleared record");
    }
    return 0;
}
