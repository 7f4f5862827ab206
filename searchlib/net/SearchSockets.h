// The socket set-up that every search socket shares, apart from any thread, so
// that a program can bind the broadcast search's privileged port itself before
// it gives up its privileges, and hand the socket to the library.
#ifndef SEARCHLIB_SEARCHSOCKETS_H
#define SEARCHLIB_SEARCHSOCKETS_H

#include <cstddef>
#include <cstdint>

#include "protocol/BroadcastProtocol.h"

// Gives a UDP socket a receive buffer large enough for a burst of answers (the
// system's default holds only a few hundred) and has every datagram say which
// interface it arrived on.
void ConfigureSearchSocket(int fd);

// What the broadcast search needs of a socket it has been given: broadcasts
// may be sent, and each datagram says its arrival interface. The receive buffer
// stays as its maker set it.
void PrepareBroadcastSocket(int fd);

// The broadcast search's socket: UDP over IPv4, configured as above, bound to
// the port (67 unless a test says otherwise) on every local address. -1 with
// errno set when it cannot be had (binding a port below 1024 needs a privilege).
int OpenBroadcastSearchSocket(unsigned short port = kBroadcastPort);

// One datagram into buffer, with its sender (host byte order) and the index of
// the interface it arrived on (0 when the system does not say). The count as
// recvmsg gives it: -1 with errno set on failure.
long ReceiveWithInterface(int fd, void* buffer, std::size_t size, std::uint32_t& sender,
                          std::uint16_t& senderPort, unsigned int& ifindex);

// Sends one datagram to address:port (host byte order) out of the interface
// ifindex, whatever the routes say. False with errno set on failure.
bool SendOnInterface(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                     unsigned int ifindex);

// Whether the system has a route that takes a datagram to address (host byte
// order) out of this host, by an interface other than loopback. Nothing is sent.
bool RoutesOutOfThisHost(std::uint32_t address);

#endif
