// The application's device registry: starts the discovery library with its own
// callback, keeps the devices of the accepted vendors, merges repeated sightings
// and hands out copies of the list.
#ifndef NASFINDER_DEVICESEARCHINTERFACE_H
#define NASFINDER_DEVICESEARCHINTERFACE_H

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "SearchDeviceOpt.h"
#include "SearchDeviceInfo.h"

typedef int (*DeviceCallback)(void* record, int nPort);

// What the refresh loop runs on its thread: the searches and ageing steps of a
// watch, driven by the registry's owner (the search session). It returns once
// the library has stopped.
class CRefreshLoop
{
public:
    virtual ~CRefreshLoop() = default;
    virtual void RunRefreshLoop() = 0;
};

// Upper-cases the ASCII letters a to z of a NUL-terminated text in place.
void ToUpper(char* text);

class CDeviceSearchInterface
{
public:
    static CDeviceSearchInterface* GetInstance();

    int DeviceSearchDllInit(DeviceCallback pCallback, bool bLogEnable, const char* logDir, bool bMultiIP);
    void DeviceSearchDllExit();
    int SendSearchDeviceCommand(dhcppacket* packet);
    // What the library bound once it started, and why a search has no socket.
    void GetSearchStatus(search_dll_status& status) const;
    void GetDeviceList(std::vector<deviceinfo>& vDeviceList);
    void ClearDeviceList();

    // One ageing step, and the refresh loop as a thread body: pParam is the
    // CRefreshLoop that drives the watch's rounds (a search with its repeats,
    // then an ageing step); it runs until the library stops.
    void RefreshDeviceList();
    static void* RefreshDeviceList(void* pParam);

    // The device callback given to the library.
    static int SearchDeviceRecallHandle(void* record, int nPort);

    void AddDeviceInfo(deviceinfo& info);
    void DelDeviceInfo(char* id);

    // The most devices the list holds: more than any real network has, and far
    // above a burst of 10,000, so that a flood of forged reports from the LAN
    // cannot grow it (and the work of every copy of it) without end. A new
    // device beyond it is not added; known devices are still merged and removed.
    static constexpr std::size_t kMaxDevices = 65536;
    // How many new devices were turned away because the list was full, since
    // the list was last emptied; a user of the registry tells its user.
    std::size_t RefusedForFullList() const { return m_nRefusedForFull.load(); }

    int EnterThreadMutex();
    int LeaveThreadMutex();

    // Where the vendor line of AddDeviceInfo goes; standard output unless changed.
    static void SetPrintStream(FILE* stream);

    // Receives the vendor line of AddDeviceInfo (without its line ends, the vendor
    // as the device sent it) instead of the print stream; nullptr restores the
    // stream. For a user that must make device text safe or keep it quiet.
    using TraceSink = void (*)(const char* line, std::size_t length);
    static void SetTraceSink(TraceSink sink);

private:
    CDeviceSearchInterface();
    ~CDeviceSearchInterface();
    CDeviceSearchInterface(const CDeviceSearchInterface&) = delete;
    CDeviceSearchInterface& operator=(const CDeviceSearchInterface&) = delete;

    std::vector<deviceinfo> m_vDeviceList;
    // Address text -> position of its entry in m_vDeviceList, so that a report
    // finds the entry to merge into without a walk over thousands of devices
    // while the receive buffer fills. Every address is listed at most once (a
    // merge keeps it, an append comes only for a new one), so this is exactly
    // the entry the walk from the front would find. Guarded by m_ThreadMutex
    // like the list, and changed with it on every path.
    std::unordered_map<std::string, std::size_t> m_IpIndex;
    std::atomic<std::size_t> m_nRefusedForFull{0};
    pthread_mutex_t m_ThreadMutex;
    DeviceCallback m_pCallback;
};

#endif
