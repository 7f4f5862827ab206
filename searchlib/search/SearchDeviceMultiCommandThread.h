// Per-address SSDP search thread of multi-address mode: its socket is bound to one
// local address, so the request leaves by that address's interface and the
// unicast replies come back to it. It is not a member of the group.
#ifndef SEARCHLIB_SEARCHDEVICEMULTICOMMANDTHREAD_H
#define SEARCHLIB_SEARCHDEVICEMULTICOMMANDTHREAD_H

#include "search/SearchDeviceMulticastThread.h"

class CSearchDeviceMultiCommandThread : public CSearchDeviceMulticastThread
{
public:
    explicit CSearchDeviceMultiCommandThread(ReportSink& sink);
    ~CSearchDeviceMultiCommandThread() override;

    using CSearchDeviceMulticastThread::InitSearchThread;
    void InitSearchThread() override;
    void ExitSearchThread() override;
};

#endif
