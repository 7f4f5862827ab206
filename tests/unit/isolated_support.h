// Support for the tests that open sockets. They run only inside an empty network
// namespace (tools/testbed/netns-run.sh), and the binary refuses to start anywhere else.
//
// The library is started once for the whole binary (it cannot be restarted), with
// its log on in a temporary directory; every test finds its own lines in that one
// log by the port numbers it uses, which no other test shares.
#ifndef NASFINDER_TESTS_UNIT_ISOLATED_SUPPORT_H
#define NASFINDER_TESTS_UNIT_ISOLATED_SUPPORT_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "SearchDeviceInfo.h"
#include "search/SearchDeviceThread.h"

namespace isolated
{
// Long enough for a loaded machine under ThreadSanitizer; the tests poll and
// return as soon as the condition holds.
constexpr std::chrono::seconds kDeadline{20};

// Polls the condition until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kDeadline);

// Sends one datagram from a fresh socket to address:port (a loopback address).
void SendToLoopback(int port, const std::string& bytes, const char* address = "127.0.0.1");

// Binds 0.0.0.0:port for as long as it lives, to make the port unavailable.
class PortHolder
{
public:
    explicit PortHolder(int port);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

private:
    int m_fd;
};

// Thread objects are never deleted, as in the library: a detached worker holds
// a plain pointer to its object. Kept reachable so leak checkers stay quiet.
void KeepForever(CSearchDeviceThread* thread);

// Asks the worker to stop and waits until it has left its receive loop.
bool StopAndWait(CSearchDeviceThread& thread);

// The log lines written since the mark was made, without their time stamp.
class LogMark
{
public:
    LogMark();
    std::vector<std::string> Messages() const;
    // Waits until a line equal to the text, or beginning with it when prefix is
    // set, has been written since the mark.
    bool WaitForMessage(const std::string& text, bool prefix = false) const;
    std::size_t Count(const std::string& text, bool prefix = false) const;

private:
    std::size_t m_offset;
};

// Reports that reached the device callback, in order.
struct Report
{
    deviceinfo info;
    int port;
};
std::vector<Report> Reports();
bool WaitForReportCount(std::size_t count);

// A 148-byte broadcast reply with the given code, type byte and text.
std::string BroadcastReply(const std::string& text, unsigned char type = 1, unsigned char code = 12);
} // namespace isolated

#endif
