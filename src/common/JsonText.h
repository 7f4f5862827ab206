// UTF-8 as this program takes it from devices, and the one way it writes JSON:
// the scan's outputs and the store of known devices are built as values of
// nlohmann-json and written by JsonText, so that whatever bytes a device sent,
// every JSON text this program writes is valid JSON in valid UTF-8 that shows
// on a terminal as it is.
#ifndef NASFINDER_JSONTEXT_H
#define NASFINDER_JSONTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace nasfinder
{
// A JSON value whose objects keep their members in the order they were
// added or read: the outputs' keys come in a fixed order, and a store's
// members a newer version added are written back where they stood.
using Json = nlohmann::ordered_json;

// U+FFFD in UTF-8: what stands for a byte or character that is not shown.
inline constexpr char kUtf8Replacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at data[i] (1 to 4) with its code point,
// or 0 when the byte there does not start one. Overlong forms, surrogates and
// values above U+10FFFF are invalid.
std::size_t DecodeUtf8(const unsigned char* data, std::size_t len, std::size_t i, std::uint32_t& cp);

// The value of a hexadecimal digit of either case, or -1.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// C0 controls, DEL and the C1 controls.
inline bool IsControlCharacter(std::uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// Characters that reorder the text around them on a terminal, so that a
// device name could make another column or value read differently from what
// it holds: the embeddings, overrides and isolates, and the marks.
inline bool IsBidiControl(std::uint32_t cp)
{
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F ||
           cp == 0x061C;
}

// The bytes data[0..len) as UTF-8: each byte that is not part of a valid
// sequence becomes U+FFFD, one for each, so that a sequence cut short shows
// how many bytes it lost. NUL bytes are kept. What every format takes of a
// device's text.
std::string ValidUtf8(const char* data, std::size_t len);

inline std::string ValidUtf8(const std::string& text)
{
    return ValidUtf8(text.data(), text.size());
}

// The value as compact JSON text. Quotes, backslashes and C0 controls are
// escaped as JSON has them; DEL, the C1 controls and the bidirectional
// controls are written as \u escapes too, so that a file shown with cat
// neither drives the terminal nor reorders its text; a string that is not
// valid UTF-8 (it should have gone through ValidUtf8) has U+FFFD for what is
// invalid, never an exception.
std::string JsonText(const Json& value);
} // namespace nasfinder

#endif
