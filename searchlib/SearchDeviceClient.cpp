#include "SearchDeviceClient.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "BroadcastProtocol.h"
#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceMultiCommandThread.h"
#include "SearchDeviceMulticastThread.h"
#include "ShowLog.h"
#include "SsdpProtocol.h"

using SearchDeviceShowLog::io_printf;

namespace
{
// The device callback; stored once by search_dll_init before any worker exists.
SearchDeviceCallback call_backup = nullptr;
} // namespace

IPANDSEARCHTHREAD::IPANDSEARCHTHREAD() : strLocalIP(), pThread(nullptr) {}

IPANDSEARCHTHREAD::IPANDSEARCHTHREAD(const IPANDSEARCHTHREAD& other)
    : strLocalIP(other.strLocalIP), pThread(other.pThread)
{
}

IPANDSEARCHTHREAD& IPANDSEARCHTHREAD::operator=(const IPANDSEARCHTHREAD& other)
{
    strLocalIP = other.strLocalIP;
    pThread = other.pThread;
    return *this;
}

IPANDSEARCHTHREAD::~IPANDSEARCHTHREAD() {}

void IPANDSEARCHTHREAD::setvalue(std::string ip, CSearchDeviceThread* thread)
{
    strLocalIP = std::move(ip);
    pThread = thread;
}

std::vector<IPANDSEARCHTHREAD>& CSearchDeviceClient::m_vSearchDeviceThread =
    *new std::vector<IPANDSEARCHTHREAD>;
bool CSearchDeviceClient::m_bMulitIP = false;
int CSearchDeviceClient::m_nPort = kFirstCommandPort;
boost::mutex& CSearchDeviceClient::m_SearchMutex = *new boost::mutex;
InterfaceChoice CSearchDeviceClient::m_InterfaceChoice;
CArrivalFilter& CSearchDeviceClient::m_ArrivalFilter = *new CArrivalFilter;
CUnicastTargets& CSearchDeviceClient::m_UnicastTargets = *new CUnicastTargets;

void CUnicastTargets::Set(std::vector<boost::asio::ip::address_v4> targets)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_vTargets = std::move(targets);
}

std::vector<boost::asio::ip::address_v4> CUnicastTargets::Get() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_vTargets;
}

bool CUnicastTargets::Contains(const boost::asio::ip::address_v4& address) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return std::find(m_vTargets.begin(), m_vTargets.end(), address) != m_vTargets.end();
}

CSearchDeviceClient::CSearchDeviceClient() {}

CSearchDeviceClient::~CSearchDeviceClient() {}

int CSearchDeviceClient::InitSocketThread(SearchDeviceCallback callback, bool bMultiIP)
{
    call_backup = callback;
    m_bMulitIP = bMultiIP;
    if (m_InterfaceChoice.Active())
    {
        if (bMultiIP)
            // Nothing is parsed until the first look at the interfaces says
            // which ones were chosen; the workers start before that.
            m_ArrivalFilter.Restrict({});
        else
            io_printf("Search Interfaces : a choice of interfaces needs multi-address mode; ignored ");
    }
    InitSearchDeviceThread(bMultiIP);
    return 0;
}

void CSearchDeviceClient::InitSearchDeviceThread(bool bMultiIP)
{
    IPANDSEARCHTHREAD entry;

    CSearchDeviceThread* broadcast = new CSearchDeviceBroadcastThread();
    broadcast->InitSearchThread(nullptr, kBroadcastPort, false);
    entry.setvalue("", broadcast);
    m_vSearchDeviceThread.push_back(entry);

    // In multi-address mode the command threads reach every interface, so the
    // group member keeps port 1900 or nothing: a member on another port would
    // hear no announcements anyway.
    CSearchDeviceMulticastThread* ssdp = new CSearchDeviceMulticastThread();
    ssdp->SetJoinPerInterface(m_bMulitIP);
    ssdp->InitSearchThread(nullptr, kSsdpPort, !m_bMulitIP);
    entry.setvalue("", ssdp);
    m_vSearchDeviceThread.push_back(entry);

    if (bMultiIP)
        InitSearchDeviceCommandThread();
}

int CSearchDeviceClient::SendMessageToDevice(dhcppacket& packet)
{
    if (m_bMulitIP)
        InitSearchDeviceCommandThread();
    const std::vector<boost::asio::ip::address_v4> targets = m_UnicastTargets.Get();
    // Each device port gets the unicast search once, from the first thread of
    // its protocol that has a socket: the group member, or when it has none, a
    // command thread, whose bound address the answer then comes back to.
    std::vector<unsigned short> unicastSent;
    for (IPANDSEARCHTHREAD& entry : m_vSearchDeviceThread)
    {
        entry.pThread->ClearOldDeviceInfo();
        entry.pThread->SendSearchCommandToDevice(packet);
        const unsigned short port = entry.pThread->UnicastSearchPort();
        if (targets.empty() || port == 0 ||
            std::find(unicastSent.begin(), unicastSent.end(), port) != unicastSent.end())
            continue;
        if (entry.pThread->SendUnicastSearch(packet, targets))
            unicastSent.push_back(port);
    }
    return 0;
}

