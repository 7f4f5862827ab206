/* What the discovery library runs: for each search the port it is bound to
 * and, where it has none, why. Filled by search_dll_get_status
 * (SearchDeviceOpt.h). Callable from C and C++. */
#ifndef SEARCHLIB_SEARCHSTATUS_H
#define SEARCHLIB_SEARCHSTATUS_H

/* Why a search has no socket: the errno of the bind that was refused
 * (EACCES or EPERM: for want of privilege; EADDRINUSE: another program holds
 * the port), or -1 for a failure that has none. */
struct search_dll_status
{
    int multi_address;          /* 1 in multi-address mode */
    int broadcast_port;         /* the broadcast search's port (67) */
    int broadcast_device_port;  /* the port it searches on the devices (68) */
    int broadcast_bound;        /* 1 when its socket is bound */
    int broadcast_error;        /* why not */
    int broadcast_helper;       /* 1: through the broadcast helper; -1: the helper could not be started */
    int group_port;             /* the SSDP group member's port (1900) */
    int group_retry_ports;      /* ports above it it may move on to when it is taken */
    int group_bound_port;       /* the port it is bound to; 0: none */
    int group_error;            /* why none */
    int address_searches;       /* local addresses given an SSDP search of their own */
    int address_searches_bound; /* of those, the ones whose socket is bound */
    int address_error;          /* why the last one without a socket has none */
    int address_no_port_left;   /* local addresses given none: no port was left */
    int search_interfaces;      /* the interfaces the searches leave by, as last
                                 * looked at (at the start and at every search): in
                                 * multi-address mode the chosen ones that are up,
                                 * not loopback and hold an IPv4 address; otherwise
                                 * 1 when a route takes the broadcast or the group
                                 * out by an interface other than loopback, else 0;
                                 * -1 when the system could not list them. The
                                 * unicast searches (search_dll_set_unicast_addresses)
                                 * go by their own routes and are not counted. */
};

#endif
