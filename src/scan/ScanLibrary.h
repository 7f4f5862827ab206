// How nasfinder-scan starts the registry and the discovery library: what the
// command line asks of them, and where their diagnostics go. Kept apart from
// main so a test can link it against a recording stand-in for the library.
#ifndef NASFINDER_SCAN_SCANLIBRARY_H
#define NASFINDER_SCAN_SCANLIBRARY_H

#include <string>
#include <vector>

#include "DeviceSearchInterface.h"
#include "ScanOptions.h"

namespace nasscan
{
// Starts the library through the registry, on the interfaces chosen with
// --interface and --exclude-interface: multi-address mode unless --no-multi,
// the log file in opts.logDir when given, and rawReport as the application's
// callback with a format that prints each report (--raw). Standard error gets
// the registry's vendor trace and the log's echo only with --verbose, every
// line made inert; otherwise both stay quiet (the log file is written all the
// same). searchAddresses (dotted IPv4) are searched by unicast at every search. Returns the library's result.
int StartLibrary(const ScanOptions& opts, DeviceCallback rawReport,
                 const std::vector<std::string>& searchAddresses = {});

} // namespace nasscan

#endif
