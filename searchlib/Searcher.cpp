#include "Searcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/ShowLog.h"
#include "net/SearchSockets.h"
#include "protocol/BroadcastProtocol.h"
#include "protocol/SsdpProtocol.h"
#include "search/SearchDeviceBroadcastThread.h"
#include "search/SearchDeviceMultiCommandThread.h"
#include "search/SearchDeviceMulticastThread.h"

using SearchDeviceShowLog::io_printf;

Searcher::Searcher() : m_nNextCommandPort(kFirstCommandPort) {}

void Searcher::SetInterfaceChoice(const InterfaceChoice& choice)
{
    m_InterfaceChoice = choice;
}

void Searcher::SetBroadcastSocket(int fd, int bindError)
{
    m_nBroadcastSocket = fd;
    m_nBroadcastBindError = bindError;
}

void Searcher::SetBroadcastHelper(int fd, int bindError, bool started)
{
    SetBroadcastSocket(fd, bindError);
    m_nBroadcastHelper = started ? 1 : -1;
}

void Searcher::SetUnicastTargets(std::vector<boost::asio::ip::address_v4> targets)
{
    for (const boost::asio::ip::address_v4& target : targets)
        io_printf("Unicast Search : search %s by unicast ", target.to_string().c_str());
    m_UnicastTargets.Set(std::move(targets));
}

void Searcher::Start(SearchDeviceCallback callback, bool multiAddress)
{
    m_Callback = callback;
    m_bMultiAddress = multiAddress;
    if (m_InterfaceChoice.Active())
    {
        if (multiAddress)
            // Nothing is parsed until the first look at the interfaces says
            // which ones were chosen; the workers start before that.
            m_ArrivalFilter.Restrict({});
        else
            io_printf("Search Interfaces : a choice of interfaces needs multi-address mode; ignored ");
    }

    m_pBroadcast = new CSearchDeviceBroadcastThread(*this);
    m_pBroadcast->AdoptSocket(m_nBroadcastSocket, m_nBroadcastBindError);
    m_nBroadcastSocket = -1;
    m_pBroadcast->InitSearchThread(nullptr, kBroadcastPort, false);

    // In multi-address mode the per-address workers reach every interface, so
    // the group member keeps port 1900 or nothing: a member on another port
    // would hear no announcements anyway.
    m_pGroupMember = new CSearchDeviceMulticastThread(*this);
    m_pGroupMember->SetJoinPerInterface(multiAddress);
    m_pGroupMember->InitSearchThread(nullptr, kSsdpPort, !multiAddress);

    if (multiAddress)
        AddAddressWorkers();
    else
        LookAtRoutedInterface();
}

void Searcher::Search(dhcppacket& packet)
{
    if (m_bMultiAddress)
        AddAddressWorkers();
    else
        LookAtRoutedInterface();
    for (const Worker& worker : Workers())
    {
        worker.thread->ClearOldDeviceInfo();
        worker.thread->SendSearchCommandToDevice(packet);
    }
    SendToAddresses(packet, m_UnicastTargets.Get(), false);
}

void Searcher::SearchAddressesNow(const std::vector<boost::asio::ip::address_v4>& targets)
{
    SendToAddresses(MakeStandardSearchPacket(), targets, true);
}

void Searcher::SendToAddresses(const dhcppacket& packet,
                               const std::vector<boost::asio::ip::address_v4>& targets, bool addressed)
{
    if (targets.empty())
        return;
    std::vector<unsigned short> sent;
    for (const Worker& worker : Workers())
    {
        const unsigned short port = worker.thread->UnicastSearchPort();
        if (port == 0 || std::find(sent.begin(), sent.end(), port) != sent.end())
            continue;
        if (addressed ? worker.thread->SendAddressedSearch(packet, targets)
                      : worker.thread->SendUnicastSearch(packet, targets))
            sent.push_back(port);
    }
}

void Searcher::Stop()
{
    for (const Worker& worker : Workers())
        worker.thread->ExitSearchThread();
}

search_dll_status Searcher::Status() const
{
    search_dll_status status{};
    status.multi_address = m_bMultiAddress ? 1 : 0;
    status.broadcast_port = kBroadcastPort;
    status.broadcast_device_port = kBroadcastDevicePort;
    status.broadcast_helper = m_nBroadcastHelper;
    status.group_port = kSsdpPort;
    status.group_retry_ports = m_bMultiAddress ? 0 : kMaxPortRetries;
    status.address_no_port_left = m_nAddressesWithoutPort;
    status.search_interfaces = m_nSearchInterfaces;
    if (m_pBroadcast != nullptr)
    {
        status.broadcast_bound = m_pBroadcast->BoundPort() != 0 ? 1 : 0;
        status.broadcast_error = m_pBroadcast->SetUpError();
    }
    if (m_pGroupMember != nullptr)
    {
        status.group_bound_port = m_pGroupMember->BoundPort();
        status.group_error = m_pGroupMember->SetUpError();
    }
    for (const Worker& worker : m_vAddressWorkers)
    {
        ++status.address_searches;
        if (worker.thread->BoundPort() != 0)
            ++status.address_searches_bound;
        else
            status.address_error = worker.thread->SetUpError();
    }
    return status;
}

