// A C++11 user of the library that declares the entry points itself. It is only
// linked, never run: running it would start a search.
extern "C"
{
    struct dhcppacket;
    int search_dll_init(int (*callback)(void*, int), bool bLogEnable, const char* logDir, bool bMultiIP);
    int SendMessageToDevice(struct dhcppacket* pdhcp);
    void search_dll_exit(void);
    int search_dll_set_unicast_addresses(const char* const* addresses, int nAddresses);
    int search_dll_start_broadcast_helper(const char* helperPath);
}

static int OnDevice(void*, int)
{
    return 0;
}

int main(int argc, char**)
{
    if (argc > 100)
    {
        const char* const beyond[] = {"198.18.20.10"};
        search_dll_start_broadcast_helper("/usr/libexec/nasfinder/nasfinder-broadcast");
        search_dll_set_unicast_addresses(beyond, 1);
        search_dll_init(OnDevice, false, nullptr, true);
        SendMessageToDevice(nullptr);
        search_dll_exit();
    }
    return 0;
}
