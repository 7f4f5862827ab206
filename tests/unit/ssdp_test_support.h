// Shared by the SSDP parser tests: run the parser over a message held in a heap
// block of exactly its own length (no NUL behind it, so AddressSanitizer sees
// any read past the end) and check what every accepted or dropped record must be.
#ifndef NASFINDER_TESTS_UNIT_SSDP_TEST_SUPPORT_H
#define NASFINDER_TESTS_UNIT_SSDP_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "DeviceRecord.h"
#include "SearchDeviceInfo.h"
#include "protocol/SsdpProtocol.h"

namespace ssdptest
{
struct Parsed
{
    SsdpParseStatus status;
    deviceinfo info;
};

inline const char* StatusName(SsdpParseStatus status)
{
    switch (status)
    {
    case SsdpParseStatus::Accepted:
        return "Accepted";
    case SsdpParseStatus::NoDeviceOs:
        return "NoDeviceOs";
    case SsdpParseStatus::BadLocation:
        return "BadLocation";
    case SsdpParseStatus::BadUsn:
        return "BadUsn";
    case SsdpParseStatus::NotRootDevice:
        return "NotRootDevice";
    case SsdpParseStatus::NoNts:
        return "NoNts";
    case SsdpParseStatus::UnknownStart:
        return "UnknownStart";
    }
    return "?";
}

// Every field is terminated whatever the message held, and life is 60.
inline void ExpectWellFormedRecord(const deviceinfo& info)
{
    EXPECT_EQ(testsupport::EveryFieldTerminated(info).fault, "");
    EXPECT_EQ(info.life, 60);
}

// Parses a copy of the message that has no byte after it. The record starts
// out filled with junk: a dropped message must leave it cleared.
inline Parsed Parse(const std::string& message, const char* sender = "198.18.0.9")
{
    std::unique_ptr<char[]> exact(new char[message.size() == 0 ? 1 : message.size()]);
    std::memcpy(exact.get(), message.data(), message.size());
    Parsed parsed;
    std::memset(static_cast<void*>(&parsed.info), 'J', sizeof(parsed.info));
    parsed.status = ParseSsdpMessage(exact.get(), message.size(), sender, parsed.info);
    ExpectWellFormedRecord(parsed.info);
    if (parsed.status != SsdpParseStatus::Accepted)
    {
        EXPECT_TRUE(testsupport::IsClearedRecord(parsed.info))
            << "a dropped message (" << StatusName(parsed.status) << ") left a filled record";
    }
    return parsed;
}
} // namespace ssdptest

#endif
