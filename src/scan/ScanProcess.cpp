#include "ScanProcess.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace nasscan
{
namespace
{
// Reports arrive on the library's worker threads (one at a time, under the
// library's report lock) while the main thread prints the final list. Once the
// main thread has closed the output, a late report prints nothing, so it can
// never interleave with or follow the final output.
std::mutex g_outputMutex;
bool g_outputClosed = false; // guarded by g_outputMutex

// The ending signals are blocked in every thread and taken by a thread of their
// own, so they keep their meaning while the main thread or a report is stuck
// writing to a standard output that nobody reads.
std::mutex g_signalMutex;
std::condition_variable g_signalled;
int g_signal = 0; // guarded by g_signalMutex

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
} // namespace

bool WriteOutput(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    if (g_outputClosed)
        return true;
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0;
}

std::unique_lock<std::mutex> CloseOutput()
{
    std::unique_lock<std::mutex> lock(g_outputMutex);
    g_outputClosed = true;
    return lock;
}

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

bool TakeEndingSignals()
{
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
        return false;
    }
    pthread_detach(signalThread);
    return true;
}

bool WaitForSignal(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(g_signalMutex);
    return g_signalled.wait_until(lock, until, [] { return g_signal != 0; });
}
} // namespace nasscan
