// nasfinder-scan: a search of the local network without a desktop, for scripts.
// Standard output carries only results; everything else goes to standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "HelperPath.h"
#include "HostAddress.h"
#include "InterfaceChoice.h"
#include "Neighbours.h"
#include "ScanOptions.h"
#include "ScanOutput.h"
#include "ScanProcess.h"
#include "ScanSession.h"
#include "SearchLog.h"
#include "SearchPorts.h"
#include "SearchSession.h"
#include "TerminalText.h"
#include "WakePlan.h"

#ifndef NASFINDER_VERSION
#error "NASFINDER_VERSION must be defined by the build"
#endif

namespace
{
using nasscan::CloseOutput;
using nasscan::Finish;
using nasscan::kProgram;
using nasscan::WaitForSignal;
using nasscan::WriteOutput;

// Said when a search lists nothing: the commonest cause on a desktop.
const char kFirewallHint[] =
    "A firewall may drop the devices' answers: see the FIREWALL section of \"man nasfinder-scan\".";

// The application callback: every report of the library, before the registry's
// filter and merge decisions show, with the vendor as the device sent it.
int RawReport(void* record, int nPort)
{
    if (record == nullptr)
        return 0;
    deviceinfo copy;
    std::memcpy(static_cast<void*>(&copy), record, sizeof(copy));
    WriteOutput(nasscan::RecordToJson(copy, true, nPort) + "\n");
    return 0;
}

// The library binds its sockets without a word of a port it could not have
// (and logs it only with its log on): tell the user once which searches cannot
// run. False when none can.
bool SayWhichSearchesCannotRun(const nasfinder::SessionStatus& status)
{
    const nasscan::SearchPortVerdict verdict = nasscan::JudgeSearchPorts(status.library, status.helperPath);
    for (const std::string& warning : verdict.warnings)
        std::fprintf(stderr, "%s: %s\n", kProgram, warning.c_str());
    return verdict.anyRuns;
}

// A search that leaves by no interface would end in "no devices found" and send
// the user looking for a firewall: say instead what keeps every interface out.
// Devices named with --address are still searched, by their own routes. True
// when it said so.
bool SayIfNoInterfaceCanSearch(const nasscan::ScanOptions& opts, const nasfinder::SessionStatus& status)
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

// A flood of forged devices fills the registry to its limit; the user learns
// once that the list stopped growing.
void SayOnceIfTheListIsFull(const nasfinder::SessionStatus& status)
{
    static bool said = false;
    if (said || status.refusedForFullList == 0)
        return;
    said = true;
    std::fprintf(stderr, "%s: the device list is full (%zu devices); further new devices are not listed\n",
                 kProgram, status.maxDevices);
}

// What became of the store of known devices, a line each, once in a run;
// with --verbose, each device not kept for its address too. None ends the
// scan.
bool g_verbose = false;
void SayWhatBecameOfTheStore(const std::optional<nasknown::StoreResult>& result)
{
    if (!result)
        return;
    if (!result->movedAside.empty())
        std::fprintf(stderr, "%s: %s\n", kProgram, nasfinder::TerminalText(result->movedAside).c_str());
    if (!result->ok && !result->saidBefore)
        std::fprintf(stderr, "%s: the known devices cannot be kept: %s\n", kProgram,
                     nasfinder::TerminalText(result->error).c_str());
    if (g_verbose)
    {
        for (const std::string& line : result->notKept)
            std::fprintf(stderr, "%s: %s\n", kProgram, nasfinder::TerminalText(line).c_str());
    }
}

// The local date and time, for the lists of --watch.
std::string LocalTimeLine()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[64] = {0};
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S %Z", &local) == 0)
        return std::string();
    return std::string(text) + "\n";
}

using Clock = std::chrono::steady_clock;

[[noreturn]] void RunWatch(nasfinder::SearchSession& session, const nasscan::ScanOptions& opts)
{
    bool printed = false;
    std::vector<deviceinfo> shown;
    session.BeginWatch(Clock::now());
    // A look every second on the clock, however long printing a large list
    // took.
    session.Run(std::chrono::seconds(1), &WaitForSignal,
                [&](const nasfinder::SessionTick& tick, Clock::time_point, bool look)
                {
                    SayWhatBecameOfTheStore(tick.remembered);
                    if (nasscan::PrintsEachReport(opts.format) || !look)
                        return true;
                    SayOnceIfTheListIsFull(session.Status());
                    if (nasscan::FoldSnapshot(shown, session.Answering()) || !printed)
                    {
                        std::string text = nasscan::PrintedList(opts.format, shown);
                        if (nasscan::FormatOf(opts.format).datedInWatch)
                            text = LocalTimeLine() + text + '\n';
                        if (!WriteOutput(text))
                            Finish(1);
                        printed = true;
                    }
                    return true;
                });

    // The library is left running; the process ends at once instead.
    auto lock = CloseOutput();
    Finish(0);
}

