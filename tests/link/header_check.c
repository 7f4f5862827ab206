/* The public header must compile as C. */
#include "SearchDeviceOpt.h"

static int on_device(void* record, int port)
{
    (void)record;
    return port;
}

int header_check(void);
int header_check(void)
{
    int (*init)(int (*)(void*, int), bool, const char*, bool) = search_dll_init;
    int (*search)(struct dhcppacket*) = SendMessageToDevice;
    void (*stop)(void) = search_dll_exit;
    int (*choose)(const char* const*, int, const char* const*, int) = search_dll_set_interfaces;
    int (*beyond)(const char* const*, int) = search_dll_set_unicast_addresses;
    int (*adopt)(int, int) = search_dll_set_broadcast_socket;
    int (*helper)(const char*) = search_dll_start_broadcast_helper;
    int (*status)(struct search_dll_status*) = search_dll_get_status;
    int (*now)(const uint32_t*, int) = search_dll_search_unicast_ipv4;
    return (init != 0) + (search != 0) + (stop != 0) + (choose != 0) + (beyond != 0) + (adopt != 0) +
           (helper != 0) + (status != 0) + (now != 0) + on_device(0, 0);
}
