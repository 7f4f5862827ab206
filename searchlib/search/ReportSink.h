// What a search worker needs of its owner, handed to it when it is made: where
// its reports go, and which datagrams it may read. A worker knows nothing else
// of who owns it.
#ifndef SEARCHLIB_REPORTSINK_H
#define SEARCHLIB_REPORTSINK_H

#include <boost/asio/ip/address_v4.hpp>

#include "SearchDeviceInfo.h"

class ReportSink
{
public:
    // A record the worker has not reported since the last search; port is the
    // worker's local port, which names it. Called on the worker's own thread.
    virtual void OnDevice(const deviceinfo& info, int port) = 0;
    // Whether a datagram from sender that arrived on interface ifindex (0: not
    // known) may be read. Called on the worker's own thread for every datagram.
    virtual bool Allows(unsigned int ifindex, const boost::asio::ip::address_v4& sender) const = 0;

protected:
    ~ReportSink() = default;
};

#endif