void Searcher::OnDevice(const deviceinfo& info, int port)
{
    io_printf("Handle %d : Search %d Thread Find Device and wait for mutex  ", port, port);
    boost::mutex::scoped_lock lock(m_ReportLock);
    io_printf("Handle %d : Search %d Thread Find Device have Mutex  ", port, port);
    io_printf("Handle %d : Search %d Thread Find Device ID : %s, IP : %s  ", port, port, info.id, info.ip);
    // The callback gets a copy of its own: it may write to the record.
    deviceinfo copy = info;
    // Without a callback there is nobody to tell; the report is dropped.
    if (m_Callback != nullptr)
        m_Callback(&copy, port);
    io_printf("Handle %d : Search %d Thread Find Device Success Handle  ", port, port);
}

bool Searcher::Allows(unsigned int ifindex, const boost::asio::ip::address_v4& sender) const
{
    // The lock of the unicast list is taken only for what the filter turns away.
    return m_ArrivalFilter.Allows(ifindex) || m_UnicastTargets.Contains(sender);
}

std::vector<Searcher::Worker> Searcher::Workers() const
{
    std::vector<Worker> workers;
    workers.reserve(2 + m_vAddressWorkers.size());
    if (m_pBroadcast != nullptr)
        workers.push_back({"", m_pBroadcast});
    if (m_pGroupMember != nullptr)
        workers.push_back({"", m_pGroupMember});
    workers.insert(workers.end(), m_vAddressWorkers.begin(), m_vAddressWorkers.end());
    return workers;
}

void Searcher::AddAddressWorkers()
{
    std::vector<LocalInterface> interfaces;
    // A failed look leaves every worker with the interfaces it had.
    if (!CurrentSearchInterfaces(interfaces))
        return;
    m_nSearchInterfaces = static_cast<int>(interfaces.size());
    if (m_InterfaceChoice.Active())
    {
        std::vector<unsigned int> indices;
        for (const LocalInterface& iface : interfaces)
            indices.push_back(iface.index);
        m_ArrivalFilter.Restrict(std::move(indices));
    }
    for (const Worker& worker : Workers())
        worker.thread->UseInterfaces(interfaces, m_InterfaceChoice.Active());

    int withoutPort = 0;
    for (const std::string& ip : InterfaceAddresses(interfaces))
    {
        if (std::any_of(m_vAddressWorkers.begin(), m_vAddressWorkers.end(),
                        [&ip](const Worker& worker) { return worker.localAddress == ip; }))
            continue;
        // Ports are 16 bits: a worker whose port, or one of the ports it may
        // move on to when that one is taken, lies past the last port is not made.
        if (m_nNextCommandPort + kMaxPortRetries > kLastUdpPort)
        {
            io_printf(
                "Search Device Command Thread : no port left for local IP %s : next port %d, last port %d ",
                ip.c_str(), m_nNextCommandPort, kLastUdpPort);
            ++withoutPort;
            continue;
        }
        auto* command = new CSearchDeviceMultiCommandThread(*this);
        command->InitSearchThread(ip.c_str(), m_nNextCommandPort, true);
        m_vAddressWorkers.push_back({ip, command});
        m_nNextCommandPort += kCommandPortStep;
    }
    m_nAddressesWithoutPort = withoutPort;
}

void Searcher::LookAtRoutedInterface()
{
    const bool routed = RoutesOutOfThisHost(boost::asio::ip::address_v4::broadcast().to_uint()) ||
                        RoutesOutOfThisHost(boost::asio::ip::make_address_v4(kSsdpGroup).to_uint());
    m_nSearchInterfaces = routed ? 1 : 0;
    if (!routed)
        io_printf("Search Interfaces : no route takes the broadcast or the group out of this host ");
}

bool Searcher::CurrentSearchInterfaces(std::vector<LocalInterface>& interfaces) const
{
    interfaces.clear();
    io_printf("Get Current Local IP Info ");
    // The host's own name usually resolves to a loopback address only (from
    // /etc/hosts), which reaches no device; the interfaces tell the truth.
    std::vector<LocalInterface> all;
    if (!ListLocalInterfaces(all))
    {
        io_printf("Add To Mulitcast Group Error : %s   ", std::strerror(errno));
        return false;
    }
    interfaces = SearchableInterfaces(all, m_InterfaceChoice);
    for (const std::string& ip : InterfaceAddresses(interfaces))
        io_printf("Get Current Local IP, IP = %s  ", ip.c_str());
    return true;
}
