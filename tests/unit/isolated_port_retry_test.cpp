// Set-up retries of the SSDP-type threads on the following ports. Joining the
// group fails in the empty namespace (no multicast route); that is logged and
// the set-up goes on, as on a host without a network.
#include <gtest/gtest.h>

#include <string>

#include "Library.h"
#include "Searcher.h"
#include "isolated_support.h"
#include "search/SearchDeviceMultiCommandThread.h"
#include "search/SearchDeviceMulticastThread.h"

using namespace isolated;

namespace
{
std::string Line(int port, const std::string& text)
{
    return "SendThread " + std::to_string(port) + " : " + text;
}

std::string TestLine(int port, int count)
{
    return Line(port, "Test Create Search Device Work Thread, testCount = " + std::to_string(count) +
                          ", port = " + std::to_string(port) + "  ");
}
} // namespace

// With the retry flag a thread whose port is taken moves to the next one;
// without it, it stays where it failed and no worker runs.
TEST(PortRetry, SsdpThreadOnATakenPortRetriesOnlyWithTheFlag)
{
    const struct
    {
        int port;
        bool retry;
        int boundPort;
        bool running;
        std::size_t handled; // "Handle ... Error" lines at the taken port
        std::size_t triedNext;
    } rows[] = {
        {42010, true, 42011, true, 1, 1},
        {42020, false, 42020, false, 0, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.port);
        PortHolder holder(row.port);
        LogMark mark;
        CSearchDeviceMulticastThread* thread = new CSearchDeviceMulticastThread(LibrarySearcher());
        KeepForever(thread);
        thread->InitSearchThread(nullptr, row.port, row.retry);

        EXPECT_EQ(thread->GetPort(), row.boundPort);
        EXPECT_EQ(thread->IsWorkerRunning(), row.running);
        EXPECT_EQ(mark.Count(Line(row.port, "Create Search Device Work Thread Error : "), true), 1u);
        EXPECT_EQ(mark.Count(Line(row.port, "Handle Create Search Device Work Thread Error  ")), row.handled);
        EXPECT_EQ(mark.Count(TestLine(row.port + 1, 1)), row.triedNext);
        EXPECT_EQ(mark.Count(Line(row.port + 1, "Create Search Device Work Thread Error : "), true), 0u);
        if (row.running)
        {
            EXPECT_TRUE(StopAndWait(*thread));
        }
    }
}

TEST(PortRetry, CommandThreadOnAForeignAddressGivesUpAfter20Retries)
{
    const int port = 42100;
    LogMark mark;
    CSearchDeviceMultiCommandThread* thread = new CSearchDeviceMultiCommandThread(LibrarySearcher());
    KeepForever(thread);
    thread->InitSearchThread("198.18.99.99", port, true);

    EXPECT_FALSE(thread->IsWorkerRunning());
    EXPECT_EQ(thread->GetPort(), port + 20);
    EXPECT_EQ(
        mark.Count(Line(port, "Init Search Device Work Thread Value, strIP : 198.18.99.99, nPort : 42100  ")),
        1u);
    for (int k = 0; k <= 20; ++k)
        EXPECT_EQ(mark.Count(Line(port + k, "Create Search Device Work Thread Error : "), true), 1u)
            << port + k;
    for (int k = 1; k <= 20; ++k)
        EXPECT_EQ(mark.Count(TestLine(port + k, k)), 1u) << k;
    EXPECT_EQ(mark.Count(TestLine(port + 21, 21)), 0u);
    EXPECT_EQ(mark.Count(Line(port + 20, "Handle Create Search Device Work Thread Error  ")), 1u);
    EXPECT_EQ(mark.Count(Line(port + 21, "Create Search Device Work Thread   ")), 0u);

    // Stopping it leaves no group (it never joined one).
    LogMark stop;
    thread->ExitSearchThread();
    EXPECT_EQ(stop.Count(Line(port + 20, "Exit Search Device Tread , bExitSock : 1  ")), 1u);
    EXPECT_EQ(stop.Count(Line(port + 20, "Leave To Multicast Group Info ")), 0u);
    EXPECT_EQ(stop.Count(Line(port + 20, "Alter Device Mulitcast Group Error : "), true), 0u);
}

TEST(PortRetry, CommandThreadBoundToItsAddressReportsWithItsPort)
{
    const int port = 42200;
    const std::size_t first = Reports().size();
    CSearchDeviceMultiCommandThread* thread = new CSearchDeviceMultiCommandThread(LibrarySearcher());
    KeepForever(thread);
    thread->InitSearchThread("127.0.0.1", port, true);
    ASSERT_TRUE(thread->IsWorkerRunning());
    ASSERT_EQ(thread->GetPort(), port);
    // Bound to the one address, not the wildcard: what is sent to another
    // loopback address of the host does not reach it.
    SendToLoopback(port,
                   "HTTP/1.1 200 OK\r\n"
                   "SERVER: VEXA/3.0, UPnP/1.0, V2/nas9/N9\r\n"
                   "USN: uuid:cmd-elsewhere::upnp:rootdevice\r\n\r\n",
                   "127.0.0.2");
    SendToLoopback(port, "HTTP/1.1 200 OK\r\n"
                         "SERVER: VEXA/3.0, UPnP/1.0, V2/nas9/N9\r\n"
                         "USN: uuid:cmd-one::upnp:rootdevice\r\n\r\n");
    ASSERT_TRUE(WaitForReportCount(first + 1));
    Report report = Reports()[first];
    EXPECT_EQ(report.port, port);
    EXPECT_STREQ(report.info.id, "cmd-one") << "the datagram for 127.0.0.2 was taken";
    EXPECT_STREQ(report.info.ip, "127.0.0.1");
    EXPECT_STREQ(report.info.factory, "V2");
    EXPECT_TRUE(StopAndWait(*thread));
}
