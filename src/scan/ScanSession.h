// How nasfinder-scan sets up its search session: what the command line asks
// of the library and of the store of known devices, and where their
// diagnostics go. Apart from main so a test can start it against a recording
// stand-in for the library.
#ifndef NASFINDER_SCAN_SCANSESSION_H
#define NASFINDER_SCAN_SCANSESSION_H

#include <cstdint>
#include <vector>

#include "ScanOptions.h"
#include "SearchSession.h"

namespace nasscan
{
// The session's settings for these options: the interfaces chosen with
// --interface and --exclude-interface, multi-address mode unless --no-multi,
// the log file in opts.logDir when given, rawReport as the application's
// callback with a format that prints each report (--raw), the store read
// and written as --known and --no-remember say, the known devices followed
// up unless --no-follow-up or --no-remember. Standard error gets the
// registry's vendor trace and the log's echo only with --verbose, every line
// made inert; otherwise both stay quiet (the log file is written all the
// same). `addresses` (checked device addresses) are searched by unicast at
// every search.
nasfinder::SessionSettings ScanSessionSettings(const ScanOptions& opts, DeviceCallback rawReport,
                                               const std::vector<std::uint32_t>& addresses = {});
} // namespace nasscan

#endif
