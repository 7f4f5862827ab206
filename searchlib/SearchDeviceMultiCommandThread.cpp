#include "SearchDeviceMultiCommandThread.h"

#include <exception>

#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;

CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}

CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}

void CSearchDeviceMultiCommandThead::InitSearchThread()
{
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    try
    {
        OpenSocket();
        boost::asio::ip::address_v4 local =
            strIP.empty() ? boost::asio::ip::address_v4::any() : boost::asio::ip::make_address_v4(strIP);
        sock.bind(boost::asio::ip::udp::endpoint(local, static_cast<unsigned short>(nPort)));
        StartWorkerThread();
    }
    catch (const std::exception& e)
    {
        CloseSocketAfterFailedSetup();
        io_printf("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, e.what());
        if (bTestPort)
            HandleInitSearchThreadError();
    }
}

void CSearchDeviceMultiCommandThead::ExitSearchThread()
{
    // Not a member of the group, so there is nothing to leave.
    CSearchDeviceThread::ExitSearchThread();
}