[[noreturn]] void RunScan(nasfinder::SearchSession& session, const nasscan::ScanOptions& opts)
{
    const bool countdown = isatty(STDERR_FILENO) == 1;
    session.BeginSearch(Clock::now(), std::chrono::seconds(opts.seconds));
    session.Run(std::chrono::seconds(1), &WaitForSignal,
                [&](const nasfinder::SessionTick& tick, Clock::time_point now, bool)
                {
                    SayWhatBecameOfTheStore(tick.remembered);
                    if (countdown && !tick.searchEnded)
                    {
                        std::fprintf(stderr, "\rSearching... %d s ", session.SecondsLeft(now));
                        std::fflush(stderr);
                    }
                    return !tick.searchEnded;
                });
    if (countdown)
        std::fprintf(stderr, "\r%*s\r", 24, "");
    // After Ctrl-C the output has a second to leave: the kernel is not waited
    // for then.
    session.EndSearch(std::chrono::milliseconds(0));
    session.Stop();

    const std::vector<deviceinfo>& list = session.Answering();
    if (opts.known)
        SayWhatBecameOfTheStore(session.WaitForMemory());
    auto lock = CloseOutput();
    if (!nasscan::PrintsEachReport(opts.format))
    {
        SayOnceIfTheListIsFull(session.Status());
        const std::string text =
            opts.known ? nasscan::PrintedKnown(opts.format, nasscan::KnownRows(session.Known(), list))
                       : nasscan::PrintedList(opts.format, list);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (list.empty())
            std::fprintf(stderr, "%s: no devices found. %s\n", kProgram, kFirewallHint);
    }
    std::fflush(stdout);
    // A plain list is printed before it is remembered.
    SayWhatBecameOfTheStore(session.WaitForMemory());
    Finish(0);
}

// Sends the magic packet, then searches on the usual schedule until the device
// answers (status 0) or the time runs out (status 1).
[[noreturn]] void RunWake(nasfinder::SearchSession& session, const nasscan::ScanOptions& opts,
                          const nasknown::WakePlan& plan)
{
    const std::string name = plan.id.empty() ? nasknown::MacText(plan.mac) : plan.id;
    std::vector<std::string> failures;
    const std::string error =
        session.BeginWake(plan, Clock::now(), std::chrono::seconds(opts.seconds), &failures);
    for (const std::string& failure : failures)
        std::fprintf(stderr, "%s: %s\n", kProgram, failure.c_str());
    if (!error.empty())
    {
        if (failures.empty())
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        Finish(1);
    }
    std::fprintf(stderr, "%s: sent the wake-up packet to %s (%s); waiting up to %d s for it to answer\n",
                 kProgram, nasknown::MacText(plan.mac).c_str(),
                 nasfinder::TerminalText(name.data(), name.size()).c_str(), opts.seconds);

    bool answered = false;
    // How often a wake looks for the device's answer.
    session.Run(std::chrono::milliseconds(500), &WaitForSignal,
                [&](const nasfinder::SessionTick& tick, Clock::time_point, bool)
                {
                    SayWhatBecameOfTheStore(tick.remembered);
                    answered = tick.wake == nasfinder::SessionTick::Wake::Answered;
                    return tick.wake == nasfinder::SessionTick::Wake::None;
                });
    if (!answered)
    {
        auto lock = CloseOutput();
        std::fprintf(stderr, "%s: %s did not answer within %d s\n", kProgram,
                     nasfinder::TerminalText(name.data(), name.size()).c_str(), opts.seconds);
        Finish(1);
    }
    SayWhatBecameOfTheStore(session.WaitForMemory());
    std::vector<nasscan::KnownRow> rows;
    for (const nasscan::KnownRow& row : nasscan::KnownRows(session.Known(), session.Answering()))
    {
        if (plan.id.empty() ? row.device.mac == nasknown::MacText(plan.mac)
                            : row.device.id == plan.id && row.device.vendor == plan.vendor)
            rows.push_back(row);
    }
    auto lock = CloseOutput();
    const std::string text = nasscan::PrintedKnown(opts.format, rows);
    std::fwrite(text.data(), 1, text.size(), stdout);
    Finish(0);
}

