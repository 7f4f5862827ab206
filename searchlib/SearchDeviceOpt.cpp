#include "SearchDeviceOpt.h"

#include "SearchDeviceClient.h"
#include "SearchDeviceInfo.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;

extern "C" int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir,
                               bool bMultiIP)
{
    SearchDeviceShowLog::io_log_init(bLogEnable, logDir);
    CSearchDeviceClient::InitSocketThread(callback, bMultiIP);
    return 0;
}

extern "C" int SendMessageToDevice(struct dhcppacket* pdhcp)
{
    if (pdhcp == nullptr)
    {
        io_printf("SendMessage : pdhcp is NULL ");
        dhcppacket packet = MakeStandardSearchPacket();
        CSearchDeviceClient::SendMessageToDevice(packet);
    }
    else
    {
        io_printf("SendMessage : pdhcp is not NULL ");
        CSearchDeviceClient::SendMessageToDevice(*pdhcp);
    }
    return 0;
}

extern "C" void search_dll_exit(void)
{
    CSearchDeviceClient::ExitSocketThread();
    SearchDeviceShowLog::io_log_exit();
}
