// The searcher: owns the search workers (one per socket), the user's choice of
// interfaces, the port plan of the per-address searches and the report lock;
// fans every search out to its workers, hands their reports to the device
// callback one at a time, and says what runs. The C entry points stand over
// exactly one of these.
#ifndef SEARCHLIB_SEARCHER_H
#define SEARCHLIB_SEARCHER_H

#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "SearchDeviceInfo.h"
#include "SearchStatus.h"
#include "net/LocalInterfaces.h"
#include "search/ReportSink.h"

class CSearchDeviceThread;
class CSearchDeviceBroadcastThread;
class CSearchDeviceMulticastThread;

typedef int (*SearchDeviceCallback)(void*, int);

class Searcher final : public ReportSink
{
public:
    // One search worker and the local address it was made for (empty for the
    // broadcast worker and the group member).
    struct Worker
    {
        std::string localAddress;
        CSearchDeviceThread* thread = nullptr;
    };

    Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // Before Start: the interfaces a multi-address search uses, and a socket
    // bound to port 67 that the broadcast worker takes instead of binding one
    // (or, with fd -1, why the caller could not bind it).
    void SetInterfaceChoice(const InterfaceChoice& choice);
    void SetBroadcastSocket(int fd, int bindError);
    // The same for the broadcast helper's channel: fd -1 when the helper could
    // not be started (started false) or has no port 67 (bindError says why).
    void SetBroadcastHelper(int fd, int bindError, bool started);
    // Before Start or while running: the addresses every search from now on
    // also reaches by unicast (devices beyond the local network).
    void SetUnicastTargets(std::vector<boost::asio::ip::address_v4> targets);

    // Makes the workers, in this order: broadcast on port 67, the group member
    // on port 1900 and, in multi-address mode, one per local address on ports
    // 1530, 1550, ... Each binds its socket and starts its worker thread.
    void Start(SearchDeviceCallback callback, bool multiAddress);
    // One search: in multi-address mode the local addresses are looked up again
    // first; then every worker forgets its last report and sends its request.
    void Search(dhcppacket& packet);
    // One search, now, of these addresses alone: the search packet to each
    // one's port 68 and the SSDP search with HOST naming it to its port 1900,
    // from the sockets there are. The unicast list stays as it is.
    void SearchAddressesNow(const std::vector<boost::asio::ip::address_v4>& targets);
    // Tells every worker to stop; waits for none.
    void Stop();

    // What runs: the ports bound, and why a search has none.
    search_dll_status Status() const;

    // The report hand-over, on the reporting worker's thread.
    void OnDevice(const deviceinfo& info, int port) override;
    // A datagram on a searched interface, or from an address searched by
    // unicast (its answers come by whatever route reaches it).
    bool Allows(unsigned int ifindex, const boost::asio::ip::address_v4& sender) const override;

    // Every worker made, in order of making: the broadcast worker, the group
    // member, then the per-address workers. Workers live until the process is
    // gone: a detached worker thread may still use its object at exit.
    std::vector<Worker> Workers() const;
    bool MultiAddress() const { return m_bMultiAddress; }
    // The port the next per-address worker gets; a test may move it.
    int NextCommandPort() const { return m_nNextCommandPort; }
    void SetNextCommandPort(int port) { m_nNextCommandPort = port; }

    // The interfaces a search uses now: up, not loopback, with an IPv4 address
    // and, when the user chose, chosen. False when the system cannot list them.
    bool CurrentSearchInterfaces(std::vector<LocalInterface>& interfaces) const;

private:
    // Makes a worker for each local address that has none yet, and hands every
    // worker the interfaces of this search.
    void AddAddressWorkers();
    // Each device port gets one datagram for each target, from the first
    // worker of its protocol that has a socket: the group member, or when it
    // has none, a per-address worker, whose bound address the answer then
    // comes back to. `addressed`: SSDP's HOST names the target, not the group.
    void SendToAddresses(const dhcppacket& packet, const std::vector<boost::asio::ip::address_v4>& targets,
                         bool addressed);
    // Without multi-address mode the routes choose the interface: whether any
    // takes the broadcast or the group out of this host.
    void LookAtRoutedInterface();

    // Everything but the report lock and the arrival filter is used on the
    // caller's thread only: the entry points never run at the same time.
    // The workers by role, none before Start.
    CSearchDeviceBroadcastThread* m_pBroadcast = nullptr;
    CSearchDeviceMulticastThread* m_pGroupMember = nullptr;
    std::vector<Worker> m_vAddressWorkers;
    bool m_bMultiAddress = false;
    int m_nNextCommandPort;
    int m_nBroadcastSocket = -1;
    int m_nBroadcastBindError = 0;
    // 1 when the broadcast search goes through the helper, -1 when the helper
    // could not be started, 0 when none was asked for.
    int m_nBroadcastHelper = 0;
    InterfaceChoice m_InterfaceChoice;
    // Local addresses that got no worker: no port was left for them.
    int m_nAddressesWithoutPort = 0;
    // The interfaces the searches leave by, as last looked at; -1: unknown.
    int m_nSearchInterfaces = -1;
    // Stored before any worker exists, read by the workers afterwards.
    SearchDeviceCallback m_Callback = nullptr;
    // Serialises the reports: the callback runs under it.
    boost::mutex m_ReportLock;
    CArrivalFilter m_ArrivalFilter;
    CUnicastTargets m_UnicastTargets;
};

#endif
