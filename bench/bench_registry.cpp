// Cost of one report in the device registry with 10, 1,000 and 10,000 devices
// listed. AddDeviceInfo walks the list from the front, so the worst case is a
// report about the last device listed.
//
// The registry prints one vendor line per report; here it goes to /dev/null, so
// the figures hold the formatting but no terminal.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchDevices.h"
#include "DeviceSearchInterface.h"

namespace
{
CDeviceSearchInterface* Registry(int listed)
{
    static bool quiet = false;
    if (!quiet)
    {
        CDeviceSearchInterface::SetPrintStream(std::fopen("/dev/null", "w"));
        quiet = true;
    }
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->ClearDeviceList();
    for (int i = 0; i < listed; ++i)
    {
        deviceinfo d = BenchDevice(i);
        registry->AddDeviceInfo(d);
    }
    return registry;
}

// The same device seen again (search reply after search reply): the entry's
// life is refreshed where it stands.
void BM_AddDeviceInfo_SeenAgain_Last(benchmark::State& state)
{
    int listed = static_cast<int>(state.range(0));
    CDeviceSearchInterface* registry = Registry(listed);
    const deviceinfo last = BenchDevice(listed - 1);
    for (auto _ : state)
    {
        deviceinfo d = last; // AddDeviceInfo upper-cases the vendor in place
        registry->AddDeviceInfo(d);
    }
}
BENCHMARK(BM_AddDeviceInfo_SeenAgain_Last)->Arg(10)->Arg(1000)->Arg(10000);

void BM_AddDeviceInfo_SeenAgain_First(benchmark::State& state)
{
    CDeviceSearchInterface* registry = Registry(static_cast<int>(state.range(0)));
    const deviceinfo first = BenchDevice(0);
    for (auto _ : state)
    {
        deviceinfo d = first;
        registry->AddDeviceInfo(d);
    }
}
BENCHMARK(BM_AddDeviceInfo_SeenAgain_First)->Arg(10)->Arg(1000)->Arg(10000);

// The last device listed with other texts each time: merged into its entry by
// address after a walk over the whole list.
void BM_AddDeviceInfo_MergeByAddress_Last(benchmark::State& state)
{
    int listed = static_cast<int>(state.range(0));
    CDeviceSearchInterface* registry = Registry(listed);
    const deviceinfo variants[2] = {BenchDevice(listed - 1, "TAVIK", "A"),
                                    BenchDevice(listed - 1, "TAVIK", "B")};
    std::size_t k = 0;
    for (auto _ : state)
    {
        deviceinfo d = variants[k++ & 1];
        registry->AddDeviceInfo(d);
    }
}
BENCHMARK(BM_AddDeviceInfo_MergeByAddress_Last)->Arg(10)->Arg(1000)->Arg(10000);

// A device that is not listed yet: appended after a walk over the whole list,
// then removed again so that the list keeps its length (the removal walks the
// list too, and is part of the figure).
void BM_AddDeviceInfo_NewThenLeave(benchmark::State& state)
{
    int listed = static_cast<int>(state.range(0));
    CDeviceSearchInterface* registry = Registry(listed);
    const deviceinfo fresh = BenchDevice(listed);
    char id[kDeviceFieldSize];
    std::memcpy(id, fresh.id, sizeof(id));
    for (auto _ : state)
    {
        deviceinfo d = fresh;
        registry->AddDeviceInfo(d);
        registry->DelDeviceInfo(id);
    }
}
BENCHMARK(BM_AddDeviceInfo_NewThenLeave)->Arg(10)->Arg(1000)->Arg(10000);

// The first listed device leaves and comes back: every entry behind it moves up
// (and its place in the address index with it), and it is appended again. The
// next iteration takes the device that is now first, so each one is a removal
// from the front.
void BM_LeaveFirstThenBack(benchmark::State& state)
{
    int listed = static_cast<int>(state.range(0));
    CDeviceSearchInterface* registry = Registry(listed);
    int first = 0;
    for (auto _ : state)
    {
        deviceinfo d = BenchDevice(first);
        registry->DelDeviceInfo(d.id);
        registry->AddDeviceInfo(d);
        first = (first + 1) % listed;
    }
}
BENCHMARK(BM_LeaveFirstThenBack)->Arg(10)->Arg(1000)->Arg(10000);

// A vendor that is not accepted: upper-cased, printed and dropped, no lock.
void BM_AddDeviceInfo_OtherVendor(benchmark::State& state)
{
    CDeviceSearchInterface* registry = Registry(static_cast<int>(state.range(0)));
    const deviceinfo other = BenchDevice(7, "kelDo");
    for (auto _ : state)
    {
        deviceinfo d = other;
        registry->AddDeviceInfo(d);
    }
}
BENCHMARK(BM_AddDeviceInfo_OtherVendor)->Arg(1000);

// The window's copy of the list, once a second.
void BM_GetDeviceList(benchmark::State& state)
{
    CDeviceSearchInterface* registry = Registry(static_cast<int>(state.range(0)));
    std::vector<deviceinfo> copy;
    for (auto _ : state)
    {
        registry->GetDeviceList(copy);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_GetDeviceList)->Arg(10)->Arg(1000)->Arg(10000);
// One ageing step over 60,000 devices of which every second one has missed its
// searches and goes: the refresh loop holds the list's lock for all of it, and
// every report waits meanwhile. The list is filled anew, untimed, before each step.
void BM_AgeingStep_HalfStale(benchmark::State& state)
{
    const int listed = static_cast<int>(state.range(0));
    CDeviceSearchInterface* registry = Registry(0);
    for (auto _ : state)
    {
        state.PauseTiming();
        registry->ClearDeviceList();
        for (int i = 0; i < listed; ++i)
        {
            deviceinfo d = BenchDevice(i);
            d.life = i % 2 == 0 ? 60 : 50; // 50 falls below the minimum at this step
            registry->AddDeviceInfo(d);
        }
        state.ResumeTiming();
        registry->RefreshDeviceList();
    }
    std::vector<deviceinfo> left;
    registry->GetDeviceList(left);
    state.counters["left"] = static_cast<double>(left.size());
}
BENCHMARK(BM_AgeingStep_HalfStale)->Arg(60000)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
