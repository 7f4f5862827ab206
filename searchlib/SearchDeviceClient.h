// The search client behind the library's entry points: creates the search
// threads, keeps them in one registry, fans every search out to them and hands
// their reports to the device callback one at a time.
#ifndef SEARCHLIB_SEARCHDEVICECLIENT_H
#define SEARCHLIB_SEARCHDEVICECLIENT_H

#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "LocalInterfaces.h"
#include "SearchDeviceInfo.h"

class CSearchDeviceThread;

typedef int (*SearchDeviceCallback)(void*, int);

struct IPANDSEARCHTHREAD
{
    std::string strLocalIP;
    CSearchDeviceThread* pThread;

    IPANDSEARCHTHREAD();
    IPANDSEARCHTHREAD(const IPANDSEARCHTHREAD& other);
    IPANDSEARCHTHREAD& operator=(const IPANDSEARCHTHREAD& other);
    ~IPANDSEARCHTHREAD();
    void setvalue(std::string ip, CSearchDeviceThread* thread);
};

class CSearchDeviceClient
{
public:
    CSearchDeviceClient();
    ~CSearchDeviceClient();

    static int InitSocketThread(SearchDeviceCallback callback, bool bMultiIP);
    static void InitSearchDeviceThread(bool bMultiIP);
    static int SendMessageToDevice(dhcppacket& packet);
    static void ExitSocketThread();

    static void HandleDeviceMessage(void* record, int nInfoLen, int nPort);

    static void InitSearchDeviceCommandThread();
    static void GetCurrentDeviceLocalIP(std::vector<std::string>& vLocalIP);
    // The interfaces a search uses now: up, not loopback, with an IPv4 address
    // and, when the user chose, chosen. False when the system cannot list them.
    static bool GetCurrentSearchInterfaces(std::vector<LocalInterface>& vInterfaces);

    // A socket bound to port 67 that the broadcast thread takes instead of
    // binding its own; before InitSocketThread.
    static void SetBroadcastSocket(int fd);

    // The user's choice of interfaces; takes effect only in multi-address mode.
    static void SetInterfaceChoice(const InterfaceChoice& choice);
    // Whether a worker may parse a datagram that arrived on interface ifindex.
    static bool ArrivalAllowed(unsigned int ifindex);

    // Every search thread ever made, in order of creation. Like the threads it
    // lists, it lives until the process is gone.
    static std::vector<IPANDSEARCHTHREAD>& m_vSearchDeviceThread;
    static bool m_bMulitIP;
    static int m_nPort;
    // The report lock. Worker threads are detached and may report while the
    // process exits, so the lock is created once and never destroyed.
    static boost::mutex& m_SearchMutex;
    static InterfaceChoice m_InterfaceChoice;
    static int m_nBroadcastSocket;
    // Read by detached workers until the process is gone: never destroyed.
    static CArrivalFilter& m_ArrivalFilter;
};

// Whether a local interface address can carry a search: an IPv4 address of an
// interface that is up, outside 127.0.0.0/8. addr is in network byte order.
bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder);

#endif
