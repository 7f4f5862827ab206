#include "ScanLibrary.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ScanOutput.h"
#include "SearchDeviceOpt.h"
#include "ShowLog.h"

namespace nasscan
{
namespace
{
// Both the trace and the echo carry device bytes as they came off the network:
// a vendor name could otherwise retitle or clear the user's terminal. One write
// per line keeps lines of different threads whole.
void InertLineToStderr(const char* line, std::size_t length)
{
    const std::string text = InertLine(line, length);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void DropLine(const char*, std::size_t) {}

std::vector<const char*> Texts(const std::vector<std::string>& items)
{
    std::vector<const char*> texts;
    for (const std::string& item : items)
        texts.push_back(item.c_str());
    return texts;
}
} // namespace

int StartLibrary(const ScanOptions& opts, DeviceCallback rawReport)
{
    SearchDeviceShowLog::io_set_echo_sink(opts.verbose ? &InertLineToStderr : &DropLine);
    CDeviceSearchInterface::SetTraceSink(opts.verbose ? &InertLineToStderr : &DropLine);
    const std::vector<const char*> include = Texts(opts.interfaces);
    const std::vector<const char*> exclude = Texts(opts.excludedInterfaces);
    search_dll_set_interfaces(include.data(), static_cast<int>(include.size()), exclude.data(),
                              static_cast<int>(exclude.size()));
    return CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(
        opts.raw ? rawReport : nullptr, !opts.logDir.empty(),
        opts.logDir.empty() ? nullptr : opts.logDir.c_str(), opts.multiIP);
}
} // namespace nasscan
