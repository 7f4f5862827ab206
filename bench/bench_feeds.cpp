// What a watch feeds to other tools, at the store's cap of 1,024 known
// devices: the Prometheus text of a round and its file replaced whole (written
// beside, flushed to disk, renamed: the flush is most of it), the events
// between two lists, and the CSV of the known devices.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "BenchDevices.h"
#include "KnownDevices.h"
#include "PrometheusText.h"
#include "ScanOutput.h"
#include "WatchEvents.h"

namespace
{
constexpr std::int64_t kNow = 1796676008;

// Every known device, one in eight not answering.
nasscan::MetricsRound FullRound()
{
    nasscan::MetricsRound round;
    for (int i = 0; i < static_cast<int>(nasknown::kMaxKnownDevices); ++i)
    {
        nasscan::KnownRow row{nasknown::SightingFromRecord(BenchDevice(i), kNow - (i % 8 == 0 ? 7200 : 0)),
                              i % 8 != 0};
        round.known.push_back(row);
        round.answering += row.answering ? 1 : 0;
    }
    round.rounds = 288;
    round.broadcastSearch = true;
    return round;
}

void BM_PrometheusText_1024(benchmark::State& state)
{
    const nasscan::MetricsRound round = FullRound();
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        const std::string text = nasscan::PrometheusText(round);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PrometheusText_1024)->Unit(benchmark::kMicrosecond);

// Text and file, as the watch does after a round; the folder is under
// /var/tmp, a disk as node_exporter's folder is (/tmp may be memory).
void BM_PrometheusFile_1024(benchmark::State& state)
{
    const nasscan::MetricsRound round = FullRound();
    char folder[] = "/var/tmp/nasfinder-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
    {
        state.SkipWithError("no folder under /var/tmp");
        return;
    }
    const std::string path = std::string(folder) + "/nasfinder.prom";
    for (auto _ : state)
    {
        const std::string error = nasfinder::ReplaceFile(path, nasscan::PrometheusText(round), 0644);
        if (!error.empty())
            state.SkipWithError(error.c_str());
    }
    std::system(("rm -rf " + std::string(folder)).c_str());
}
BENCHMARK(BM_PrometheusFile_1024)->Unit(benchmark::kMicrosecond);

// A round in which an eighth of the devices changed, a quarter went and an
// eighth came.
void BM_EventsBetween_1024(benchmark::State& state)
{
    std::vector<deviceinfo> before;
    std::vector<deviceinfo> after;
    for (int i = 0; i < 1024; ++i)
    {
        before.push_back(BenchDevice(i));
        if (i % 8 != 1)
            after.push_back(
                BenchDevice(i % 8 == 0 ? i + 100000 : i, "TAVIK", i % 8 == 2 ? "P-new" : nullptr));
    }
    std::size_t lines = 0;
    for (auto _ : state)
    {
        std::string out;
        for (const nasscan::WatchEvent& event : nasscan::EventsBetween(before, after))
            out += nasscan::EventLine(event, kNow);
        lines = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["events"] = static_cast<double>(lines);
}
BENCHMARK(BM_EventsBetween_1024)->Unit(benchmark::kMicrosecond);

void BM_KnownCsv_1024(benchmark::State& state)
{
    const nasscan::MetricsRound round = FullRound();
    for (auto _ : state)
    {
        const std::string text = nasscan::PrintedKnown(nasscan::Format::Csv, round.known);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_KnownCsv_1024)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
