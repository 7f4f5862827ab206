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
namespace
{
// The highest capability number any kernel may know; asking about a higher one
// than this kernel knows fails with EINVAL.
constexpr int kLastCapabilityToAsk = 63;

std::string Failure(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}

bool AnyIdIsRoot()
{
    uid_t real = 1, effective = 1, saved = 1;
    return getresuid(&real, &effective, &saved) != 0 || real == 0 || effective == 0 || saved == 0;
}

// Root regains every capability at each exec unless told otherwise: what the
// window opens (xdg-open, a browser) would run with them all. Locked, so that
// nothing later can undo it. Needs a capability itself: done before the drop.
std::string KeepRootFromRegainingCapabilities()
{
    for (int cap = 0; cap <= kLastCapabilityToAsk; ++cap)
    {
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL)
            return Failure("dropping the capability bounding set");
    }
    const unsigned long bits = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP |
                               SECBIT_NO_SETUID_FIXUP_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
                               SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;
    if (prctl(PR_SET_SECUREBITS, bits, 0, 0, 0) != 0)
        return Failure("setting the security bits");
    return {};
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

PortCheckResult BroadcastPortCheck(const search_dll_status& status)
{
    if (status.broadcast_bound != 0)
        return {};
    if (status.broadcast_helper < 0)
        return {PortCheck::HelperMissing, status.broadcast_error};
    return PortCheckFromErrno(status.broadcast_error);
}

bool DropAllCapabilities(std::string* why)
{
    // Root that could not be kept from regaining them at exec would hand them
    // to everything it starts: that counts as holding one.
    const std::string rootFailure = AnyIdIsRoot() ? KeepRootFromRegainingCapabilities() : std::string();
    std::string failure = rootFailure;
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0 && failure.empty())
        failure = Failure("capset");
    // Emptying the permitted set clears the ambient set too; clearing it by
    // name also covers a kernel that would not.
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL && failure.empty())
        failure = Failure("clearing the ambient capabilities");

    // What counts is what the kernel says is left, whatever the calls returned.
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    bool holding = !rootFailure.empty();
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
