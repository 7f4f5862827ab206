// Cost of handing a report to the library user: the hand-over alone with a
// no-op callback, the hand-over into the registry, and a whole datagram from
// the worker's parser through the hand-over into the registry.
//
// The device callback can only be set by starting the library, which opens its
// sockets and joins the SSDP group. This program therefore refuses to run where
// any interface other than loopback exists: run it in an empty network
// namespace, where nothing can leave the host:
//
//     unshare -n build/bench/bench_handover
#include <benchmark/benchmark.h>

#include <ifaddrs.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchDevices.h"
#include "protocol/BroadcastProtocol.h"
#include "DeviceSearchInterface.h"
#include "search/SearchDeviceBroadcastThread.h"
#include "Library.h"
#include "Searcher.h"
#include "search/SearchDeviceMulticastThread.h"
#include "SearchDeviceOpt.h"

namespace
{
using Callback = int (*)(void*, int);

int NoOp(void* record, int nPort)
{
    benchmark::DoNotOptimize(record);
    benchmark::DoNotOptimize(nPort);
    return 0;
}

// The library keeps the callback it was started with; this one forwards to
// whichever callback the running benchmark wants.
std::atomic<Callback> g_target{&NoOp};

int Dispatch(void* record, int nPort)
{
    return g_target.load(std::memory_order_relaxed)(record, nPort);
}

// Names of the interfaces other than loopback; empty in a fresh namespace.
std::string OtherInterfaces()
{
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return "(getifaddrs failed)";
    std::string names;
    for (struct ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next)
    {
        if (std::strcmp(ifa->ifa_name, "lo") != 0 && names.find(ifa->ifa_name) == std::string::npos)
            names += std::string(names.empty() ? "" : ", ") + ifa->ifa_name;
    }
    ::freeifaddrs(list);
    return names;
}

void FillRegistry(int listed)
{
    CDeviceSearchInterface* registry = CDeviceSearchInterface::GetInstance();
    registry->ClearDeviceList();
    for (int i = 0; i < listed; ++i)
    {
        deviceinfo d = BenchDevice(i);
        registry->AddDeviceInfo(d);
    }
}

std::string SsdpReply(int i, const char* product)
{
    std::string ip = BenchDevice(i).ip;
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://" + ip +
           ":5000/desc.xml\r\nSERVER: VEXA/2.1, UPnP/1.0, TAVIK/nas" + std::to_string(i) + "/" + product +
           "\r\nST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\nUSN: uuid:DEV" + std::to_string(i) +
           "::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n\r\n";
}

// The device's alive announcement to the group, as its SSDP thread hears it.
std::string SsdpAlive(int i, const char* product)
{
    std::string ip = BenchDevice(i).ip;
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: "
           "http://" +
           ip +
           ":5000/desc.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: VEXA/2.1, UPnP/1.0, "
           "TAVIK/nas" +
           std::to_string(i) + "/" + product + "\r\nUSN: uuid:DEV" + std::to_string(i) +
           "::upnp:rootdevice\r\n\r\n";
}

std::string BroadcastReply(int i, const char* product)
{
    dhcppacket packet = MakeStandardSearchPacket();
    packet.code = kSearchReplyCode;
    std::string text =
        "id=DEV" + std::to_string(i) + "&host=nas" + std::to_string(i) + "&vendor=TAVIK&product=" + product;
    std::memcpy(packet.text, text.data(), text.size());
    return std::string(reinterpret_cast<const char*>(&packet), sizeof(packet));
}

void BM_HandOver_NoOpCallback(benchmark::State& state)
{
    g_target.store(&NoOp);
    deviceinfo d = BenchDevice(1);
    for (auto _ : state)
        LibrarySearcher().OnDevice(d, 1900);
}
BENCHMARK(BM_HandOver_NoOpCallback);

// A report about the last device listed, with other texts each time, handed
// over and merged into its entry: the registry's worst case for a known device.
void BM_HandOver_IntoRegistry(benchmark::State& state)
{
    int listed = static_cast<int>(state.range(0));
    FillRegistry(listed);
    g_target.store(&CDeviceSearchInterface::SearchDeviceRecallHandle);
    deviceinfo variants[2] = {BenchDevice(listed - 1, "TAVIK", "A"), BenchDevice(listed - 1, "TAVIK", "B")};
    std::size_t k = 0;
    for (auto _ : state)
        LibrarySearcher().OnDevice(variants[k++ & 1], 1900);
    g_target.store(&NoOp);
}
BENCHMARK(BM_HandOver_IntoRegistry)->Arg(10)->Arg(1000)->Arg(10000);

// One datagram as the worker handles it after its receive: zero the buffer, parse,
// compare with the last report, hand over, merge into the registry. Two
// alternating messages, so that none is suppressed as a repeat.
template <class Thread>
void DatagramIntoRegistry(benchmark::State& state, std::string (*make)(int, const char*))
{
    int listed = static_cast<int>(state.range(0));
    FillRegistry(listed);
    g_target.store(&CDeviceSearchInterface::SearchDeviceRecallHandle);
    // Never initialised: no socket, no worker; only its handler is used.
    static Thread* worker = new Thread(LibrarySearcher());
    const std::string datagrams[2] = {make(listed - 1, "A"), make(listed - 1, "B")};
    // A broadcast reply's address is its sender's.
    std::string sender = BenchDevice(listed - 1).ip;
    char buffer[CSearchDeviceThread::kMaxDatagram + 1];
    std::size_t k = 0;
    for (auto _ : state)
    {
        const std::string& d = datagrams[k++ & 1];
        std::memset(buffer, 0, sizeof(buffer));
        std::memcpy(buffer, d.data(), d.size());
        worker->HandleReceiveInfo(buffer, static_cast<int>(d.size()), sender);
    }
    g_target.store(&NoOp);
    // A datagram the parser dropped would make the figure a parse alone.
    std::vector<deviceinfo> list;
    CDeviceSearchInterface::GetInstance()->GetDeviceList(list);
    if (list.size() != static_cast<std::size_t>(listed) || std::strlen(list.back().product) != 1)
        state.SkipWithError("the datagrams did not reach the registry's last entry");
}

void BM_SsdpDatagram_IntoRegistry(benchmark::State& state)
{
    DatagramIntoRegistry<CSearchDeviceMulticastThread>(state, &SsdpReply);
}
BENCHMARK(BM_SsdpDatagram_IntoRegistry)->Arg(10)->Arg(1000)->Arg(10000);

void BM_SsdpAlive_IntoRegistry(benchmark::State& state)
{
    DatagramIntoRegistry<CSearchDeviceMulticastThread>(state, &SsdpAlive);
}
BENCHMARK(BM_SsdpAlive_IntoRegistry)->Arg(10)->Arg(1000)->Arg(10000);

void BM_BroadcastDatagram_IntoRegistry(benchmark::State& state)
{
    DatagramIntoRegistry<CSearchDeviceBroadcastThread>(state, &BroadcastReply);
}
BENCHMARK(BM_BroadcastDatagram_IntoRegistry)->Arg(10)->Arg(1000)->Arg(10000);
} // namespace

int main(int argc, char** argv)
{
    std::string others = OtherInterfaces();
    if (!others.empty())
    {
        std::fprintf(stderr,
                     "bench_handover: this network namespace has the interfaces %s. The benchmark starts the "
                     "discovery library, which opens its sockets and joins the SSDP group; run it where "
                     "nothing can leave the host:\n    unshare -n %s\n",
                     others.c_str(), argv[0]);
        return 2;
    }
    // The registry's vendor line, once per report, would flood the terminal.
    CDeviceSearchInterface::SetPrintStream(std::fopen("/dev/null", "w"));
    // Log off, no command threads: two sockets that receive nothing here.
    search_dll_init(&Dispatch, false, nullptr, false);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    search_dll_exit();
    return 0;
}