void CSearchDeviceClient::ExitSocketThread()
{
    for (IPANDSEARCHTHREAD& entry : m_vSearchDeviceThread)
        entry.pThread->ExitSearchThread();
}

void CSearchDeviceClient::HandleDeviceMessage(void* record, int /*nInfoLen*/, int nPort)
{
    io_printf("Handle %d : Search %d Thread Find Device and wait for mutex  ", nPort, nPort);
    boost::mutex::scoped_lock lock(m_SearchMutex);
    io_printf("Handle %d : Search %d Thread Find Device have Mutex  ", nPort, nPort);
    deviceinfo info;
    std::memcpy(static_cast<void*>(&info), record, sizeof(info));
    io_printf("Handle %d : Search %d Thread Find Device ID : %s, IP : %s  ", nPort, nPort, info.id, info.ip);
    // Without a callback there is nobody to tell; the report is dropped.
    if (call_backup != nullptr)
        call_backup(&info, nPort);
    io_printf("Handle %d : Search %d Thread Find Device Success Handle  ", nPort, nPort);
}

void CSearchDeviceClient::SetInterfaceChoice(const InterfaceChoice& choice)
{
    m_InterfaceChoice = choice;
}

bool CSearchDeviceClient::ArrivalAllowed(unsigned int ifindex, const boost::asio::ip::address_v4& sender)
{
    // The lock of the unicast list is taken only for what the filter turns away.
    return m_ArrivalFilter.Allows(ifindex) || m_UnicastTargets.Contains(sender);
}

void CSearchDeviceClient::SetUnicastTargets(std::vector<boost::asio::ip::address_v4> targets)
{
    for (const boost::asio::ip::address_v4& target : targets)
        io_printf("Unicast Search : search %s by unicast ", target.to_string().c_str());
    m_UnicastTargets.Set(std::move(targets));
}

void CSearchDeviceClient::InitSearchDeviceCommandThread()
{
    std::vector<LocalInterface> vInterfaces;
    // A failed look leaves every thread with the interfaces it had.
    if (!GetCurrentSearchInterfaces(vInterfaces))
        return;
    if (m_InterfaceChoice.Active())
    {
        std::vector<unsigned int> indices;
        for (const LocalInterface& iface : vInterfaces)
            indices.push_back(iface.index);
        m_ArrivalFilter.Restrict(std::move(indices));
    }
    for (IPANDSEARCHTHREAD& entry : m_vSearchDeviceThread)
        entry.pThread->UseInterfaces(vInterfaces, m_InterfaceChoice.Active());

    for (const std::string& ip : InterfaceAddresses(vInterfaces))
    {
        bool known = false;
        for (const IPANDSEARCHTHREAD& entry : m_vSearchDeviceThread)
        {
            if (entry.strLocalIP == ip)
            {
                known = true;
                break;
            }
        }
        if (known)
            continue;
        // Ports are 16 bits: a thread whose port, or one of the ports it may
        // move on to when that one is taken, lies past the last port is not made.
        if (m_nPort + kMaxPortRetries > kLastUdpPort)
        {
            io_printf(
                "Search Device Command Thread : no port left for local IP %s : next port %d, last port %d ",
                ip.c_str(), m_nPort, kLastUdpPort);
            continue;
        }
        CSearchDeviceThread* command = new CSearchDeviceMultiCommandThead();
        command->InitSearchThread(ip.c_str(), m_nPort, true);
        IPANDSEARCHTHREAD entry;
        entry.setvalue(ip, command);
        m_vSearchDeviceThread.push_back(entry);
        m_nPort += kCommandPortStep;
    }
}

bool IsSearchableLocalAddress(unsigned int ifaFlags, unsigned int addrNetworkOrder)
{
    if ((ifaFlags & IFF_UP) == 0 || (ifaFlags & IFF_LOOPBACK) != 0)
        return false;
    return (ntohl(addrNetworkOrder) >> 24) != 127;
}

void CSearchDeviceClient::GetCurrentDeviceLocalIP(std::vector<std::string>& vLocalIP)
{
    std::vector<LocalInterface> vInterfaces;
    GetCurrentSearchInterfaces(vInterfaces);
    vLocalIP = InterfaceAddresses(vInterfaces);
}

bool CSearchDeviceClient::GetCurrentSearchInterfaces(std::vector<LocalInterface>& vInterfaces)
{
    vInterfaces.clear();
    io_printf("Get Current Local IP Info ");
    // The host's own name usually resolves to a loopback address only (from
    // /etc/hosts), which reaches no device; the interfaces tell the truth.
    std::vector<LocalInterface> all;
    if (!ListLocalInterfaces(all))
    {
        io_printf("Add To Mulitcast Group Error : %s   ", std::strerror(errno));
        return false;
    }
    vInterfaces = SearchableInterfaces(all, m_InterfaceChoice);
    for (const std::string& ip : InterfaceAddresses(vInterfaces))
        io_printf("Get Current Local IP, IP = %s  ", ip.c_str());
    return true;
}
