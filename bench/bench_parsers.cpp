// Cost of parsing one datagram of each search protocol, each beside a memcpy of
// the same bytes in the same run as the yardstick: the parse should cost a small
// multiple of touching the bytes once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/BroadcastProtocol.h"
#include "SearchDeviceInfo.h"
#include "protocol/SsdpProtocol.h"

namespace
{
const char kSender[] = "198.18.1.1";

std::string Lines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out + "\r\n";
}

// What the test bed's simulated devices answer, and two shapes seen from real
// devices: an announcement and a reply with many headers before the ones we use.
const std::vector<std::string>& SsdpMessages()
{
    static const std::vector<std::string> messages = {
        Lines({"HTTP/1.1 200 OK", "CACHE-CONTROL: max-age=1800",
               "EXT:", "LOCATION: http://198.18.1.1:5000/desc.xml",
               "SERVER: VEXA/2.1, UPnP/1.0, TAVIK/nas0/P0", "ST: urn:schemas-upnp-org:device:HomeNasDevice:1",
               "USN: uuid:DEV0::urn:schemas-upnp-org:device:HomeNasDevice:1"}),
        Lines({"NOTIFY * HTTP/1.1", "HOST: 239.143.255.250:1900", "CACHE-CONTROL: max-age=1800",
               "LOCATION: http://198.18.1.9:5000/desc.xml", "NT: upnp:rootdevice", "NTS: ssdp:alive",
               "SERVER: VEXA/3.0.1, UPnP/1.0, VORAN5/storage-9/X200/rev2",
               "USN: uuid:7c1e52a0-93d4-4b8f-a1e6-5d2c0f9b3e71::upnp:rootdevice"}),
        Lines({"HTTP/1.1 200 OK", "CACHE-CONTROL: max-age=120", "DATE: Sat, 01 Jun 2024 10:00:00 GMT",
               "EXT:", "BOOTID.UPNP.ORG: 1717236000", "CONFIGID.UPNP.ORG: 1337",
               "ST: urn:schemas-upnp-org:device:HomeNasDevice:1",
               "USN: uuid:0011328a-2c9b-4d69-9d41-6e692d444c16::urn:schemas-upnp-org:device:HomeNasDevice:1",
               "SERVER: VEXA/4.2.0-r17, UPnP/1.1, ESKAL/backup-store-02/BX-400/fw-7.2.1-1234",
               "LOCATION: http://198.18.7.42:49152/description.xml", "SEARCHPORT.UPNP.ORG: 1901",
               "X-DEVICE-STATE: ready; since=1717236000"}),
        // Another kind of device on the same group: dropped at the first test.
        Lines({"HTTP/1.1 200 OK", "CACHE-CONTROL: max-age=1800",
               "LOCATION: http://198.18.2.2:1400/xml/device.xml", "SERVER: Linux/5.10 UPnP/1.0 Renderer/1.2",
               "ST: upnp:rootdevice", "USN: uuid:5f3a9c1e-0b7d-4e2a-9c1d-7a8b9c0d1e2f::upnp:rootdevice"}),
    };
    return messages;
}

const char* const kSsdpNames[] = {"simulator_reply", "notify_alive", "many_headers", "other_device"};

dhcppacket BroadcastReply()
{
    dhcppacket packet = MakeStandardSearchPacket();
    packet.code = kSearchReplyCode;
    const char text[] = "id=DEV0&host=nas0&vendor=TAVIK&product=P0";
    std::memcpy(packet.text, text, sizeof(text));
    return packet;
}

void BM_SsdpParse(benchmark::State& state)
{
    const std::string& msg = SsdpMessages()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(kSsdpNames[state.range(0)]);
    deviceinfo info;
    for (auto _ : state)
    {
        SsdpParseStatus status = ParseSsdpMessage(msg.data(), msg.size(), kSender, info);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(info);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.size()));
}
BENCHMARK(BM_SsdpParse)->DenseRange(0, 3);

void BM_SsdpMemcpy(benchmark::State& state)
{
    const std::string& msg = SsdpMessages()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(kSsdpNames[state.range(0)]);
    char buffer[1025];
    for (auto _ : state)
    {
        std::memcpy(buffer, msg.data(), msg.size());
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.size()));
}
BENCHMARK(BM_SsdpMemcpy)->DenseRange(0, 3);

// The receive loop's own share: zero the 1025-byte buffer, take the datagram,
// parse it. Everything a datagram costs between two receives except the
// hand-over.
void BM_SsdpReceiveLoopStep(benchmark::State& state)
{
    const std::string& msg = SsdpMessages()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(kSsdpNames[state.range(0)]);
    char buffer[1025];
    deviceinfo info;
    for (auto _ : state)
    {
        std::memset(buffer, 0, sizeof(buffer));
        std::memcpy(buffer, msg.data(), msg.size());
        benchmark::ClobberMemory();
        SsdpParseStatus status = ParseSsdpMessage(buffer, msg.size(), kSender, info);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(BM_SsdpReceiveLoopStep)->DenseRange(0, 3);

void BM_BroadcastParse(benchmark::State& state)
{
    dhcppacket packet = BroadcastReply();
    const char* bytes = reinterpret_cast<const char*>(&packet);
    deviceinfo info;
    for (auto _ : state)
    {
        BroadcastReplyStatus status =
            ParseBroadcastReply(bytes, static_cast<int>(sizeof(packet)), kSender, info);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(info);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sizeof(packet)));
}
BENCHMARK(BM_BroadcastParse);

void BM_BroadcastMemcpy(benchmark::State& state)
{
    dhcppacket packet = BroadcastReply();
    char buffer[sizeof(packet)];
    for (auto _ : state)
    {
        std::memcpy(buffer, &packet, sizeof(packet));
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sizeof(packet)));
}
BENCHMARK(BM_BroadcastMemcpy);
} // namespace

BENCHMARK_MAIN();
