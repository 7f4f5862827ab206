// A small, strict JSON reader and UTF-8 validator for checking what the scan
// command prints. Strict on purpose: whatever a consumer's parser could refuse
// (a raw control character, an invalid UTF-8 byte, a lone surrogate escape,
// trailing garbage) is refused here.
#ifndef NASFINDER_FUZZ_JSONCHECK_H
#define NASFINDER_FUZZ_JSONCHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jsoncheck
{
// Length of the valid UTF-8 sequence at s[i] with its code point, 0 if none.
// Written apart from the scan command's decoder so that the two can disagree.
inline std::size_t Utf8Sequence(const std::string& s, std::size_t i, std::uint32_t& cp)
{
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t min;
    if (b0 < 0x80)
    {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0)
    {
        n = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    }
    else if ((b0 & 0xF0) == 0xE0)
    {
        n = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    }
    else if ((b0 & 0xF8) == 0xF0)
    {
        n = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    }
    else
    {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k)
    {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

inline bool ValidUtf8(const std::string& s)
{
    for (std::size_t i = 0; i < s.size();)
    {
        std::uint32_t cp = 0;
        std::size_t n = Utf8Sequence(s, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// Written apart from the program's encoder too, and differently: a lead byte
// by the number of continuation bytes, then those from the highest bits down.
inline void AppendUtf8(std::string& out, std::uint32_t cp)
{
    const int more = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[more] | (cp >> (6 * more)));
    for (int i = more - 1; i >= 0; --i)
        out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
}

struct Value
{
    enum Kind
    {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    } kind = Null;
    bool boolean = false;
    std::string text; // a string's decoded bytes, or a number as written
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    const Value* Find(const std::string& key) const
    {
        for (const auto& m : members)
        {
            if (m.first == key)
                return &m.second;
        }
        return nullptr;
    }
};

class Reader
{
public:
    explicit Reader(const std::string& s) : s(s) {}

    // The whole text is exactly one JSON value (white space around it allowed).
    bool ParseDocument(Value& out)
    {
        if (!ValidUtf8(s))
            return Fail("not valid UTF-8");
        SkipSpace();
        if (!ParseValue(out, 0))
            return false;
        SkipSpace();
        return pos == s.size() || Fail("trailing text");
    }

    std::string error;
    std::size_t pos = 0;

private:
    static constexpr int kMaxDepth = 64;

    bool Fail(const char* what)
    {
        if (error.empty())
            error = std::string(what) + " at " + std::to_string(pos);
        return false;
    }

    void SkipSpace()
    {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
            ++pos;
    }

    bool Literal(const char* word)
    {
        std::size_t n = std::char_traits<char>::length(word);
        if (s.compare(pos, n, word) != 0)
            return Fail("bad literal");
        pos += n;
        return true;
    }

    bool ParseValue(Value& out, int depth)
    {
        if (depth > kMaxDepth)
            return Fail("nested too deep");
        if (pos >= s.size())
            return Fail("value expected");
        char c = s[pos];
        if (c == '{')
            return ParseObject(out, depth);
        if (c == '[')
            return ParseArray(out, depth);
        if (c == '"')
        {
            out.kind = Value::String;
            return ParseString(out.text);
        }
        if (c == 't' || c == 'f')
        {
            out.kind = Value::Bool;
            out.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n')
        {
            out.kind = Value::Null;
            return Literal("null");
        }
        out.kind = Value::Number;
        return ParseNumber(out.text);
    }

    bool ParseObject(Value& out, int depth)
    {
        out.kind = Value::Object;
        ++pos;
        SkipSpace();
        if (pos < s.size() && s[pos] == '}')
        {
            ++pos;
            return true;
        }
        for (;;)
        {
            SkipSpace();
            if (pos >= s.size() || s[pos] != '"')
                return Fail("key expected");
            std::pair<std::string, Value> member;
            if (!ParseString(member.first))
                return false;
            SkipSpace();
            if (pos >= s.size() || s[pos] != ':')
                return Fail("':' expected");
            ++pos;
            SkipSpace();
            if (!ParseValue(member.second, depth + 1))
                return false;
            if (out.Find(member.first) != nullptr)
                return Fail("duplicate key");
            out.members.push_back(std::move(member));
            SkipSpace();
            if (pos < s.size() && s[pos] == ',')
            {
                ++pos;
                continue;
            }
            if (pos < s.size() && s[pos] == '}')
            {
                ++pos;
                return true;
            }
            return Fail("',' or '}' expected");
        }
    }

    bool ParseArray(Value& out, int depth)
    {
        out.kind = Value::Array;
        ++pos;
        SkipSpace();
        if (pos < s.size() && s[pos] == ']')
        {
            ++pos;
            return true;
        }
        for (;;)
        {
            SkipSpace();
            Value item;
            if (!ParseValue(item, depth + 1))
                return false;
            out.items.push_back(std::move(item));
            SkipSpace();
            if (pos < s.size() && s[pos] == ',')
            {
                ++pos;
                continue;
            }
            if (pos < s.size() && s[pos] == ']')
            {
                ++pos;
                return true;
            }
            return Fail("',' or ']' expected");
        }
    }

    bool Hex4(std::uint32_t& v)
    {
        if (s.size() - pos < 4)
            return Fail("short \\u escape");
        v = 0;
        for (int k = 0; k < 4; ++k)
        {
            char c = s[pos++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return Fail("bad hex digit");
        }
        return true;
    }

    bool ParseString(std::string& out)
    {
        ++pos; // opening quote
        for (;;)
        {
            if (pos >= s.size())
                return Fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(s[pos]);
            if (c == '"')
            {
                ++pos;
                return true;
            }
            if (c < 0x20)
                return Fail("raw control character in a string");
            if (c != '\\')
            {
                out += static_cast<char>(c);
                ++pos;
                continue;
            }
            ++pos;
            if (pos >= s.size())
                return Fail("unterminated escape");
            char e = s[pos++];
            switch (e)
            {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
            {
                std::uint32_t cp = 0;
                if (!Hex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return Fail("lone low surrogate");
                if (cp >= 0xD800 && cp <= 0xDBFF)
                {
                    std::uint32_t low = 0;
                    if (s.compare(pos, 2, "\\u") != 0)
                        return Fail("lone high surrogate");
                    pos += 2;
                    if (!Hex4(low))
                        return false;
                    if (low < 0xDC00 || low > 0xDFFF)
                        return Fail("bad low surrogate");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, cp);
                break;
            }
            default:
                return Fail("bad escape");
            }
        }
    }

    bool ParseNumber(std::string& out)
    {
        std::size_t start = pos;
        if (pos < s.size() && s[pos] == '-')
            ++pos;
        if (pos >= s.size() || s[pos] < '0' || s[pos] > '9')
            return Fail("digit expected");
        if (s[pos] == '0')
            ++pos;
        else
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
                ++pos;
        if (pos < s.size() && s[pos] == '.')
        {
            ++pos;
            if (pos >= s.size() || s[pos] < '0' || s[pos] > '9')
                return Fail("digit expected after '.'");
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
                ++pos;
        }
        if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E'))
        {
            ++pos;
            if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
                ++pos;
            if (pos >= s.size() || s[pos] < '0' || s[pos] > '9')
                return Fail("digit expected in exponent");
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
                ++pos;
        }
        out = s.substr(start, pos - start);
        return true;
    }

    const std::string& s;
};

inline bool Parse(const std::string& text, Value& out, std::string* error = nullptr)
{
    Reader reader(text);
    bool ok = reader.ParseDocument(out);
    if (!ok && error != nullptr)
        *error = reader.error;
    return ok;
}
} // namespace jsoncheck

#endif
