// The search client behind the library's entry points: creates the search
// threads, keeps them in one registry, fans every search out to them and hands
// their reports to the device callback one at a time.
#ifndef SEARCHLIB_SEARCHDEVICECLIENT_H
#define SEARCHLIB_SEARCHDEVICECLIENT_H

#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>
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

// The addresses searched by unicast beside the broadcast and the group. The
// caller's thread replaces the list and reads it at each search, while every
// worker may ask about the sender of a datagram, so it is under a lock.
class CUnicastTargets
{
public:
    void Set(std::vector<boost::asio::ip::address_v4> targets);
    std::vector<boost::asio::ip::address_v4> Get() const;
    bool Contains(const boost::asio::ip::address_v4& address) const;

private:
    mutable std::mutex m_Lock;
    std::vector<boost::asio::ip::address_v4> m_vTargets; // guarded by m_Lock
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

    // The user's choice of interfaces; takes effect only in multi-address mode.
    static void SetInterfaceChoice(const InterfaceChoice& choice);
    // Whether a worker may parse a datagram from sender that arrived on
    // interface ifindex: on a searched interface, or from an address that is
    // searched by unicast (its answers come by whatever route reaches it).
    static bool ArrivalAllowed(unsigned int ifindex, const boost::asio::ip::address_v4& sender);
    // The addresses every search from now on also reaches by unicast.
    static void SetUnicastTargets(std::vector<boost::asio::ip::address_v4> targets);

    // Every search thread ever made, in order of creation. Like the threads it
    // lists, it lives until the process is gone.
    static std::vector<IPANDSEARCHTHREAD>& m_vSearchDeviceThread;
    static bool m_bMulitIP;
    static int m_nPort;
    // The report lock. Worker threads are detached and may report while the
    // process exits, so the lock is created once and never destroyed.
    static boost::mutex& m_SearchMutex;
    static InterfaceChoice m_InterfaceChoice;
    // Read by detached workers until the process is gone: never destroyed.
    static CArrivalFilter& m_ArrivalFilter;
    // Read by detached workers until the process is gone: never destroyed.
    static CUnicastTargets& m_UnicastTargets;
};

// Whether a local interface address can carry a search: an IPv4 address of an
// interface that is up, outside 127.0.0.0/8. addr is in network byte order.
bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder);

#endif
