#include "isolated_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Library.h"
#include "Searcher.h"
#include "SearchDeviceOpt.h"
#include "net/SearchSockets.h"
#include "log/ShowLog.h"
#include "test_support.h"

namespace isolated
{
namespace
{
namespace fs = std::filesystem;

std::mutex g_reportMutex;
std::vector<Report>* g_reports = new std::vector<Report>; // never destroyed: workers may report at exit
std::vector<CSearchDeviceThread*>* g_kept = new std::vector<CSearchDeviceThread*>;
testsupport::TempDir* g_logDir = nullptr;

int RecordingCallback(void* record, int nPort)
{
    Report report;
    std::memcpy(static_cast<void*>(&report.info), record, sizeof(report.info));
    report.port = nPort;
    {
        std::lock_guard<std::mutex> guard(g_reportMutex);
        g_reports->push_back(report);
    }
    // The record is the hand-over's own copy: scribbling on it must not reach
    // the reporting thread's memory of its last report.
    std::memset(record, 0xEE, sizeof(deviceinfo));
    return 0;
}

// Anything but loopback means this is not the namespace the wrapper makes, and
// a search started here could reach a real network.
void RefuseToRunOutsideAnEmptyNamespace()
{
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
    {
        std::fprintf(stderr, "cannot list interfaces; refusing to start the library\n");
        std::_Exit(2);
    }
    for (struct ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next)
    {
        if (std::strcmp(ifa->ifa_name, "lo") != 0)
        {
            std::fprintf(stderr,
                         "interface %s is present: run this binary only through tools/testbed/netns-run.sh\n",
                         ifa->ifa_name);
            ::freeifaddrs(list);
            std::_Exit(2);
        }
    }
    ::freeifaddrs(list);
}

fs::path LogFile()
{
    std::vector<fs::path> files = testsupport::ListDir(g_logDir->path());
    return files.size() == 1 ? files[0] : fs::path();
}

std::size_t LogSize()
{
    fs::path file = LogFile();
    std::error_code ec;
    std::uintmax_t size = file.empty() ? 0 : fs::file_size(file, ec);
    return ec ? 0 : static_cast<std::size_t>(size);
}

// Splits complete log lines into messages. A message that itself ends in CR LF
// (the group error line does) leaves its stamp as a line of its own, skipped.
std::vector<std::string> SplitMessages(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    for (;;)
    {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            break; // a line still being written
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        std::size_t stamp = line.rfind("*[");
        if (stamp != std::string::npos && line.back() == ']')
            line.erase(stamp);
        if (!line.empty())
            out.push_back(line);
    }
    return out;
}

class LibraryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        RefuseToRunOutsideAnEmptyNamespace();
        g_logDir = new testsupport::TempDir;
        // The echo would flood the test output; the file holds the same lines.
        FILE* devNull = std::fopen("/dev/null", "w");
        ASSERT_NE(devNull, nullptr);
        SearchDeviceShowLog::io_set_echo_stream(devNull);
        // Port 67 bound in advance, as the programs do before they give up their
        // privileges: the broadcast thread takes this socket. Binding its own
        // would fail (the port is held) and say so in the log.
        const int broadcastSocket = OpenBroadcastSearchSocket();
        ASSERT_GE(broadcastSocket, 0) << std::strerror(errno);
        search_dll_set_broadcast_socket(broadcastSocket, 0);
        search_dll_init(RecordingCallback, true, g_logDir->WithSlash().c_str(), false);
        EXPECT_EQ(
            testsupport::ReadFile(LogFile()).find("SendThread 67 : Create Search Device Work Thread Error"),
            std::string::npos);
        // The library's registry is destroyed at exit while its thread objects are
        // meant to live on; keep them reachable so the leak checker sees intent.
        for (const Searcher::Worker& entry : LibrarySearcher().Workers())
            KeepForever(entry.thread);
        ASSERT_FALSE(LogFile().empty()) << "the library's log was not started";
    }

