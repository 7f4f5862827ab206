// A recording stand-in for the discovery library's entry points, linked
// into the registry's unit tests instead of the real ones: the tests see what
// the registry hands the library, and no socket is ever opened.
#ifndef NASFINDER_TESTS_FAKESEARCHLIB_H
#define NASFINDER_TESTS_FAKESEARCHLIB_H

#include <string>
#include <vector>

#include "SearchDeviceOpt.h"

struct dhcppacket;

// What the stand-in says runs: every search, on its usual port.
search_dll_status AllSearchesRun();

struct FakeSearchLib
{
    int initCalls = 0;
    int (*callback)(void*, int) = nullptr;
    bool bLogEnable = false;
    std::string logDir = "(null)"; // a copy, as the library keeps one
    bool bMultiIP = false;
    int initResult = 0;

    int sendCalls = 0;
    dhcppacket* lastPacket = nullptr;
    int sendResult = 0;

    int exitCalls = 0;

    std::vector<std::string> include;
    std::vector<std::string> exclude;

    int unicastCalls = 0;
    std::vector<std::string> unicast;

    // Every search of addresses now, and every address of them in order.
    int searchNowCalls = 0;
    std::vector<std::string> searchedNow;

    int broadcastSocket = -1;
    std::string broadcastHelper; // the path search_dll_start_broadcast_helper was given
    search_dll_status status = AllSearchesRun();
};

// Reset by each test that uses it.
extern FakeSearchLib g_fakeSearchLib;

#endif
