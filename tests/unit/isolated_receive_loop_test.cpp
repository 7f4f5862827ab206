// The base receive loop over loopback unicast, with a handler that records what
// it is given. Each test owns its port.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "isolated_support.h"
#include "Library.h"
#include "Searcher.h"
#include "search/SearchDeviceBroadcastThread.h"
#include "search/SearchDeviceThread.h"

using namespace isolated;

namespace
{
class RecordingThread : public CSearchDeviceThread
{
public:
    RecordingThread() : CSearchDeviceThread(LibrarySearcher()) {}

    struct Call
    {
        int count;
        std::string sender;
        std::vector<char> buffer; // the whole receive buffer, 1025 bytes
    };

    void HandleReceiveInfo(char* data, int nLen, std::string& sender) override
    {
        if (nLen >= 5 && std::string(data, 5) == "THROW")
            throw std::runtime_error("handler failed on purpose");
        if (nLen >= 5 && std::string(data, 5) == "THR42")
            throw 42; // what a caller's callback may throw: not a std::exception
        std::lock_guard<std::mutex> guard(m_mutex);
        m_calls.push_back(Call{nLen, sender, std::vector<char>(data, data + kMaxDatagram + 1)});
    }

    std::vector<Call> Calls()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_calls;
    }

    bool WaitForCalls(std::size_t n)
    {
        return WaitUntil([&] { return Calls().size() >= n; });
    }

private:
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

class ReceiveLoopTest : public ::testing::Test
{
protected:
    RecordingThread& Start(int port)
    {
        m_port = port;
        m_thread = new RecordingThread;
        KeepForever(m_thread);
        m_thread->InitSearchThread(nullptr, port, false);
        EXPECT_TRUE(m_thread->IsWorkerRunning());
        return *m_thread;
    }

    void TearDown() override
    {
        // No worker may outlive the test that started it.
        if (m_thread != nullptr && m_thread->IsWorkerRunning())
        {
            EXPECT_TRUE(StopAndWait(*m_thread));
        }
    }

    std::string Line(const std::string& text) const
    {
        return "SendThread " + std::to_string(m_port) + " : " + text;
    }

    int m_port = 0;
    RecordingThread* m_thread = nullptr;
};
} // namespace

TEST_F(ReceiveLoopTest, LongDatagramIsCutTo1024BytesAndTerminated)
{
    RecordingThread& thread = Start(41010);
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('A' + i % 26);
    SendToLoopback(41010, big);

    ASSERT_TRUE(thread.WaitForCalls(1));
    RecordingThread::Call call = thread.Calls()[0];
    EXPECT_EQ(call.count, 1024);
    EXPECT_EQ(std::string(call.buffer.data(), 1024), big.substr(0, 1024));
    EXPECT_EQ(call.buffer[1024], '\0');
    EXPECT_EQ(call.sender, "127.0.0.1");
}

TEST_F(ReceiveLoopTest, ShortDatagramIsFollowedByZeros)
{
    LogMark mark;
    RecordingThread& thread = Start(41020);
    // A long datagram first, so that the short one lands in a used buffer.
    SendToLoopback(41020, std::string(900, 'x'));
    SendToLoopback(41020, "0123456789");

    ASSERT_TRUE(thread.WaitForCalls(2));
    RecordingThread::Call call = thread.Calls()[1];
    EXPECT_EQ(call.count, 10);
    EXPECT_EQ(std::string(call.buffer.data(), 10), "0123456789");
    EXPECT_EQ(std::string(call.buffer.begin() + 10, call.buffer.end()), std::string(1015, '\0'));
    EXPECT_EQ(mark.Count(Line("Recive Socket Protocol IP : 127.0.0.1, nLen : 10  ")), 1u);
    EXPECT_EQ(mark.Count(Line("Init Search Device Work Thread Value, strIP : , nPort : 41020  ")), 1u);
}

TEST_F(ReceiveLoopTest, EmptyDatagramMakesNoCall)
{
    RecordingThread& thread = Start(41030);
    SendToLoopback(41030, "");
    SendToLoopback(41030, "MARK");

    ASSERT_TRUE(thread.WaitForCalls(1));
    std::vector<RecordingThread::Call> calls = thread.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].count, 4);
    EXPECT_EQ(std::string(calls[0].buffer.data()), "MARK");
}

