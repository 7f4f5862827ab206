#include "ScanOutput.h"

#include "CsvText.h"
#include "JsonText.h"
#include "KnownStoreFormat.h"
#include "TerminalText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nasscan
{
using nasfinder::Json;
using nasfinder::TerminalText;
using nasfinder::ValidUtf8;

namespace
{
std::size_t FieldLength(const char (&field)[kDeviceFieldSize])
{
    const void* nul = std::memchr(field, '\0', kDeviceFieldSize);
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - field)
                          : kDeviceFieldSize;
}

Json FieldJson(const char (&field)[kDeviceFieldSize])
{
    return ValidUtf8(field, FieldLength(field));
}

std::string FieldText(const char (&field)[kDeviceFieldSize])
{
    return TerminalText(field, FieldLength(field));
}

void AppendPadded(std::string& out, const std::string& text, std::size_t width)
{
    out += text;
    for (std::size_t w = DisplayWidth(text); w < width; ++w)
        out += ' ';
}

// The rows (the header first, texts already inert) with their columns aligned
// by display width, two spaces apart, each line ending in '\n'.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows)
{
    const std::size_t columns = rows.front().size();
    std::vector<std::size_t> widths(columns, 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < columns; ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    std::string out;
    for (const auto& row : rows)
    {
        for (std::size_t c = 0; c + 1 < columns; ++c)
        {
            AppendPadded(out, row[c], widths[c]);
            out += "  ";
        }
        out += row[columns - 1];
        out += '\n';
    }
    return out;
}

template <class Record> struct Column
{
    const char* caption;
    std::string (*text)(const Record&); // inert
};

template <class Record> struct Field
{
    const char* key;
    Json (*value)(const Record&); // a string, a number or a boolean
};

// A device as the table shows it and as JSON carries it.
const Column<deviceinfo> kDeviceColumns[] = {
    {"HOST", [](const deviceinfo& d) { return FieldText(d.host); }},
    {"IP", [](const deviceinfo& d) { return FieldText(d.ip); }},
    {"PRODUCT", [](const deviceinfo& d) { return FieldText(d.product); }},
    {"VENDOR", [](const deviceinfo& d) { return FieldText(d.factory); }},
    {"ID", [](const deviceinfo& d) { return FieldText(d.id); }},
};
const Field<deviceinfo> kDeviceFields[] = {
    {"id", [](const deviceinfo& d) { return FieldJson(d.id); }},
    {"ip", [](const deviceinfo& d) { return FieldJson(d.ip); }},
    {"host", [](const deviceinfo& d) { return FieldJson(d.host); }},
    {"product", [](const deviceinfo& d) { return FieldJson(d.product); }},
    {"extra", [](const deviceinfo& d) { return FieldJson(d.extra); }},
    {"osversion", [](const deviceinfo& d) { return FieldJson(d.osversion); }},
    {"vendor", [](const deviceinfo& d) { return FieldJson(d.factory); }},
    {"type", [](const deviceinfo& d) { return Json(d.type); }},
};

std::string Inert(const std::string& text)
{
    return TerminalText(text.data(), text.size());
}

// A known device as the table shows it and as JSON carries it.
const Column<KnownRow> kKnownColumns[] = {
    {"HOST", [](const KnownRow& r) { return Inert(r.device.host); }},
    {"IP", [](const KnownRow& r) { return Inert(r.device.address); }},
    {"PRODUCT", [](const KnownRow& r) { return Inert(r.device.product); }},
    {"VENDOR", [](const KnownRow& r) { return Inert(r.device.vendor); }},
    {"ID", [](const KnownRow& r) { return Inert(r.device.id); }},
    {"MAC", [](const KnownRow& r) { return r.device.mac.empty() ? std::string("-") : Inert(r.device.mac); }},
    {"LAST SEEN", [](const KnownRow& r) { return nasknown::IsoTimeText(r.device.lastSeen); }},
    {"STATE", [](const KnownRow& r) { return std::string(r.answering ? "answering" : "not answering"); }},
};
const Field<KnownRow> kKnownFields[] = {
    {"id", [](const KnownRow& r) { return Json(ValidUtf8(r.device.id)); }},
    {"ip", [](const KnownRow& r) { return Json(ValidUtf8(r.device.address)); }},
    {"host", [](const KnownRow& r) { return Json(ValidUtf8(r.device.host)); }},
    {"product", [](const KnownRow& r) { return Json(ValidUtf8(r.device.product)); }},
    {"vendor", [](const KnownRow& r) { return Json(ValidUtf8(r.device.vendor)); }},
    {"mac", [](const KnownRow& r) { return Json(ValidUtf8(r.device.mac)); }},
    {"interface", [](const KnownRow& r) { return Json(ValidUtf8(r.device.interfaceName)); }},
    {"first_seen", [](const KnownRow& r) { return Json(nasknown::IsoTimeText(r.device.firstSeen)); }},
    {"last_seen", [](const KnownRow& r) { return Json(nasknown::IsoTimeText(r.device.lastSeen)); }},
    {"answering", [](const KnownRow& r) { return Json(r.answering); }},
};
} // namespace

struct Sheet
{
    std::size_t records = 0;
    std::vector<const char*> captions;
    std::vector<const char*> keys;
    std::function<std::string(std::size_t record, std::size_t column)> text;
    std::function<Json(std::size_t record, std::size_t key)> value;
};

namespace
{
// The records, which must outlive the sheet, through the columns and fields.
template <class Record, std::size_t C, std::size_t F>
Sheet SheetOf(const std::vector<Record>& records, const Column<Record> (&columns)[C],
              const Field<Record> (&fields)[F])
{
    Sheet sheet;
    sheet.records = records.size();
    for (const Column<Record>& column : columns)
        sheet.captions.push_back(column.caption);
    for (const Field<Record>& field : fields)
        sheet.keys.push_back(field.key);
    sheet.text = [&records, &columns](std::size_t record, std::size_t column)
    { return columns[column].text(records[record]); };
    sheet.value = [&records, &fields](std::size_t record, std::size_t key)
    { return fields[key].value(records[record]); };
    return sheet;
}

Json ObjectOf(const Sheet& sheet, std::size_t record)
{
    Json object = Json::object();
    object.get_ref<Json::object_t&>().reserve(sheet.keys.size() + 1);
    for (std::size_t key = 0; key < sheet.keys.size(); ++key)
        object[sheet.keys[key]] = sheet.value(record, key);
    return object;
}

std::string PrintTable(const Sheet& sheet)
{
    std::vector<std::vector<std::string>> rows;
    rows.reserve(sheet.records + 1);
    rows.emplace_back(sheet.captions.begin(), sheet.captions.end());
    for (std::size_t record = 0; record < sheet.records; ++record)
    {
        std::vector<std::string>& row = rows.emplace_back();
        row.reserve(sheet.captions.size());
        for (std::size_t column = 0; column < sheet.captions.size(); ++column)
            row.push_back(sheet.text(record, column));
    }
    return AlignedTable(rows);
}

// An object at a time, joined: a flood lists tens of thousands of devices,
// and the whole list as one value would hold many times the text's memory.
std::string PrintJson(const Sheet& sheet)
{
    std::string out = "[";
    for (std::size_t record = 0; record < sheet.records; ++record)
    {
        if (record != 0)
            out += ',';
        out += nasfinder::JsonText(ObjectOf(sheet, record));
    }
    out += "]\n";
    return out;
}

// The JSON fields as text: a string as it is, a number or a boolean as JSON
// writes it.
std::string PrintCsv(const Sheet& sheet)
{
    std::string out = nasfinder::CsvRow(std::vector<std::string>(sheet.keys.begin(), sheet.keys.end()));
    std::vector<std::string> fields(sheet.keys.size());
    for (std::size_t record = 0; record < sheet.records; ++record)
    {
        for (std::size_t key = 0; key < sheet.keys.size(); ++key)
        {
            const Json value = sheet.value(record, key);
            fields[key] = value.is_string() ? value.get<std::string>() : value.dump();
        }
        out += nasfinder::CsvRow(fields);
    }
    return out;
}
} // namespace

std::size_t DisplayWidth(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();)
    {
        std::uint32_t cp = 0;
        std::size_t n = nasfinder::DecodeUtf8(bytes, text.size(), i, cp);
        if (n == 0)
        {
            // Shown as one replacement character.
            ++width;
            ++i;
            continue;
        }
        i += n;
        if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) ||
            (cp >= 0xFE00 && cp <= 0xFE0F))
            continue;
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
                          (cp >= 0x3041 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
                          (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
                          (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) ||
                          (cp >= 0x1F300 && cp <= 0x1F64F) || (cp >= 0x1F900 && cp <= 0x1F9FF) ||
                          (cp >= 0x20000 && cp <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

std::string_view WatchKey(const deviceinfo& record)
{
    return std::string_view(record.ip, FieldLength(record.ip));
}

bool FoldSnapshot(std::vector<deviceinfo>& shown, const std::vector<deviceinfo>& snapshot)
{
    // Looked up by address: a list of tens of thousands (a flood) must not cost
    // a walk of the last one for each of its entries.
    std::unordered_map<std::string_view, const deviceinfo*> last;
    last.reserve(shown.size());
    for (const deviceinfo& old : shown)
        last.emplace(WatchKey(old), &old);
    std::vector<deviceinfo> next = snapshot;
    for (deviceinfo& record : next)
    {
        const auto found = last.find(WatchKey(record));
        if (found == last.end())
            continue;
        for (auto field : {&deviceinfo::id, &deviceinfo::host, &deviceinfo::product, &deviceinfo::extra,
                           &deviceinfo::osversion, &deviceinfo::factory})
        {
            if ((record.*field)[0] == '\0')
                std::memcpy(record.*field, found->second->*field, kDeviceFieldSize);
        }
    }
    // Only what the output shows counts; the age counter changes at every step.
    const bool changed = next.size() != shown.size() ||
                         !std::equal(next.begin(), next.end(), shown.begin(),
                                     [](const deviceinfo& a, const deviceinfo& b) { return a.compare(b); });
    if (changed)
        shown = std::move(next);
    return changed;
}

Json RecordValue(const deviceinfo& record)
{
    const std::vector<deviceinfo> one{record};
    return ObjectOf(SheetOf(one, kDeviceColumns, kDeviceFields), 0);
}

std::string RecordToJson(const deviceinfo& record, bool withPort, int port)
{
    Json object = RecordValue(record);
    if (withPort)
        object["port"] = port;
    return nasfinder::JsonText(object);
}

std::vector<KnownRow> KnownRows(const std::vector<nasknown::KnownDevice>& known,
                                const std::vector<deviceinfo>& live)
{
    std::vector<KnownRow> answering;
    std::vector<KnownRow> silent;
    for (const nasknown::KnownDevice& device : known)
    {
        const bool answers =
            std::any_of(live.begin(), live.end(),
                        [&device](const deviceinfo& d)
                        {
                            return device.vendor == std::string(d.factory, FieldLength(d.factory)) &&
                                   device.id == std::string(d.id, FieldLength(d.id));
                        });
        (answers ? answering : silent).push_back({device, answers});
    }
    answering.insert(answering.end(), silent.begin(), silent.end());
    return answering;
}

const std::vector<OutputFormat>& OutputFormats()
{
    static const std::vector<OutputFormat> formats = {
        {Format::Table, nullptr, nullptr, nullptr, &PrintTable, true},
        {Format::Json, "--json", "print the list as one JSON array", nullptr, &PrintJson, false},
        {Format::Csv, "--csv",
         "print the list as CSV (RFC 4180): a header line of the\n"
         "JSON field names, then one line per device",
         nullptr, &PrintCsv, false},
        {Format::Raw, "--raw",
         "print every report as it arrives, one JSON object per line,\n"
         "before filtering and merging, the answers to every repeat\n"
         "of a search included (not with --json)",
         "--raw prints each report as a JSON line, not the list", nullptr, false},
    };
    return formats;
}

const OutputFormat& FormatOf(Format format)
{
    for (const OutputFormat& row : OutputFormats())
    {
        if (row.format == format)
            return row;
    }
    return OutputFormats().front();
}

bool PrintsEachReport(Format format)
{
    return FormatOf(format).print == nullptr;
}

std::string PrintedList(Format format, const std::vector<deviceinfo>& list)
{
    const OutputFormat& row = FormatOf(format);
    return row.print != nullptr ? row.print(SheetOf(list, kDeviceColumns, kDeviceFields)) : std::string();
}

std::string PrintedKnown(Format format, const std::vector<KnownRow>& rows)
{
    const OutputFormat& row = FormatOf(format);
    return row.print != nullptr ? row.print(SheetOf(rows, kKnownColumns, kKnownFields)) : std::string();
}
} // namespace nasscan
