// What both programs do around starting the discovery library: find out whether
// its privileged port can be bound, and give up every capability once it is.
// The broadcast search binds UDP port 67, which Linux lets only a privileged
// process bind; installed binaries hold cap_net_bind_service for that alone.
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

// Binds a UDP socket to the port on every local address, as the library does,
// and lets it go at once.
PortCheckResult CheckUdpPort(unsigned short port);

// True when the kernel started this program with more privilege than its user
// has (a file capability or a set-id bit): the environment and the command line
// are then the user's, not to be trusted with loading code.
bool StartedPrivileged();

// Gives up every capability (permitted, effective, inheritable, ambient) in
// every thread of the process, where the process holds any and is not root's.
// Capabilities belong to each thread, and the library's workers already run, so
// each thread is asked to drop its own. Returns false when a thread still holds
// one afterwards; why goes into *why when given.
bool DropAllCapabilities(std::string* why = nullptr);

// The path of the running program, for the setcap line of a message.
std::string ProgramPath(const char* fallback);
} // namespace nasfinder

#endif
