#include "TerminalText.h"

#include "JsonText.h"

namespace nasfinder
{
std::string TerminalText(const char* data, std::size_t len)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(len);
    for (std::size_t i = 0; i < len;)
    {
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, len, i, cp);
        if (n == 0 || IsControlCharacter(cp) || IsBidiControl(cp))
        {
            out += kUtf8Replacement;
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

std::string EchoedArgument(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t at = 0;
    for (std::size_t characters = 0; at < text.size(); ++characters)
    {
        if (characters == kEchoedCharacters)
            return text.substr(0, at) + "\u2026";
        std::uint32_t cp = 0;
        const std::size_t n = DecodeUtf8(bytes, text.size(), at, cp);
        // An invalid byte counts as one character, as TerminalText shows it.
        at += n == 0 ? 1 : n;
    }
    return text;
}

std::string TerminalText(const std::string& text)
{
    return TerminalText(text.data(), text.size());
}
} // namespace nasfinder
