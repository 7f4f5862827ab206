// Fuzzes the scan command's output of device records: every text in a record
// came from the network, so whatever bytes it holds, the JSON must stay valid
// JSON in valid UTF-8 and the table must stay free of control characters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "FuzzCheck.h"
#include "JsonCheck.h"
#include "ScanOutput.h"
#include "TerminalText.h"

// The checks live in namespace fuzzcheck, which the fuzz build leaves out of
// coverage: their branches describe the checker, not the code under test.
namespace fuzzcheck
{
namespace
{
const char* const kKeys[] = {"id", "ip", "host", "product", "extra", "osversion", "vendor", "type", "port"};

// A record from the input: the raw 240 bytes when there are that many (texts
// then need not end in a NUL), otherwise the input spread over the seven texts.
deviceinfo RecordFrom(const std::uint8_t* data, std::size_t size)
{
    deviceinfo rec;
    if (size >= sizeof(deviceinfo))
    {
        std::memcpy(static_cast<void*>(&rec), data, sizeof(rec));
        return rec;
    }
    std::size_t chunk = (size + 6) / 7;
    for (std::size_t i = 0; i < testsupport::kTextFieldCount; ++i)
    {
        std::size_t start = i * chunk;
        if (start >= size)
            break;
        std::size_t n = size - start < chunk ? size - start : chunk;
        std::memcpy(rec.*testsupport::kTextFields[i].member, data + start,
                    n < kDeviceFieldSize ? n : kDeviceFieldSize);
    }
    if (size > 0)
        rec.type = static_cast<std::int32_t>(data[0]) - 128;
    return rec;
}

void CheckEscapedString(const char* bytes, std::size_t len)
{
    std::string json = nasscan::JsonEscape(bytes, len);
    jsoncheck::Value value;
    std::string error;
    if (!jsoncheck::Parse(json, value, &error))
    {
        std::fprintf(stderr, "JsonEscape gave invalid JSON: %s\n", error.c_str());
        std::abort();
    }
    FUZZ_CHECK(value.kind == jsoncheck::Value::String, "JsonEscape gives one string");
    std::string original(bytes, len);
    if (jsoncheck::ValidUtf8(original))
        FUZZ_CHECK(value.text == original, "valid UTF-8 comes back unchanged, NUL bytes included");
}

void CheckRecordObject(const jsoncheck::Value& obj, const deviceinfo& rec, bool withPort, int port)
{
    FUZZ_CHECK(obj.kind == jsoncheck::Value::Object, "a record is a JSON object");
    std::size_t expected = withPort ? 9 : 8;
    FUZZ_CHECK(obj.members.size() == expected, "a record has exactly its keys");
    for (std::size_t i = 0; i < expected; ++i)
        FUZZ_CHECK(obj.members[i].first == kKeys[i], "the keys come in their fixed order");

    for (std::size_t i = 0; i < testsupport::kTextFieldCount; ++i)
    {
        const jsoncheck::Value& v = obj.members[i].second;
        FUZZ_CHECK(v.kind == jsoncheck::Value::String, "every text is a JSON string");
        const char* text = rec.*testsupport::kTextFields[i].member;
        std::string field(text, testsupport::FieldLength(text));
        if (jsoncheck::ValidUtf8(field))
            FUZZ_CHECK(v.text == field, "a valid UTF-8 text comes back unchanged");
        FUZZ_CHECK(v.text.find('\0') == std::string::npos, "a text ends at its NUL");
    }
    const jsoncheck::Value& type = obj.members[7].second;
    FUZZ_CHECK(type.kind == jsoncheck::Value::Number && type.text == std::to_string(rec.type),
               "type is the record's number");
    if (withPort)
        FUZZ_CHECK(obj.members[8].second.text == std::to_string(port), "port is the reporting port");
}

void CheckTerminalText(const std::string& text, bool allowNewline)
{
    FUZZ_CHECK(jsoncheck::ValidUtf8(text), "terminal text is valid UTF-8");
    for (std::size_t i = 0; i < text.size();)
    {
        std::uint32_t cp = 0;
        std::size_t n = jsoncheck::Utf8Sequence(text, i, cp);
        i += n;
        if (cp == '\n' && allowNewline)
            continue;
        FUZZ_CHECK(!(cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)), "no control character reaches the terminal");
        FUZZ_CHECK(!((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)),
                   "no direction override reaches the terminal");
    }
}
} // namespace
} // namespace fuzzcheck

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace fuzzcheck;
    const char* bytes = reinterpret_cast<const char*>(data);
    CheckEscapedString(bytes, size);
    CheckTerminalText(nasfinder::TerminalText(bytes, size), false);

    deviceinfo rec = RecordFrom(data, size);
    bool withPort = size % 2 == 1;
    int port = static_cast<int>(size * 7919 % 70000) - 1000;
    std::string json = nasscan::RecordToJson(rec, withPort, port);
    jsoncheck::Value obj;
    std::string error;
    if (!jsoncheck::Parse(json, obj, &error))
    {
        std::fprintf(stderr, "RecordToJson gave invalid JSON: %s\n", error.c_str());
        std::abort();
    }
    CheckRecordObject(obj, rec, withPort, port);

    // A list: the record, a cleared one, and the record with its texts shifted
    // by one byte so that sequences are cut at other places.
    std::vector<deviceinfo> list(3);
    std::memcpy(static_cast<void*>(&list[0]), &rec, sizeof(rec));
    if (size > 1)
        std::memcpy(static_cast<void*>(&list[2]), RecordFrom(data + 1, size - 1).id, 7 * kDeviceFieldSize);
    jsoncheck::Value array;
    const std::string printed = nasscan::PrintedList(nasscan::Format::Json, list);
    FUZZ_CHECK(!printed.empty() && printed.back() == '\n', "the JSON list is one line");
    if (!jsoncheck::Parse(printed.substr(0, printed.size() - 1), array, &error))
    {
        std::fprintf(stderr, "the JSON list is invalid JSON: %s\n", error.c_str());
        std::abort();
    }
    FUZZ_CHECK(array.kind == jsoncheck::Value::Array && array.items.size() == list.size(),
               "the list is one array with one object per record");
    for (std::size_t i = 0; i < list.size(); ++i)
        CheckRecordObject(array.items[i], list[i], false, 0);

    std::string table = nasscan::PrintedList(nasscan::Format::Table, list);
    CheckTerminalText(table, true);
    std::size_t lines = 0;
    for (char c : table)
        lines += c == '\n' ? 1 : 0;
    FUZZ_CHECK(lines == list.size() + 1, "one header line and one line per device");
    FUZZ_CHECK(!table.empty() && table.back() == '\n', "every table line ends");
    return 0;
}
