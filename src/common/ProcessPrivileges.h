// What both programs do before anything else: start the broadcast helper, the
// one small program that holds UDP port 67 (which Linux lets only a privileged
// process bind), then give up every capability they were started with, so
// that no code the user can influence (a toolkit's plugins and modules, a
// thread, a program the window opens) ever runs with one. The programs hold no
// file capability of their own; the helper does.
#ifndef NASFINDER_PROCESSPRIVILEGES_H
#define NASFINDER_PROCESSPRIVILEGES_H

#include <string>

#include "Capabilities.h"
#include "SearchDeviceOpt.h"

namespace nasfinder
{
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
// What the library's status says of the broadcast search's port.
PortCheckResult BroadcastPortCheck(const search_dll_status& status);

// The broadcast helper's file: beside the running program in a build tree,
// else where the installation put it. Never looked up through PATH.
std::string BroadcastHelperPath();
// Where the installation puts the helper.
std::string InstalledBroadcastHelperPath();

// The first thing each program's main does, before any thread or toolkit
// exists: starts the broadcast helper and hands it to the library (or why it
// could not be had: the library says so in its status), then gives up every
// capability. False, after a line on standard error, when a capability is
// left: the program must not go on, and ends with status 1.
bool StartBroadcastHelperThenDropPrivileges(const char* program);
} // namespace nasfinder

#endif
