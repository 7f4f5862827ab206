#include "ProcessPrivileges.h"

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "SearchDeviceOpt.h"
#include "net/SearchSockets.h"

namespace nasfinder
{
namespace
{
// The highest capability number any kernel may know; asking about a higher one
// than this kernel knows fails with EINVAL.
constexpr int kLastCapabilityToAsk = 63;

std::string Failure(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}
} // namespace

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

bool StartedPrivileged()
{
    return getauxval(AT_SECURE) != 0;
}

bool DropAllCapabilities(std::string* why)
{
    std::string failure;
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0)
        failure = Failure("capset");
    // Emptying the permitted set clears the ambient set too; clearing it by
    // name also covers a kernel that would not.
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL && failure.empty())
        failure = Failure("clearing the ambient capabilities");

    // What counts is what the kernel says is left, whatever the calls returned.
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    bool holding = false;
    if (syscall(SYS_capget, &header, left) != 0)
    {
        failure = Failure("capget");
        holding = true;
    }
    for (const __user_cap_data_struct& word : left)
        holding = holding || word.permitted != 0 || word.effective != 0 || word.inheritable != 0;
    for (int cap = 0; cap <= kLastCapabilityToAsk; ++cap)
    {
        const int set = prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0);
        if (set < 0)
            break; // past the last capability this kernel knows, or no ambient set at all
        holding = holding || set == 1;
    }
    if (!holding)
        return true;
    if (why != nullptr)
        *why = failure.empty() ? std::string("a capability is still held after giving them up") : failure;
    return false;
}

bool BindBroadcastPortThenDropPrivileges(const char* program)
{
    const int fd = OpenBroadcastSearchSocket();
    search_dll_set_broadcast_socket(fd, fd >= 0 ? 0 : errno);
    std::string why;
    if (DropAllCapabilities(&why))
        return true;
    std::fprintf(stderr, "%s: cannot give up the privileges it was started with (%s); not going on\n",
                 program, why.c_str());
    return false;
}

std::string ProgramPath(const char* fallback)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return fallback;
    return std::string(buf, static_cast<std::size_t>(n));
}
} // namespace nasfinder
