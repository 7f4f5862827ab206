// UTF-8 decoding and encoding, hexadecimal digits and JSON string literals:
// what the scan's output and the store of known devices both write and read,
// so that whatever bytes a device sent, every JSON text this program writes
// is valid JSON in valid UTF-8.
#ifndef NASFINDER_JSONTEXT_H
#define NASFINDER_JSONTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace nasfinder
{
// U+FFFD in UTF-8: what stands for a byte or character that is not shown.
inline constexpr char kUtf8Replacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at data[i] (1 to 4) with its code point,
// or 0 when the byte there does not start one. Overlong forms, surrogates and
// values above U+10FFFF are invalid.
std::size_t DecodeUtf8(const unsigned char* data, std::size_t len, std::size_t i, std::uint32_t& cp);

// `cp` (at most U+10FFFF, not a surrogate) in UTF-8 at the end of `out`.
void AppendUtf8(std::string& out, std::uint32_t cp);

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

// The bytes data[0..len) as a JSON string literal, quotes included. Quotes,
// backslashes and control characters (C0, DEL, C1) are escaped; each byte that is
// not part of a valid UTF-8 sequence becomes U+FFFD. NUL bytes are data here
// and come out as \u0000. The result is always valid UTF-8 and valid JSON.
std::string JsonEscape(const char* data, std::size_t len);

inline std::string JsonEscape(const std::string& text)
{
    return JsonEscape(text.data(), text.size());
}
} // namespace nasfinder

#endif
