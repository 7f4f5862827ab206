#include "KnownStore.h"

#include "AtomicFile.h"

#include "KnownAddress.h"
#include "OwnFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace nasknown
{
namespace
{
using nasfinder::Descriptor;
using nasfinder::FileAt;

const char kFolderName[] = "nasfinder";
const char kFileName[] = "devices.json";
const char kLockSuffix[] = ".lock";

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SystemError(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

// The folders refused in this run, with why: a folder that failed its check
// once is not used again until the program ends, and is said once.
std::mutex g_refusedMutex;
std::map<std::string, std::string> g_refused; // guarded by g_refusedMutex

bool RefusedBefore(const std::string& folder, StoreResult& result)
{
    const std::lock_guard<std::mutex> lock(g_refusedMutex);
    const auto found = g_refused.find(folder);
    if (found == g_refused.end())
        return false;
    result.ok = false;
    result.error = found->second;
    result.saidBefore = true;
    return true;
}

// A folder that is no one else's doing (one that cannot be made: a full disk,
// a read-only home) is tried again at the next change.
void Refuse(const std::string& path, const nasfinder::OwnFolder& folder, StoreResult& result)
{
    result.ok = false;
    result.error = folder.error;
    if (!folder.refused)
        return;
    result.error += "; the known devices are not kept in this run";
    const std::lock_guard<std::mutex> lock(g_refusedMutex);
    g_refused.emplace(path, result.error);
}

void SayMovedAside(StoreResult& result, const std::string& line)
{
    result.movedAside += (result.movedAside.empty() ? "" : "; ") + line;
}

// A name beside `name` that is not taken yet: name.bad-<UTC time>, with a
// number after a second one in the same second.
std::string AsideName(int folder, const std::string& name)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = "0";
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &utc);
    std::string aside = name + ".bad-" + stamp;
    struct stat st
    {
    };
    for (int n = 2; ::fstatat(folder, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && n < 1000; ++n)
        aside = name + ".bad-" + stamp + "-" + std::to_string(n);
    return aside;
}

// Moves what stands under `name` aside, never overwriting it; `what` says
// what it was not ("a regular file", "a list of known devices (...)").
bool MoveAside(int folder, const std::string& name, const std::string& path, const std::string& what,
               StoreResult& result)
{
    const std::string aside = AsideName(folder, name);
    if (::renameat(folder, name.c_str(), folder, aside.c_str()) != 0)
    {
        // Never overwritten: without a way to move it, nothing is written.
        result.ok = false;
        result.error = path + " is not " + what + " and cannot be moved aside: " + std::strerror(errno);
        return false;
    }
    SayMovedAside(result, path + " was not " + what + "; moved aside to " + Folder(path) + "/" + aside);
    return true;
}

// The advisory lock of the store: flock on a file of its own beside it, as the
// store itself is replaced by every write and a lock on it would be left on
// the old file. Held until destroyed (and dropped by the kernel if the
// process dies). Anything but a regular file under its name is moved aside
// first: a FIFO there must not hold every writer.
class StoreLock
{
public:
    StoreLock(int folder, const std::string& name, const std::string& path, StoreResult& result)
    {
        const std::string lockName = name + kLockSuffix;
        const std::string lockPath = path + kLockSuffix;
        std::string error;
        FileAt opened = nasfinder::OpenRegularFileAt(folder, lockName, O_RDWR | O_CREAT, 0600, m_fd, error);
        if (opened == FileAt::NotRegular)
        {
            if (!MoveAside(folder, lockName, lockPath, "a regular file", result))
                return;
            opened =
                nasfinder::OpenRegularFileAt(folder, lockName, O_RDWR | O_CREAT | O_EXCL, 0600, m_fd, error);
        }
        if (opened != FileAt::Opened)
        {
            result.ok = false;
            result.error = "cannot open the lock " + lockPath + ": " +
                           (error.empty() ? std::string("not a regular file") : error);
            return;
        }
        while (::flock(m_fd.get(), LOCK_EX) != 0)
        {
            if (errno != EINTR)
            {
                result.ok = false;
                result.error = SystemError("cannot lock " + lockPath, errno);
                return;
            }
        }
        m_held = true;
    }
    bool Held() const { return m_held; }

private:
    Descriptor m_fd;
    bool m_held = false;
};

// Reads the whole file; false with error set when it cannot be read.
bool ReadAll(int fd, std::string& text, std::string& error)
{
    text.clear();
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(n));
        // Past the limit it is no store, whatever follows.
        if (text.size() > kMaxStoreBytes)
            return true;
    }
}

