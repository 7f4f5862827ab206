#include "search/SearchDeviceBroadcastThread.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "protocol/BroadcastProtocol.h"
#include "net/SearchSockets.h"
#include "log/ShowLog.h"

using SearchDeviceShowLog::io_printf;

CSearchDeviceBroadcastThread::CSearchDeviceBroadcastThread(ReportSink& sink) : CSearchDeviceThread(sink) {}

CSearchDeviceBroadcastThread::~CSearchDeviceBroadcastThread() {}

void CSearchDeviceBroadcastThread::InitSearchThread()
{
    io_printf("SendThread %d : Create Search Device Work Thread ", nPort);
    SetUpSocket(
        [this]
        {
            // A socket the program bound before it gave up its privileges, or
            // one of our own, made and bound the same way.
            int fd = m_nAdoptedSocket;
            m_nAdoptedSocket = -1;
            if (fd < 0 && m_nAdoptedError != 0)
                throw boost::system::system_error(m_nAdoptedError, boost::system::system_category(), "bind");
            if (fd >= 0)
                PrepareBroadcastSocket(fd);
            else if ((fd = OpenBroadcastSearchSocket(static_cast<unsigned short>(nPort))) < 0)
                throw boost::system::system_error(errno, boost::system::system_category(), "bind");
            boost::system::error_code ec;
            sock.assign(boost::asio::ip::udp::v4(), fd, ec);
            if (ec)
            {
                ::close(fd);
                throw boost::system::system_error(ec, "assign");
            }
        });
}

void CSearchDeviceBroadcastThread::AdoptSocket(int fd, int bindError)
{
    m_nAdoptedSocket = fd;
    m_nAdoptedError = bindError;
}

int CSearchDeviceBroadcastThread::SendSearchCommandToDevice(dhcppacket& packet)
{
    io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
    if (m_bPerInterface)
    {
        if (m_vSendInterfaces.empty())
            io_printf("SendThread %d : Send Broadcast Search Error : no interface to broadcast on   ", nPort);
        for (const LocalInterface& iface : m_vSendInterfaces)
            SendOnInterface(packet, iface);
        return 0;
    }
    // As the routes say: out of the interface that holds the route for
    // 255.255.255.255.
    if (!::SendOnInterface(sock.native_handle(), &packet, sizeof(packet), INADDR_BROADCAST,
                           kBroadcastDevicePort, 0))
        io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort, std::strerror(errno));
    return 0;
}

void CSearchDeviceBroadcastThread::UseInterfaces(const std::vector<LocalInterface>& interfaces,
                                                 bool /*bChosen*/)
{
    m_bPerInterface = true;
    m_vSendInterfaces.clear();
    // A tunnel without broadcast has nobody to hear a broadcast.
    for (const LocalInterface& iface : interfaces)
    {
        if ((iface.flags & IFF_BROADCAST) != 0)
            m_vSendInterfaces.push_back(iface);
    }
}

unsigned short CSearchDeviceBroadcastThread::UnicastSearchPort() const
{
    return kBroadcastDevicePort;
}

bool CSearchDeviceBroadcastThread::SendUnicastSearch(const dhcppacket& packet,
                                                     const std::vector<boost::asio::ip::address_v4>& targets)
{
    return SendToEach(&packet, sizeof(packet), targets, kBroadcastDevicePort);
}

bool CSearchDeviceBroadcastThread::SendAddressedSearch(
    const dhcppacket& packet, const std::vector<boost::asio::ip::address_v4>& targets)
{
    return SendUnicastSearch(packet, targets);
}

void CSearchDeviceBroadcastThread::SendOnInterface(const dhcppacket& packet, const LocalInterface& iface)
{
    // One socket on 0.0.0.0:67 for every interface: the interface index in the
    // packet info takes the datagram out there from the interface's own address,
    // and the answers come back to this socket like any other.
    io_printf("SendThread %d : Send Broadcast Search Command on %s  ", nPort, iface.name.c_str());
    if (!::SendOnInterface(sock.native_handle(), &packet, sizeof(packet), INADDR_BROADCAST,
                           kBroadcastDevicePort, iface.index))
        io_printf("SendThread %d : Send Broadcast Search Error : %s on %s   ", nPort, std::strerror(errno),
                  iface.name.c_str());
}

void CSearchDeviceBroadcastThread::HandleReceiveInfo(char* data, int nLen, std::string& sender)
{
    if (nLen != static_cast<int>(sizeof(dhcppacket)))
        return;
    io_printf("SendThread %d : Handle Broadcast Recive Information  ", nPort);
    deviceinfo info;
    if (ParseBroadcastReply(data, nLen, sender.c_str(), info) != BroadcastReplyStatus::Accepted)
    {
        io_printf("SendThread %d : Recive IP : %s is not Device ", nPort, sender.c_str());
        return;
    }
    static constexpr ReportLog kLog = {
        "SendThread %d : Handle Broadcast Recive Information Success ",
        "SendThread %d : Handle Broadcast Recive Information Fail ",
    };
    // Between two searches, a repeat of the last report is not reported again.
    ReportIfNew(info, RepeatRule::KeepMemory, kLog);
}
