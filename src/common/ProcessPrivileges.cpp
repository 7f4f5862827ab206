#include "ProcessPrivileges.h"

#include <linux/capability.h>
#include <linux/securebits.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef NASFINDER_BROADCAST_HELPER
#error "NASFINDER_BROADCAST_HELPER (the installed helper's path) must be defined by the build"
#endif

namespace nasfinder
{

PortCheckResult PortCheckFromErrno(int error)
{
    PortCheckResult result;
    result.error = error;
    if (error == 0)
        result.state = PortCheck::Available;
    else if (error == EACCES || error == EPERM)
        result.state = PortCheck::NoPrivilege;
    else if (error == EADDRINUSE)
        result.state = PortCheck::InUse;
    else
        result.state = PortCheck::Failed;
    return result;
}

PortCheckResult BroadcastPortCheck(const search_dll_status& status)
{
    if (status.broadcast_bound != 0)
        return {};
    if (status.broadcast_helper < 0)
        return {status.broadcast_error == EACCES ? PortCheck::HelperNotAllowed : PortCheck::HelperMissing,
                status.broadcast_error};
    return PortCheckFromErrno(status.broadcast_error);
}

std::string InstalledBroadcastHelperPath()
{
    return NASFINDER_BROADCAST_HELPER;
}

std::string BroadcastHelperPath()
{
    // The running program's file: /proc may be hidden, and then the name it
    // was started by, made absolute, says the same.
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (n <= 0 && started != nullptr && realpath(started, buf) != nullptr)
        n = static_cast<ssize_t>(std::strlen(buf));
    if (n > 0)
    {
        std::string beside(buf, static_cast<std::size_t>(n));
        beside = beside.substr(0, beside.rfind('/') + 1) + "nasfinder-broadcast";
        struct stat st
        {
        };
        if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return beside;
    }
    return InstalledBroadcastHelperPath();
}

bool StartBroadcastHelperThenDropPrivileges(const char* program)
{
    search_dll_start_broadcast_helper(BroadcastHelperPath().c_str());
    std::string why;
    if (DropAllCapabilities(&why))
        return true;
    std::fprintf(stderr, "%s: cannot give up the privileges it was started with (%s); not going on\n",
                 program, why.c_str());
    return false;
}
} // namespace nasfinder