// The file as a store; anything else is moved aside. Under the lock.
bool ReadStore(int folder, const std::string& name, const std::string& path, StoreContents& contents,
               StoreResult& result)
{
    contents = StoreContents();
    Descriptor fd;
    std::string error;
    switch (nasfinder::OpenRegularFileAt(folder, name, O_RDONLY, 0, fd, error))
    {
    case FileAt::Missing:
        return true;
    case FileAt::Failed:
        result.ok = false;
        result.error = "cannot open " + path + ": " + error;
        return false;
    case FileAt::NotRegular:
        return MoveAside(folder, name, path, "a regular file", result);
    case FileAt::Opened:
        break;
    }
    std::string text;
    if (!ReadAll(fd.get(), text, error))
    {
        result.ok = false;
        result.error = "cannot read " + path + ": " + error;
        return false;
    }
    DecodeResult decoded = DecodeStore(text);
    if (!decoded.contents)
        return MoveAside(folder, name, path, "a list of known devices (" + decoded.error + ")", result);
    contents = std::move(*decoded.contents);
    return true;
}

// Replaced whole (a temporary file beside it, flushed, renamed over it, the
// folder flushed), mode 0600 whatever the umask says.
bool WriteStore(int folder, const std::string& name, const std::string& path, const StoreContents& contents,
                std::string& error)
{
    error = nasfinder::ReplaceFileAt(folder, name, path, EncodeStore(contents), 0600);
    return error.empty();
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

std::vector<LocalInterface> InterfacesNow()
{
    std::vector<LocalInterface> interfaces;
    if (!ListLocalInterfaces(interfaces))
        interfaces.clear();
    return interfaces;
}

void Append(std::vector<std::string>& to, std::vector<std::string> lines)
{
    to.insert(to.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
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
    const std::string folderPath = Folder(m_path);
    if (RefusedBefore(folderPath, result))
        return result;
    // A missing folder means an empty list; nothing is made for a read.
    const nasfinder::OwnFolder folder = nasfinder::OpenOwnFolder(folderPath, false);
    if (folder.missing)
        return result;
    if (!folder.error.empty())
    {
        Refuse(folderPath, folder, result);
        return result;
    }
    // Exclusive even for a read: a file that is no store is moved aside here.
    const std::string name = BaseName(m_path);
    const StoreLock lock(folder.fd.get(), name, m_path, result);
    if (!lock.Held())
        return result;
    StoreContents contents;
    if (ReadStore(folder.fd.get(), name, m_path, contents, result))
    {
        devices = std::move(contents.devices);
        result.notKept = DropImpossibleAddresses(devices, InterfacesNow());
    }
    return result;
}

StoreResult KnownStore::Update(const std::function<void(std::vector<KnownDevice>&)>& change,
                               std::vector<KnownDevice>* after) const
{
    StoreResult result;
    StoreContents contents;
    const std::vector<LocalInterface> interfaces = InterfacesNow();
    // Whatever happens to the file, the change is handed back, without an
    // address that no device can have.
    const auto changeOnly = [&]
    {
        change(contents.devices);
        Append(result.notKept, DropImpossibleAddresses(contents.devices, interfaces));
        if (after != nullptr)
            *after = contents.devices;
        return result;
    };
    if (m_path.empty())
    {
        result.ok = false;
        result.error = "neither XDG_STATE_HOME nor HOME names a folder";
        return changeOnly();
    }
    const std::string folderPath = Folder(m_path);
    if (RefusedBefore(folderPath, result))
        return changeOnly();
    const nasfinder::OwnFolder folder = nasfinder::OpenOwnFolder(folderPath, true);
    if (!folder.error.empty())
    {
        Refuse(folderPath, folder, result);
        return changeOnly();
    }
    const std::string name = BaseName(m_path);
    const StoreLock lock(folder.fd.get(), name, m_path, result);
    if (!lock.Held() || !ReadStore(folder.fd.get(), name, m_path, contents, result))
    {
        contents = StoreContents();
        return changeOnly();
    }
    // A forged store's impossible addresses go at once, and the file with them.
    result.notKept = DropImpossibleAddresses(contents.devices, interfaces);
    const bool rewrite = !result.movedAside.empty() || !result.notKept.empty();
    const std::vector<KnownDevice> before = contents.devices;
    changeOnly();
    if (SameDevices(before, contents.devices) && !rewrite)
        return result;
    std::string error;
    if (!WriteStore(folder.fd.get(), name, m_path, contents, error))
    {
        result.ok = false;
        result.error = error;
    }
    return result;
}
} // namespace nasknown
