// Output of nasfinder-scan: JSON and an aligned text table. Every device text
// comes from the network unauthenticated, so both forms pass it through
// escaping that keeps the output well-formed whatever the bytes are.
#ifndef NASFINDER_SCAN_SCANOUTPUT_H
#define NASFINDER_SCAN_SCANOUTPUT_H

#include <cstddef>
#include <string>
#include <vector>

#include "JsonText.h"
#include "KnownDevices.h"
#include "SearchDeviceInfo.h"

namespace nasscan
{
// JSON string literals of device texts (valid JSON in valid UTF-8, whatever
// the bytes): shared with the store of known devices.
using nasfinder::JsonEscape;

// Columns the UTF-8 text takes on a terminal (wide East Asian characters count
// two, combining marks none). Meant for text that went through TerminalText.
std::size_t DisplayWidth(const std::string& text);

// The list a watch shows after a new registry snapshot. The registry keeps one
// record per address, but a device that answers both searches alternates there
// between its broadcast record (no extra, no osversion) and its SSDP record. So
// a text field that the snapshot leaves empty keeps the value last shown for
// that address; otherwise the snapshot's list and order win. Returns true when
// the list differs from `shown` (a device came or went, or a value changed), and
// then replaces `shown` with it.
bool FoldSnapshot(std::vector<deviceinfo>& shown, const std::vector<deviceinfo>& snapshot);

// One record as a JSON object with the keys id, ip, host, product, extra,
// osversion, vendor (the record's factory) and type, and port when withPort.
std::string RecordToJson(const deviceinfo& record, bool withPort = false, int port = 0);

// The list as one JSON array in list order, without a line end.
std::string ListToJson(const std::vector<deviceinfo>& list);

// The list as a table with the columns HOST, IP, PRODUCT, VENDOR, ID, aligned,
// one line per device after the header line, each line ending in '\n'.
std::string ListToTable(const std::vector<deviceinfo>& list);

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

// The known devices as a table: HOST, IP, PRODUCT, VENDOR, ID, MAC, LAST SEEN
// (UTC), STATE ("answering" or "not answering"); an unknown MAC shows as "-".
std::string KnownToTable(const std::vector<KnownRow>& rows);

// As one JSON array of objects with the texts id, ip, host, product, vendor,
// mac (empty when unknown), interface, first_seen and last_seen (ISO 8601,
// UTC) and the boolean answering.
std::string KnownToJson(const std::vector<KnownRow>& rows);
} // namespace nasscan

#endif
