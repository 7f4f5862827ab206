#include "SearchDeviceBroadcastThread.h"

#include <exception>

#include "BroadcastProtocol.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;

CSearchDeviceBroadcastThread::CSearchDeviceBroadcastThread() {}

CSearchDeviceBroadcastThread::~CSearchDeviceBroadcastThread() {}

void CSearchDeviceBroadcastThread::InitSearchThread()
{
    io_printf("SendThread %d : Create Search Device Work Thread ", nPort);
    SetUpSocket(
        [this]
        {
            OpenSocket();
            sock.set_option(boost::asio::socket_base::broadcast(true));
            BindSocket(boost::asio::ip::address_v4::any());
        });
}

int CSearchDeviceBroadcastThread::SendSearchCommandToDevice(dhcppacket& packet)
{
    io_printf("SendThread %d : Send Broadcast Search Command  ", nPort);
    try
    {
        boost::asio::ip::udp::endpoint target(boost::asio::ip::address_v4::broadcast(), kBroadcastDevicePort);
        sock.send_to(boost::asio::buffer(&packet, sizeof(packet)), target);
    }
    catch (const std::exception& e)
    {
        io_printf("SendThread %d : Send Broadcast Search Error : %s   ", nPort, e.what());
    }
    return 0;
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

int CSearchDeviceBroadcastThread::HandleDeviceInfo(dhcppacket& packet, deviceinfo& info)
{
    return FillDeviceInfoFromPacket(packet, info);
}

int CSearchDeviceBroadcastThread::FindStringValue(char* text, char* dest, int maxlen, char* key, int keylen)
{
    return ::FindStringValue(text, sizeof(dhcppacket::text), dest, maxlen, key, keylen);
}
