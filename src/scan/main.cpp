// nasfinder-scan: a search of the local network without a desktop, for scripts.
// Standard output carries only results; everything else goes to standard error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceSearchInterface.h"
#include "ScanOptions.h"
#include "ScanOutput.h"
#include "ShowLog.h"

#ifndef NASFINDER_VERSION
#error "NASFINDER_VERSION must be defined by the build"
#endif

namespace
{
const char kProgram[] = "nasfinder-scan";
constexpr int kBroadcastPort = 67;

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

std::string SelfPath()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return kProgram;
    return std::string(buf, static_cast<std::size_t>(n));
}

// Binding port 67 needs privileges on Linux. The library would only log the
// failure (and only with its log on), so find out first and tell the user once.
void CheckBroadcastPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kBroadcastPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
    {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            std::fprintf(stderr,
                         "%s: cannot bind UDP port %d (%s), so the broadcast search is off; run as root or "
                         "grant the binary the capability: setcap cap_net_bind_service=+ep %s. Going on with "
                         "SSDP alone.\n",
                         kProgram, kBroadcastPort, std::strerror(err), SelfPath().c_str());
        else
            std::fprintf(stderr,
                         "%s: cannot bind UDP port %d (%s), so the broadcast search gets no answers. Going "
                         "on with SSDP alone.\n",
                         kProgram, kBroadcastPort, std::strerror(err));
    }
    close(fd);
}

timespec ToTimespec(std::chrono::milliseconds ms)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms.count() / 1000);
    ts.tv_nsec = static_cast<long>((ms.count() % 1000) * 1000000);
    return ts;
}

// Waits up to `timeout` for one of the blocked signals; true when one came.
bool WaitForSignal(const sigset_t& signals, std::chrono::milliseconds timeout)
{
    const timespec ts = ToTimespec(timeout);
    for (;;)
    {
        const int sig = sigtimedwait(&signals, nullptr, &ts);
        if (sig > 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// The scan's wait, with a countdown on standard error when that is a terminal.
void WaitForAnswers(int seconds, const sigset_t& signals)
{
    using namespace std::chrono;
    const bool countdown = isatty(STDERR_FILENO) == 1;
    const auto deadline = steady_clock::now() + std::chrono::seconds(seconds);
    for (;;)
    {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0)
            break;
        if (countdown)
        {
            std::fprintf(stderr, "\rSearching... %lld s ",
                         static_cast<long long>((left.count() + 999) / 1000));
            std::fflush(stderr);
        }
        // Wake on the next whole second so the countdown steps evenly.
        const milliseconds step =
            left.count() % 1000 == 0 ? milliseconds(1000) : milliseconds(left.count() % 1000);
        if (WaitForSignal(signals, step))
            break;
    }
    if (countdown)
        std::fprintf(stderr, "\r%*s\r", 24, "");
}

std::string RenderList(const std::vector<deviceinfo>& list, bool json)
{
    return json ? nasscan::ListToJson(list) + "\n" : nasscan::ListToTable(list);
}

[[noreturn]] void RunWatch(const nasscan::ScanOptions& opts, const sigset_t& signals)
{
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    // The refresh loop sends every search (the first one at once) and ages the
    // list; it owns the library's entry points from here on, which must never
    // run on two threads at once.
    pthread_t refresher;
    void* (*loop)(void*) = &CDeviceSearchInterface::RefreshDeviceList;
    if (pthread_create(&refresher, nullptr, loop, nullptr) != 0)
    {
        std::fprintf(stderr, "%s: cannot start the refresh thread\n", kProgram);
        Finish(1);
    }
    pthread_detach(refresher);

    std::string last;
    bool printed = false;
    std::vector<deviceinfo> list;
    do
    {
        if (!opts.raw)
        {
            registry->GetDeviceList(list);
            std::string text = RenderList(list, opts.json);
            if (!opts.json)
                text += '\n'; // a blank line between two tables
            if (!printed || text != last)
            {
                if (!WriteOutput(text))
                    Finish(1);
                last = std::move(text);
                printed = true;
            }
        }
    } while (!WaitForSignal(signals, std::chrono::milliseconds(1000)));

    // The library is left running: stopping it here would call its entry points
    // beside the refresh thread. The process ends at once instead.
    auto lock = CloseOutput();
    Finish(0);
}

[[noreturn]] void RunScan(const nasscan::ScanOptions& opts, const sigset_t& signals)
{
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->SendSearchDeviceCommand(nullptr);
    WaitForAnswers(opts.seconds, signals);
    registry->DeviceSearchDllExit();

    auto lock = CloseOutput();
    if (!opts.raw)
    {
        std::vector<deviceinfo> list;
        registry->GetDeviceList(list);
        const std::string text = RenderList(list, opts.json);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (list.empty())
            std::fprintf(stderr, "%s: no devices found\n", kProgram);
    }
    Finish(0);
}

int UsageError(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\n%s", kProgram, reason.c_str(), nasscan::ScanUsage(kProgram).c_str());
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const nasscan::ParseResult parsed = nasscan::ParseScanOptions(args);
    switch (parsed.status)
    {
    case nasscan::ParseStatus::Help:
        std::fputs(nasscan::ScanUsage(kProgram).c_str(), stdout);
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

    if (!opts.logDir.empty())
    {
        struct stat st
        {
        };
        if (stat(opts.logDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return UsageError("log directory '" + opts.logDir + "' is not an existing directory");
    }

    // Block the ending signals before any thread exists, so every thread the
    // library starts inherits the mask and they are only ever taken by
    // sigtimedwait on this thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // Standard output carries only results.
    SearchDeviceShowLog::io_set_echo_stream(stderr);
    CDeviceSearchInterface::SetPrintStream(stderr);

    CheckBroadcastPort();

    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->DeviceSearchDllInit(opts.raw ? &RawReport : nullptr, !opts.logDir.empty(),
                                  opts.logDir.empty() ? nullptr : opts.logDir.c_str(), opts.multiIP);

    if (opts.watch)
        RunWatch(opts, signals);
    RunScan(opts, signals);
}
