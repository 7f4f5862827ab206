#include "ScanWatch.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "PrometheusText.h"
#include "ScanNotices.h"
#include "ScanOutput.h"
#include "ScanProcess.h"
#include "TerminalText.h"
#include "WatchEvents.h"

namespace nasscan
{
namespace
{
using Clock = std::chrono::steady_clock;

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

// What a watch shows: the list as it last printed it, or the events since.
class WatchOutput
{
public:
    explicit WatchOutput(const ScanOptions& opts) : m_opts(opts) {}

    // A look: the list as the session has it now.
    void Look(const std::vector<deviceinfo>& answering)
    {
        const std::vector<deviceinfo> before = m_opts.events ? m_shown : std::vector<deviceinfo>();
        const bool changed = FoldSnapshot(m_shown, answering);
        if (m_opts.events)
        {
            for (const WatchEvent& event : EventsBetween(before, m_shown))
                Write(EventLine(event, static_cast<std::int64_t>(std::time(nullptr))));
            return;
        }
        if (!changed && m_printed)
            return;
        // A table shows some fields only: a change of another (a version)
        // prints nothing, while JSON, which carries them all, is printed.
        const std::string text = PrintedList(m_opts.format, m_shown);
        if (m_printed && text == m_lastText)
            return;
        m_lastText = text;
        m_printed = true;
        Write(FormatOf(m_opts.format).datedInWatch ? LocalTimeLine() + text + '\n' : text);
    }

    const std::vector<deviceinfo>& Shown() const { return m_shown; }

private:
    static void Write(const std::string& text)
    {
        if (!WriteOutput(text))
            Finish(1);
    }

    const ScanOptions& m_opts;
    std::vector<deviceinfo> m_shown;
    std::string m_lastText;
    bool m_printed = false;
};

// The metrics of a round, into the file node_exporter reads; a failure is
// said once until a write succeeds again.
void WriteMetrics(const ScanOptions& opts, const nasfinder::SearchSession& session,
                  const std::vector<deviceinfo>& shown, std::uint64_t rounds)
{
    static std::string said;
    MetricsRound round;
    round.known = KnownRows(session.Known(), shown);
    round.answering = shown.size();
    round.rounds = rounds;
    round.broadcastSearch = session.Status().library.broadcast_bound != 0;
    const std::string why = nasfinder::ReplaceFile(opts.prometheusFile, PrometheusText(round), 0644);
    if (!why.empty() && why != said)
        std::fprintf(stderr, "%s: %s\n", kProgram, nasfinder::TerminalText(why).c_str());
    said = why;
}
} // namespace

[[noreturn]] void RunWatch(nasfinder::SearchSession& session, const ScanOptions& opts)
{
    WatchOutput output(opts);
    std::uint64_t rounds = 1;
    bool firstMetrics = opts.prometheusFile.empty();
    const Clock::time_point start = Clock::now();
    session.BeginWatch(start, std::nullopt, std::chrono::seconds(opts.watchSeconds));
    // A look every second on the clock, however long printing a large list
    // took.
    session.Run(std::chrono::seconds(1), &WaitForSignal,
                [&](const nasfinder::SessionTick& tick, Clock::time_point now, bool look)
                {
                    SayWhatBecameOfTheStore(tick.remembered, opts.verbose);
                    if (PrintsEachReport(opts.format))
                        return true;
                    if (look)
                    {
                        SayOnceIfTheListIsFull(session.Status());
                        output.Look(session.Answering());
                    }
                    // After every round, and once the first round's answers
                    // are in, so that a long round leaves no gap at the start.
                    if (!opts.prometheusFile.empty() &&
                        (tick.roundEnded ||
                         (!firstMetrics && now - start >= std::chrono::seconds(nasfinder::kSearchSeconds))))
                    {
                        WriteMetrics(opts, session, output.Shown(), rounds);
                        firstMetrics = true;
                    }
                    if (tick.roundEnded)
                        ++rounds;
                    return true;
                });

    // The library is left running; the process ends at once instead.
    auto lock = CloseOutput();
    Finish(0);
}
} // namespace nasscan
