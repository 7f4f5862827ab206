#include "KnownStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace nasknown
{
namespace
{
const char kFolderName[] = "nasfinder";
const char kFileName[] = "devices.json";

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

std::string SystemError(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

// The folder and its parents, private to the user where this makes them.
bool MakeFolders(const std::string& folder, std::string& error)
{
    for (std::size_t at = 1; at <= folder.size(); ++at)
    {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
        {
            error = SystemError("cannot make " + part, errno);
            return false;
        }
    }
    return true;
}

// Closes on every path out.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
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

// The advisory lock of the store: flock on a file of its own beside it, as the
// store itself is replaced by every write and a lock on it would be left on
// the old file. Held until destroyed (and dropped by the kernel if the
// process dies).
class StoreLock
{
public:
    StoreLock(const std::string& path, int operation)
        : m_fd(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (m_fd.get() < 0)
        {
            m_error = SystemError("cannot open the lock " + path + ".lock", errno);
            return;
        }
        while (::flock(m_fd.get(), operation) != 0)
        {
            if (errno != EINTR)
            {
                m_error = SystemError("cannot lock " + path + ".lock", errno);
                return;
            }
        }
    }
    const std::string& Error() const { return m_error; }

private:
    Fd m_fd;
    std::string m_error;
};

enum class ReadState
{
    Read,    // contents set
    Missing, // no file yet
    Failed,  // could not be read at all (error set)
};

ReadState ReadFile(const std::string& path, std::string& text, std::string& error)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0)
    {
        if (errno == ENOENT)
            return ReadState::Missing;
        error = SystemError("cannot open " + path, errno);
        return ReadState::Failed;
    }
    text.clear();
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            error = SystemError("cannot read " + path, errno);
            return ReadState::Failed;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        // Past the limit it is no store, whatever follows.
        if (text.size() > kMaxStoreBytes)
            break;
    }
    return ReadState::Read;
}

std::string AsideName(const std::string& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = "0";
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &utc);
    std::string aside = path + ".bad-" + stamp;
    // Two in one second: the second gets a number rather than replace the first.
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0 && n < 1000; ++n)
        aside = path + ".bad-" + stamp + "-" + std::to_string(n);
    return aside;
}

// The file as a store; one that is not is moved aside. Under the lock.
bool ReadStore(const std::string& path, StoreContents& contents, StoreResult& result)
{
    std::string text;
    std::string error;
    switch (ReadFile(path, text, error))
    {
    case ReadState::Missing:
        contents = StoreContents();
        return true;
    case ReadState::Failed:
        result.ok = false;
        result.error = error;
        return false;
    case ReadState::Read:
        break;
    }
    DecodeResult decoded = DecodeStore(text);
    if (decoded.contents)
    {
        contents = std::move(*decoded.contents);
        return true;
    }
    const std::string aside = AsideName(path);
    if (::rename(path.c_str(), aside.c_str()) != 0)
    {
        // Never overwritten: without a way to move it, nothing is written.
        result.ok = false;
        result.error = path + " is not a list of known devices (" + decoded.error +
                       ") and cannot be moved aside: " + std::strerror(errno);
        return false;
    }
    result.movedAside =
        path + " was not a list of known devices (" + decoded.error + "); moved aside to " + aside;
    contents = StoreContents();
    return true;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A temporary file in the same folder, flushed, renamed over the store, and
// the folder flushed so that the rename itself survives a power cut.
bool WriteStore(const std::string& path, const StoreContents& contents, std::string& error)
{
    const std::string folder = Folder(path);
    std::string temp = path + ".tmp-XXXXXX";
    Fd fd(::mkostemp(&temp[0], O_CLOEXEC));
    if (fd.get() < 0)
    {
        error = SystemError("cannot write in " + folder, errno);
        return false;
    }
    const std::string text = EncodeStore(contents);
    if (::fchmod(fd.get(), 0600) != 0 || !WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0)
    {
        error = SystemError("cannot write " + temp, errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::close(fd.release()) != 0)
    {
        error = SystemError("cannot write " + temp, errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0)
    {
        error = SystemError("cannot replace " + path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

bool SameDevices(const std::vector<KnownDevice>& a, const std::vector<KnownDevice>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        const KnownDevice& x = a[i];
        const KnownDevice& y = b[i];
        if (x.vendor != y.vendor || x.id != y.id || x.host != y.host || x.product != y.product ||
            x.address != y.address || x.interfaceName != y.interfaceName || x.mac != y.mac ||
            x.firstSeen != y.firstSeen || x.lastSeen != y.lastSeen || x.unknown != y.unknown)
            return false;
    }
    return true;
}
} // namespace

std::string DefaultStorePath()
{
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        base = state;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        base = std::string(home) + "/.local/state";
    else
        return std::string();
    return base + "/" + kFolderName + "/" + kFileName;
}

KnownStore::KnownStore(std::string path) : m_path(std::move(path)) {}

StoreResult KnownStore::Load(std::vector<KnownDevice>& devices) const
{
    StoreResult result;
    devices.clear();
    if (m_path.empty())
    {
        result.ok = false;
        result.error = "neither XDG_STATE_HOME nor HOME names a folder";
        return result;
    }
    // A missing folder means an empty list; nothing is made for a read.
    if (::access(Folder(m_path).c_str(), F_OK) != 0)
        return result;
    // Exclusive even for a read: a file that is no store is moved aside here.
    const StoreLock lock(m_path, LOCK_EX);
    if (!lock.Error().empty())
    {
        result.ok = false;
        result.error = lock.Error();
        return result;
    }
    StoreContents contents;
    if (ReadStore(m_path, contents, result))
        devices = std::move(contents.devices);
    return result;
}

StoreResult KnownStore::Update(const std::function<void(std::vector<KnownDevice>&)>& change,
                               std::vector<KnownDevice>* after) const
{
    StoreResult result;
    StoreContents contents;
    const auto give = [&]
    {
        if (after != nullptr)
            *after = contents.devices;
    };
    if (m_path.empty())
    {
        result.ok = false;
        result.error = "neither XDG_STATE_HOME nor HOME names a folder";
        change(contents.devices);
        give();
        return result;
    }
    std::string error;
    if (!MakeFolders(Folder(m_path), error))
    {
        result.ok = false;
        result.error = error;
        change(contents.devices);
        give();
        return result;
    }
    const StoreLock lock(m_path, LOCK_EX);
    if (!lock.Error().empty())
    {
        result.ok = false;
        result.error = lock.Error();
        change(contents.devices);
        give();
        return result;
    }
    if (!ReadStore(m_path, contents, result))
    {
        change(contents.devices);
        give();
        return result;
    }
    const std::vector<KnownDevice> before = contents.devices;
    change(contents.devices);
    give();
    if (SameDevices(before, contents.devices) && result.movedAside.empty())
        return result;
    if (!WriteStore(m_path, contents, error))
    {
        result.ok = false;
        result.error = error;
    }
    return result;
}
} // namespace nasknown
