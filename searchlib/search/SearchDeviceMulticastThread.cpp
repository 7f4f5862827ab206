#include "search/SearchDeviceMulticastThread.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "log/ShowLog.h"
#include "protocol/SsdpProtocol.h"

using SearchDeviceShowLog::io_printf;

namespace
{
boost::asio::ip::address_v4 GroupAddress()
{
    return boost::asio::ip::make_address_v4(kSsdpGroup);
}
} // namespace

CSearchDeviceMulticastThread::CSearchDeviceMulticastThread(ReportSink& sink) : CSearchDeviceThread(sink) {}

CSearchDeviceMulticastThread::~CSearchDeviceMulticastThread() {}

void CSearchDeviceMulticastThread::InitSearchThread()
{
    SetUpSocketWithRetry(
        [this]
        {
            OpenSocket();
            if (!m_bJoinPerInterface)
                AlterMulticastGroupInfo(true);
            BindSocket(boost::asio::ip::address_v4::any());
        });
}

void CSearchDeviceMulticastThread::SetUpSocketWithRetry(const std::function<void()>& prepare)
{
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    if (!SetUpSocket(prepare) && bTestPort)
        HandleInitSearchThreadError();
}

void CSearchDeviceMulticastThread::HandleInitSearchThreadError()
{
    io_printf("SendThread %d : Handle Create Search Device Work Thread Error  ", nPort);
    if (testCount >= kMaxPortRetries)
        return;
    ++testCount;
    ++nPort;
    io_printf("SendThread %d : Test Create Search Device Work Thread, testCount = %d, port = %d  ", nPort,
              testCount, nPort);
    InitSearchThread();
}

void CSearchDeviceMulticastThread::AlterMulticastGroupInfo(bool join)
{
    try
    {
        if (join)
        {
            sock.set_option(boost::asio::ip::multicast::join_group(GroupAddress()));
            io_printf("SendThread %d : Add To Multicast Group Info ", nPort);
        }
        else
        {
            sock.set_option(boost::asio::ip::multicast::leave_group(GroupAddress()));
            io_printf("SendThread %d : Leave To Multicast Group Info ", nPort);
        }
    }
    catch (const std::exception& e)
    {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", nPort, e.what());
    }
}

bool CSearchDeviceMulticastThread::AlterMembershipOn(bool join, unsigned int ifindex, const std::string& name)
{
    struct ip_mreqn request
    {
    };
    request.imr_multiaddr.s_addr = htonl(GroupAddress().to_uint());
    request.imr_ifindex = static_cast<int>(ifindex);
    if (::setsockopt(sock.native_handle(), IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                     &request, sizeof(request)) != 0)
    {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error : %s on %s  \r\n", nPort,
                  std::strerror(errno), name.c_str());
        return false;
    }
    io_printf(join ? "SendThread %d : Add To Multicast Group Info on %s "
                   : "SendThread %d : Leave To Multicast Group Info on %s ",
              nPort, name.c_str());
    return true;
}

void CSearchDeviceMulticastThread::UseInterfaces(const std::vector<LocalInterface>& interfaces, bool bChosen)
{
    // A socket that never came up has no membership to change.
    if (!m_bJoinPerInterface || !sock.is_open())
        return;
    std::vector<const LocalInterface*> multicast;
    for (const LocalInterface& iface : interfaces)
    {
        if ((iface.flags & IFF_MULTICAST) != 0)
            multicast.push_back(&iface);
    }
    // Joined by index: an interface made again after a network change has a
    // new one and is joined again; the old membership went with the old one.
    for (const LocalInterface* iface : multicast)
    {
        const bool joined = std::any_of(m_vJoined.begin(), m_vJoined.end(),
                                        [iface](const LocalInterface& j) { return j.index == iface->index; });
        if (!joined && AlterMembershipOn(true, iface->index, iface->name))
            m_vJoined.push_back(*iface);
    }
    if (!bChosen)
        return;
    // The search leaves by the route's interface unless told otherwise; with a
    // choice, that must be a chosen one, or none.
    m_bNoSendInterface = multicast.empty();
    if (m_bNoSendInterface)
        return;
    struct ip_mreqn outgoing
    {
    };
    outgoing.imr_ifindex = static_cast<int>(multicast.front()->index);
    if (::setsockopt(sock.native_handle(), IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) != 0)
    {
        io_printf("SendThread %d : Send Search Device Error : %s on %s   ", nPort, std::strerror(errno),
                  multicast.front()->name.c_str());
        m_bNoSendInterface = true;
    }
}

void CSearchDeviceMulticastThread::ExitSearchThread()
{
    if (!m_bJoinPerInterface)
        AlterMulticastGroupInfo(false);
    for (const LocalInterface& iface : m_vJoined)
        AlterMembershipOn(false, iface.index, iface.name);
    CSearchDeviceThread::ExitSearchThread();
}

int CSearchDeviceMulticastThread::SendSearchCommandToDevice(dhcppacket& /*packet*/)
{
    io_printf("SendThread %d : Send Search Device Command  ", nPort);
    if (m_bNoSendInterface)
    {
        io_printf("SendThread %d : Send Search Device Error : no chosen interface can multicast   ", nPort);
        return 0;
    }
    try
    {
        boost::asio::ip::udp::endpoint target(GroupAddress(), kSsdpPort);
        sock.send_to(boost::asio::buffer(upnp_searchfmt, sizeof(upnp_searchfmt) - 1), target);
    }
    catch (const std::exception& e)
    {
        io_printf("SendThread %d : Send Search Device Error : %s   ", nPort, e.what());
    }
    return 0;
}

unsigned short CSearchDeviceMulticastThread::UnicastSearchPort() const
{
    return kSsdpPort;
}

bool CSearchDeviceMulticastThread::SendUnicastSearch(const dhcppacket& /*packet*/,
                                                     const std::vector<boost::asio::ip::address_v4>& targets)
{
    return SendToEach(upnp_searchfmt, sizeof(upnp_searchfmt) - 1, targets, kSsdpPort);
}

bool CSearchDeviceMulticastThread::SendAddressedSearch(
    const dhcppacket& /*packet*/, const std::vector<boost::asio::ip::address_v4>& targets)
{
    return SendToEach(targets, kSsdpPort,
                      [](const boost::asio::ip::address_v4& target)
                      { return SsdpSearchRequestTo(target.to_uint()); });
}

void CSearchDeviceMulticastThread::HandleReceiveInfo(char* data, int nLen, std::string& sender)
{
    io_printf("SendThread %d : Handle Mulitcast Recive Information  ", nPort);
    deviceinfo info;
    std::size_t len = nLen > 0 ? static_cast<std::size_t>(nLen) : 0;
    if (ParseSsdpMessage(data, len, sender.c_str(), info) != SsdpParseStatus::Accepted)
        return;
    static constexpr ReportLog kLog = {
        "SendThread %d : Handle Mulitcast Recive Information Success, type = %d ",
        "SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ",
    };
    // A repeat empties the memory, so an unbroken run of one announcement is
    // reported every second time.
    ReportIfNew(info, RepeatRule::ForgetMemory, kLog);
}
