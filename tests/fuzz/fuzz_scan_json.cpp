// Fuzzes the scan command's output of device records: every text in a record
// came from the network, so whatever bytes it holds, the JSON (the list, the
// raw reports, the events) must stay valid JSON in valid UTF-8 that shows no
// control or direction character raw, the table must stay free of control
// characters, the CSV must keep its rows and fields and run no formula, and
// the Prometheus text must keep its lines and labels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DeviceRecord.h"
#include "FuzzCheck.h"
#include "JsonCheck.h"
#include "JsonText.h"
#include "PrometheusText.h"
#include "ScanOutput.h"
#include "TerminalText.h"
#include "WatchEvents.h"

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

// No control character (C0, DEL, C1) and no direction control is raw in the
// text: JSON has them as escapes.
void CheckShowsAsItIs(const std::string& json)
{
    for (std::size_t i = 0; i < json.size();)
    {
        std::uint32_t cp = 0;
        const std::size_t n = jsoncheck::Utf8Sequence(json, i, cp);
        FUZZ_CHECK(n != 0, "JSON text is valid UTF-8");
        i += n;
        FUZZ_CHECK(!(cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)), "no raw control character in JSON text");
        FUZZ_CHECK(!((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)),
                   "no raw direction control in JSON text");
    }
}

void CheckEscapedString(const char* bytes, std::size_t len)
{
    const std::string original(bytes, len);
    const std::string json = nasfinder::JsonText(nasfinder::ValidUtf8(original));
    jsoncheck::Value value;
    std::string error;
    if (!jsoncheck::Parse(json, value, &error))
    {
        std::fprintf(stderr, "JsonText gave invalid JSON: %s\n", error.c_str());
        std::abort();
    }
    FUZZ_CHECK(value.kind == jsoncheck::Value::String, "a text gives one string");
    CheckShowsAsItIs(json);
    if (jsoncheck::ValidUtf8(original))
        FUZZ_CHECK(value.text == original, "valid UTF-8 comes back unchanged, NUL bytes included");
    // A text the writer was handed without ValidUtf8 still gives valid JSON.
    FUZZ_CHECK(jsoncheck::Parse(nasfinder::JsonText(original), value), "invalid UTF-8 never breaks the JSON");
}

// RFC 4180 read back independently: the records, each a list of fields.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (quoted)
        {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
            continue;
        }
        FUZZ_CHECK(c != '\n' || (i > 0 && text[i - 1] == '\r'), "an unquoted line break is CR LF");
        if (c == '"')
        {
            FUZZ_CHECK(field.empty(), "a quote opens a field or is doubled inside one");
            quoted = true;
        }
        else if (c == ',')
        {
            fields.push_back(field);
            field.clear();
        }
        else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        {
            fields.push_back(field);
            field.clear();
            records.push_back(fields);
            fields.clear();
            ++i;
        }
        else
        {
            FUZZ_CHECK(c != '\r', "a CR outside quotes ends a row");
            field += c;
        }
    }
    FUZZ_CHECK(!quoted && field.empty() && fields.empty(), "the CSV ends with a whole row");
    return records;
}

void CheckCsv(const std::string& csv, std::size_t devices)
{
    FUZZ_CHECK(jsoncheck::ValidUtf8(csv), "CSV is valid UTF-8");
    const std::vector<std::vector<std::string>> records = ReadCsv(csv);
    FUZZ_CHECK(records.size() == devices + 1, "one header row and one row per device");
    for (const std::vector<std::string>& record : records)
    {
        FUZZ_CHECK(record.size() == 8, "every row has the eight fields");
        for (const std::string& field : record)
            FUZZ_CHECK(field.empty() || std::string("=+-@\t\r").find(field[0]) == std::string::npos,
                       "no field starts a formula");
    }
}

