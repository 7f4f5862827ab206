// What a watch writes with --prometheus FILE after every round: Prometheus's
// text exposition format, for node_exporter's textfile collector, which
// serves the file's samples beside its own. Pure: the watch hands in the
// round's figures and replaces the file (nasfinder::ReplaceFile).
#ifndef NASFINDER_SCAN_PROMETHEUSTEXT_H
#define NASFINDER_SCAN_PROMETHEUSTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScanOutput.h"

namespace nasscan
{
struct MetricsRound
{
    // Every known device, answering this round or not (KnownRows).
    std::vector<KnownRow> known;
    // The devices in the list now, known or not.
    std::size_t answering = 0;
    // The watch's search rounds since it started.
    std::uint64_t rounds = 0;
    // Whether the broadcast search runs (the helper bound port 67), or SSDP
    // alone.
    bool broadcastSearch = false;
};

// The metrics, each with its # HELP and # TYPE lines:
//   nasfinder_device_up{id,vendor,host,address,product} 1 or 0, and
//   nasfinder_device_last_seen_timestamp_seconds with the same labels, for
//   every known device; nasfinder_devices_answering;
//   nasfinder_search_rounds_total; nasfinder_broadcast_search_available.
// Device texts are hostile: in a label value, backslash, quote and line feed
// are escaped as the format has it, invalid UTF-8, other control characters
// and the bidirectional controls become U+FFFD, so that no device can add a
// label or a line. Two devices whose labels come out alike are one series: the
// first in the list is written, as a scrape with a series twice fails whole.
// No sample carries a timestamp: the textfile collector refuses them.
std::string PrometheusText(const MetricsRound& round);
} // namespace nasscan

#endif
