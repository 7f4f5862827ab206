// Device records for the tests, the fuzz targets and the benchmarks: one builder
// that fills a record from texts by field name, and one check that every text
// field is terminated the way receivers rely on. Free of GoogleTest, so a fuzz
// target can abort on a failed check and a benchmark can build its devices.
#ifndef NASFINDER_TESTS_SUPPORT_DEVICERECORD_H
#define NASFINDER_TESTS_SUPPORT_DEVICERECORD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "SearchDeviceInfo.h"

namespace testsupport
{
// A text field of the record under its member name.
struct TextField
{
    const char* name;
    char (deviceinfo::*member)[kDeviceFieldSize];
};

// The seven text fields in the order of their offsets (0, 32, ... 192).
inline constexpr TextField kTextFields[] = {
    {"id", &deviceinfo::id},           {"ip", &deviceinfo::ip},       {"host", &deviceinfo::host},
    {"product", &deviceinfo::product}, {"extra", &deviceinfo::extra}, {"osversion", &deviceinfo::osversion},
    {"factory", &deviceinfo::factory},
};
inline constexpr std::size_t kTextFieldCount = std::size(kTextFields);
static_assert(kTextFieldCount * kDeviceFieldSize == offsetof(deviceinfo, type), "every text field is listed");

// A record filled by field name:
//   deviceinfo d = MakeRecord().Id("a").Ip("198.18.1.1").Factory("TAVIK");
// Texts not named stay empty, life is 60 and the type is a search reply unless
// set. A text is copied as the library copies it: up to its first NUL and at
// most 31 characters.
class RecordBuilder
{
public:
    RecordBuilder() { m_record.type = kReportSearchReply; }

    RecordBuilder& Id(std::string_view text) { return Text(m_record.id, text); }
    RecordBuilder& Ip(std::string_view text) { return Text(m_record.ip, text); }
    RecordBuilder& Host(std::string_view text) { return Text(m_record.host, text); }
    RecordBuilder& Product(std::string_view text) { return Text(m_record.product, text); }
    RecordBuilder& Extra(std::string_view text) { return Text(m_record.extra, text); }
    RecordBuilder& OsVersion(std::string_view text) { return Text(m_record.osversion, text); }
    RecordBuilder& Factory(std::string_view text) { return Text(m_record.factory, text); }
    RecordBuilder& Type(std::int32_t type)
    {
        m_record.type = type;
        return *this;
    }
    RecordBuilder& Life(std::int64_t life)
    {
        m_record.life = life;
        return *this;
    }

    // Byte for byte, so that the alignment gap stays zero in the copy too: tests
    // compare whole records with memcmp.
    operator deviceinfo() const
    {
        deviceinfo out;
        std::memcpy(static_cast<void*>(&out), &m_record, sizeof(out));
        return out;
    }

private:
    RecordBuilder& Text(char (&field)[kDeviceFieldSize], std::string_view text)
    {
        CopyDeviceField(field, text.data(), text.size());
        return *this;
    }

    deviceinfo m_record;
};

inline RecordBuilder MakeRecord()
{
    return RecordBuilder();
}

// Length of a field's text, or kDeviceFieldSize when the field holds no NUL.
inline std::size_t FieldLength(const char* field)
{
    const void* nul = std::memchr(field, '\0', kDeviceFieldSize);
    return nul == nullptr ? kDeviceFieldSize
                          : static_cast<std::size_t>(static_cast<const char*>(nul) - field);
}

// What EveryFieldTerminated found: true, or false with the first fault in words.
struct FieldCheck
{
    std::string fault;
    explicit operator bool() const { return fault.empty(); }
};

// Every text field holds at most 31 characters, ends in a NUL inside its 32
// bytes and is zero after it: receivers copy the record byte for byte and read
// the fields as C strings, and stale bytes behind a NUL would leak older texts.
inline FieldCheck EveryFieldTerminated(const deviceinfo& info)
{
    for (const TextField& field : kTextFields)
    {
        const char* bytes = info.*field.member;
        const std::size_t len = FieldLength(bytes);
        if (len > kDeviceFieldMaxLen)
            return {std::string(field.name) + " is not NUL-terminated within " +
                    std::to_string(kDeviceFieldSize) + " bytes"};
        for (std::size_t i = len; i < kDeviceFieldSize; ++i)
            if (bytes[i] != '\0')
                return {std::string(field.name) + " has byte " + std::to_string(i) +
                        " set after its terminator"};
    }
    return {};
}

// Byte for byte what a new or cleared record holds: what every dropped message
// must leave behind.
inline bool IsClearedRecord(const deviceinfo& info)
{
    const deviceinfo cleared;
    return std::memcmp(&info, &cleared, sizeof(cleared)) == 0;
}
} // namespace testsupport

#endif
