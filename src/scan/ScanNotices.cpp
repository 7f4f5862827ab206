#include "ScanNotices.h"

#include <cstdio>

#include "HostAddress.h"
#include "InterfaceChoice.h"
#include "ScanProcess.h"
#include "SearchPorts.h"
#include "TerminalText.h"

namespace nasscan
{
bool SayWhichSearchesCannotRun(const nasfinder::SessionStatus& status)
{
    const SearchPortVerdict verdict = JudgeSearchPorts(status.library, status.helperPath);
    for (const std::string& warning : verdict.warnings)
        std::fprintf(stderr, "%s: %s\n", kProgram, warning.c_str());
    return verdict.anyRuns;
}

bool SayIfNoInterfaceCanSearch(const ScanOptions& opts, const nasfinder::SessionStatus& status)
{
    if (!status.NowhereToSearch())
        return false;
    std::string reason = "no route takes the broadcast or the SSDP group out of this computer, and with "
                         "--no-multi the searches go only where the routes lead";
    if (opts.multiIP)
    {
        std::vector<LocalInterface> all;
        ListLocalInterfaces(all);
        reason = NoSearchInterfaceReason(all, opts.interfaces);
    }
    std::fprintf(stderr, "%s: no interface to search on: %s\n", kProgram, reason.c_str());
    return true;
}

void SayOnceIfTheListIsFull(const nasfinder::SessionStatus& status)
{
    static bool said = false;
    if (said || status.refusedForFullList == 0)
        return;
    said = true;
    std::fprintf(stderr, "%s: the device list is full (%zu devices); further new devices are not listed\n",
                 kProgram, status.maxDevices);
}

void SayWhatBecameOfTheStore(const std::optional<nasknown::StoreResult>& result, bool verbose)
{
    if (!result)
        return;
    if (!result->movedAside.empty())
        std::fprintf(stderr, "%s: %s\n", kProgram, nasfinder::TerminalText(result->movedAside).c_str());
    if (!result->ok && !result->saidBefore)
        std::fprintf(stderr, "%s: the known devices cannot be kept: %s\n", kProgram,
                     nasfinder::TerminalText(result->error).c_str());
    if (verbose)
    {
        for (const std::string& line : result->notKept)
            std::fprintf(stderr, "%s: %s\n", kProgram, nasfinder::TerminalText(line).c_str());
    }
}

std::string NothingFoundHint(const std::vector<nasknown::KnownDevice>& known,
                             const std::vector<LocalInterface>& local, bool searchesAddresses)
{
    std::vector<std::string> beyond;
    for (const nasknown::KnownDevice& device : known)
    {
        const std::optional<std::uint32_t> address = nasfinder::ParseCanonicalIPv4(device.address);
        bool onLink = false;
        for (const LocalInterface& iface : local)
            for (const LocalSubnet& subnet : iface.subnets)
                onLink =
                    onLink || (address && (*address & subnet.netmask) == (subnet.address & subnet.netmask));
        if (address && !onLink)
            beyond.push_back("--address " + device.address);
    }
    if (!beyond.empty() && !searchesAddresses)
    {
        std::string named;
        for (std::size_t i = 0; i < beyond.size() && i < 3; ++i)
            named += (i > 0 ? " " : "") + beyond[i];
        return "known devices were last seen beyond a router, where no broadcast or group search reaches: "
               "search them by address (" +
               named + (beyond.size() > 3 ? " ..." : "") + ").";
    }
    return "A firewall may drop the devices' answers: see the FIREWALL section of \"man nasfinder-scan\"." +
           std::string(searchesAddresses ? ""
                                         : " A device beyond a router is found only by its address: "
                                           "--address ADDRESS.");
}
} // namespace nasscan