    void TearDown() override
    {
        LogMark mark;
        const std::size_t registered = LibrarySearcher().Workers().size();
        search_dll_exit();
        // Straight after the stop, while the workers close their sockets: a search
        // and a restart must touch neither those sockets nor the log's path.
        EXPECT_EQ(SendMessageToDevice(nullptr), 0);
        EXPECT_EQ(search_dll_init(RecordingCallback, true, g_logDir->WithSlash().c_str(), false), 0);
        search_dll_exit();
        EXPECT_EQ(LibrarySearcher().Workers().size(), registered);
        for (const Searcher::Worker& entry : LibrarySearcher().Workers())
            EXPECT_TRUE(WaitUntil([&] { return !entry.thread->IsWorkerRunning(); }))
                << "worker of port " << entry.thread->GetPort() << " did not end";
        // The exit banner follows the exit lines of the library's threads.
        std::vector<std::string> lines = mark.Messages();
        auto at = [&](const std::string& text)
        { return std::find(lines.begin(), lines.end(), text) - lines.begin(); };
        std::ptrdiff_t banner = at("------Exit Log System-------");
        EXPECT_LT(banner, static_cast<std::ptrdiff_t>(lines.size()));
        EXPECT_LT(at("SendThread 67 : Exit Search Device Tread , bExitSock : 1  "), banner);
        EXPECT_LT(at("SendThread 1900 : Exit Search Device Tread , bExitSock : 1  "), banner);
        EXPECT_EQ(mark.Count("SendMessage : pdhcp is NULL "), 0u);
        EXPECT_EQ(mark.Count("------Start Log System-------"), 0u);
        EXPECT_EQ(mark.Count("------Exit Log System-------"), 1u);
        delete g_logDir;
        g_logDir = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void SendToLoopback(int port, const std::string& bytes, const char* address)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::inet_pton(AF_INET, address, &to.sin_addr), 1) << address;
    ASSERT_EQ(ntohl(to.sin_addr.s_addr) >> 24, 127u) << "these tests send to loopback only";
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    ssize_t sent = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    int error = errno;
    ::close(fd);
    ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size())) << std::strerror(error);
}

PortHolder::PortHolder(int port) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0))
{
    EXPECT_GE(m_fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0) << std::strerror(errno);
}

PortHolder::~PortHolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void KeepForever(CSearchDeviceThread* thread)
{
    g_kept->push_back(thread);
}

bool StopAndWait(CSearchDeviceThread& thread)
{
    thread.ExitSearchThread();
    return WaitUntil([&] { return !thread.IsWorkerRunning(); });
}

LogMark::LogMark() : m_offset(LogSize()) {}

std::vector<std::string> LogMark::Messages() const
{
    std::string content = testsupport::ReadFile(LogFile());
    return SplitMessages(content.size() > m_offset ? content.substr(m_offset) : std::string());
}

std::size_t LogMark::Count(const std::string& text, bool prefix) const
{
    std::size_t n = 0;
    for (const std::string& message : Messages())
        if (prefix ? message.compare(0, text.size(), text) == 0 : message == text)
            ++n;
    return n;
}

bool LogMark::WaitForMessage(const std::string& text, bool prefix) const
{
    return WaitUntil([&] { return Count(text, prefix) > 0; });
}

std::vector<Report> Reports()
{
    std::lock_guard<std::mutex> guard(g_reportMutex);
    return *g_reports;
}

bool WaitForReportCount(std::size_t count)
{
    return WaitUntil([&] { return Reports().size() >= count; });
}

std::string BroadcastReply(const std::string& text, unsigned char type, unsigned char code)
{
    std::string bytes(148, '\0');
    bytes[0] = static_cast<char>(code);
    bytes[1] = static_cast<char>(type);
    bytes.replace(20, std::min<std::size_t>(text.size(), 128), text.substr(0, 128));
    return bytes;
}
} // namespace isolated
