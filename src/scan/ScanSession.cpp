#include "ScanSession.h"

#include <cstdio>
#include <string>

#include "ScanOutput.h"
#include "TerminalText.h"

namespace nasscan
{
namespace
{
// Both the trace and the echo carry device bytes as they came off the network:
// a vendor name could otherwise retitle or clear the user's terminal. One write
// per line keeps lines of different threads whole.
void InertLineToStderr(const char* line, std::size_t length)
{
    const std::string text = nasfinder::InertLine(line, length);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void DropLine(const char*, std::size_t) {}
} // namespace

nasfinder::SessionSettings ScanSessionSettings(const ScanOptions& opts, DeviceCallback rawReport,
                                               const std::vector<std::uint32_t>& addresses)
{
    nasfinder::SessionSettings settings;
    settings.interfaces = opts.interfaces;
    settings.addresses = addresses;
    settings.multiAddress = opts.multiIP;
    settings.logDir = opts.logDir;
    settings.rawReport = PrintsEachReport(opts.format) ? rawReport : nullptr;
    settings.diagnostics = opts.verbose ? &InertLineToStderr : &DropLine;
    // --no-remember leaves the store as it is: not even read, unless the
    // known devices are asked for.
    settings.writeStore = opts.remember;
    settings.readStore = opts.remember || opts.known || !opts.wake.empty();
    // A scan that leaves the store alone searches as if it knew nothing.
    settings.followUps = opts.remember && opts.followUps;
    return settings;
}
} // namespace nasscan
