#include "Capabilities.h"

#include <linux/capability.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
