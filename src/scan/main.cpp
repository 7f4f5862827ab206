// nasfinder-scan: a search of the local network without a desktop, for scripts.
// Standard output carries only results; everything else goes to standard error.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceSearchInterface.h"
#include "HostAddress.h"
#include "InterfaceChoice.h"
#include "Neighbours.h"
#include "ProcessPrivileges.h"
#include "ScanKnown.h"
#include "ScanLibrary.h"
#include "ScanOptions.h"
#include "ScanOutput.h"
#include "SearchPorts.h"
#include "SearchDriver.h"
#include "TerminalText.h"
#include "SearchLog.h"

#ifndef NASFINDER_VERSION
#error "NASFINDER_VERSION must be defined by the build"
#endif

namespace
{
const char kProgram[] = "nasfinder-scan";
// Said when a search lists nothing: the commonest cause on a desktop.
const char kFirewallHint[] =
    "A firewall may drop the devices' answers: see the FIREWALL section of \"man nasfinder-scan\".";

// Reports arrive on the library's worker threads (one at a time, under the
// library's report lock) while the main thread prints the final list. Once the
// main thread has closed the output, a late report prints nothing, so it can
// never interleave with or follow the final output.
std::mutex g_outputMutex;
bool g_outputClosed = false; // guarded by g_outputMutex

bool WriteOutput(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    if (g_outputClosed)
        return true;
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0;
}

// Takes the output for good: after this nothing else is written to stdout.
// Returns with the output mutex held so no report can slip in before the end.
std::unique_lock<std::mutex> CloseOutput()
{
    std::unique_lock<std::mutex> lock(g_outputMutex);
    g_outputClosed = true;
    return lock;
}

// Ends the process without running static destructors: the library's detached
// workers may still be inside a report and must not meet destroyed objects.
[[noreturn]] void Finish(int status)
{
    std::fflush(stderr);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        std::fprintf(stderr, "%s: writing the results failed\n", kProgram);
        std::fflush(stderr);
        std::_Exit(1);
    }
    std::_Exit(status);
}

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
bool SayWhichSearchesCannotRun()
{
    search_dll_status status{};
    CDeviceSearchInterface::GetInstance()->GetSearchStatus(status);
    const nasscan::SearchPortVerdict verdict =
        nasscan::JudgeSearchPorts(status, nasfinder::BroadcastHelperPath());
    for (const std::string& warning : verdict.warnings)
        std::fprintf(stderr, "%s: %s\n", kProgram, warning.c_str());
    return verdict.anyRuns;
}

// A search that leaves by no interface would end in "no devices found" and send
// the user looking for a firewall: say instead what keeps every interface out.
// Devices named with --address are still searched, by their own routes. True
// when it said so.
bool SayIfNoInterfaceCanSearch(const nasscan::ScanOptions& opts, const InterfaceChoice& choice,
                               bool searchesAddresses)
{
    search_dll_status status{};
    CDeviceSearchInterface::GetInstance()->GetSearchStatus(status);
    if (status.search_interfaces != 0 || searchesAddresses)
        return false;
    std::string reason = "no route takes the broadcast or the SSDP group out of this computer, and with "
                         "--no-multi the searches go only where the routes lead";
    if (opts.multiIP)
    {
        std::vector<LocalInterface> all;
        ListLocalInterfaces(all);
        reason = NoSearchInterfaceReason(all, choice);
    }
    std::fprintf(stderr, "%s: no interface to search on: %s\n", kProgram, reason.c_str());
    return true;
}

// The ending signals are blocked in every thread and taken by a thread of their
// own, so they keep their meaning while the main thread or a report is stuck
// writing to a standard output that nobody reads.
std::mutex g_signalMutex;
std::condition_variable g_signalled;
int g_signal = 0; // guarded by g_signalMutex

// How long standard output may take the output after a signal.
constexpr std::chrono::seconds kOutputGrace{1};

void* TakeSignals(void* arg)
{
    const sigset_t signals = *static_cast<const sigset_t*>(arg);
    int sig = 0;
    while (sigwait(&signals, &sig) != 0)
    {
    }
    {
        std::lock_guard<std::mutex> lock(g_signalMutex);
        g_signal = sig;
    }
    g_signalled.notify_all();
    // The main thread now ends the wait and prints what was found, and ends the
    // process itself when the output is taken. A reader that takes nothing would
    // keep it waiting for ever: end without a word, with the status a shell gives
    // a process ended by this signal. Further signals stay pending meanwhile.
    std::this_thread::sleep_for(kOutputGrace);
    std::_Exit(128 + sig);
}

