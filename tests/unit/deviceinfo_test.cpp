// The device record and the search packet cross the library boundary as raw
// bytes, so these tests read them as bytes, not through the struct's members.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/BroadcastProtocol.h"
#include "SearchDeviceInfo.h"

#include "DeviceRecord.h"

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(const deviceinfo& info)
{
    Bytes out(sizeof(info));
    std::memcpy(out.data(), &info, sizeof(info));
    return out;
}

using FieldRef = char (&)[kDeviceFieldSize];
using testsupport::kTextFieldCount;
using testsupport::kTextFields;

deviceinfo Sample()
{
    return testsupport::MakeRecord()
        .Id("0A1B")
        .Ip("198.18.0.7")
        .Host("nas1")
        .Product("N2")
        .Extra("r5")
        .OsVersion("2.1")
        .Factory("V1")
        .Type(1);
}

void ExpectEmptyRecord(const deviceinfo& info)
{
    Bytes bytes = BytesOf(info);
    for (std::size_t i = 0; i < 224; ++i)
        ASSERT_EQ(bytes[i], 0) << "text byte " << i;
    std::int32_t type;
    std::memcpy(&type, &bytes[224], sizeof(type));
    std::int64_t life;
    std::memcpy(&life, &bytes[232], sizeof(life));
    EXPECT_EQ(type, 0);
    EXPECT_EQ(life, 60);
}
} // namespace

TEST(DeviceInfo, NewAndClearedRecordsAreEmptyWithLife60)
{
    deviceinfo fresh;
    ExpectEmptyRecord(fresh);

    deviceinfo used = Sample();
    used.life = 3;
    std::memset(used.host, 'x', sizeof(used.host)); // even a field without its NUL
    used.clear();
    ExpectEmptyRecord(used);
    EXPECT_TRUE(fresh.compare(used));
}

TEST(DeviceInfo, CompareIgnoresLifeButNotTypeOrAnyText)
{
    deviceinfo a = Sample();
    deviceinfo b = Sample();
    b.life = 7;
    EXPECT_TRUE(a.compare(b));
    EXPECT_TRUE(b.compare(a));

    // The same device announcing alive (2) and leaving (4) must not look equal.
    deviceinfo alive = Sample();
    alive.type = 2;
    deviceinfo byebye = Sample();
    byebye.type = 4;
    EXPECT_FALSE(alive.compare(byebye));

    for (const testsupport::TextField& f : kTextFields)
    {
        deviceinfo other = Sample();
        FieldRef field = other.*f.member;
        field[0] = static_cast<char>(field[0] + 1);
        EXPECT_FALSE(a.compare(other)) << f.name;
    }
}

TEST(DeviceInfo, CompareReadsTextsAsBoundedStrings)
{
    // Bytes behind a field's NUL are not part of it.
    deviceinfo a = Sample();
    deviceinfo b = Sample();
    b.host[20] = 'z';
    EXPECT_TRUE(a.compare(b));

    // A field filled to all 32 bytes without a NUL is compared over those 32 only.
    std::memset(a.id, 'A', sizeof(a.id));
    std::memset(b.id, 'A', sizeof(b.id));
    EXPECT_TRUE(a.compare(b));
    CopyDeviceField(b.ip, "198.18.0.8");
    EXPECT_FALSE(a.compare(b));
}

TEST(DeviceInfo, CompareIPLooksAtTheAddressAlone)
{
    deviceinfo a = Sample();
    deviceinfo b; // differs in everything but ip
    CopyDeviceField(b.ip, "198.18.0.7");
    b.type = 9;
    b.life = 1;
    EXPECT_TRUE(a.compareIP(b));

    deviceinfo c = Sample();
    CopyDeviceField(c.ip, "198.18.0.70");
    EXPECT_FALSE(a.compareIP(c));
    EXPECT_FALSE(a.compare(c));
}

TEST(DeviceInfo, AlterValueCopiesTextsTypeAndLife)
{
    deviceinfo target;
    const char longText[] = "a-long-value-of-thirty-one-char"; // fills a field to its NUL
    static_assert(sizeof(longText) == kDeviceFieldSize, "31 characters and the NUL");
    for (const testsupport::TextField& f : kTextFields)
        CopyDeviceField(target.*f.member, longText);
    target.type = 2;
    target.life = 60;

    deviceinfo source = Sample();
    source.type = 4;
    source.life = 12;
    target.alterValue(source);

    EXPECT_TRUE(target.compare(source));
    EXPECT_EQ(target.type, 4);
    EXPECT_EQ(target.life, 12);
    // The shorter values are zero-filled behind their NUL: the whole block equals
    // the source, so a receiver copying 240 bytes sees no trace of the old texts.
    EXPECT_EQ(BytesOf(target), BytesOf(source));
}

TEST(DeviceInfo, CopyDeviceFieldKeepsTheTerminatorInsideTheField)
{
    char field[kDeviceFieldSize];
    std::memset(field, 'q', sizeof(field));
    std::string forty(40, 'p');
    CopyDeviceField(field, forty.c_str(), forty.size());
    EXPECT_EQ(std::string(field), std::string(31, 'p'));
    EXPECT_EQ(field[31], '\0');

    CopyDeviceField(field, "abc");
    EXPECT_STREQ(field, "abc");
    for (std::size_t i = 3; i < sizeof(field); ++i)
        EXPECT_EQ(field[i], '\0') << i;

    CopyDeviceField(field, nullptr, 5);
    EXPECT_EQ(field[0], '\0');
}

TEST(DhcpPacket, StandardSearchPacketGoldenBytes)
{
    // clang-format off
    const std::uint8_t golden[148] = {
        0x0B, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00,
    };
    // clang-format on
    dhcppacket packet = MakeStandardSearchPacket();
    std::uint8_t bytes[148];
    std::memcpy(bytes, &packet, sizeof(bytes));
    for (std::size_t i = 0; i < sizeof(bytes); ++i)
        EXPECT_EQ(bytes[i], golden[i]) << "byte " << i;
}
