#include "KnownStoreFormat.h"

#include "JsonText.h"
#include "StoreReason.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <set>
#include <vector>

namespace nasknown
{
namespace
{
using nasfinder::Json;
using nasfinder::JsonText;
using nasfinder::ValidUtf8;

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

// The store's text read into a value by nlohmann-json's own builder, the one
// Json::parse uses, with what the store needs checked as the parse goes and
// before anything is built: a file nested deeper than the members kept
// unknown may be; an object with more members than any store has, which
// would cost the builder a walk of the object for each member it adds
// (hostile text of a few MiB would take minutes); and a member given twice in
// the store or in a device, where the library would keep the last one
// silently (deeper down, inside a value kept unknown, it does). The first
// fault ends the parse. (The library's parse with a callback would do the
// checks too, but walks a list again at the end of each object in it.)
class StoreReader
{
public:
    explicit StoreReader(Json& root) : m_builder(root, false) {}

    const std::string& Error() const { return m_error; }

    bool null() { return m_builder.null(); }
    bool boolean(bool value) { return m_builder.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return m_builder.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return m_builder.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const std::string& text)
    {
        return m_builder.number_float(value, text);
    }
    bool string(std::string& value) { return m_builder.string(value); }
    bool binary(Json::binary_t& value) { return m_builder.binary(value); }
    bool start_object(std::size_t size) { return Open() && m_builder.start_object(size); }
    bool start_array(std::size_t size) { return Open() && m_builder.start_array(size); }
    bool end_object() { return Close() && m_builder.end_object(); }
    bool end_array() { return Close() && m_builder.end_array(); }

    bool key(std::string& key)
    {
        // The object the key is in was opened at depth m_depth - 1.
        if (++m_members.back() > kMaxMembers)
            return Fail("an object with more than " + std::to_string(kMaxMembers) + " members");
        if (m_depth == 1)
        {
            m_inDevices = key == "devices";
            if (Again(m_topKeys, key))
                return Fail("member " + ShownKey(key) + " twice");
        }
        else if (m_depth == 3 && m_inDevices && Again(m_deviceKeys, key))
        {
            return Fail("device member " + ShownKey(key) + " twice");
        }
        return m_builder.key(key);
    }

    template <class Exception> bool parse_error(std::size_t, const std::string&, const Exception& e)
    {
        return Fail(ParseErrorText(e.what()));
    }

private:
    // Depth counts the containers around: the store is at 0, its list at 1,
    // a device at 2.
    bool Open()
    {
        if (m_depth > kMaxJsonDepth + (m_inDevices ? 2 : 0))
            return Fail("nested more than " + std::to_string(kMaxJsonDepth) + " deep");
        if (m_depth == 2 && m_inDevices)
            m_deviceKeys.clear();
        ++m_depth;
        m_members.push_back(0);
        return true;
    }

    bool Close()
    {
        --m_depth;
        m_members.pop_back();
        return true;
    }

    bool Fail(const std::string& why)
    {
        if (m_error.empty())
            m_error = why;
        return false;
    }

    // Whether the key was among the keys, which it joins; there are at most
    // kMaxMembers of them.
    static bool Again(std::vector<std::string>& keys, const std::string& key)
    {
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            return true;
        keys.push_back(key);
        return false;
    }

