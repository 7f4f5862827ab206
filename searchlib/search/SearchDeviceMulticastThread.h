// SSDP search: the M-SEARCH request goes to the group 239.143.255.250 port 1900;
// search replies and NOTIFY announcements are parsed into device records.
#ifndef SEARCHLIB_SEARCHDEVICEMULTICASTTHREAD_H
#define SEARCHLIB_SEARCHDEVICEMULTICASTTHREAD_H

#include "search/SearchDeviceThread.h"

class CSearchDeviceMulticastThread : public CSearchDeviceThread
{
public:
    explicit CSearchDeviceMulticastThread(ReportSink& sink);
    ~CSearchDeviceMulticastThread() override;

    using CSearchDeviceThread::InitSearchThread;
    void InitSearchThread() override;
    void ExitSearchThread() override;
    int SendSearchCommandToDevice(dhcppacket& packet) override;
    void HandleReceiveInfo(char* data, int nLen, std::string& sender) override;

    // Multi-address mode: the group is joined on every interface that can
    // multicast (UseInterfaces) instead of on the default one. Set before
    // InitSearchThread.
    void SetJoinPerInterface(bool bPerInterface) { m_bJoinPerInterface = bPerInterface; }
    void UseInterfaces(const std::vector<LocalInterface>& interfaces, bool bChosen) override;
    // The SSDP search to each address's port 1900; the answer comes back to
    // this socket's address and port.
    unsigned short UnicastSearchPort() const override;
    bool SendUnicastSearch(const dhcppacket& packet,
                           const std::vector<boost::asio::ip::address_v4>& targets) override;
    // The SSDP search with HOST naming each address, to its port 1900.
    bool SendAddressedSearch(const dhcppacket& packet,
                             const std::vector<boost::asio::ip::address_v4>& targets) override;

    void AlterMulticastGroupInfo(bool join);
    // One step of the port retry: the next port, at most kMaxPortRetries times.
    void HandleInitSearchThreadError();

protected:
    // The set-up of every SSDP socket: prepare opens, configures and binds sock;
    // when that fails and bTestPort is set, the set-up is tried again on the
    // following ports.
    void SetUpSocketWithRetry(const std::function<void()>& prepare);

private:
    // Joins or leaves the group on one interface; false when that failed.
    bool AlterMembershipOn(bool join, unsigned int ifindex, const std::string& name);

    // Used on the searching thread only.
    bool m_bJoinPerInterface = false;
    std::vector<LocalInterface> m_vJoined;
    // The user chose interfaces and none of them can carry this search.
    bool m_bNoSendInterface = false;
};

#endif
