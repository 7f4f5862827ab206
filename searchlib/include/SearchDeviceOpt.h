/* Entry points of the discovery library. Callable from C and C++.
 *
 * search_dll_init   starts the log and the search threads; every device found is
 *                   handed to the callback as a 240-byte record, with the local
 *                   port of the thread that found it.
 * SendMessageToDevice sends one search; a null packet sends the standard request.
 *                   A caller's own packet must be a search request too: 148
 *                   bytes whose first byte is the request code 11. The
 *                   broadcast helper sends nothing else from port 67 (what
 *                   else went from there to port 68 would pass firewall rules
 *                   written for DHCP): another packet is refused, and the log
 *                   says so.
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
 * search_dll_set_unicast_addresses  names devices beyond the local network: at
 *                   every search from then on, each of the nAddresses dotted IPv4
 *                   texts in addresses also gets the search packet by unicast to
 *                   its port 68 (from the broadcast search's port 67) and the
 *                   SSDP search by unicast to its port 1900, beside the broadcast
 *                   and group searches; the answers are reported like any other,
 *                   whichever interface they arrive on. Each call replaces the
 *                   list; no list (null, or a count below 1) ends these searches.
 *                   A text that is not a dotted IPv4 address, and a multicast,
 *                   broadcast or unspecified address, is left out (and logged).
 *                   Callable before search_dll_init and while the library runs;
 *                   after search_dll_exit it changes nothing.
 * search_dll_set_unicast_ipv4  the same for addresses given as numbers in host
 *                   byte order (198.18.0.5 is 0xC6120005), for a caller that has
 *                   already read and checked them: no text goes back and forth.
 * search_dll_search_unicast_ipv4  sends one search now, by unicast, to each of
 *                   the nAddresses addresses (numbers in host byte order): the
 *                   search packet to its port 68 (from the broadcast search's
 *                   port 67, or through the broadcast helper) and the SSDP
 *                   search with HOST naming that address to its port 1900 (from
 *                   the group member's socket or, when it has none, the first
 *                   per-address socket): one datagram of each per address, from
 *                   the sockets the library has, with no socket or thread of its
 *                   own. For a caller that searches again the devices it knows,
 *                   at their last addresses. The answers are reported like any
 *                   other (those that arrive on an interface not searched are
 *                   dropped). An address the unicast searches refuse (see
 *                   above) is left out and logged; a repeated one is sent once.
 *                   The list of search_dll_set_unicast_addresses stays as it is.
 *                   Only while the library runs; otherwise it sends nothing.
 * search_dll_set_broadcast_socket  hands the broadcast search a UDP socket that
 *                   is already bound to port 67 on every local address, so that
 *                   a program may bind that privileged port first and give up its
 *                   privileges before the library starts any thread. The library
 *                   owns the socket from then on and closes it at its stop. With
 *                   fd -1, bindError is the errno of the caller's refused bind:
 *                   the library does not try again (the privilege is gone) and
 *                   its status gives that reason. Call it before search_dll_init;
 *                   afterwards it changes nothing. Without it the broadcast
 *                   thread binds port 67 itself. A handle that is not an IPv4
 *                   datagram socket is ignored.
 * search_dll_start_broadcast_helper  starts the broadcast helper, the program
 *                   at helperPath that alone binds UDP port 67 (the broadcast
 *                   search's port, which only a privileged process may bind),
 *                   so that the caller never holds a socket on that port nor
 *                   any privilege: the broadcast search then sends and receives
 *                   through the helper, which sends nothing but the search
 *                   packet to port 68 and hands back nothing but the devices'
 *                   replies. Call it first, before search_dll_init and before
 *                   the caller gives up its own privileges (the helper is given
 *                   no environment and closes every descriptor it does not
 *                   need). Without a helper that holds the port, the broadcast
 *                   search is off and the status says why (broadcast_helper -1
 *                   and broadcast_error ENOENT: the helper could not be
 *                   started; broadcast_helper 1 and EACCES or EPERM: it has no
 *                   privilege; EADDRINUSE: another program holds the port;
 *                   ESRCH: it ended without a word); the library never binds
 *                   port 67 itself then. It ends when the library stops or the
 *                   caller's process ends. Afterwards search_dll_init, or a
 *                   second call, changes nothing.
 * search_dll_get_status  fills *status with what runs: for each search the
 *                   port it is bound to and, where it has none, why. Meant for
 *                   after search_dll_init, whose sockets are all bound (or
 *                   refused) by the time it returns; before it, all is zero.
 *
 * The library starts once per process: a second search_dll_init, and a search or a
 * stop while it is not running, do nothing. No two of these calls may run at the
 * same time as each other. All return 0. */
#ifndef SEARCHLIB_SEARCHDEVICEOPT_H
#define SEARCHLIB_SEARCHDEVICEOPT_H

#ifndef __cplusplus
#include <stdbool.h>
#endif
#include <stdint.h>

#include "SearchStatus.h"

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
    int search_dll_set_unicast_addresses(const char* const* addresses, int nAddresses);
    int search_dll_set_unicast_ipv4(const uint32_t* addresses, int nAddresses);
    int search_dll_search_unicast_ipv4(const uint32_t* addresses, int nAddresses);
    int search_dll_set_broadcast_socket(int fd, int bindError);
    int search_dll_start_broadcast_helper(const char* helperPath);
    int search_dll_get_status(struct search_dll_status* status);

#ifdef __cplusplus
}
#endif

#endif
