// A folder that holds what a user keeps (the known devices, the window's
// settings), opened so that nobody else can choose what it is: the folder
// itself never through a symbolic link, owned by the effective user and
// writable by nobody else; the files in it reached only relative to it, never
// through a link, and only when they are regular files. A folder planted by
// another user (a link to one of root's, say) is refused, not followed.
#ifndef NASFINDER_OWNFOLDER_H
#define NASFINDER_OWNFOLDER_H

#include <sys/types.h>

#include <string>

namespace nasfinder
{
// Closes on every path out.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : m_fd(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd;
};

struct OwnFolder
{
    Descriptor fd;        // the folder, when it passed
    bool missing = false; // not there (and not made)
    // It is there but is no folder of this user's own: a link, not a folder,
    // another user's, or writable by others.
    bool refused = false;
    std::string error; // why it may not be used, in one line naming it
};

// Opens `path` as this user's own folder (O_DIRECTORY | O_NOFOLLOW on its last
// component, then fstat: owned by the effective user, not writable by group or
// others). With `create`, a missing folder is made (mode 0700), its parents
// too; the parents are the user's to arrange and may be links.
OwnFolder OpenOwnFolder(const std::string& path, bool create);

// What OpenRegularFileAt found under a name in a folder.
enum class FileAt
{
    Opened,     // fd is a regular file
    Missing,    // no such name (and not made)
    NotRegular, // a FIFO, a link, a device, a folder ...: never opened for use
    Failed,     // error says why
};

// Opens `name` in `folder` with `flags` (O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC
// added: a FIFO planted under the name can make no reader wait) and checks
// with fstat that it is a regular file.
FileAt OpenRegularFileAt(int folder, const std::string& name, int flags, mode_t mode, Descriptor& fd,
                         std::string& error);
} // namespace nasfinder

#endif