// Whether an ending signal came: the output must then be written within
// kOutputGrace.
bool Signalled()
{
    std::lock_guard<std::mutex> lock(g_signalMutex);
    return g_signal != 0;
}

// Waits up to `timeout` for an ending signal; true when one came.
bool WaitForSignal(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(g_signalMutex);
    return g_signalled.wait_for(lock, timeout, [] { return g_signal != 0; });
}

// How often a wake looks for the device's answer.
constexpr std::chrono::milliseconds kWakeLookEvery{500};

// The scan's wait: drives the search from this thread, which owns the
// library's entry points here, until the search is over or an ending signal
// comes. Each send goes out as it falls due, the list takes its ageing step at
// a round's end, the countdown goes to standard error when asked for and that
// is a terminal, and `look`, when given, runs every kWakeLookEvery.
void SearchAndWait(CDeviceSearchInterface& registry, nasfinder::SearchDriver driver, bool countdown,
                   const std::function<void()>& look = nullptr)
{
    using namespace std::chrono;
    countdown = countdown && isatty(STDERR_FILENO) == 1;
    const auto start = steady_clock::now();
    for (;;)
    {
        const auto now = steady_clock::now() - start;
        const nasfinder::SearchStep step = driver.Take(now);
        if (step.roundEnded)
            registry.RefreshDeviceList();
        if (step.send)
        {
            registry.SendSearchDeviceCommand(nullptr);
            continue;
        }
        if (step.over)
            break;
        if (countdown)
        {
            std::fprintf(stderr, "\rSearching... %d s ", driver.SecondsLeft(now));
            std::fflush(stderr);
        }
        if (look)
            look();
        // Woken when the countdown steps, at the next send, or to look again.
        milliseconds wait = std::max(milliseconds(0), ceil<milliseconds>(driver.NextAt(now) - now));
        if (look)
            wait = std::min(wait, kWakeLookEvery);
        if (WaitForSignal(wait))
            break;
    }
    if (countdown)
        std::fprintf(stderr, "\r%*s\r", 24, "");
}

// A flood of forged devices fills the registry to its limit; the user learns
// once that the list stopped growing.
void SayOnceIfTheListIsFull(const CDeviceSearchInterface& registry)
{
    static bool said = false;
    if (said || registry.RefusedForFullList() == 0)
        return;
    said = true;
    std::fprintf(stderr, "%s: the device list is full (%zu devices); further new devices are not listed\n",
                 kProgram, CDeviceSearchInterface::kMaxDevices);
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

// The refresh loop sends every search (the first one at once, then one each
// watch round) and ages the list; it owns the library's entry points from here
// on, which must never run on two threads at once.
void StartRefreshThread()
{
    pthread_t refresher;
    void* (*loop)(void*) = &CDeviceSearchInterface::RefreshDeviceList;
    if (pthread_create(&refresher, nullptr, loop, nullptr) != 0)
    {
        std::fprintf(stderr, "%s: cannot start the refresh thread\n", kProgram);
        Finish(1);
    }
    pthread_detach(refresher);
}

std::int64_t Now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// The store of known devices after these devices answered; each problem with
// it is a line on standard error, and none ends the scan.
std::vector<nasknown::KnownDevice> Remember(const nasscan::ScanOptions& opts,
                                            const std::vector<nasknown::KnownDevice>& sightings)
{
    std::vector<std::string> notices;
    const nasknown::KnownStore store;
    std::vector<nasknown::KnownDevice> known =
        nasscan::RememberSightings(store, sightings, opts.remember, opts.verbose, notices);
    for (const std::string& notice : notices)
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     nasfinder::TerminalText(notice.data(), notice.size()).c_str());
    return known;
}

