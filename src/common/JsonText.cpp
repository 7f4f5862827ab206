#include "JsonText.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace nasfinder
{
std::size_t DecodeUtf8(const unsigned char* data, std::size_t len, std::size_t i, std::uint32_t& cp)
{
    const unsigned char b0 = data[i];
    if (b0 < 0x80)
    {
        cp = b0;
        return 1;
    }
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
    {
        need = 1;
        cp = b0 & 0x1F;
    }
    else if (b0 >= 0xE0 && b0 <= 0xEF)
    {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong below U+0800
        else if (b0 == 0xED)
            hi = 0x9F; // UTF-16 surrogates
    }
    else if (b0 >= 0xF0 && b0 <= 0xF4)
    {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90; // overlong below U+10000
        else if (b0 == 0xF4)
            hi = 0x8F; // above U+10FFFF
    }
    else
    {
        return 0;
    }
    if (len - i <= need)
        return 0;
    for (std::size_t k = 1; k <= need; ++k)
    {
        const unsigned char b = data[i + k];
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return need + 1;
}

std::string ValidUtf8(const char* data, std::size_t len)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(len);
    for (std::size_t i = 0; i < len;)
    {
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, len, i, cp);
        if (n == 0)
        {
            out += kUtf8Replacement;
            ++i;
            continue;
        }
        out.append(data + i, n);
        i += n;
    }
    return out;
}

std::string JsonText(const Json& value)
{
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    // The library writes every character from DEL up as it is. Outside its
    // strings JSON text is ASCII, so each such character found is inside one,
    // and an escape in its place keeps the string's value.
    const auto plain = [](char c) { return static_cast<unsigned char>(c) < 0x7F; };
    if (std::all_of(text.begin(), text.end(), plain))
        return text;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();)
    {
        if (plain(text[i]))
        {
            out += text[i++];
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, text.size(), i, cp);
        if (n != 0 && (IsControlCharacter(cp) || IsBidiControl(cp)))
        {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(cp >> shift) & 0xF];
        }
        else
        {
            out.append(text, i, std::max<std::size_t>(n, 1));
        }
        i += std::max<std::size_t>(n, 1);
    }
    return out;
}
} // namespace nasfinder