// The exposition format read back independently: every line a comment or a
// sample of ours, every device's sample with exactly its five labels, and no
// series twice (a scrape that meets one twice fails whole).
void CheckPrometheus(const std::string& text, std::size_t devices)
{
    FUZZ_CHECK(jsoncheck::ValidUtf8(text), "the metrics are valid UTF-8");
    std::size_t samples = 0;
    std::map<std::string, std::set<std::string>> series; // metric -> its label sets
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    {
        const std::string line = text.substr(start, end - start);
        if (line.rfind("# HELP nasfinder_", 0) == 0 || line.rfind("# TYPE nasfinder_", 0) == 0)
            continue;
        FUZZ_CHECK(line.rfind("nasfinder_", 0) == 0, "every line is ours");
        ++samples;
        const std::size_t open = line.find('{');
        if (open == std::string::npos)
            continue;
        const std::string metric = line.substr(0, open);
        std::size_t labels = 0;
        std::size_t i = open + 1;
        while (line[i] != '}')
        {
            const std::size_t eq = line.find("=\"", i);
            FUZZ_CHECK(eq != std::string::npos, "a label has a quoted value");
            for (i = eq + 2; line[i] != '"'; ++i)
            {
                FUZZ_CHECK(i < line.size(), "a label value ends");
                if (line[i] == '\\')
                    FUZZ_CHECK(std::string("\\\"n").find(line[++i]) != std::string::npos,
                               "only the format's escapes");
                else
                    FUZZ_CHECK(static_cast<unsigned char>(line[i]) >= 0x20,
                               "no raw control character in a label");
            }
            ++labels;
            ++i;
            if (line[i] == ',')
                ++i;
        }
        FUZZ_CHECK(labels == 5, "a device's sample has its five labels");
        FUZZ_CHECK(line.compare(i, 2, "} ") == 0, "the value follows the labels");
        FUZZ_CHECK(series[metric].insert(line.substr(open, i + 1 - open)).second, "no series twice");
    }
    FUZZ_CHECK(start == text.size(), "the text ends with a whole line");
    const std::set<std::string>& up = series["nasfinder_device_up"];
    FUZZ_CHECK(!up.empty() && up.size() <= devices, "a series for each device, alike ones once");
    FUZZ_CHECK(series["nasfinder_device_last_seen_timestamp_seconds"] == up,
               "both metrics of a device alike");
    FUZZ_CHECK(series.size() == 2 && samples == 2 * up.size() + 3,
               "two samples per series and three figures");
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
    CheckShowsAsItIs(json);

    // The same record as an event of --events.
    const std::string event = nasscan::EventLine({nasscan::WatchEvent::Changed, rec}, 1796676008);
    FUZZ_CHECK(!event.empty() && event.back() == '\n', "an event is one line");
    jsoncheck::Value line;
    FUZZ_CHECK(jsoncheck::Parse(event.substr(0, event.size() - 1), line), "an event is one JSON object");
    FUZZ_CHECK(line.kind == jsoncheck::Value::Object && line.members.size() == 3 &&
                   line.members[2].first == "device",
               "an event has its kind, time and device");
    CheckRecordObject(line.members[2].second, rec, false, 0);

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
    CheckCsv(nasscan::PrintedList(nasscan::Format::Csv, list), list.size());

    // The three as known devices in the metrics.
    nasscan::MetricsRound round;
    for (const deviceinfo& record : list)
        round.known.push_back({nasknown::SightingFromRecord(record, 1796676008), size % 3 == 0});
    CheckPrometheus(nasscan::PrometheusText(round), list.size());

    std::string table = nasscan::PrintedList(nasscan::Format::Table, list);
    CheckTerminalText(table, true);
    std::size_t lines = 0;
    for (char c : table)
        lines += c == '\n' ? 1 : 0;
    FUZZ_CHECK(lines == list.size() + 1, "one header line and one line per device");
    FUZZ_CHECK(!table.empty() && table.back() == '\n', "every table line ends");
    return 0;
}