[[noreturn]] void RunWatch(const nasscan::ScanOptions& opts)
{
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    StartRefreshThread();

    bool printed = false;
    std::vector<deviceinfo> shown;
    std::vector<deviceinfo> snapshot;
    std::optional<std::chrono::steady_clock::time_point> remembered;
    // A look every second on the clock, however long printing and
    // remembering a large list took; one that fell behind (a suspended
    // machine) goes on from now rather than catching up.
    auto nextLook = std::chrono::steady_clock::now();
    do
    {
        nextLook += std::chrono::seconds(1);
        if (nextLook <= std::chrono::steady_clock::now())
            nextLook = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        if (!nasscan::PrintsEachReport(opts.format))
        {
            registry->GetDeviceList(snapshot);
            SayOnceIfTheListIsFull(*registry);
            const bool changed = nasscan::FoldSnapshot(shown, snapshot) || !printed;
            if (changed)
            {
                std::string text = nasscan::PrintedList(opts.format, shown);
                if (nasscan::FormatOf(opts.format).datedInWatch)
                    text = LocalTimeLine() + text + '\n';
                if (!WriteOutput(text))
                    Finish(1);
                printed = true;
            }
            // Remembered after the list is out, at each change and once a
            // round besides (the devices still there were seen again). The
            // kernel is not waited for: a MAC it learns meanwhile is kept the
            // next time.
            const auto now = std::chrono::steady_clock::now();
            if (opts.remember && !shown.empty() &&
                (changed || !remembered ||
                 now - *remembered >= std::chrono::seconds(nasfinder::kWatchSeconds)))
            {
                Remember(opts, nasscan::SightingsOf(shown, Now(), std::chrono::milliseconds(0)));
                remembered = now;
            }
        }
    } while (!WaitForSignal(std::max(
        std::chrono::duration_cast<std::chrono::milliseconds>(nextLook - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(0))));

    // The library is left running: stopping it here would call its entry points
    // beside the refresh thread. The process ends at once instead.
    auto lock = CloseOutput();
    Finish(0);
}

[[noreturn]] void RunScan(const nasscan::ScanOptions& opts)
{
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    SearchAndWait(*registry, nasfinder::SearchDriver::Search(std::chrono::seconds(opts.seconds)), true);
    registry->DeviceSearchDllExit();

    std::vector<deviceinfo> list;
    registry->GetDeviceList(list);
    // After Ctrl-C the output has a second to leave: the kernel is not
    // waited for then, and a plain list is printed before it is remembered.
    const std::chrono::milliseconds resolveFor =
        Signalled() ? std::chrono::milliseconds(0) : nasknown::kResolveTime;
    std::vector<nasknown::KnownDevice> known;
    if (opts.known)
        known = Remember(opts, nasscan::SightingsOf(list, Now(), resolveFor));

    auto lock = CloseOutput();
    if (!nasscan::PrintsEachReport(opts.format))
    {
        SayOnceIfTheListIsFull(*registry);
        const std::string text = opts.known
                                     ? nasscan::PrintedKnown(opts.format, nasscan::KnownRows(known, list))
                                     : nasscan::PrintedList(opts.format, list);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (list.empty())
            std::fprintf(stderr, "%s: no devices found. %s\n", kProgram, kFirewallHint);
    }
    std::fflush(stdout);
    if (opts.remember && !opts.known)
        Remember(opts, nasscan::SightingsOf(list, Now(), resolveFor));
    Finish(0);
}

// Sends the magic packet, then searches on the usual schedule until the device
// answers (status 0) or the time runs out (status 1).
[[noreturn]] void RunWake(const nasscan::ScanOptions& opts, const nasscan::WakePlan& plan)
{
    const std::string name = plan.id.empty() ? nasknown::MacText(plan.mac) : plan.id;
    bool sent = false;
    for (const nasknown::WakeTarget& target : plan.targets)
    {
        const std::string error = nasknown::SendMagicPacket(plan.mac, target);
        if (!error.empty())
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        sent = sent || error.empty();
    }
    if (!sent)
        Finish(1);
    std::fprintf(stderr, "%s: sent the wake-up packet to %s (%s); waiting up to %d s for it to answer\n",
                 kProgram, nasknown::MacText(plan.mac).c_str(),
                 nasfinder::TerminalText(name.data(), name.size()).c_str(), opts.seconds);

    // The usual search again every watch round, sent from this thread, until
    // the device answers or the time runs out.
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    std::vector<deviceinfo> seen;
    std::vector<deviceinfo> snapshot;
    const auto lookForTheDevice = [&]
    {
        registry->GetDeviceList(snapshot);
        if (nasscan::FoldSnapshot(seen, snapshot) && !seen.empty())
        {
            // A device woken by its MAC alone is recognised by the MAC the
            // kernel learns for it; a known one by its vendor and id.
            std::vector<nasknown::KnownDevice> sightings;
            if (plan.id.empty())
                sightings = nasscan::SightingsOf(seen, Now());
            else
                for (const deviceinfo& record : seen)
                    sightings.push_back(nasknown::SightingFromRecord(record, Now()));
            if (nasscan::WokenDeviceAnswers(plan, sightings))
            {
                const std::vector<nasknown::KnownDevice> known =
                    Remember(opts, nasscan::SightingsOf(seen, Now()));
                std::vector<nasscan::KnownRow> rows;
                for (const nasscan::KnownRow& row : nasscan::KnownRows(known, seen))
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
        }
    };
    SearchAndWait(*registry, nasfinder::SearchDriver::Watch(std::chrono::seconds(opts.seconds)), false,
                  lookForTheDevice);
    auto lock = CloseOutput();
    std::fprintf(stderr, "%s: %s did not answer within %d s\n", kProgram,
                 nasfinder::TerminalText(name.data(), name.size()).c_str(), opts.seconds);
    Finish(1);
}

// --forget: no search; the device leaves the store.
int ForgetKnown(const std::string& id)
{
    std::size_t removed = 0;
    const nasknown::StoreResult result = nasknown::KnownStore().Update(
        [&](std::vector<nasknown::KnownDevice>& list) { removed = nasknown::Forget(list, id); });
    if (!result.movedAside.empty())
        std::fprintf(stderr, "%s: %s\n", kProgram, result.movedAside.c_str());
    if (!result.ok)
    {
        std::fprintf(stderr, "%s: the known devices cannot be kept: %s\n", kProgram, result.error.c_str());
        return 1;
    }
    if (removed == 0)
    {
        std::fprintf(stderr, "%s: --forget '%s': no known device has this id (see --known)\n", kProgram,
                     nasfinder::TerminalText(nasfinder::EchoedArgument(id)).c_str());
        return 2;
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
    if (!nasfinder::StartBroadcastHelperThenDropPrivileges(kProgram))
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

    const InterfaceChoice& choice = opts.interfaces;
    if (const InterfaceChoiceCheck check = RefuseInterfaceChoice(kProgram, choice); check.refusal)
        return UsageError(*check.refusal);

    if (!opts.forget.empty())
        return ForgetKnown(opts.forget);
    // Where the packet goes is settled before anything starts: a bad MAC or
    // an unknown device sends nothing.
    nasscan::WakePlan wakePlan;
    if (!opts.wake.empty())
    {
        std::vector<nasknown::KnownDevice> known;
        const nasknown::StoreResult loaded = nasknown::KnownStore().Load(known);
        if (!loaded.movedAside.empty())
            std::fprintf(stderr, "%s: %s\n", kProgram, loaded.movedAside.c_str());
        if (!loaded.ok)
            std::fprintf(stderr, "%s: the known devices cannot be read: %s\n", kProgram,
                         loaded.error.c_str());
        std::vector<LocalInterface> interfaces;
        ListLocalInterfaces(interfaces);
        wakePlan = nasscan::PlanWake(opts.wake, known, nasknown::BroadcastLinks(interfaces));
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
    const std::vector<std::string>& searchAddresses = beyond.addresses;

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

    // A reader that goes away (`| head -1`) ends the command at once, as it ends
    // any filter, even when the parent left SIGPIPE ignored or blocked.
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);

    // Block the ending signals before any thread exists, so every thread the
    // library starts inherits the mask and they are only ever taken by the
    // signal thread.
    static sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    pthread_t signalThread;
    if (pthread_create(&signalThread, nullptr, &TakeSignals, &signals) != 0)
    {
        std::fprintf(stderr, "%s: cannot start the signal thread\n", kProgram);
        return 1;
    }
    pthread_detach(signalThread);

    nasscan::StartLibrary(opts, &RawReport, searchAddresses);
    if (!SayWhichSearchesCannotRun() || SayIfNoInterfaceCanSearch(opts, choice, !searchAddresses.empty()))
        Finish(1);

    if (opts.watch)
        RunWatch(opts);
    if (!opts.wake.empty())
        RunWake(opts, wakePlan);
    RunScan(opts);
}
