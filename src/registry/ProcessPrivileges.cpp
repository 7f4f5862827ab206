#include "ProcessPrivileges.h"

#include <dirent.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace nasfinder
{
namespace
{
// A real-time signal that nothing else here uses; its handler stays installed,
// so a late delivery never meets the default action (which would end the process).
int DropSignal()
{
    return SIGRTMIN + 5;
}

std::atomic<int> g_threadsDropped{0};

long ClearThisThreadsCapabilities()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capset, &header, data);
}

void OnDropSignal(int)
{
    const int saved = errno;
    ClearThisThreadsCapabilities();
    g_threadsDropped.fetch_add(1);
    errno = saved;
}

std::vector<long> ThreadIds()
{
    std::vector<long> ids;
    if (DIR* dir = opendir("/proc/self/task"))
    {
        while (const dirent* entry = readdir(dir))
        {
            char* end = nullptr;
            const long id = std::strtol(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0')
                ids.push_back(id);
        }
        closedir(dir);
    }
    return ids;
}

// Whether the thread holds any capability, from its status in /proc.
bool ThreadHoldsCapabilities(long tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        for (const char* key : {"CapPrm:", "CapEff:", "CapInh:", "CapAmb:"})
        {
            const std::size_t n = std::strlen(key);
            if (line.compare(0, n, key) == 0 && std::strtoull(line.c_str() + n, nullptr, 16) != 0)
                return true;
        }
    }
    return false;
}

std::vector<long> ThreadsHoldingCapabilities()
{
    std::vector<long> holding;
    for (long tid : ThreadIds())
        if (ThreadHoldsCapabilities(tid))
            holding.push_back(tid);
    return holding;
}
} // namespace

PortCheckResult CheckUdpPort(unsigned short port)
{
    PortCheckResult result;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        result.state = PortCheck::Failed;
        result.error = errno;
        return result;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
    {
        result.error = errno;
        if (result.error == EACCES || result.error == EPERM)
            result.state = PortCheck::NoPrivilege;
        else if (result.error == EADDRINUSE)
            result.state = PortCheck::InUse;
        else
            result.state = PortCheck::Failed;
    }
    close(fd);
    return result;
}

bool StartedPrivileged()
{
    return getauxval(AT_SECURE) != 0;
}

bool DropAllCapabilities(std::string* why)
{
    // Root keeps what root has; anyone else holds capabilities only through the
    // program's file capability (or capabilities handed down), for the bind.
    if (getuid() == 0 && !StartedPrivileged())
        return true;
    std::vector<long> holding = ThreadsHoldingCapabilities();
    if (holding.empty())
        return true;

    struct sigaction action
    {
    };
    action.sa_handler = OnDropSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(DropSignal(), &action, nullptr) != 0)
    {
        if (why != nullptr)
            *why = std::string("sigaction: ") + std::strerror(errno);
        return false;
    }

    const long self = syscall(SYS_gettid);
    const pid_t pid = getpid();
    // A thread started by one that still held its capabilities may appear while
    // others drop theirs: look again until no thread holds any.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!holding.empty() && std::chrono::steady_clock::now() < deadline)
    {
        int asked = 0;
        g_threadsDropped.store(0);
        for (long tid : holding)
        {
            if (tid == self)
                ClearThisThreadsCapabilities();
            else if (syscall(SYS_tgkill, pid, tid, DropSignal()) == 0)
                ++asked;
        }
        while (g_threadsDropped.load() < asked && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        holding = ThreadsHoldingCapabilities();
    }
    if (!holding.empty())
    {
        if (why != nullptr)
            *why = std::to_string(holding.size()) + " thread(s) kept their capabilities";
        return false;
    }
    return true;
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
