#include "search/SearchDeviceMultiCommandThread.h"

CSearchDeviceMultiCommandThread::CSearchDeviceMultiCommandThread(ReportSink& sink)
    : CSearchDeviceMulticastThread(sink)
{
}

CSearchDeviceMultiCommandThread::~CSearchDeviceMultiCommandThread() {}

void CSearchDeviceMultiCommandThread::InitSearchThread()
{
    SetUpSocketWithRetry(
        [this]
        {
            OpenSocket();
            BindSocket(strIP.empty() ? boost::asio::ip::address_v4::any()
                                     : boost::asio::ip::make_address_v4(strIP));
        });
}

void CSearchDeviceMultiCommandThread::ExitSearchThread()
{
    // Not a member of the group, so there is nothing to leave.
    CSearchDeviceThread::ExitSearchThread();
}
