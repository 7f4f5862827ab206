// The channel between the library and the broadcast helper: the small program
// that alone holds UDP port 67, so that no process that loads a toolkit's
// modules ever holds a socket on that port. It hands back data, never its
// socket. One Unix socket (SOCK_SEQPACKET, a socketpair) carries one message
// per packet: a fixed header, then the datagram's bytes. Both ends run on the
// same host, so every field is in host byte order.
//
// The messages, by kind:
//   Hello       helper -> library, first and once: port 67 bound (error 0) or
//               the errno of the refused bind; the helper ends after a refusal.
//   Datagram    helper -> library: one search reply that arrived on port 67,
//               with its sender, sender port and arrival interface.
//   SendFailed  helper -> library: a send request that was refused (error
//               EPERM) or that the system could not send (its errno).
//   Send        library -> helper: send the payload to address:port, out of
//               the interface ifindex (0: wherever the routes say).
//
// Encoding, decoding and the helper's checks are plain functions, so that every
// rule is tested without a socket.
#ifndef SEARCHLIB_HELPERCHANNEL_H
#define SEARCHLIB_HELPERCHANNEL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/LocalInterfaces.h"

enum class HelperMessageKind : std::uint8_t
{
    Hello = 1,
    Datagram = 2,
    SendFailed = 3,
    Send = 4,
};

constexpr std::uint8_t kHelperChannelVersion = 1;

struct HelperMessageHeader
{
    HelperMessageKind kind = HelperMessageKind::Hello;
    std::uint8_t version = kHelperChannelVersion;
    std::uint16_t port = 0;    // Hello: the port bound; otherwise the peer's port
    std::uint32_t address = 0; // the peer's IPv4 address
    std::uint32_t ifindex = 0; // arrival or departure interface; 0: not named
    std::int32_t error = 0;    // Hello and SendFailed: an errno, 0 for none
};

constexpr std::size_t kHelperHeaderBytes = 16;

// A header of this version about a peer: a send to it, or a datagram from it.
inline HelperMessageHeader PeerHeader(HelperMessageKind kind, std::uint32_t address, std::uint16_t port,
                                      std::uint32_t ifindex)
{
    HelperMessageHeader header;
    header.kind = kind;
    header.address = address;
    header.port = port;
    header.ifindex = ifindex;
    return header;
}

// The largest message: a header and a datagram of the broadcast protocol.
constexpr std::size_t kHelperMaxMessage = kHelperHeaderBytes + 148;

// The header followed by size bytes of payload into out; the message's length,
// or 0 when out is too small.
std::size_t EncodeHelperMessage(const HelperMessageHeader& header, const void* payload, std::size_t size,
                                char* out, std::size_t outSize);

enum class HelperDecodeStatus
{
    Ok,
    TooShort,     // shorter than a header
    UnknownKind,  // a kind this side does not know
    WrongVersion, // a message of another version of the channel, of any kind
    WrongPayload, // a payload where none belongs, or none where one must be
};

// Reads one message; payload points into data.
HelperDecodeStatus DecodeHelperMessage(const char* data, std::size_t size, HelperMessageHeader& header,
                                       const char*& payload, std::size_t& payloadSize);

// What the helper does with a Send request: send it, or refuse it and why.
enum class HelperSendVerdict
{
    Allowed,
    WrongSize,        // not a 148-byte search packet
    NotASearch,       // 148 bytes whose first byte is not the search request's code 11
    WrongPort,        // not the devices' port 68
    WrongDestination, // neither the limited broadcast nor an address a device may hold
    NoSuchInterface,  // a broadcast out of an interface that is not there or cannot broadcast
};

// A Send is allowed for a 148-byte search request (its first byte the code
// 11) to port 68, either to 255.255.255.255 (out of a named interface that can
// broadcast, or as the routes say) or to one unicast address that may be a
// device's: not 0/8, 127/8, 224/4 or 240/4, and not the network or broadcast
// address of a subnet of an interface here. Any other 148 bytes from port 67
// to port 68 would pass a firewall's rules for DHCP: what leaves is a search.
HelperSendVerdict CheckHelperSend(const HelperMessageHeader& request, const char* payload,
                                  std::size_t payloadSize, const std::vector<LocalInterface>& interfaces);

// An allowed Send to an address outside every subnet of the interfaces here:
// a device beyond a router, named with --address, or anything a local user
// names. The helper says so on its standard error, so that an administrator
// sees where the search went.
bool HelperSendLeavesTheLocalSubnets(const HelperMessageHeader& request,
                                     const std::vector<LocalInterface>& interfaces);

// The descriptor on which the helper finds its end of the channel.
constexpr int kHelperChannelFd = 3;

// A running helper: its process and the library's end of its channel.
struct HelperProcess
{
    int pid = -1;
    int channel = -1;
    int startError = 0; // why it could not be started (the errno of the start)
};

// Starts the program at path as the helper, with its channel on
// kHelperChannelFd beside standard input, output and error, and no
// environment; the helper closes whatever else it inherits. False with
// helper.startError set when it cannot be started (ENOENT: no such file).
bool StartHelperProcess(const char* path, HelperProcess& helper);

// Waits a moment for a helper that is ending (its channel closed, or it said
// it has no port) and reaps it.
void EndHelperProcess(const HelperProcess& helper);

// Whether fd is the library's end of a helper channel rather than a UDP socket.
bool IsHelperChannel(int fd);

// Waits up to timeoutMs for the helper's Hello on fd. True with *bindError set
// (0: port 67 is bound) when one came; false when the helper ended, said
// something else first, or said nothing in time.
bool ReadHelperHello(int fd, int timeoutMs, int& bindError);

#endif