// Regression: an exception out of one datagram's handler used to end the worker,
// and the socket stayed deaf to every later device for the rest of the run.
TEST_F(ReceiveLoopTest, ThrowingHandlerDropsOnlyThatDatagram)
{
    LogMark mark;
    RecordingThread& thread = Start(41040);
    SendToLoopback(41040, "THROW");
    SendToLoopback(41040, "THR42");
    SendToLoopback(41040, "AFTER");

    ASSERT_TRUE(thread.WaitForCalls(1));
    EXPECT_EQ(std::string(thread.Calls()[0].buffer.data()), "AFTER");
    EXPECT_TRUE(thread.IsWorkerRunning());
    EXPECT_EQ(mark.Count(Line("Create Socket Protocolt Server Error : handler failed on purpose  ")), 1u);
    EXPECT_EQ(mark.Count(Line("Create Socket Protocolt Server Error : unknown exception  ")), 1u);
}

TEST_F(ReceiveLoopTest, ExitWakesAWorkerBlockedInItsReceive)
{
    LogMark started;
    RecordingThread& thread = Start(41050);
    ASSERT_TRUE(started.WaitForMessage(Line("Wait Reciver Socket Protocol Info  ")));

    LogMark mark;
    thread.ExitSearchThread();
    ASSERT_TRUE(WaitUntil([&] { return !thread.IsWorkerRunning(); })) << "the worker is still in its receive";

    EXPECT_EQ(mark.Count(Line("Exit Search Device Tread , bExitSock : 1  ")), 1u);
    // Woken with nothing received: one more line, then the flag ends the loop.
    EXPECT_EQ(mark.Count(Line("Reciver Socket Protocol Info  ")), 1u);
    EXPECT_EQ(mark.Count(Line("Recive Socket Protocol IP : "), true), 0u);
    EXPECT_EQ(mark.Count(Line("Wait Reciver Socket Protocol Info  ")), 0u);
    EXPECT_TRUE(thread.Calls().empty());

    // The worker closed its socket on the way out: the port is free again.
    PortHolder again(41050);
}

TEST_F(ReceiveLoopTest, TakenPortLeavesTheObjectWithoutWorker)
{
    PortHolder holder(41060);
    LogMark mark;
    m_port = 41060;
    RecordingThread* thread = new RecordingThread;
    KeepForever(thread);
    thread->InitSearchThread(nullptr, 41060, false);

    EXPECT_FALSE(thread->IsWorkerRunning());
    EXPECT_EQ(mark.Count(Line("Create Search Device Work Thread   ")), 1u);
    EXPECT_EQ(mark.Count(Line("Create Search Device Work Thread Error : "), true), 1u);
    EXPECT_EQ(mark.Count(Line("Begin Search Device Work Thread  ")), 0u);

    thread->ExitSearchThread();
    EXPECT_EQ(mark.Count(Line("Exit Search Device Tread , bExitSock : 1  ")), 1u);
    EXPECT_FALSE(thread->IsWorkerRunning());
}

// A worker knows its owner only through the sink it was made with: its reports
// go there, and a datagram the owner does not allow is dropped unread.
TEST(WorkerOwner, ReportsGoToTheSinkAndOnlyAllowedDatagramsAreRead)
{
    class FakeOwner : public ReportSink
    {
    public:
        void OnDevice(const deviceinfo& info, int port) override
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_reports.push_back({info, port});
        }
        bool Allows(unsigned int, const boost::asio::ip::address_v4&) const override
        {
            ++asked;
            return allow.load();
        }
        std::vector<Report> Reports()
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            return m_reports;
        }
        std::atomic<bool> allow{true};
        mutable std::atomic<int> asked{0};

    private:
        std::mutex m_mutex;
        std::vector<Report> m_reports;
    };

    const int port = 41070;
    const std::size_t libraryReports = Reports().size();
    FakeOwner* owner = new FakeOwner; // outlives the detached worker, like the library's owner
    auto* worker = new CSearchDeviceBroadcastThread(*owner);
    KeepForever(worker);
    worker->InitSearchThread(nullptr, port, false);
    ASSERT_TRUE(worker->IsWorkerRunning());

    SendToLoopback(port, BroadcastReply("id=ONE&host=h1&vendor=TAVIK&product=P1"));
    ASSERT_TRUE(WaitUntil([&] { return owner->Reports().size() == 1; }));
    EXPECT_EQ(owner->Reports()[0].port, port);
    EXPECT_STREQ(owner->Reports()[0].info.id, "ONE");
    EXPECT_STREQ(owner->Reports()[0].info.ip, "127.0.0.1");
    EXPECT_EQ(Reports().size(), libraryReports) << "nothing reaches the library's own callback";

    owner->allow.store(false);
    SendToLoopback(port, BroadcastReply("id=TWO&host=h2&vendor=TAVIK&product=P2"));
    ASSERT_TRUE(WaitUntil([&] { return owner->asked.load() == 2; }));
    EXPECT_TRUE(StopAndWait(*worker));
    EXPECT_EQ(owner->Reports().size(), 1u);
}
