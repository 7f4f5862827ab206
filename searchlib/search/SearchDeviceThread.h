// Base of every search worker: one UDP socket, one detached worker thread in a
// blocking receive loop on it, and the record this thread reported last.
#ifndef SEARCHLIB_SEARCHDEVICETHREAD_H
#define SEARCHLIB_SEARCHDEVICETHREAD_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

#include <boost/asio.hpp>

#include "net/LocalInterfaces.h"
#include "SearchDeviceInfo.h"
#include "search/ReportSink.h"

class CSearchDeviceThread
{
public:
    // Largest datagram handed to HandleReceiveInfo; longer ones are cut.
    static constexpr int kMaxDatagram = 1024;

    // Every report goes to sink, and sink says which datagrams may be read.
    explicit CSearchDeviceThread(ReportSink& sink);
    virtual ~CSearchDeviceThread();

    virtual void InitSearchThread(const char* strIP, int nPort, bool bTestPort);
    virtual void InitSearchThread();
    virtual void ExitSearchThread();
    virtual int SendSearchCommandToDevice(dhcppacket& packet);
    virtual void ClearOldDeviceInfo();
    virtual int HandleProtocolInfo();
    virtual void HandleReceiveInfo(char* data, int nLen, std::string& sender);
    // Multi-address mode hands every thread the interfaces a search may use,
    // at start and before every search; bChosen says the user chose them.
    // Called on the searching thread only. Most threads need nothing of it.
    virtual void UseInterfaces(const std::vector<LocalInterface>& interfaces, bool bChosen);
    // The device port to which this thread's search also goes by unicast (0:
    // none), and that unicast search to each of targets; false when this thread
    // has no socket to send it from. Called on the searching thread only.
    virtual unsigned short UnicastSearchPort() const;
    virtual bool SendUnicastSearch(const dhcppacket& packet,
                                   const std::vector<boost::asio::ip::address_v4>& targets);
    // The same search to the same port, each datagram addressed to its target
    // itself where the protocol names a host (SSDP's HOST); false when this
    // thread has no socket to send it from. Called on the searching thread only.
    virtual bool SendAddressedSearch(const dhcppacket& packet,
                                     const std::vector<boost::asio::ip::address_v4>& targets);

    int GetPort() const { return nPort; }
    // Once InitSearchThread has returned: the local port the socket is bound to
    // (0 when it has none), and why it has none: the errno of the set-up that
    // failed last, or -1 for a failure without one.
    int BoundPort() const { return m_nBoundPort; }
    int SetUpError() const { return m_nSetUpError; }
    // True while the worker thread is inside its receive loop.
    bool IsWorkerRunning() const { return m_bWorkerRunning.load(); }

protected:
    // What a thread does with a record equal to the one it reported last. The
    // memory is emptied before every search either way.
    enum class RepeatRule
    {
        KeepMemory,   // a repeat stays unreported until the next search
        ForgetMemory, // a repeat empties the memory: an unbroken run of one
                      // record is reported every second time
    };
    // The log lines of one kind of thread around a report: printf formats that
    // take nPort and then the record's type (a format may leave the type out).
    struct ReportLog
    {
        const char* reported; // written right before the report
        const char* repeated; // written once a repeat has been dealt with
    };

    // Hands the record to the owner unless it equals the one this thread
    // reported last, and remembers it.
    void ReportIfNew(deviceinfo& info, RepeatRule rule, const ReportLog& log);

    // One socket set-up: prepare opens, configures and binds sock, then the
    // worker thread starts. On any failure the socket is closed and the error
    // logged; the result says whether the thread now runs.
    bool SetUpSocket(const std::function<void()>& prepare);
    // Opens sock as UDP over IPv4 and gives it a receive buffer large enough for a
    // burst of answers (the system's default holds only a few hundred).
    void OpenSocket();
    // Opens sock as UDP over IPv4, close-on-exec.
    void AssignNewSocket();
    void BindSocket(const boost::asio::ip::address_v4& local);
    // Sends size bytes of data to each target's port from this thread's socket,
    // the failures logged; false when the worker does not run (no socket).
    bool SendToEach(const void* data, std::size_t size,
                    const std::vector<boost::asio::ip::address_v4>& targets, unsigned short port);
    // The same with the bytes made for each target.
    bool SendToEach(const std::vector<boost::asio::ip::address_v4>& targets, unsigned short port,
                    const std::function<std::string(const boost::asio::ip::address_v4&)>& payload);
    // Sets the stop flag and wakes a receive that the worker is blocked in.
    void StopWorker();
    // One datagram into buffer, as receive_from gives it, with the sender. A
    // datagram that arrived on an interface the user did not choose is dropped
    // and gives 0 bytes without an error.
    std::size_t ReceiveDatagram(char* buffer, std::size_t size, boost::asio::ip::udp::endpoint& sender,
                                boost::system::error_code& ec);

private:
    // Stores the record as the last reported one when it differs from it; returns
    // whether it did. The compare and the store are one step against a search
    // that empties the record from the caller's thread.
    bool StoreIfNewDeviceInfo(const deviceinfo& info);
    // Starts the detached worker thread on HandleProtocolInfo and publishes the
    // socket to ExitSearchThread.
    void StartWorkerThread();

protected:
    deviceinfo oldDeviceInfo;
    boost::asio::io_service ioService;
    boost::asio::ip::udp::socket sock;
    std::string strIP;
    int nPort;
    int testCount;
    std::atomic<bool> bExitSock;
    bool bTestPort;

private:
    ReportSink& m_Sink;
    // Written and read on the searching thread only.
    int m_nBoundPort = 0;
    int m_nSetUpError = 0;
    // Guards oldDeviceInfo and m_nSockFd, both shared between the worker and the
    // searching thread. Never held while reporting or logging.
    std::mutex m_Lock;
    int m_nSockFd;
    std::atomic<bool> m_bWorkerRunning;
};

#endif
