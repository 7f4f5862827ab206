#include "ScanLibrary.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "HostAddress.h"
#include "ScanOutput.h"
#include "InterfaceChoice.h"
#include "TerminalText.h"
#include "SearchLog.h"

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

int StartLibrary(const ScanOptions& opts, DeviceCallback rawReport,
                 const std::vector<std::string>& searchAddresses)
{
    SearchDeviceShowLog::io_set_echo_sink(opts.verbose ? &InertLineToStderr : &DropLine);
    CDeviceSearchInterface::SetTraceSink(opts.verbose ? &InertLineToStderr : &DropLine);
    ChooseSearchInterfaces(opts.interfaces);
    nasfinder::SearchTheseAddresses(searchAddresses);
    return CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(
        PrintsEachReport(opts.format) ? rawReport : nullptr, !opts.logDir.empty(),
        opts.logDir.empty() ? nullptr : opts.logDir.c_str(), opts.multiIP);
}
} // namespace nasscan
