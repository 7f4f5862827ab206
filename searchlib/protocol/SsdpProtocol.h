// SSDP in both directions: the group, the port and the search request that goes
// to them, and the parsing of search replies and announcements into device
// records, a plain function over the received text, without sockets.
#ifndef SEARCHLIB_SSDPPROTOCOL_H
#define SEARCHLIB_SSDPPROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "SearchDeviceInfo.h"
#include "SearchProtocol.h"

// Each per-address command thread sends the search from its own port: the first
// from 1530, each further one 20 higher, as far apart as a thread's set-up may
// retry on the ports after its own.
constexpr int kFirstCommandPort = 1530;
constexpr int kCommandPortStep = 20;
// An SSDP thread whose port is taken tries the following ports, at most this many.
constexpr int kMaxPortRetries = 20;
// No thread is given a port past this one, retries included.
constexpr int kLastUdpPort = 65535;

enum class SsdpParseStatus
{
    Accepted,
    NoDeviceOs,    // "VEXA" appears nowhere: not one of our devices
    BadLocation,   // "LOCATION:" without a URL host
    BadUsn,        // no "USN:" line with "uuid:" ... "::"
    NotRootDevice, // an announcement that is not for the root device
    NoNts,         // an announcement without "NTS:"
    UnknownStart,  // neither a search reply nor an announcement
};

// The kind of an announcement that is neither alive nor byebye (an update, say);
// replies and the other announcements carry kReportSearchReply, kReportAlive or
// kReportByebye.
constexpr int kSsdpTypeOther = 0;

// Most characters of the SERVER product description that are looked at.
constexpr std::size_t kSsdpMaxDescription = 63;

// The group search's request (upnp_searchfmt) with HOST naming one device's
// address (host byte order) and port 1900 instead of the group: a search sent
// to that device alone, as a device that reads HOST expects it.
std::string SsdpSearchRequestTo(std::uint32_t address);

// Parses one message: the text ends at its first NUL or after len bytes, and is
// never read past that. sender is the dotted address the datagram came from.
SsdpParseStatus ParseSsdpMessage(const char* text, std::size_t len, const char* sender, deviceinfo& info);

#endif
