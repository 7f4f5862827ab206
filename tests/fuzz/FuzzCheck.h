// Invariant checks shared by the fuzz targets and their corpus replay. A broken
// invariant prints what broke and aborts, which libFuzzer reports as a crash
// (with the input saved) and CTest reports as a failed replay.
#ifndef NASFINDER_FUZZ_FUZZCHECK_H
#define NASFINDER_FUZZ_FUZZCHECK_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "SearchDeviceInfo.h"

#define FUZZ_CHECK(cond, what)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        if (!(cond))                                                                                         \
        {                                                                                                    \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, what, #cond);     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzzcheck
{
struct NamedField
{
    const char* name;
    const char* bytes; // kDeviceFieldSize bytes
};

// An exactly sized copy of the input without a terminator, so that
// AddressSanitizer sees any read past its end.
inline std::unique_ptr<char[]> ExactCopy(const void* data, std::size_t size)
{
    std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(exact.get(), data, size);
    return exact;
}

inline void Fields(const deviceinfo& info, NamedField (&out)[7])
{
    out[0] = {"id", info.id};
    out[1] = {"ip", info.ip};
    out[2] = {"host", info.host};
    out[3] = {"product", info.product};
    out[4] = {"extra", info.extra};
    out[5] = {"osversion", info.osversion};
    out[6] = {"factory", info.factory};
}

// Length of a field's text, or kDeviceFieldSize when the field has no NUL.
inline std::size_t FieldLen(const char* field)
{
    const void* nul = std::memchr(field, '\0', kDeviceFieldSize);
    return nul == nullptr ? kDeviceFieldSize
                          : static_cast<std::size_t>(static_cast<const char*>(nul) - field);
}

// Every text field holds at most 31 characters, ends in a NUL inside its 32
// bytes and is zero after it: receivers copy the record byte for byte and read
// the fields as C strings, and stale bytes behind a NUL would leak old texts.
inline void CheckRecordFields(const deviceinfo& info)
{
    NamedField fields[7];
    Fields(info, fields);
    for (const NamedField& f : fields)
    {
        std::size_t len = FieldLen(f.bytes);
        if (len > kDeviceFieldMaxLen)
        {
            std::fprintf(stderr, "field %s is not NUL-terminated within %zu bytes\n", f.name,
                         kDeviceFieldSize);
            std::abort();
        }
        for (std::size_t i = len; i < kDeviceFieldSize; ++i)
        {
            if (f.bytes[i] != '\0')
            {
                std::fprintf(stderr, "field %s has byte %zu set after its terminator\n", f.name, i);
                std::abort();
            }
        }
    }
    FUZZ_CHECK(info.life == 60, "a new record starts with life 60");
    // The alignment gap crosses the callback as raw bytes too.
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&info);
    for (std::size_t i = offsetof(deviceinfo, type) + sizeof(info.type); i < offsetof(deviceinfo, life); ++i)
        FUZZ_CHECK(raw[i] == 0, "the alignment gap stays zero");
}

inline bool IsClearedRecord(const deviceinfo& info)
{
    deviceinfo cleared;
    return std::memcmp(&info, &cleared, sizeof(cleared)) == 0;
}

// Whether needle[0..n) occurs in hay[0..hayLen).
inline bool Contains(const char* hay, std::size_t hayLen, const char* needle, std::size_t n)
{
    if (n == 0)
        return true;
    return ::memmem(hay, hayLen, needle, n) != nullptr;
}
} // namespace fuzzcheck

#endif
