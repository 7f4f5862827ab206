#include "KnownStoreFormat.h"

#include "JsonText.h"

#include <ctime>

namespace nasknown
{
namespace
{
// Reads the JSON this format writes, strictly (RFC 8259, UTF-8, no duplicate
// keys among the known members). Each step either advances or records the
// first error and stops; nothing reads past the end.
class Reader
{
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

    bool Fail(const std::string& why)
    {
        if (m_error.empty())
            m_error = why + " at byte " + std::to_string(m_at);
        return false;
    }

    void SkipSpace()
    {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }

    bool AtEnd()
    {
        SkipSpace();
        return m_at == m_text.size();
    }

    bool Take(char c)
    {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == c)
        {
            ++m_at;
            return true;
        }
        return false;
    }

    bool Expect(char c) { return Take(c) || Fail(std::string("expected '") + c + "'"); }

    char Peek()
    {
        SkipSpace();
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }

    // A string literal, decoded to UTF-8.
    bool String(std::string& out)
    {
        out.clear();
        if (!Expect('"'))
            return false;
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_text.data());
        while (m_at < m_text.size())
        {
            const unsigned char c = bytes[m_at];
            if (c == '"')
            {
                ++m_at;
                return true;
            }
            if (c < 0x20)
                return Fail("control character in a string");
            if (c == '\\')
            {
                if (!Escape(out))
                    return false;
                continue;
            }
            // A run of plain characters is taken in one piece.
            std::size_t end = m_at;
            while (end < m_text.size() && bytes[end] >= 0x20 && bytes[end] < 0x80 && bytes[end] != '"' &&
                   bytes[end] != '\\')
                ++end;
            if (end > m_at)
            {
                out.append(m_text, m_at, end - m_at);
                m_at = end;
                continue;
            }
            std::uint32_t cp = 0;
            const std::size_t n = nasfinder::DecodeUtf8(bytes, m_text.size(), m_at, cp);
            if (n == 0)
                return Fail("invalid UTF-8");
            out.append(m_text, m_at, n);
            m_at += n;
        }
        return Fail("unterminated string");
    }

    // Any value, skipped; its exact text is what was passed over.
    bool SkipValue(int depth)
    {
        if (depth > kMaxJsonDepth)
            return Fail("nested too deeply");
        std::string scratch;
        switch (Peek())
        {
        case '"':
            return String(scratch);
        case '{':
            ++m_at;
            if (Take('}'))
                return true;
            do
            {
                if (!String(scratch) || !Expect(':') || !SkipValue(depth + 1))
                    return false;
            } while (Take(','));
            return Expect('}');
        case '[':
            ++m_at;
            if (Take(']'))
                return true;
            do
            {
                if (!SkipValue(depth + 1))
                    return false;
            } while (Take(','));
            return Expect(']');
        case 't':
            return Word("true");
        case 'f':
            return Word("false");
        case 'n':
            return Word("null");
        default:
            return Number(nullptr);
        }
    }

    // A number; with `value`, it must be a whole number within int64.
    bool Number(std::int64_t* value)
    {
        SkipSpace();
        const std::size_t start = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '-')
            ++m_at;
        if (m_at >= m_text.size() || !IsDigit(m_text[m_at]))
            return Fail("expected a value");
        if (m_text[m_at] == '0')
            ++m_at;
        else
            while (m_at < m_text.size() && IsDigit(m_text[m_at]))
                ++m_at;
        bool whole = true;
        if (m_at < m_text.size() && m_text[m_at] == '.')
        {
            whole = false;
            ++m_at;
            if (!Digits())
                return false;
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E'))
        {
            whole = false;
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-'))
                ++m_at;
            if (!Digits())
                return false;
        }
        if (value == nullptr)
            return true;
        const std::string digits = m_text.substr(start, m_at - start);
        if (!whole || digits.size() > 18)
            return Fail("expected a whole number");
        *value = std::stoll(digits);
        return true;
    }

