// Parsing of SSDP search replies and announcements into device records: a plain
// function over the received text, without sockets.
#ifndef SEARCHLIB_SSDPPROTOCOL_H
#define SEARCHLIB_SSDPPROTOCOL_H

#include <cstddef>

#include "SearchDeviceInfo.h"

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

// The kinds of report in deviceinfo::type.
constexpr int kSsdpTypeOther = 0;
constexpr int kSsdpTypeReply = 1;
constexpr int kSsdpTypeAlive = 2;
constexpr int kSsdpTypeByebye = 4;

// Most characters of the SERVER product description that are looked at.
constexpr std::size_t kSsdpMaxDescription = 63;

// Parses one message: the text ends at its first NUL or after len bytes, and is
// never read past that. sender is the dotted address the datagram came from.
SsdpParseStatus ParseSsdpMessage(const char* text, std::size_t len, const char* sender, deviceinfo& info);

// First character of s that is neither a space nor a tab; null for null.
const char* SkipBlanks(const char* s);

#endif