    nlohmann::detail::json_sax_dom_parser<Json> m_builder;
    int m_depth = 0;
    bool m_inDevices = false;
    std::vector<std::size_t> m_members; // of the object open at each depth
    std::vector<std::string> m_topKeys;
    std::vector<std::string> m_deviceKeys;
    std::string m_error;
};

bool ReadDevice(const Json& value, KnownDevice& device, std::string& error)
{
    if (!value.is_object())
    {
        error = "not an object";
        return false;
    }
    for (const auto& member : value.items())
    {
        const std::string& key = member.key();
        bool known = false;
        for (const TextMember& m : kTextMembers)
        {
            if (key != m.key)
                continue;
            known = true;
            if (!member.value().is_string())
            {
                error = "member \"" + key + "\" is not a text";
                return false;
            }
            device.*m.member = member.value().get<std::string>();
            if ((device.*m.member).size() > kMaxFieldBytes)
            {
                error = "member \"" + key + "\" too long";
                return false;
            }
        }
        for (const TimeMember& m : kTimeMembers)
        {
            if (key != m.key)
                continue;
            known = true;
            const std::optional<std::int64_t> time =
                member.value().is_string() ? ParseIsoTime(member.value().get<std::string>()) : std::nullopt;
            if (!time)
            {
                error = "member \"" + key + "\" is not a UTC time";
                return false;
            }
            device.*m.member = *time;
        }
        if (!known)
            device.unknown.emplace_back(key, JsonText(member.value()));
    }
    for (const TextMember& m : kTextMembers)
    {
        if (m.required && (device.*m.member).empty())
        {
            error = std::string("a device without \"") + m.key + "\"";
            return false;
        }
    }
    return true;
}

bool ReadContents(const Json& root, StoreContents& contents, std::string& error)
{
    if (!root.is_object())
    {
        error = "not a JSON object";
        return false;
    }
    bool haveDevices = false;
    for (const auto& member : root.items())
    {
        const std::string& key = member.key();
        const Json& value = member.value();
        if (key == "version")
        {
            const bool whole = value.is_number_integer();
            if (!whole || (!value.is_number_unsigned() && value.get<std::int64_t>() < 1) ||
                (value.is_number_unsigned() && value.get<std::uint64_t>() < 1))
            {
                error = whole ? "version below 1" : "member \"version\" is not a whole number";
                return false;
            }
        }
        else if (key == "devices")
        {
            if (!value.is_array())
            {
                error = "member \"devices\" is not a list";
                return false;
            }
            haveDevices = true;
            for (std::size_t i = 0; i < value.size(); ++i)
            {
                KnownDevice device;
                if (!ReadDevice(value[i], device, error))
                {
                    error = "device " + std::to_string(i + 1) + ": " + error;
                    return false;
                }
                contents.devices.push_back(std::move(device));
            }
        }
        else
        {
            contents.unknown.emplace_back(key, JsonText(value));
        }
    }
    if (!haveDevices)
        error = "no \"devices\" list";
    return haveDevices;
}

// A member kept unknown, as a value again; nothing when its text is not
// JSON (a caller's mistake: it is left out rather than written broken).
std::optional<Json> UnknownValue(const std::string& text)
{
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

Json DeviceValue(const KnownDevice& device)
{
    Json object = Json::object();
    for (const TextMember& m : kTextMembers)
        object[m.key] = ValidUtf8(device.*m.member);
    for (const TimeMember& m : kTimeMembers)
        object[m.key] = IsoTimeText(device.*m.member);
    for (const auto& member : device.unknown)
    {
        const std::string key = ValidUtf8(member.first);
        std::optional<Json> value = UnknownValue(member.second);
        if (value && !object.contains(key))
            object[key] = std::move(*value);
    }
    return object;
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
    Json root;
    StoreReader reader(root);
    if (!Json::sax_parse(text, &reader))
    {
        result.error = reader.Error();
        return result;
    }
    StoreContents contents;
    if (ReadContents(root, contents, result.error))
        result.contents = std::move(contents);
    return result;
}

std::string EncodeStore(const StoreContents& contents)
{
    std::string out = "{\n  \"version\": " + std::to_string(kStoreFormatVersion) + ",\n";
    // Each key once: a file with a member twice would not be read back.
    std::set<std::string> written = {"version", "devices"};
    for (const auto& member : contents.unknown)
    {
        const std::string key = ValidUtf8(member.first);
        const std::optional<Json> value = UnknownValue(member.second);
        if (value && written.insert(key).second)
            out += "  " + JsonText(key) + ": " + JsonText(*value) + ",\n";
    }
    out += "  \"devices\": [";
    for (std::size_t i = 0; i < contents.devices.size(); ++i)
    {
        out += i == 0 ? "\n    " : ",\n    ";
        out += JsonText(DeviceValue(contents.devices[i]));
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
