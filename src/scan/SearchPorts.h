// Which searches can run, from the ports their sockets need, and the warnings
// that name exactly the ones that cannot. The library binds its sockets without
// a word about a port it could not have, so the scan finds out first.
#ifndef NASFINDER_SCAN_SEARCHPORTS_H
#define NASFINDER_SCAN_SEARCHPORTS_H

#include <string>
#include <vector>

#include "ProcessPrivileges.h"

namespace nasscan
{
struct SearchPortStates
{
    nasfinder::PortCheckResult broadcast; // port 67
    nasfinder::PortCheckResult group;     // port 1900 (and, without multi-address mode, its retries)
    bool multiIP = true;
    int addresses = 0;         // local addresses that search from their own port
    int addressesWithPort = 0; // of those, the ones with a free port in their range
};

struct SearchPortVerdict
{
    std::vector<std::string> warnings; // one line each, without the program's name
    bool anyRuns = true;
};

// programPath goes into the setcap line of the port-67 warning.
SearchPortVerdict JudgeSearchPorts(const SearchPortStates& states, const std::string& programPath);
} // namespace nasscan

#endif
