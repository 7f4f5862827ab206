// Sending one UDP datagram out of a named interface, whatever the routes say:
// what the library's broadcast search does on every interface, and what a
// program needs for a broadcast of its own on one link (a wake-up packet).
#ifndef SEARCHLIB_INTERFACESEND_H
#define SEARCHLIB_INTERFACESEND_H

#include <cstddef>
#include <cstdint>

// Sends one datagram to address:port (host byte order) out of the interface
// ifindex, whatever the routes say, or as the routes say with ifindex 0. False
// with errno set on failure. On a helper channel the helper sends it, after its
// own checks; a refusal or failure there comes back as a logged message.
bool SendOnInterface(int fd, const void* data, std::size_t size, std::uint32_t address, std::uint16_t port,
                     unsigned int ifindex);

#endif
