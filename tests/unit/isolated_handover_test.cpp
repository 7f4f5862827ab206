// The library started through its entry point (once, by the test environment),
// fed by loopback unicast: reports, duplicate suppression and the hand-over.
// The searches these tests start find no route out of the empty namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "isolated_support.h"
#include "test_support.h"
#include "search/SearchDeviceBroadcastThread.h"
#include "Library.h"
#include "Searcher.h"
#include "search/SearchDeviceMultiCommandThread.h"
#include "search/SearchDeviceMulticastThread.h"
#include "SearchDeviceOpt.h"

using namespace isolated;

namespace
{
std::string SsdpReply(const std::string& id)
{
    return "HTTP/1.1 200 OK\r\n"
           "CACHE-CONTROL: max-age=1800\r\n"
           "LOCATION: http://198.18.0.20:5000/desc.xml\r\n"
           "SERVER: VEXA/2.1, UPnP/1.0, V1/nas1/N2/r5\r\n"
           "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
           "USN: uuid:" +
           id + "::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n\r\n";
}

// The hand-over's four lines for one report, in their order, each naming the
// port twice.
void ExpectHandOverLines(const LogMark& mark, int port, const std::string& id, const std::string& ip)
{
    const std::string head =
        "Handle " + std::to_string(port) + " : Search " + std::to_string(port) + " Thread Find Device ";
    const std::vector<std::string> expected = {head + "and wait for mutex  ", head + "have Mutex  ",
                                               head + "ID : " + id + ", IP : " + ip + "  ",
                                               head + "Success Handle  "};
    std::vector<std::string> lines = mark.Messages();
    auto from = lines.begin();
    for (const std::string& line : expected)
    {
        from = std::find(from, lines.end(), line);
        ASSERT_NE(from, lines.end()) << "missing or out of order: " << line;
    }
}

std::vector<std::string> IdsSince(std::size_t first)
{
    std::vector<std::string> ids;
    std::vector<Report> reports = Reports();
    for (std::size_t i = first; i < reports.size(); ++i)
        ids.push_back(reports[i].info.id);
    return ids;
}
} // namespace

TEST(LibraryRegistry, BroadcastAndSsdpThreadsWithoutMultiAddressMode)
{
    const std::vector<Searcher::Worker> threads = LibrarySearcher().Workers();
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_FALSE(LibrarySearcher().MultiAddress());

    EXPECT_NE(dynamic_cast<CSearchDeviceBroadcastThread*>(threads[0].thread), nullptr);
    EXPECT_EQ(threads[0].thread->GetPort(), 67);
    EXPECT_EQ(threads[0].localAddress, "");

    EXPECT_NE(dynamic_cast<CSearchDeviceMulticastThread*>(threads[1].thread), nullptr);
    EXPECT_EQ(dynamic_cast<CSearchDeviceMultiCommandThread*>(threads[1].thread), nullptr);
    EXPECT_EQ(threads[1].thread->GetPort(), 1900);
    EXPECT_EQ(threads[1].localAddress, "");

    for (const Searcher::Worker& entry : threads)
        EXPECT_TRUE(entry.thread->IsWorkerRunning()) << entry.thread->GetPort();
    // What runs, as the programs read it.
    search_dll_status status{};
    EXPECT_EQ(search_dll_get_status(&status), 0);
    EXPECT_EQ(status.multi_address, 0);
    EXPECT_EQ(status.broadcast_port, 67);
    EXPECT_EQ(status.broadcast_device_port, 68);
    EXPECT_EQ(status.broadcast_bound, 1);
    EXPECT_EQ(status.group_port, 1900);
    EXPECT_EQ(status.group_bound_port, 1900);
    EXPECT_EQ(status.group_retry_ports, 20);
    EXPECT_EQ(status.address_searches, 0);
    // The empty namespace has no route out: no interface to search on.
    EXPECT_EQ(status.search_interfaces, 0);

    // A second start while the library runs changes nothing: no threads, no
    // mode, and the log stays where it is while the workers write to it.
    LogMark mark;
    testsupport::TempDir otherLogDir;
    EXPECT_EQ(search_dll_init(nullptr, true, otherLogDir.WithSlash().c_str(), true), 0);
    EXPECT_EQ(LibrarySearcher().Workers().size(), 2u);
    EXPECT_FALSE(LibrarySearcher().MultiAddress());
    EXPECT_TRUE(testsupport::ListDir(otherLogDir.path()).empty());
    EXPECT_EQ(mark.Count("------Start Log System-------"), 0u);
}

