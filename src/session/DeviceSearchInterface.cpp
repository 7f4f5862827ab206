#include "DeviceSearchInterface.h"

#include "TerminalText.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "SearchDeviceOpt.h"

namespace
{
// Vendors whose devices the application lists, in the order they are tested.
const char* const kAcceptedVendors[] = {"TAVIK", "VORAN5", "ESKAL", "MIRDO", "TELQUIN"};

constexpr std::int64_t kLifeStep = 10;
constexpr std::int64_t kLifeMinimum = 46;

// Null stands for standard output: `stdout` is not a constant, so it cannot be
// the static initialiser, and reading it at each print also follows a freopen.
std::atomic<FILE*> g_printStream{nullptr};
std::atomic<CDeviceSearchInterface::TraceSink> g_traceSink{nullptr};

// Holds the list lock for one scope through the registry's own lock functions,
// so that an exception under it (a failed allocation while the list grows)
// cannot leave the list locked for every later caller.
class ListLock
{
public:
    explicit ListLock(CDeviceSearchInterface& registry) : m_Registry(registry)
    {
        m_Registry.EnterThreadMutex();
    }
    ~ListLock() { m_Registry.LeaveThreadMutex(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    CDeviceSearchInterface& m_Registry;
};

bool IsAcceptedVendor(const char* factory)
{
    for (const char* vendor : kAcceptedVendors)
    {
        if (std::strncmp(factory, vendor, kDeviceFieldSize) == 0)
            return true;
    }
    return false;
}

// The key of a record in the address index: the address text as compareIP sees
// it, up to its NUL.
std::string IpKey(const deviceinfo& record)
{
    return std::string(record.ip, ::strnlen(record.ip, kDeviceFieldSize));
}
} // namespace

void ToUpper(char* text)
{
    if (text == nullptr)
        return;
    for (; *text != '\0'; ++text)
    {
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
    }
}

CDeviceSearchInterface::CDeviceSearchInterface() : m_pCallback(nullptr)
{
    pthread_mutex_init(&m_ThreadMutex, nullptr);
}

CDeviceSearchInterface::~CDeviceSearchInterface()
{
    pthread_mutex_destroy(&m_ThreadMutex);
}

CDeviceSearchInterface* CDeviceSearchInterface::GetInstance()
{
    // Created once (static-local initialisation is thread-safe) and deliberately
    // never destroyed: the library's detached workers may still be handing over a
    // report while the process exits, and that report must not meet a destroyed
    // mutex or list.
    static CDeviceSearchInterface* g_DeviceSearchInterface = new CDeviceSearchInterface;
    return g_DeviceSearchInterface;
}

void CDeviceSearchInterface::SetPrintStream(FILE* stream)
{
    g_printStream.store(stream);
}

void CDeviceSearchInterface::SetTraceSink(TraceSink sink)
{
    g_traceSink.store(sink);
}

int CDeviceSearchInterface::DeviceSearchDllInit(DeviceCallback pCallback, bool bLogEnable, const char* logDir,
                                                bool bMultiIP)
{
    // Stored before the library starts its workers, which read it only afterwards.
    m_pCallback = pCallback;
    return search_dll_init(&CDeviceSearchInterface::SearchDeviceRecallHandle, bLogEnable, logDir, bMultiIP);
}

void CDeviceSearchInterface::DeviceSearchDllExit()
{
    search_dll_exit();
}

int CDeviceSearchInterface::SendSearchDeviceCommand(dhcppacket* packet)
{
    return SendMessageToDevice(packet);
}

void CDeviceSearchInterface::GetSearchStatus(search_dll_status& status) const
{
    search_dll_get_status(&status);
}

void CDeviceSearchInterface::GetDeviceList(std::vector<deviceinfo>& vDeviceList)
{
    const ListLock lock(*this);
    vDeviceList = m_vDeviceList;
}

void CDeviceSearchInterface::ClearDeviceList()
{
    const ListLock lock(*this);
    // Gives the room back too: after a flood the list may have held tens of
    // thousands of entries that a real network never needs again.
    std::vector<deviceinfo>().swap(m_vDeviceList);
    std::unordered_map<std::string, std::size_t>().swap(m_IpIndex);
    m_nRefusedForFull.store(0);
}

void CDeviceSearchInterface::RefreshDeviceList()
{
    const ListLock lock(*this);
    const auto stale = [](const deviceinfo& entry) { return entry.life - kLifeStep < kLifeMinimum; };
    if (std::any_of(m_vDeviceList.begin(), m_vDeviceList.end(), stale))
    {
        // The index of what stays is built first: a failed allocation there
        // leaves list and index as they were. Then one pass closes every gap,
        // rather than an erase (and a shift of all that follows) per entry.
        std::unordered_map<std::string, std::size_t> index;
        std::size_t kept = 0;
        for (const deviceinfo& entry : m_vDeviceList)
        {
            if (!stale(entry))
                index.emplace(IpKey(entry), kept++);
        }
        m_vDeviceList.erase(std::remove_if(m_vDeviceList.begin(), m_vDeviceList.end(), stale),
                            m_vDeviceList.end());
        m_IpIndex.swap(index);
    }
    for (deviceinfo& entry : m_vDeviceList)
        entry.life -= kLifeStep;
}

void* CDeviceSearchInterface::RefreshDeviceList(void* pParam)
{
    // The rounds are timed and the list aged by the loop's owner, which
    // drives every search of its program in one place.
    if (pParam != nullptr)
        static_cast<CRefreshLoop*>(pParam)->RunRefreshLoop();
    return nullptr;
}

int CDeviceSearchInterface::SearchDeviceRecallHandle(void* record, int nPort)
{
    CDeviceSearchInterface* self = GetInstance();
    if (record != nullptr)
    {
        // Work on a private copy: the library's record is the caller's, and the
        // application's callback below must see it exactly as the library wrote it.
        deviceinfo info;
        std::memcpy(static_cast<void*>(&info), record, sizeof(info));
        switch (info.type)
        {
        case kReportSearchReply:
        case kReportAlive:
            self->AddDeviceInfo(info);
            break;
        case kReportByebye:
            self->DelDeviceInfo(info.id);
            break;
        default:
            break;
        }
    }
    if (self->m_pCallback != nullptr)
        return self->m_pCallback(record, nPort);
    return 0;
}

void CDeviceSearchInterface::AddDeviceInfo(deviceinfo& info)
{
    // The fields always end inside their 32 bytes when they come from the library;
    // enforce it so a hand-made record cannot make ToUpper or the print run on,
    // nor store an address that a later merge (which copies at most 31
    // characters) would change under the index.
    info.factory[kDeviceFieldMaxLen] = '\0';
    info.ip[kDeviceFieldMaxLen] = '\0';
    ToUpper(info.factory);

    const std::string trace = std::string("NewDeviceInfo.factory = ") + info.factory;
    if (const TraceSink sink = g_traceSink.load())
    {
        sink(trace.data(), trace.size());
    }
    else
    {
        // The vendor is the device's own bytes, accepted or not: on a terminal
        // they could retitle or clear it.
        FILE* stream = g_printStream.load();
        std::fprintf(stream != nullptr ? stream : stdout, "\n%s\n", nasfinder::TerminalText(trace).c_str());
    }

    if (!IsAcceptedVendor(info.factory))
        return;

    const ListLock lock(*this);
    // An equal entry (compare) has the same address too, so the one entry with
    // this address is the only candidate for either test.
    const std::string key = IpKey(info);
    if (m_vDeviceList.size() >= kMaxDevices && m_IpIndex.find(key) == m_IpIndex.end())
    {
        m_nRefusedForFull.fetch_add(1);
        return;
    }
    const auto found = m_IpIndex.emplace(key, m_vDeviceList.size());
    if (!found.second)
    {
        deviceinfo& entry = m_vDeviceList[found.first->second];
        if (entry.compare(info))
            entry.life = info.life;
        else
            entry.alterValue(info);
        return;
    }
    try
    {
        m_vDeviceList.push_back(info);
    }
    catch (...)
    {
        m_IpIndex.erase(found.first);
        throw;
    }
}

void CDeviceSearchInterface::DelDeviceInfo(char* id)
{
    if (id == nullptr)
        return;
    const ListLock lock(*this);
    const auto it = std::find_if(m_vDeviceList.begin(), m_vDeviceList.end(),
                                 [id](const deviceinfo& entry)
                                 { return std::strncmp(entry.id, id, kDeviceFieldSize) == 0; });
    if (it == m_vDeviceList.end())
        return;
    const std::size_t erased = static_cast<std::size_t>(it - m_vDeviceList.begin());
    m_IpIndex.erase(IpKey(*it));
    m_vDeviceList.erase(it);
    if (erased == m_vDeviceList.size())
        return;
    // The entries behind it moved up by one.
    for (auto& slot : m_IpIndex)
    {
        if (slot.second > erased)
            --slot.second;
    }
}

int CDeviceSearchInterface::EnterThreadMutex()
{
    return pthread_mutex_lock(&m_ThreadMutex);
}

int CDeviceSearchInterface::LeaveThreadMutex()
{
    return pthread_mutex_unlock(&m_ThreadMutex);
}
