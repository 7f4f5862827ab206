#include "ScanLibrary.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "HostAddress.h"
#include "ScanOutput.h"
#include "InterfaceChoice.h"
#include "net/UnicastAddress.h"
#include "TerminalText.h"
#include "log/ShowLog.h"

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

// Whether the resolver reads text as a number ("010.0.0.1", "0x7f.1", "1.2.3"),
// which would name another host than the one the user sees.
bool ReadsAsNumber(const std::string& text)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0)
        return false;
    freeaddrinfo(list);
    return true;
}

// The device addresses one --address text stands for; error says why none.
std::vector<std::uint32_t> DeviceAddressesOf(const std::string& text, const std::vector<LocalInterface>& local,
                                             std::string& error)
{
    const std::string option = "--address '" + text + "'";
    if (const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(text))
    {
        if (!IsDeviceUnicastIPv4(*address))
            error = option + " is no device's address (multicast, broadcast, 0.0.0.0/8, 127.0.0.0/8 or reserved)";
        else if (IsLocalSubnetEdge(*address, local))
            error = option + " is the network or broadcast address of a local subnet, no device's address";
        else
            return {*address};
        return {};
    }
    if (ReadsAsNumber(text))
    {
        error = option +
                " is not an IPv4 address in dotted decimal form (four numbers 0 to 255, no leading zero)";
        return {};
    }
    const nasfinder::ResolvedName resolved = nasfinder::ResolveIPv4(text);
    if (!resolved.error.empty())
    {
        error = option + ": the name cannot be resolved (" + resolved.error + ")";
        return {};
    }
    std::vector<std::uint32_t> devices;
    std::copy_if(resolved.addresses.begin(), resolved.addresses.end(), std::back_inserter(devices),
                 [&local](std::uint32_t address) { return IsSearchableUnicastAddress(address, local); });
    if (devices.empty())
        error = option + " resolves to no device's address (" +
                nasfinder::IPv4Text(resolved.addresses.front()) + ")";
    return devices;
}
} // namespace

std::string ResolveSearchAddresses(const std::vector<std::string>& texts, std::vector<std::string>& addresses)
{
    addresses.clear();
    std::vector<LocalInterface> local;
    if (!texts.empty())
        ListLocalInterfaces(local);
    for (const std::string& text : texts)
    {
        std::string error;
        const std::vector<std::uint32_t> found = DeviceAddressesOf(text, local, error);
        if (found.empty())
            return error;
        for (std::uint32_t address : found)
        {
            const std::string dotted = nasfinder::IPv4Text(address);
            if (std::find(addresses.begin(), addresses.end(), dotted) == addresses.end())
                addresses.push_back(dotted);
        }
    }
    return {};
}

int StartLibrary(const ScanOptions& opts, DeviceCallback rawReport,
                 const std::vector<std::string>& searchAddresses)
{
    SearchDeviceShowLog::io_set_echo_sink(opts.verbose ? &InertLineToStderr : &DropLine);
    CDeviceSearchInterface::SetTraceSink(opts.verbose ? &InertLineToStderr : &DropLine);
    InterfaceChoice choice;
    choice.include = opts.interfaces;
    choice.exclude = opts.excludedInterfaces;
    ChooseSearchInterfaces(choice);
    CDeviceSearchInterface::GetInstance()->SetSearchAddresses(searchAddresses);
    return CDeviceSearchInterface::GetInstance()->DeviceSearchDllInit(
        opts.raw ? rawReport : nullptr, !opts.logDir.empty(),
        opts.logDir.empty() ? nullptr : opts.logDir.c_str(), opts.multiIP);
}
} // namespace nasscan
