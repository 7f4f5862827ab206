// The socket set-up that every search socket shares, apart from any thread, and
// the one receive and the one send of the searches. A search socket may also be
// the channel to the broadcast helper, which holds port 67 in a process of its
// own (net/HelperChannel.h): receive and send then speak to the helper, and a
// worker cannot tell the two apart.
#ifndef SEARCHLIB_SEARCHSOCKETS_H
#define SEARCHLIB_SEARCHSOCKETS_H

#include <cstddef>
#include <cstdint>

#include "InterfaceSend.h"
#include "protocol/BroadcastProtocol.h"

// A UDP socket over IPv4, close-on-exec so that no program the process starts
// inherits it; -1 with errno set on failure.
int OpenUdpSocket();

// Gives a UDP socket a receive buffer large enough for a burst of answers (the
// system's default holds only a few hundred) and has every datagram say which
// interface it arrived on.
void ConfigureSearchSocket(int fd);

// What the broadcast search needs of a socket it has been given: broadcasts
// may be sent, and each datagram says its arrival interface. The receive buffer
// stays as its maker set it. A helper channel needs nothing.
void PrepareBroadcastSocket(int fd);

// The broadcast search's socket: UDP over IPv4, configured as above, bound to
// the port (67 unless a test says otherwise) on every local address. -1 with
// errno set when it cannot be had (binding a port below 1024 needs a privilege).
int OpenBroadcastSearchSocket(unsigned short port = kBroadcastPort);

// One datagram into buffer, with its sender (host byte order) and the index of
// the interface it arrived on (0 when the system does not say). The count as
// recvmsg gives it: -1 with errno set on failure. On a helper channel: the next
// datagram the helper forwards; a message that is none (a send that failed) is
// logged and gives 0, and a channel whose helper has ended gives -1 (ECONNRESET).
long ReceiveWithInterface(int fd, void* buffer, std::size_t size, std::uint32_t& sender,
                          std::uint16_t& senderPort, unsigned int& ifindex);

// Whether the system has a route that takes a datagram to address (host byte
// order) out of this host, by an interface other than loopback. Nothing is sent.
bool RoutesOutOfThisHost(std::uint32_t address);

#endif
