// Broadcast search: the 148-byte search packet goes from port 67 to
// 255.255.255.255 port 68; devices answer with a packet of the same layout.
#ifndef SEARCHLIB_SEARCHDEVICEBROADCASTTHREAD_H
#define SEARCHLIB_SEARCHDEVICEBROADCASTTHREAD_H

#include "search/SearchDeviceThread.h"

class CSearchDeviceBroadcastThread : public CSearchDeviceThread
{
public:
    explicit CSearchDeviceBroadcastThread(ReportSink& sink);
    ~CSearchDeviceBroadcastThread() override;

    using CSearchDeviceThread::InitSearchThread;
    void InitSearchThread() override;
    // The next InitSearchThread takes this bound socket instead of binding one,
    // and owns it from then on; with fd -1 and a bindError, it binds nothing
    // and fails with that error, the reason the socket could not be had.
    void AdoptSocket(int fd, int bindError);
    int SendSearchCommandToDevice(dhcppacket& packet) override;
    void HandleReceiveInfo(char* data, int nLen, std::string& sender) override;
    // From now on the search leaves by each of these interfaces that can
    // broadcast, not only by the one that holds the route for 255.255.255.255.
    void UseInterfaces(const std::vector<LocalInterface>& interfaces, bool bChosen) override;
    // The search packet to each address's port 68, from port 67 like the
    // broadcast, so that the answer comes back to this socket.
    unsigned short UnicastSearchPort() const override;
    bool SendUnicastSearch(const dhcppacket& packet,
                           const std::vector<boost::asio::ip::address_v4>& targets) override;
    // The packet names no host: the same as SendUnicastSearch.
    bool SendAddressedSearch(const dhcppacket& packet,
                             const std::vector<boost::asio::ip::address_v4>& targets) override;

private:
    // Sends one search out of one interface, whatever the routes say.
    void SendOnInterface(const dhcppacket& packet, const LocalInterface& iface);

    // All four are used on the searching thread only.
    int m_nAdoptedSocket = -1;
    int m_nAdoptedError = 0;
    bool m_bPerInterface = false;
    std::vector<LocalInterface> m_vSendInterfaces;
};

#endif
