#include "TerminalText.h"

namespace nasfinder
{
namespace
{
// Characters that reorder the text around them on a terminal, so a device name
// could make another column read differently from what it holds.
bool IsBidiControl(std::uint32_t cp)
{
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F ||
           cp == 0x061C;
}
} // namespace

const char kReplacement[] = "\xEF\xBF\xBD";

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

bool IsControl(std::uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string TerminalText(const char* data, std::size_t len)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(len);
    for (std::size_t i = 0; i < len;)
    {
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, len, i, cp);
        if (n == 0 || IsControl(cp) || IsBidiControl(cp))
        {
            out += kReplacement;
            i += n == 0 ? 1 : n;
            continue;
        }
        out.append(data + i, n);
        i += n;
    }
    return out;
}

std::string InertLine(const char* data, std::size_t len)
{
    while (len > 0 && (data[len - 1] == '\n' || data[len - 1] == '\r'))
        --len;
    std::string out = TerminalText(data, len);
    out += '\n';
    return out;
}

std::string TerminalText(const std::string& text)
{
    return TerminalText(text.data(), text.size());
}
} // namespace nasfinder
