#include "SearchDeviceMulticastThread.h"

#include <exception>

#include "ShowLog.h"
#include "SsdpProtocol.h"

using SearchDeviceShowLog::io_printf;

namespace
{
boost::asio::ip::address_v4 GroupAddress()
{
    return boost::asio::ip::make_address_v4(kSsdpGroup);
}
} // namespace

CSearchDeviceMulticastThread::CSearchDeviceMulticastThread() {}

CSearchDeviceMulticastThread::~CSearchDeviceMulticastThread() {}

void CSearchDeviceMulticastThread::InitSearchThread()
{
    SetUpSocketWithRetry(
        [this]
        {
            OpenSocket();
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

void CSearchDeviceMulticastThread::ExitSearchThread()
{
    AlterMulticastGroupInfo(false);
    CSearchDeviceThread::ExitSearchThread();
}

int CSearchDeviceMulticastThread::SendSearchCommandToDevice(dhcppacket& /*packet*/)
{
    io_printf("SendThread %d : Send Search Device Command  ", nPort);
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

char* CSearchDeviceMulticastThread::str_ltrim(char* s)
{
    if (s == nullptr)
        return nullptr;
    while (*s == ' ' || *s == '\t')
        ++s;
    return s;
}
