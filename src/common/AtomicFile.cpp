#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace nasfinder
{
namespace
{
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::string Why(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

bool WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();)
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

std::string ReplaceFileAt(int folder, const std::string& name, const std::string& shownAs,
                          const std::string& text, mode_t mode)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return shownAs + " names no file";
    // A name no other writer picks: the process and a count, tried afresh
    // when one left by an earlier process of the same number is still there.
    static std::atomic<unsigned> s_count{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt)
    {
        temp = "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(s_count++);
        fd = ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return Why("cannot write beside " + shownAs, errno);
    Fd file(fd);
    const auto fail = [&](const std::string& what)
    {
        const int error = errno;
        ::unlinkat(folder, temp.c_str(), 0);
        return Why(what, error);
    };
    // The mode as asked, whatever the umask took away: a reader of another
    // user (node_exporter's) must be able to open it.
    if (::fchmod(file.get(), mode) != 0 || !WriteAll(file.get(), text) || ::fsync(file.get()) != 0)
        return fail("cannot write " + shownAs);
    if (::close(file.release()) != 0)
        return fail("cannot write " + shownAs);
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0)
        return fail("cannot replace " + shownAs);
    ::fsync(folder);
    return std::string();
}

std::string ReplaceFile(const std::string& path, const std::string& text, mode_t mode)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return Why("cannot open the folder of " + path, errno);
    return ReplaceFileAt(dir.get(), name, path, text, mode);
}
} // namespace nasfinder
