#include "SearchDeviceMultiCommandThread.h"

#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;

CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}

CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}

void CSearchDeviceMultiCommandThead::InitSearchThread()
{
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    bool running = SetUpSocket(
        [this]
        {
            OpenSocket();
            BindSocket(strIP.empty() ? boost::asio::ip::address_v4::any()
                                     : boost::asio::ip::make_address_v4(strIP));
        });
    if (!running && bTestPort)
        HandleInitSearchThreadError();
}

void CSearchDeviceMultiCommandThead::ExitSearchThread()
{
    // Not a member of the group, so there is nothing to leave.
    CSearchDeviceThread::ExitSearchThread();
}