// --forget: no search; the device leaves the store.
int ForgetKnown(nasfinder::SearchSession& session, const std::string& id)
{
    nasknown::StoreResult result;
    const std::vector<nasknown::KnownDevice> removed = session.Forget(id, std::string(), result);
    if (!result.movedAside.empty())
        std::fprintf(stderr, "%s: %s\n", kProgram, result.movedAside.c_str());
    if (!result.ok)
    {
        std::fprintf(stderr, "%s: the known devices cannot be kept: %s\n", kProgram, result.error.c_str());
        return 1;
    }
    if (removed.empty())
    {
        std::fprintf(stderr, "%s: --forget '%s': no known device has this id (see --known)\n", kProgram,
                     nasfinder::TerminalText(nasfinder::EchoedArgument(id)).c_str());
        return 2;
    }
    for (const nasknown::KnownDevice& device : removed)
    {
        const std::string what = (device.host.empty() ? device.address : device.host) + " (" + device.vendor +
                                 " " + device.id +
                                 (device.address.empty() ? "" : ", last at " + device.address) + ")";
        std::fprintf(stderr, "%s: forgot %s\n", kProgram, nasfinder::TerminalText(what).c_str());
    }
    return 0;
}

int UsageError(const std::string& reason)
{
    std::fputs(nasscan::UsageErrorText(kProgram, reason).c_str(), stderr);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    // Before anything else runs: the helper that holds port 67, then no privilege.
    if (!nasfinder::SearchSession::StartBroadcastHelperThenDropPrivileges(kProgram))
        return 1;

    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const nasscan::ParseResult parsed = nasscan::ParseScanOptions(args);
    switch (parsed.status)
    {
    case nasscan::ParseStatus::Help:
        std::fputs(nasscan::ScanUsage(kProgram, nasfinder::BroadcastHelperPath()).c_str(), stdout);
        return 0;
    case nasscan::ParseStatus::Version:
        std::printf("%s %s\n", kProgram, NASFINDER_VERSION);
        return 0;
    case nasscan::ParseStatus::Error:
        return UsageError(parsed.error);
    case nasscan::ParseStatus::Run:
        break;
    }
    const nasscan::ScanOptions& opts = parsed.options;
    g_verbose = opts.verbose;

    if (const InterfaceChoiceCheck check = RefuseInterfaceChoice(kProgram, opts.interfaces); check.refusal)
        return UsageError(*check.refusal);

    nasfinder::SearchSession session(nasscan::ScanSessionSettings(opts, &RawReport));
    if (!opts.forget.empty())
        return ForgetKnown(session, opts.forget);
    // Where the packet goes is settled before anything starts: a bad MAC or
    // an unknown device sends nothing.
    nasknown::WakePlan wakePlan;
    if (!opts.wake.empty())
    {
        SayWhatBecameOfTheStore(session.LoadKnown());
        std::vector<LocalInterface> interfaces;
        ListLocalInterfaces(interfaces);
        wakePlan = nasknown::PlanWake(opts.wake, session.Known(), nasknown::BroadcastLinks(interfaces));
        if (!wakePlan.error.empty())
        {
            std::fprintf(stderr, "%s: %s\n", kProgram,
                         nasfinder::TerminalText(wakePlan.error.data(), wakePlan.error.size()).c_str());
            return 2;
        }
    }

    // Names are looked up once, here, while Ctrl-C still ends a slow resolver.
    const nasfinder::SearchAddresses beyond = nasfinder::ResolveSearchAddresses(opts.addresses);
    if (!beyond.error.empty())
        return UsageError(beyond.error);
    session.SetAddresses(beyond.addresses);

    if (!opts.logDir.empty())
    {
        struct stat st
        {
        };
        if (stat(opts.logDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return UsageError("log directory '" + opts.logDir + "' is not an existing directory");
        // The library drops a log it cannot open without a word; a user who asked
        // for one learns it now instead.
        const std::string logFile = SearchDeviceShowLog::io_log_file_path(opts.logDir.c_str());
        if (logFile.empty())
            return UsageError("log directory '" + opts.logDir + "' is too long a name for the log file");
        if (!SearchDeviceShowLog::io_log_file_usable(logFile))
        {
            const int err = errno;
            struct stat file
            {
            };
            const bool other = lstat(logFile.c_str(), &file) == 0 && !S_ISREG(file.st_mode);
            return UsageError("cannot create or append to the log file '" + logFile +
                              "': " + (other ? "it is not a regular file" : std::strerror(err)));
        }
    }

    if (!nasscan::TakeEndingSignals())
        return 1;

    session.Start();
    if (opts.known || opts.remember)
        SayWhatBecameOfTheStore(session.LoadKnown());
    const nasfinder::SessionStatus status = session.Status();
    if (!SayWhichSearchesCannotRun(status) || SayIfNoInterfaceCanSearch(opts, status))
        Finish(1);

    if (opts.watch)
        RunWatch(session, opts);
    if (!opts.wake.empty())
        RunWake(session, opts, wakePlan);
    RunScan(session, opts);
}
