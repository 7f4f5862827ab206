#include "search/SearchDeviceThread.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include <boost/bind/bind.hpp>
#include <boost/thread.hpp>

#include "net/SearchSockets.h"
#include "log/ShowLog.h"
#include "protocol/SsdpProtocol.h"

using SearchDeviceShowLog::io_printf;

CSearchDeviceThread::CSearchDeviceThread(ReportSink& sink)
    : oldDeviceInfo(), ioService(), sock(ioService), strIP(), nPort(kFirstCommandPort), testCount(0),
      bExitSock(false), bTestPort(false), m_Sink(sink), m_nSockFd(-1), m_bWorkerRunning(false)
{
}

CSearchDeviceThread::~CSearchDeviceThread() {}

void CSearchDeviceThread::InitSearchThread(const char* strIP, int nPort, bool bTestPort)
{
    this->strIP = strIP != nullptr ? strIP : "";
    this->nPort = nPort;
    this->bTestPort = bTestPort;
    io_printf("SendThread %d : Init Search Device Work Thread Value, strIP : %s, nPort : %d  ", this->nPort,
              this->strIP.c_str(), this->nPort);
    InitSearchThread();
}

void CSearchDeviceThread::InitSearchThread()
{
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    SetUpSocket(
        [this]
        {
            AssignNewSocket();
            BindSocket(boost::asio::ip::address_v4::any());
        });
}

void CSearchDeviceThread::AssignNewSocket()
{
    // Opened here rather than by the socket object, which would leave it open
    // across exec: a program the process starts would hold the port.
    const int fd = OpenUdpSocket();
    if (fd < 0)
        throw boost::system::system_error(errno, boost::system::system_category(), "socket");
    boost::system::error_code ec;
    sock.assign(boost::asio::ip::udp::v4(), fd, ec);
    if (ec)
    {
        ::close(fd);
        throw boost::system::system_error(ec, "assign");
    }
}

bool CSearchDeviceThread::SetUpSocket(const std::function<void()>& prepare)
{
    try
    {
        prepare();
        StartWorkerThread();
        m_nBoundPort = nPort;
        m_nSetUpError = 0;
        return true;
    }
    catch (const std::exception& e)
    {
        const auto* system = dynamic_cast<const boost::system::system_error*>(&e);
        m_nSetUpError = system != nullptr ? system->code().value() : -1;
        m_nBoundPort = 0;
        // No worker uses the socket yet, so closing it here races nothing.
        boost::system::error_code ignored;
        sock.close(ignored);
        io_printf("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, e.what());
        return false;
    }
}

void CSearchDeviceThread::BindSocket(const boost::asio::ip::address_v4& local)
{
    sock.bind(boost::asio::ip::udp::endpoint(local, static_cast<unsigned short>(nPort)));
}

void CSearchDeviceThread::OpenSocket()
{
    AssignNewSocket();
    ConfigureSearchSocket(sock.native_handle());
}

std::size_t CSearchDeviceThread::ReceiveDatagram(char* buffer, std::size_t size,
                                                 boost::asio::ip::udp::endpoint& sender,
                                                 boost::system::error_code& ec)
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    unsigned int ifindex = 0;
    const long count = ReceiveWithInterface(sock.native_handle(), buffer, size, address, port, ifindex);
    if (count < 0)
    {
        ec = boost::system::error_code(errno, boost::system::system_category());
        return 0;
    }
    ec = boost::system::error_code();
    sender = boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4(address), port);
    if (count > 0 && !m_Sink.Allows(ifindex, sender.address().to_v4()))
    {
        io_printf("SendThread %d : Drop Datagram from %s : arrived on interface %u, not searched  ", nPort,
                  sender.address().to_string().c_str(), ifindex);
        return 0;
    }
    return static_cast<std::size_t>(count);
}

void CSearchDeviceThread::StartWorkerThread()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_nSockFd = sock.native_handle();
    }
    m_bWorkerRunning.store(true);
    try
    {
        boost::thread worker(boost::bind(&CSearchDeviceThread::HandleProtocolInfo, this));
        worker.detach();
    }
    catch (...)
    {
        m_bWorkerRunning.store(false);
        std::lock_guard<std::mutex> guard(m_Lock);
        m_nSockFd = -1;
        throw;
    }
}

void CSearchDeviceThread::StopWorker()
{
    bExitSock.store(true);
    // Closing a socket does not wake a receive blocked on it on Linux, and closing
    // it here would race the worker that uses it. Shutting the read side down
    // wakes the receive; the worker then sees the flag and closes its own socket.
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_nSockFd >= 0)
        ::shutdown(m_nSockFd, SHUT_RD);
}

void CSearchDeviceThread::ExitSearchThread()
{
    StopWorker();
    io_printf("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", nPort, bExitSock.load() ? 1 : 0);
}