TEST(LibraryHandOver, BroadcastReplyIsReportedOncePerSearch)
{
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    const std::size_t first = Reports().size();

    LogMark mark;
    SendToLoopback(67, BroadcastReply("id=bc-one&host=h1&vendor=V1&product=P1", 4));
    ASSERT_TRUE(WaitForReportCount(first + 1));
    Report report = Reports()[first];
    EXPECT_EQ(report.port, 67);
    EXPECT_STREQ(report.info.id, "bc-one");
    EXPECT_STREQ(report.info.ip, "127.0.0.1");
    EXPECT_STREQ(report.info.host, "h1");
    EXPECT_STREQ(report.info.factory, "V1");
    EXPECT_STREQ(report.info.product, "P1");
    EXPECT_EQ(report.info.type, 4);
    EXPECT_EQ(report.info.life, 60);
    ExpectHandOverLines(mark, 67, "bc-one", "127.0.0.1");

    // The callback scribbled on its copy; the thread's memory is its own, so the
    // same reply is still recognised and not reported. The next one is.
    SendToLoopback(67, BroadcastReply("id=bc-one&host=h1&vendor=V1&product=P1", 4));
    SendToLoopback(67, BroadcastReply("id=bc-two"));
    ASSERT_TRUE(WaitForReportCount(first + 2));
    EXPECT_EQ(IdsSince(first), (std::vector<std::string>{"bc-one", "bc-two"}));
    EXPECT_EQ(mark.Count("SendThread 67 : Handle Broadcast Recive Information Fail "), 1u);

    // Between searches a repeat stays quiet; after the next search it is news.
    LogMark beforeRepeat;
    SendToLoopback(67, BroadcastReply("id=bc-two"));
    ASSERT_TRUE(beforeRepeat.WaitForMessage("SendThread 67 : Handle Broadcast Recive Information Fail "));
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    SendToLoopback(67, BroadcastReply("id=bc-two"));
    ASSERT_TRUE(WaitForReportCount(first + 3));
    EXPECT_EQ(IdsSince(first), (std::vector<std::string>{"bc-one", "bc-two", "bc-two"}));
}

TEST(LibraryHandOver, BroadcastDatagramsThatAreNoReplies)
{
    const std::size_t first = Reports().size();
    LogMark mark;
    // Wrong sizes pass without a word; a search request of another host is named.
    SendToLoopback(67, BroadcastReply("id=short").substr(0, 147));
    SendToLoopback(67, BroadcastReply("id=long") + '\0');
    SendToLoopback(67, BroadcastReply("id=request", 1, 11));
    ASSERT_TRUE(mark.WaitForMessage("SendThread 67 : Recive IP : 127.0.0.1 is not Device "));
    EXPECT_EQ(mark.Count("SendThread 67 : Handle Broadcast Recive Information  "), 1u);
    EXPECT_EQ(mark.Count("SendThread 67 : Recive Socket Protocol IP : 127.0.0.1, nLen : 147  "), 1u);
    EXPECT_EQ(mark.Count("SendThread 67 : Recive Socket Protocol IP : 127.0.0.1, nLen : 149  "), 1u);
    EXPECT_EQ(Reports().size(), first);
}

TEST(LibraryHandOver, SsdpRepeatsAreReportedEverySecondTime)
{
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    const std::size_t first = Reports().size();

    LogMark mark;
    for (int i = 0; i < 3; ++i)
        SendToLoopback(1900, SsdpReply("ssdp-same"));
    SendToLoopback(1900, SsdpReply("ssdp-marker"));
    ASSERT_TRUE(WaitForReportCount(first + 3));
    EXPECT_EQ(IdsSince(first), (std::vector<std::string>{"ssdp-same", "ssdp-same", "ssdp-marker"}));

    Report report = Reports()[first];
    EXPECT_EQ(report.port, 1900);
    EXPECT_EQ(report.info.type, 1);
    EXPECT_STREQ(report.info.ip, "198.18.0.20"); // from LOCATION, not the sender
    EXPECT_STREQ(report.info.osversion, "2.1");
    EXPECT_STREQ(report.info.extra, "r5");
    ExpectHandOverLines(mark, 1900, "ssdp-same", "198.18.0.20");
    EXPECT_EQ(
        mark.Count("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old Device, type = 1 "), 1u);
}

TEST(LibraryHandOver, SearchClearsTheSsdpMemoryToo)
{
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    const std::size_t first = Reports().size();
    SendToLoopback(1900, SsdpReply("ssdp-search"));
    ASSERT_TRUE(WaitForReportCount(first + 1));
    EXPECT_EQ(SendMessageToDevice(nullptr), 0);
    SendToLoopback(1900, SsdpReply("ssdp-search"));
    ASSERT_TRUE(WaitForReportCount(first + 2));
    EXPECT_EQ(IdsSince(first), (std::vector<std::string>{"ssdp-search", "ssdp-search"}));
}
