// The broadcast protocol in both directions: the 148-byte search request and
// its ports, and the parsing of the devices' replies. Plain functions over
// bytes, without sockets, so that they can be tested and fuzzed alone.
#ifndef SEARCHLIB_BROADCASTPROTOCOL_H
#define SEARCHLIB_BROADCASTPROTOCOL_H

#include <cstddef>
#include <cstdint>

#include "SearchDeviceInfo.h"
#include "SearchProtocol.h"

constexpr std::uint8_t kSearchRequestCode = 11;
constexpr std::uint8_t kSearchReplyCode = 12;

// The standard search request: 0B 01 00 00 FF FF FF FF followed by 140 zero bytes.
dhcppacket MakeStandardSearchPacket();

enum class BroadcastReplyStatus
{
    Accepted,    // a device reply; the record is filled
    WrongLength, // not exactly 148 bytes: not ours, dropped without a word
    NotDevice,   // 148 bytes whose code is not 12, e.g. another host's search
};

// What one received datagram is, from its length and code alone.
BroadcastReplyStatus CheckBroadcastReply(const char* data, std::size_t size);

// Checks one received datagram and, for a device reply, fills the record: the
// reply's type byte, the id/host/vendor/product values and the sender address.
BroadcastReplyStatus ParseBroadcastReply(const char* data, int nLen, const char* sender, deviceinfo& info);

// Copies the type byte and the four key values of a validated reply.
int FillDeviceInfoFromPacket(const dhcppacket& packet, deviceinfo& info);

// Looks the key up anywhere in the first textLen bytes of text (or up to a NUL)
// and copies its value, up to the next '&' or the end, at most maxlen characters.
// Returns 1 when the key was found, 0 (dest untouched) when not.
int FindStringValue(const char* text, std::size_t textLen, char* dest, int maxlen, const char* key,
                    int keylen);

#endif
