// Command line of nasfinder-scan: its table of options. Parsing is a pure
// function of the arguments so that every rule can be tested without starting
// anything.
#ifndef NASFINDER_SCAN_SCANOPTIONS_H
#define NASFINDER_SCAN_SCANOPTIONS_H

#include <string>
#include <vector>

#include "CommandLine.h"
#include "ScanOutput.h"
#include "SearchSchedule.h"

namespace nasscan
{
constexpr int kDefaultSeconds = nasfinder::kSearchSeconds;
constexpr int kMinSeconds = 1;
constexpr int kMaxSeconds = 3600;
constexpr int kDefaultWakeSeconds = nasfinder::kWakeSeconds;
// A watch's searches: never closer than the round the schedule is made for
// (its sends and the devices' answers take most of it), and at most an hour
// apart.
constexpr int kMinWatchSeconds = nasfinder::kWatchSeconds;
constexpr int kMaxWatchSeconds = 3600;

struct ScanOptions : nasfinder::CommonOptions
{
    int seconds = kDefaultSeconds;
    bool secondsGiven = false;
    // --json, --csv, --raw: one of OutputFormats().
    Format format = Format::Table;
    bool watch = false;
    // With --watch: the time between its searches (--watch-every), a JSON
    // line per change instead of the list (--events), and the file replaced
    // with the metrics after every round (--prometheus; empty: none).
    int watchSeconds = nasfinder::kWatchSeconds;
    bool events = false;
    std::string prometheusFile;
    bool multiIP = true;
    // The registry's trace and, with logDir, the log's echo on standard error.
    bool verbose = false;
    // Empty: diagnostic log off. Otherwise the directory, always ending in '/'.
    std::string logDir;
    // --known: after the search, the known devices, each answering or not.
    bool known = false;
    // --no-remember: the store of known devices is left as it is.
    bool remember = true;
    // --no-follow-up: known devices that have not answered are not searched
    // at their own addresses.
    bool followUps = true;
    // --wake ID|MAC and --forget ID, as given; empty when not asked for.
    std::string wake;
    std::string forget;
};

using nasfinder::ParseStatus;
using ParseResult = nasfinder::Parsed<ScanOptions>;

// args excludes the program name.
ParseResult ParseScanOptions(const std::vector<std::string>& args);

// helperPath, the broadcast helper's file, is what the privilege's advice names.
std::string ScanUsage(const std::string& program, const std::string& helperPath);

// What standard error gets for a bad command line: the reason on one line, then
// where to read more, rather than the whole usage burying the reason.
std::string UsageErrorText(const std::string& program, const std::string& reason);
} // namespace nasscan

#endif
