#include "StoreReason.h"

#include "TerminalText.h"

namespace nasknown
{
namespace
{
// What the library's reason may end with after the token it read last: what
// it expected instead (its names of tokens), or nothing.
const char* const kExpectedTokens[] = {
    "true literal",
    "false literal",
    "null literal",
    "string literal",
    "number literal",
    "'['",
    "'{'",
    "']'",
    "'}'",
    "':'",
    "','",
    "end of input",
    "'[', '{', or a literal",
};

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
} // namespace

std::string ShownKey(const std::string& key)
{
    constexpr std::size_t kLongest = 64;
    return "\"" + nasfinder::TerminalText(key.substr(0, kLongest)) + (key.size() > kLongest ? "...\"" : "\"");
}

// The token the library read last may be a whole long string that itself
// holds "'; expected". The reason is cut once inert, where each byte of the
// file may have become three.
std::string ParseErrorText(const std::string& message)
{
    std::string what = message;
    const std::size_t kind = what.find("] ");
    if (kind != std::string::npos)
        what.erase(0, kind + 2);
    const std::size_t token = what.find("; last read: '");
    if (token != std::string::npos)
    {
        std::string expected;
        for (const char* name : kExpectedTokens)
            if (EndsWith(what, std::string("'; expected ") + name))
                expected = std::string("; expected ") + name;
        what.erase(token);
        what += expected;
    }
    constexpr std::size_t kLongest = 200;
    what = nasfinder::TerminalText(what);
    if (what.size() > kLongest)
    {
        std::size_t cut = kLongest;
        while ((static_cast<unsigned char>(what[cut]) & 0xC0) == 0x80) // not inside a character
            --cut;
        what.resize(cut);
        what += "...";
    }
    return what;
}
} // namespace nasknown
