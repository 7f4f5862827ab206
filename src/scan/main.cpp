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
#include "ScanNotices.h"
#include "ScanOutput.h"
#include "ScanProcess.h"
#include "ScanWatch.h"
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

using Clock = std::chrono::steady_clock;

[[noreturn]] void RunScan(nasfinder::SearchSession& session, const nasscan::ScanOptions& opts)
{
    const bool countdown = isatty(STDERR_FILENO) == 1;
    session.BeginSearch(Clock::now(), std::chrono::seconds(opts.seconds));
    session.Run(std::chrono::seconds(1), &WaitForSignal,
                [&](const nasfinder::SessionTick& tick, Clock::time_point now, bool)
                {
                    nasscan::SayWhatBecameOfTheStore(tick.remembered, opts.verbose);
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
        nasscan::SayWhatBecameOfTheStore(session.WaitForMemory(), opts.verbose);
    auto lock = CloseOutput();
    if (!nasscan::PrintsEachReport(opts.format))
    {
        nasscan::SayOnceIfTheListIsFull(session.Status());
        const std::string text =
            opts.known ? nasscan::PrintedKnown(opts.format, nasscan::KnownRows(session.Known(), list))
                       : nasscan::PrintedList(opts.format, list);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (list.empty())
        {
            std::vector<LocalInterface> local;
            ListLocalInterfaces(local);
            const std::string hint =
                nasscan::NothingFoundHint(session.Known(), local, session.Status().searchesAddresses);
            std::fprintf(stderr, "%s: no devices found. %s\n", kProgram, hint.c_str());
        }
    }
    std::fflush(stdout);
    // A plain list is printed before it is remembered.
    nasscan::SayWhatBecameOfTheStore(session.WaitForMemory(), opts.verbose);
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
                    nasscan::SayWhatBecameOfTheStore(tick.remembered, opts.verbose);
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
    nasscan::SayWhatBecameOfTheStore(session.WaitForMemory(), opts.verbose);
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
        nasscan::SayWhatBecameOfTheStore(session.LoadKnown(), opts.verbose);
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
        nasscan::SayWhatBecameOfTheStore(session.LoadKnown(), opts.verbose);
    const nasfinder::SessionStatus status = session.Status();
    if (!nasscan::SayWhichSearchesCannotRun(status) || nasscan::SayIfNoInterfaceCanSearch(opts, status))
        Finish(1);

    if (opts.watch)
        nasscan::RunWatch(session, opts);
    if (!opts.wake.empty())
        RunWake(session, opts, wakePlan);
    RunScan(session, opts);
}