    std::size_t Offset() const { return m_at; }
    std::string Slice(std::size_t from) const { return m_text.substr(from, m_at - from); }

private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    bool Digits()
    {
        if (m_at >= m_text.size() || !IsDigit(m_text[m_at]))
            return Fail("expected a digit");
        while (m_at < m_text.size() && IsDigit(m_text[m_at]))
            ++m_at;
        return true;
    }

    bool Word(const char* word)
    {
        const std::string w(word);
        if (m_text.compare(m_at, w.size(), w) != 0)
            return Fail("expected a value");
        m_at += w.size();
        return true;
    }

    bool Hex4(std::uint32_t& unit)
    {
        if (m_text.size() - m_at < 4)
            return Fail("short \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i)
        {
            const int digit = nasfinder::HexDigitValue(m_text[m_at++]);
            if (digit < 0)
                return Fail("bad \\u escape");
            unit = (unit << 4) | static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    bool Escape(std::string& out)
    {
        ++m_at; // the backslash
        if (m_at >= m_text.size())
            return Fail("unterminated string");
        const char c = m_text[m_at++];
        switch (c)
        {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return Fail("bad escape");
        }
        std::uint32_t cp = 0;
        if (!Hex4(cp))
            return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return Fail("lone surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF)
        {
            std::uint32_t low = 0;
            if (m_text.compare(m_at, 2, "\\u") != 0)
                return Fail("lone surrogate");
            m_at += 2;
            if (!Hex4(low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return Fail("lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        nasfinder::AppendUtf8(out, cp);
        return true;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
    std::string m_error;
};

// The text members of a device, in the order they are written.
struct TextMember
{
    const char* key;
    std::string KnownDevice::*member;
    bool required;
};
const TextMember kTextMembers[] = {
    {"vendor", &KnownDevice::vendor, true},    {"id", &KnownDevice::id, true},
    {"host", &KnownDevice::host, false},       {"product", &KnownDevice::product, false},
    {"address", &KnownDevice::address, false}, {"interface", &KnownDevice::interfaceName, false},
    {"mac", &KnownDevice::mac, false},
};
struct TimeMember
{
    const char* key;
    std::int64_t KnownDevice::*member;
};
const TimeMember kTimeMembers[] = {
    {"first_seen", &KnownDevice::firstSeen},
    {"last_seen", &KnownDevice::lastSeen},
};

bool ReadDevice(Reader& in, KnownDevice& device)
{
    if (!in.Expect('{'))
        return false;
    std::vector<std::string> seen;
    std::string key;
    std::string text;
    if (!in.Take('}'))
    {
        do
        {
            if (!in.String(key) || !in.Expect(':'))
                return false;
            for (const std::string& earlier : seen)
                if (earlier == key)
                    return in.Fail("member \"" + key + "\" twice");
            seen.push_back(key);
            bool known = false;
            for (const TextMember& m : kTextMembers)
            {
                if (key != m.key)
                    continue;
                known = true;
                if (!in.String(device.*m.member))
                    return false;
                if ((device.*m.member).size() > kMaxFieldBytes)
                    return in.Fail("member \"" + key + "\" too long");
            }
            for (const TimeMember& m : kTimeMembers)
            {
                if (key != m.key)
                    continue;
                known = true;
                if (!in.String(text))
                    return false;
                const std::optional<std::int64_t> time = ParseIsoTime(text);
                if (!time)
                    return in.Fail("member \"" + key + "\" is not a UTC time");
                device.*m.member = *time;
            }
            if (!known)
            {
                const std::size_t from = (in.SkipSpace(), in.Offset());
                if (!in.SkipValue(1))
                    return false;
                device.unknown.emplace_back(key, in.Slice(from));
            }
        } while (in.Take(','));
        if (!in.Expect('}'))
            return false;
    }
    for (const TextMember& m : kTextMembers)
        if (m.required && (device.*m.member).empty())
            return in.Fail(std::string("a device without \"") + m.key + "\"");
    return true;
}

void AppendMember(std::string& out, const std::string& key, const std::string& jsonValue, bool& first)
{
    if (!first)
        out += ", ";
    first = false;
    out += nasfinder::JsonEscape(key);
    out += ": ";
    out += jsonValue;
}
} // namespace

DecodeResult DecodeStore(const std::string& text)
{
    DecodeResult result;
    if (text.size() > kMaxStoreBytes)
    {
        result.error = "larger than " + std::to_string(kMaxStoreBytes) + " bytes";
        return result;
    }
    Reader in(text);
    StoreContents contents;
    bool haveDevices = false;
    bool haveVersion = false;
    std::string key;
    if (in.Expect('{') && !in.Take('}'))
    {
        do
        {
            if (!in.String(key) || !in.Expect(':'))
                break;
            if (key == "version")
            {
                std::int64_t version = 0;
                if (haveVersion)
                    in.Fail("member \"version\" twice");
                else if (in.Number(&version) && version < 1)
                    in.Fail("version below 1");
                haveVersion = true;
            }
            else if (key == "devices")
            {
                if (haveDevices)
                {
                    in.Fail("member \"devices\" twice");
                    break;
                }
                haveDevices = true;
                if (!in.Expect('['))
                    break;
                if (in.Take(']'))
                    continue;
                do
                {
                    KnownDevice device;
                    if (!ReadDevice(in, device))
                        break;
                    contents.devices.push_back(std::move(device));
                } while (in.Take(','));
                in.Expect(']');
            }
            else
            {
                const std::size_t from = (in.SkipSpace(), in.Offset());
                if (in.SkipValue(1))
                    contents.unknown.emplace_back(key, in.Slice(from));
            }
        } while (!in.Failed() && in.Take(','));
        if (!in.Failed())
            in.Expect('}');
    }
    if (!in.Failed() && !in.AtEnd())
        in.Fail("text after the end");
    if (!in.Failed() && !haveDevices)
        in.Fail("no \"devices\" list");
    if (in.Failed())
    {
        result.error = in.Error();
        return result;
    }
    result.contents = std::move(contents);
    return result;
}

std::string EncodeStore(const StoreContents& contents)
{
    std::string out = "{\n  \"version\": " + std::to_string(kStoreFormatVersion) + ",\n";
    for (const auto& member : contents.unknown)
        out += "  " + nasfinder::JsonEscape(member.first) + ": " + member.second + ",\n";
    out += "  \"devices\": [";
    for (std::size_t i = 0; i < contents.devices.size(); ++i)
    {
        const KnownDevice& device = contents.devices[i];
        out += i == 0 ? "\n    {" : ",\n    {";
        bool first = true;
        for (const TextMember& m : kTextMembers)
            AppendMember(out, m.key, nasfinder::JsonEscape(device.*m.member), first);
        for (const TimeMember& m : kTimeMembers)
            AppendMember(out, m.key, nasfinder::JsonEscape(IsoTimeText(device.*m.member)), first);
        for (const auto& member : device.unknown)
            AppendMember(out, member.first, member.second, first);
        out += '}';
    }
    out += contents.devices.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string IsoTimeText(std::int64_t secondsSinceEpoch)
{
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    char text[32] = {0};
    if (gmtime_r(&t, &utc) == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return "1970-01-01T00:00:00Z";
    return text;
}

std::optional<std::int64_t> ParseIsoTime(const std::string& text)
{
    // Exactly YYYY-MM-DDTHH:MM:SSZ.
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof(kShape) - 1)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i])
            return std::nullopt;
    }
    const auto number = [&text](std::size_t at, std::size_t len) { return std::stoi(text.substr(at, len)); };
    std::tm utc{};
    utc.tm_year = number(0, 4) - 1900;
    utc.tm_mon = number(5, 2) - 1;
    utc.tm_mday = number(8, 2);
    utc.tm_hour = number(11, 2);
    utc.tm_min = number(14, 2);
    utc.tm_sec = number(17, 2);
    // Before 1970 no device was seen; a year below 1000 would not be
    // written back in four digits.
    if (utc.tm_year < 70 || utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 ||
        utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
        return std::nullopt;
    const int mday = utc.tm_mday;
    const std::time_t t = timegm(&utc);
    // timegm normalises 31 February into March: such a date is not one.
    if (t == static_cast<std::time_t>(-1) || utc.tm_mday != mday)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}
} // namespace nasknown
