// Fuzzes the reader of the known devices' file (nlohmann-json's parser behind
// the store's own checks): whatever a file holds (a torn write, a hand edit,
// another program's file, nesting deep enough to exhaust a stack), the reader
// refuses it with a one-line reason or gives a list that writes and reads
// back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "KnownStoreFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const nasknown::DecodeResult read = nasknown::DecodeStore(text);
    FUZZ_CHECK(read.contents.has_value() == read.error.empty(), "a list, or a reason, never both");
    if (!read.contents)
    {
        FUZZ_CHECK(read.error.size() <= 300 && read.error.find('\n') == std::string::npos,
                   "the reason is one short line");
        return 0;
    }
    const std::string written = nasknown::EncodeStore(*read.contents);
    const nasknown::DecodeResult again = nasknown::DecodeStore(written);
    FUZZ_CHECK(again.contents.has_value(), "what is written reads back");
    FUZZ_CHECK(nasknown::EncodeStore(*again.contents) == written, "and writes the same text");
    return 0;
}
