#include "HelperPath.h"

#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#ifndef NASFINDER_BROADCAST_HELPER
#error "NASFINDER_BROADCAST_HELPER (the installed helper's path) must be defined by the build"
#endif

namespace nasfinder
{
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

} // namespace nasfinder
