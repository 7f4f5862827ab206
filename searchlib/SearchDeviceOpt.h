/* Entry points of the discovery library. Callable from C and C++.
 *
 * search_dll_init   starts the log and the search threads; every device found is
 *                   handed to the callback as a 240-byte record, with the local
 *                   port of the thread that found it.
 * SendMessageToDevice sends one search; a null packet sends the standard request.
 * search_dll_exit   tells every search thread to stop.
 * search_dll_set_interfaces  chooses the interfaces a multi-address search uses:
 *                   each of the nInclude texts in include (all interfaces when
 *                   there is none) minus each of the nExclude texts in exclude;
 *                   a text is an interface name ("eth0") or one of its IPv4
 *                   addresses. Only the chosen interfaces send, and only datagrams
 *                   that arrive on them are read. Call it before search_dll_init;
 *                   afterwards, or without multi-address mode, it changes nothing.
 *                   Null lists, null texts and counts below 1 name nothing; a
 *                   text that names no interface matches nothing.
 * search_dll_set_broadcast_socket  hands the broadcast search a UDP socket that
 *                   is already bound to port 67 on every local address, so that
 *                   a program may bind that privileged port first and give up its
 *                   privileges before the library starts any thread. The library
 *                   owns the socket from then on and closes it at its stop. Call
 *                   it before search_dll_init; afterwards it changes nothing.
 *                   Without it the broadcast thread binds port 67 itself. A
 *                   handle that is not an IPv4 datagram socket is ignored.
 *
 * The library starts once per process: a second search_dll_init, and a search or a
 * stop while it is not running, do nothing. The three must not run at the same
 * time as each other. All return 0. */
#ifndef SEARCHLIB_SEARCHDEVICEOPT_H
#define SEARCHLIB_SEARCHDEVICEOPT_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C"
{
#endif

    struct dhcppacket;

    int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir, bool bMultiIP);
    int SendMessageToDevice(struct dhcppacket* pdhcp);
    void search_dll_exit(void);
    int search_dll_set_interfaces(const char* const* include, int nInclude, const char* const* exclude,
                                  int nExclude);
    int search_dll_set_broadcast_socket(int fd);

#ifdef __cplusplus
}
#endif

#endif
