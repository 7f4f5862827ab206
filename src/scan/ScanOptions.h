// Command line of nasfinder-scan. Parsing is a pure function of the arguments so
// that every rule can be tested without starting anything.
#ifndef NASFINDER_SCAN_SCANOPTIONS_H
#define NASFINDER_SCAN_SCANOPTIONS_H

#include <string>
#include <vector>

#include "ScanOutput.h"
#include "SearchSchedule.h"

namespace nasscan
{
constexpr int kDefaultSeconds = nasfinder::kSearchSeconds;
constexpr int kMinSeconds = 1;
constexpr int kMaxSeconds = 3600;
// How long --wake searches for the device by default: storage devices take a
// minute or two to start.
constexpr int kDefaultWakeSeconds = 180;

struct ScanOptions
{
    int seconds = kDefaultSeconds;
    bool secondsGiven = false;
    // --json, --raw: one of OutputFormats().
    Format format = Format::Table;
    bool watch = false;
    bool multiIP = true;
    // The registry's trace and, with logDir, the log's echo on standard error.
    bool verbose = false;
    // Empty: diagnostic log off. Otherwise the directory, always ending in '/'.
    std::string logDir;
    // --interface and --exclude-interface, names or addresses as given; whether
    // they name interfaces of this host is for the caller to check.
    std::vector<std::string> interfaces;
    std::vector<std::string> excludedInterfaces;
    // --address: IPv4 addresses or host names as given, searched by unicast;
    // the caller resolves them (ResolveSearchAddresses).
    std::vector<std::string> addresses;
    // --known: after the search, the known devices, each answering or not.
    bool known = false;
    // --no-remember: the store of known devices is left as it is.
    bool remember = true;
    // --wake ID|MAC and --forget ID, as given; empty when not asked for.
    std::string wake;
    std::string forget;
};

enum class ParseStatus
{
    Run,     // options are valid: scan
    Help,    // print the usage on standard output, exit 0
    Version, // print the version, exit 0
    Error,   // print `error` and a pointer to --help on standard error, exit 2
};

struct ParseResult
{
    ParseStatus status = ParseStatus::Run;
    ScanOptions options;
    std::string error;
};

// args excludes the program name.
ParseResult ParseScanOptions(const std::vector<std::string>& args);

std::string ScanUsage(const std::string& program);

// What standard error gets for a bad command line: the reason on one line, then
// where to read more, rather than the whole usage burying the reason.
std::string UsageErrorText(const std::string& program, const std::string& reason);
} // namespace nasscan

#endif
