// What a search session runs, as its user shows it: each search's port and,
// where one has none, why; the interfaces the user chose and what each cannot
// carry; the room left in the list. Only the session reads the library's own
// report; the programs read this.
#ifndef NASFINDER_SESSIONSTATUS_H
#define NASFINDER_SESSIONSTATUS_H

#include "NetworkInterfaces.h"
#include "SearchStatus.h"

#include <cstddef>
#include <string>
#include <vector>

namespace nasfinder
{
// The library's report: for each search the port it is bound to and, where it
// has none, the errno of the refused bind.
using LibraryStatus = search_dll_status;

enum class PortCheck
{
    Available,     // the broadcast search has its port
    HelperMissing, // the helper that holds the port could not be started
    // The helper is there, but this user may not run it (EACCES at its start):
    // the installation keeps it to the members of the group nasfinder.
    HelperNotAllowed,
    NoPrivilege, // refused for want of privilege (EACCES, EPERM)
    InUse,       // another socket holds it (EADDRINUSE)
    Failed,      // any other error
};

struct PortCheckResult
{
    PortCheck state = PortCheck::Available;
    int error = 0; // errno of the refused bind, or of the helper's start
};

// What a refused bind's errno means for the search that wanted the port.
PortCheckResult PortCheckFromErrno(int error);
// What the library's report says of the broadcast search's port.
PortCheckResult BroadcastPortCheck(const LibraryStatus& status);

struct SessionStatus
{
    LibraryStatus library{};
    // The interfaces chosen with --interface and what each cannot carry.
    std::vector<ChosenInterface> chosenInterfaces;
    // Devices are also searched by the addresses the user named, whatever
    // the interfaces.
    bool searchesAddresses = false;
    // New devices the full list turned away since it was last emptied, and
    // how many it holds then.
    std::size_t refusedForFullList = 0;
    std::size_t maxDevices = 0;
    // The broadcast helper's file, which the broadcast search's notices name.
    std::string helperPath;

    PortCheckResult Broadcast() const { return BroadcastPortCheck(library); }
    // No interface carries the broadcast or the group search, and no address
    // is searched either: a search has nowhere to go.
    bool NowhereToSearch() const { return library.search_interfaces == 0 && !searchesAddresses; }
};
} // namespace nasfinder

#endif
