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

#include "DeviceRecord.h"
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
// An exactly sized copy of the input without a terminator, so that
// AddressSanitizer sees any read past its end.
inline std::unique_ptr<char[]> ExactCopy(const void* data, std::size_t size)
{
    std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(exact.get(), data, size);
    return exact;
}

// A freshly parsed record: every field terminated and life 60.
inline void CheckRecordFields(const deviceinfo& info)
{
    const testsupport::FieldCheck fields = testsupport::EveryFieldTerminated(info);
    if (!fields)
    {
        std::fprintf(stderr, "invariant broken: %s\n", fields.fault.c_str());
        std::abort();
    }
    FUZZ_CHECK(info.life == 60, "a new record starts with life 60");
    // The alignment gap crosses the callback as raw bytes too.
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&info);
    for (std::size_t i = offsetof(deviceinfo, type) + sizeof(info.type); i < offsetof(deviceinfo, life); ++i)
        FUZZ_CHECK(raw[i] == 0, "the alignment gap stays zero");
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
