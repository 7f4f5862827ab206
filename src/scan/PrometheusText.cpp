#include "PrometheusText.h"

#include "JsonText.h"

#include <unordered_set>

namespace nasscan
{
namespace
{
void Family(std::string& out, const char* name, const char* type, const char* help)
{
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& labels, const std::string& value)
{
    out += name;
    out += labels;
    out += ' ';
    out += value;
    out += '\n';
}

// A text as a label value, without its quotes.
std::string LabelValue(const std::string& text)
{
    const std::string valid = nasfinder::ValidUtf8(text);
    const auto* bytes = reinterpret_cast<const unsigned char*>(valid.data());
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size();)
    {
        std::uint32_t cp = 0;
        const std::size_t n = nasfinder::DecodeUtf8(bytes, valid.size(), i, cp);
        if (cp == '\\')
            out += "\\\\";
        else if (cp == '"')
            out += "\\\"";
        else if (cp == '\n')
            out += "\\n";
        else if (nasfinder::IsControlCharacter(cp) || nasfinder::IsBidiControl(cp))
            out += nasfinder::kUtf8Replacement;
        else
            out.append(valid, i, n);
        i += n;
    }
    return out;
}
} // namespace

std::string PrometheusText(const MetricsRound& round)
{
    // The labels of each known device, once per series.
    std::vector<std::pair<std::string, const KnownRow*>> series;
    std::unordered_set<std::string> seen;
    for (const KnownRow& row : round.known)
    {
        const nasknown::KnownDevice& d = row.device;
        std::string labels = "{id=\"" + LabelValue(d.id) + "\",vendor=\"" + LabelValue(d.vendor) +
                             "\",host=\"" + LabelValue(d.host) + "\",address=\"" + LabelValue(d.address) +
                             "\",product=\"" + LabelValue(d.product) + "\"}";
        if (seen.insert(labels).second)
            series.emplace_back(std::move(labels), &row);
    }

    std::string out;
    Family(out, "nasfinder_device_up", "gauge",
           "Whether a known storage device answered the last search round (1) or not (0).");
    for (const auto& [labels, row] : series)
        Sample(out, "nasfinder_device_up", labels, row->answering ? "1" : "0");
    Family(out, "nasfinder_device_last_seen_timestamp_seconds", "gauge",
           "When a known storage device last answered a search, in seconds since 1970 (UTC).");
    for (const auto& [labels, row] : series)
        Sample(out, "nasfinder_device_last_seen_timestamp_seconds", labels,
               std::to_string(row->device.lastSeen));
    Family(out, "nasfinder_devices_answering", "gauge",
           "Storage devices that answered the last search round.");
    Sample(out, "nasfinder_devices_answering", "", std::to_string(round.answering));
    Family(out, "nasfinder_search_rounds_total", "counter", "Search rounds since the watch started.");
    Sample(out, "nasfinder_search_rounds_total", "", std::to_string(round.rounds));
    Family(out, "nasfinder_broadcast_search_available", "gauge",
           "Whether the broadcast search runs (1), or the SSDP search alone (0).");
    Sample(out, "nasfinder_broadcast_search_available", "", round.broadcastSearch ? "1" : "0");
    return out;
}
} // namespace nasscan