int CSearchDeviceThread::SendSearchCommandToDevice(dhcppacket& /*packet*/)
{
    return 0;
}

void CSearchDeviceThread::ClearOldDeviceInfo()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    oldDeviceInfo.clear();
}

bool CSearchDeviceThread::StoreIfNewDeviceInfo(const deviceinfo& info)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (oldDeviceInfo.compare(info))
        return false;
    oldDeviceInfo = info;
    return true;
}

void CSearchDeviceThread::ReportIfNew(deviceinfo& info, RepeatRule rule, const ReportLog& log)
{
    if (!StoreIfNewDeviceInfo(info))
    {
        if (rule == RepeatRule::ForgetMemory)
            ClearOldDeviceInfo();
        io_printf(log.repeated, nPort, info.type);
        return;
    }
    io_printf(log.reported, nPort, info.type);
    m_Sink.OnDevice(info, nPort);
}

int CSearchDeviceThread::HandleProtocolInfo()
{
    io_printf("SendThread %d : Begin Search Device Work Thread  ", nPort);
    boost::asio::ip::udp::endpoint senderEndpoint;
    boost::system::error_code ec;
    char buffer[kMaxDatagram + 1];
    std::string sender;

    while (!bExitSock.load())
    {
        io_printf("SendThread %d : Wait Reciver Socket Protocol Info  ", nPort);
        std::memset(buffer, 0, sizeof(buffer));
        std::size_t count = ReceiveDatagram(buffer, kMaxDatagram, senderEndpoint, ec);
        io_printf("SendThread %d : Reciver Socket Protocol Info  ", nPort);
        if (count == 0)
        {
            // A receive that keeps failing would otherwise spin a core until stop.
            if (ec && !bExitSock.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        try
        {
            sender = senderEndpoint.address().to_string();
            io_printf("SendThread %d : Recive Socket Protocol IP : %s, nLen : %d  ", nPort, sender.c_str(),
                      static_cast<int>(count));
            HandleReceiveInfo(buffer, static_cast<int>(count), sender);
        }
        catch (const std::exception& e)
        {
            // One bad datagram must not make the socket deaf for the rest of the
            // run: it is dropped and the loop goes on.
            io_printf("SendThread %d : Create Socket Protocolt Server Error : %s  ", nPort, e.what());
        }
        catch (...)
        {
            // The device callback is the caller's code and may throw anything;
            // left to escape, it would end the whole process.
            io_printf("SendThread %d : Create Socket Protocolt Server Error : unknown exception  ", nPort);
        }
    }

    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_nSockFd = -1;
        boost::system::error_code ignored;
        sock.close(ignored);
    }
    m_bWorkerRunning.store(false);
    return 0;
}

void CSearchDeviceThread::HandleReceiveInfo(char* /*data*/, int /*nLen*/, std::string& /*sender*/) {}

void CSearchDeviceThread::UseInterfaces(const std::vector<LocalInterface>& /*interfaces*/, bool /*bChosen*/)
{
}

unsigned short CSearchDeviceThread::UnicastSearchPort() const
{
    return 0;
}

bool CSearchDeviceThread::SendUnicastSearch(const dhcppacket& /*packet*/,
                                            const std::vector<boost::asio::ip::address_v4>& /*targets*/)
{
    return false;
}

bool CSearchDeviceThread::SendAddressedSearch(const dhcppacket& /*packet*/,
                                              const std::vector<boost::asio::ip::address_v4>& /*targets*/)
{
    return false;
}

bool CSearchDeviceThread::SendToEach(const void* data, std::size_t size,
                                     const std::vector<boost::asio::ip::address_v4>& targets,
                                     unsigned short port)
{
    const std::string bytes(static_cast<const char*>(data), size);
    return SendToEach(targets, port, [&bytes](const boost::asio::ip::address_v4&) { return bytes; });
}

bool CSearchDeviceThread::SendToEach(
    const std::vector<boost::asio::ip::address_v4>& targets, unsigned short port,
    const std::function<std::string(const boost::asio::ip::address_v4&)>& payload)
{
    // A socket that never came up, or was closed at stop, sends nothing.
    if (!IsWorkerRunning())
        return false;
    for (const boost::asio::ip::address_v4& target : targets)
    {
        io_printf("SendThread %d : Send Unicast Search Command to %s:%d  ", nPort, target.to_string().c_str(),
                  port);
        const std::string data = payload(target);
        // One unreachable address must not keep the search from the others.
        if (!::SendOnInterface(sock.native_handle(), data.data(), data.size(), target.to_uint(), port, 0))
            io_printf("SendThread %d : Send Unicast Search Error : %s to %s   ", nPort, std::strerror(errno),
                      target.to_string().c_str());
    }
    return true;
}
