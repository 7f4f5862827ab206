// What both programs do before anything else: bind the broadcast search's
// privileged port, then give up every capability, so that no code that the
// user can influence (a toolkit's plugins and modules, a thread) ever runs with
// one. The broadcast search binds UDP port 67, which Linux lets only a
// privileged process bind; installed binaries hold cap_net_bind_service for
// that alone.
#ifndef NASFINDER_PROCESSPRIVILEGES_H
#define NASFINDER_PROCESSPRIVILEGES_H

#include <string>

namespace nasfinder
{
enum class PortCheck
{
    Available,   // the port can be bound
    NoPrivilege, // refused for want of privilege (EACCES, EPERM)
    InUse,       // another socket holds it (EADDRINUSE)
    Failed,      // any other error
};

struct PortCheckResult
{
    PortCheck state = PortCheck::Available;
    int error = 0; // errno of the refused bind
};

// What a refused bind's errno means for the search that wanted the port.
PortCheckResult PortCheckFromErrno(int error);

// True when the kernel started this program with more privilege than its user
// has (a file capability or a set-id bit): the environment and the command line
// are then the user's, not to be trusted with loading code.
bool StartedPrivileged();

// Gives up every capability: the permitted, effective and inheritable sets with
// one capset, and the ambient set. Capabilities belong to each thread, so this
// must run while the process has no other thread. Then asks the kernel (capget,
// not /proc, which may be hidden) whether any is left: false when one is, with
// why in *why when given.
bool DropAllCapabilities(std::string* why = nullptr);

// The first thing each program's main does, before any thread or toolkit
// exists: binds the broadcast search's socket (port 67) and hands it to the
// library (or why it could not be had: the library says so in its status), then
// gives up every capability. False, after a
// line on standard error, when a capability is left: the program must not go
// on, and ends with status 1.
bool BindBroadcastPortThenDropPrivileges(const char* program);

// The path of the running program, for the setcap line of a message.
std::string ProgramPath(const char* fallback);
} // namespace nasfinder

#endif
