#include "ScanOutput.h"

#include "JsonText.h"
#include "KnownStoreFormat.h"
#include "TerminalText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nasscan
{
using nasfinder::TerminalText;

namespace
{
std::size_t FieldLength(const char (&field)[kDeviceFieldSize])
{
    const void* nul = std::memchr(field, '\0', kDeviceFieldSize);
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - field)
                          : kDeviceFieldSize;
}

std::string FieldJson(const char (&field)[kDeviceFieldSize])
{
    return JsonEscape(field, FieldLength(field));
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

bool FoldSnapshot(std::vector<deviceinfo>& shown, const std::vector<deviceinfo>& snapshot)
{
    // Looked up by address: a list of tens of thousands (a flood) must not cost
    // a walk of the last one for each of its entries.
    const auto key = [](const deviceinfo& record)
    { return std::string_view(record.ip, strnlen(record.ip, kDeviceFieldSize)); };
    std::unordered_map<std::string_view, const deviceinfo*> last;
    last.reserve(shown.size());
    for (const deviceinfo& old : shown)
        last.emplace(key(old), &old);
    std::vector<deviceinfo> next = snapshot;
    for (deviceinfo& record : next)
    {
        const auto found = last.find(key(record));
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

std::string RecordToJson(const deviceinfo& record, bool withPort, int port)
{
    std::string out = "{\"id\":" + FieldJson(record.id);
    out += ",\"ip\":" + FieldJson(record.ip);
    out += ",\"host\":" + FieldJson(record.host);
    out += ",\"product\":" + FieldJson(record.product);
    out += ",\"extra\":" + FieldJson(record.extra);
    out += ",\"osversion\":" + FieldJson(record.osversion);
    out += ",\"vendor\":" + FieldJson(record.factory);
    out += ",\"type\":" + std::to_string(record.type);
    if (withPort)
        out += ",\"port\":" + std::to_string(port);
    out += '}';
    return out;
}

std::string ListToJson(const std::vector<deviceinfo>& list)
{
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i)
    {
        if (i != 0)
            out += ',';
        out += RecordToJson(list[i]);
    }
    out += ']';
    return out;
}

std::string ListToTable(const std::vector<deviceinfo>& list)
{
    std::vector<std::vector<std::string>> rows;
    rows.reserve(list.size() + 1);
    rows.push_back({"HOST", "IP", "PRODUCT", "VENDOR", "ID"});
    for (const deviceinfo& d : list)
        rows.push_back({FieldText(d.host), FieldText(d.ip), FieldText(d.product), FieldText(d.factory),
                        FieldText(d.id)});
    return AlignedTable(rows);
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

std::string KnownToTable(const std::vector<KnownRow>& known)
{
    std::vector<std::vector<std::string>> rows;
    rows.reserve(known.size() + 1);
    rows.push_back({"HOST", "IP", "PRODUCT", "VENDOR", "ID", "MAC", "LAST SEEN", "STATE"});
    const auto text = [](const std::string& s) { return TerminalText(s.data(), s.size()); };
    for (const KnownRow& row : known)
    {
        const nasknown::KnownDevice& d = row.device;
        rows.push_back({text(d.host), text(d.address), text(d.product), text(d.vendor), text(d.id),
                        d.mac.empty() ? "-" : text(d.mac), nasknown::IsoTimeText(d.lastSeen),
                        row.answering ? "answering" : "not answering"});
    }
    return AlignedTable(rows);
}

std::string KnownToJson(const std::vector<KnownRow>& known)
{
    std::string out = "[";
    for (const KnownRow& row : known)
    {
        const nasknown::KnownDevice& d = row.device;
        out += out.size() > 1 ? ",{" : "{";
        out += "\"id\":" + JsonEscape(d.id);
        out += ",\"ip\":" + JsonEscape(d.address);
        out += ",\"host\":" + JsonEscape(d.host);
        out += ",\"product\":" + JsonEscape(d.product);
        out += ",\"vendor\":" + JsonEscape(d.vendor);
        out += ",\"mac\":" + JsonEscape(d.mac);
        out += ",\"interface\":" + JsonEscape(d.interfaceName);
        out += ",\"first_seen\":" + JsonEscape(nasknown::IsoTimeText(d.firstSeen));
        out += ",\"last_seen\":" + JsonEscape(nasknown::IsoTimeText(d.lastSeen));
        out += std::string(",\"answering\":") + (row.answering ? "true" : "false");
        out += '}';
    }
    out += ']';
    return out;
}
} // namespace nasscan
