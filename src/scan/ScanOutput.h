// Output of nasfinder-scan: its formats (an aligned text table, JSON, CSV, the
// raw reports), each a row of one table. Every device text comes from the network
// unauthenticated, so every format passes it through escaping that keeps the
// output well-formed whatever the bytes are.
#ifndef NASFINDER_SCAN_SCANOUTPUT_H
#define NASFINDER_SCAN_SCANOUTPUT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "JsonText.h"
#include "KnownDevices.h"
#include "SearchDeviceInfo.h"

namespace nasscan
{
// Columns the UTF-8 text takes on a terminal (wide East Asian characters count
// two, combining marks none). Meant for text that went through TerminalText.
std::size_t DisplayWidth(const std::string& text);

// What a watch follows a device by from one list to the next: its address,
// as the registry keeps one record per address.
std::string_view WatchKey(const deviceinfo& record);

// The list a watch shows after a new registry snapshot. The registry keeps one
// record per address, but a device that answers both searches alternates there
// between its broadcast record (no extra, no osversion) and its SSDP record. So
// a text field that the snapshot leaves empty keeps the value last shown for
// that address; otherwise the snapshot's list and order win. Returns true when
// the list differs from `shown` (a device came or went, or a value changed), and
// then replaces `shown` with it.
bool FoldSnapshot(std::vector<deviceinfo>& shown, const std::vector<deviceinfo>& snapshot);

// One record as a JSON object with the keys id, ip, host, product, extra,
// osversion, vendor (the record's factory) and type, and port when withPort:
// what --raw prints of each report. RecordValue is the object itself, the
// texts made valid UTF-8 (nasfinder::ValidUtf8).
nasfinder::Json RecordValue(const deviceinfo& record);
std::string RecordToJson(const deviceinfo& record, bool withPort = false, int port = 0);

// A known device and whether it answered this search.
struct KnownRow
{
    nasknown::KnownDevice device;
    bool answering = false;
};

// The answering devices first, then the others, each group in the store's
// order; `answering` set from the live list (by vendor and id).
std::vector<KnownRow> KnownRows(const std::vector<nasknown::KnownDevice>& known,
                                const std::vector<deviceinfo>& live);

// The forms the scan prints in, one row each in OutputFormats().
enum class Format
{
    Table, // the default: an aligned table with a header line
    Json,  // one JSON array
    Csv,   // a header line of the JSON keys, then one row per device (RFC 4180)
    Raw,   // each report as it arrives, one JSON object per line, and no list
};

// A list as every format sees it: what the table shows of each record and
// what JSON carries.
struct Sheet;

struct OutputFormat
{
    Format format;
    const char* option; // the option that chooses it; nullptr for the default
    const char* help;   // its lines in the usage
    // Why it goes with no other format, when there is more to say than that.
    const char* clash;
    // A list as printed, every line ending in '\n'; nullptr for a format that
    // prints each report as it arrives instead of any list.
    std::string (*print)(const Sheet&);
    // Each list of a watch starts with the local date and time, so that a log
    // of the output shows when a device came or went, and ends with a blank
    // line.
    bool datedInWatch;
};

// Every format, in the order of their options in the usage.
const std::vector<OutputFormat>& OutputFormats();
const OutputFormat& FormatOf(Format format);

// Whether the format prints each report as it arrives, and no list.
bool PrintsEachReport(Format format);

// The devices as the format prints them: the table has the columns HOST, IP,
// PRODUCT, VENDOR, ID; JSON has each as RecordToJson does without the port,
// and CSV the same fields, named in its header line, one row each.
// Nothing for a format that prints each report instead.
std::string PrintedList(Format format, const std::vector<deviceinfo>& list);

// The known devices as the format prints them. The table: HOST, IP, PRODUCT,
// VENDOR, ID, MAC, LAST SEEN (UTC), STATE ("answering" or "not answering"),
// an unknown MAC shown as "-". JSON: objects with the texts id, ip, host,
// product, vendor, mac (empty when unknown), interface, first_seen and
// last_seen (ISO 8601, UTC) and the boolean answering; CSV the same fields,
// the boolean as true or false.
std::string PrintedKnown(Format format, const std::vector<KnownRow>& rows);
} // namespace nasscan

#endif
