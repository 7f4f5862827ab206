#include "JsonText.h"

namespace nasfinder
{
namespace
{
void AppendHexEscape(std::string& out, std::uint32_t cp)
{
    static const char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[(cp >> 4) & 0xF];
    out += kHex[cp & 0xF];
}
} // namespace

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

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80)
        out += static_cast<char>(cp);
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string JsonEscape(const char* data, std::size_t len)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(len + 2);
    out += '"';
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
        switch (cp)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (IsControlCharacter(cp))
                AppendHexEscape(out, cp);
            else
                out.append(data + i, n);
            break;
        }
        i += n;
    }
    out += '"';
    return out;
}
} // namespace nasfinder
