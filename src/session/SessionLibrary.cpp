// The session's dealings with the library itself: its start and stop, what
// it is told to search, and what it says it runs.
#include "SearchSession.h"

#include "Capabilities.h"
#include "HelperPath.h"
#include "SearchDeviceOpt.h"
#include "SearchLog.h"

#include <cstdio>

namespace nasfinder
{
namespace
{
void ChooseInterfaces(const InterfaceChoice& choice)
{
    std::vector<const char*> include, exclude;
    for (const std::string& item : choice.include)
        include.push_back(item.c_str());
    for (const std::string& item : choice.exclude)
        exclude.push_back(item.c_str());
    search_dll_set_interfaces(include.data(), static_cast<int>(include.size()), exclude.data(),
                              static_cast<int>(exclude.size()));
}
} // namespace

bool SearchSession::StartBroadcastHelperThenDropPrivileges(const char* program)
{
    search_dll_start_broadcast_helper(BroadcastHelperPath().c_str());
    std::string why;
    if (DropAllCapabilities(&why))
        return true;
    std::fprintf(stderr, "%s: cannot give up the privileges it was started with (%s); not going on\n",
                 program, why.c_str());
    return false;
}

void SearchSession::Start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_settings.diagnostics)
    {
        SearchDeviceShowLog::io_set_echo_sink(*m_settings.diagnostics);
        CDeviceSearchInterface::SetTraceSink(*m_settings.diagnostics);
    }
    ChooseInterfaces(m_settings.interfaces);
    m_chosen = ChosenInterfaceLimits(m_settings.interfaces);
    search_dll_set_unicast_ipv4(m_settings.addresses.data(), static_cast<int>(m_settings.addresses.size()));
    const bool log = !m_settings.logDir.empty();
    m_registry.DeviceSearchDllInit(m_settings.rawReport, log, log ? m_settings.logDir.c_str() : nullptr,
                                   m_settings.multiAddress);
}

void SearchSession::Stop()
{
    m_stopped = true;
    m_registry.DeviceSearchDllExit();
}

void SearchSession::SetAddresses(const std::vector<std::uint32_t>& addresses)
{
    m_settings.addresses = addresses;
    if (m_started)
        search_dll_set_unicast_ipv4(addresses.data(), static_cast<int>(addresses.size()));
}

void SearchSession::SearchNow(const std::vector<std::uint32_t>& addresses)
{
    search_dll_search_unicast_ipv4(addresses.data(), static_cast<int>(addresses.size()));
}

SessionStatus SearchSession::Status() const
{
    SessionStatus status;
    m_registry.GetSearchStatus(status.library);
    status.chosenInterfaces = m_chosen;
    status.searchesAddresses = !m_settings.addresses.empty();
    status.refusedForFullList = m_registry.RefusedForFullList();
    status.maxDevices = CDeviceSearchInterface::kMaxDevices;
    // Asked of the system only for the notices that name it.
    if (status.library.broadcast_bound == 0)
        status.helperPath = BroadcastHelperPath();
    return status;
}
} // namespace nasfinder
