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
    return (init != 0) + (search != 0) + (stop != 0) + on_device(0, 0);
}
