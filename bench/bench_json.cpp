// The JSON this program reads and writes most: the file of known devices at
// its cap, 1,024 devices, which a window or a scan parses and writes at every
// change under the store's lock (only the text: the lock, fsync and rename are
// the store's whatever writes it), and the scan's --json list, which a watch
// prints at every change, of up to 65,536 devices in a flood.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchDevices.h"
#include "KnownDevices.h"
#include "KnownStoreFormat.h"
#include "ScanOutput.h"

namespace
{
// A full store as a long-running window leaves it: every device with its
// MAC, a few with a member a newer version added.
nasknown::StoreContents FullStore()
{
    nasknown::StoreContents contents;
    contents.unknown = {{"written_by", "\"nasfinder 1.1.0\""}};
    for (std::size_t i = 0; i < nasknown::kMaxKnownDevices; ++i)
    {
        const std::string n = std::to_string(i);
        nasknown::KnownDevice d;
        d.vendor = i % 2 == 0 ? "TAVIK" : "ESKAL";
        d.id = "DEV" + n;
        d.host = "nas" + n;
        d.product = "P" + n;
        d.address = "198.18." + std::to_string(1 + i / 254) + "." + std::to_string(1 + i % 254);
        d.interfaceName = "eth0";
        d.mac = "02:00:5e:10:" + std::string(i / 256 < 10 ? "0" : "") + std::to_string(i / 256) + ":" +
                std::to_string(10 + i % 90);
        d.firstSeen = 1796676008 - static_cast<std::int64_t>(i) * 60;
        d.lastSeen = 1796676008;
        if (i % 100 == 0)
            d.unknown = {{"note", "\"rack 3\""}};
        contents.devices.push_back(d);
    }
    return contents;
}

void BM_EncodeStore_1024(benchmark::State& state)
{
    const nasknown::StoreContents contents = FullStore();
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        const std::string text = nasknown::EncodeStore(contents);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeStore_1024)->Unit(benchmark::kMicrosecond);

void BM_DecodeStore_1024(benchmark::State& state)
{
    const std::string text = nasknown::EncodeStore(FullStore());
    std::size_t devices = 0;
    for (auto _ : state)
    {
        const nasknown::DecodeResult read = nasknown::DecodeStore(text);
        devices = read.contents ? read.contents->devices.size() : 0;
        benchmark::DoNotOptimize(devices);
    }
    // A benchmark of a parse that refused the text would pass for a fast one.
    if (devices != nasknown::kMaxKnownDevices)
        state.SkipWithError("the store did not read back whole");
}
BENCHMARK(BM_DecodeStore_1024)->Unit(benchmark::kMicrosecond);

void BM_PrintedListJson(benchmark::State& state)
{
    std::vector<deviceinfo> list;
    for (int i = 0; i < state.range(0); ++i)
        list.push_back(BenchDevice(i));
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        const std::string text = nasscan::PrintedList(nasscan::Format::Json, list);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PrintedListJson)->Arg(1024)->Arg(65536)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
