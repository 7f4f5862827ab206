#include "OwnFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nasfinder
{
namespace
{
// The parents of the folder, private to the user where this makes them.
bool MakeParents(const std::string& parent, std::string& error)
{
    for (std::size_t at = 1; at <= parent.size(); ++at)
    {
        if (at != parent.size() && parent[at] != '/')
            continue;
        const std::string part = parent.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
        {
            error = "cannot make " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why the folder open at fd may not hold what the user keeps; empty when it may.
std::string RefusalOf(int fd, const std::string& path)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return "cannot look at " + path + ": " + std::strerror(errno);
    if (st.st_uid != ::geteuid())
        return path + " belongs to user " + std::to_string(st.st_uid) + ", not to this user (" +
               std::to_string(::geteuid()) + ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return path + " may be written by other users (mode " + ModeText(st.st_mode) + ")";
    return std::string();
}
} // namespace

void Descriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

OwnFolder OpenOwnFolder(const std::string& path, bool create)
{
    OwnFolder folder;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : trimmed.substr(0, slash);
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
    {
        folder.error = path + " names no folder of its own";
        return folder;
    }
    if (create && !MakeParents(parent, folder.error))
        return folder;
    const Descriptor above(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (above.get() < 0)
    {
        folder.missing = errno == ENOENT && !create;
        if (!folder.missing)
            folder.error = "cannot open " + parent + ": " + std::strerror(errno);
        return folder;
    }
    if (create && ::mkdirat(above.get(), name.c_str(), 0700) != 0 && errno != EEXIST)
    {
        folder.error = "cannot make " + trimmed + ": " + std::strerror(errno);
        return folder;
    }
    folder.fd.reset(::openat(above.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.fd.get() < 0)
    {
        const int error = errno;
        struct stat st
        {
        };
        if (error == ENOENT && !create)
            folder.missing = true;
        else if ((error == ENOTDIR || error == ELOOP) &&
                 ::fstatat(above.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            folder.error = trimmed + " is a symbolic link, not a folder of this user's own";
        else if (error == ENOTDIR)
            folder.error = trimmed + " is not a folder";
        else
            folder.error = "cannot open " + trimmed + ": " + std::strerror(error);
        folder.refused = error == ENOTDIR || error == ELOOP;
        return folder;
    }
    folder.error = RefusalOf(folder.fd.get(), trimmed);
    if (!folder.error.empty())
    {
        folder.refused = true;
        folder.fd.reset();
    }
    return folder;
}

FileAt OpenRegularFileAt(int folder, const std::string& name, int flags, mode_t mode, Descriptor& fd,
                         std::string& error)
{
    fd.reset();
    // Looked at before it is opened: a device or a FIFO is never opened at all.
    struct stat st
    {
    };
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    {
        if (!S_ISREG(st.st_mode))
            return FileAt::NotRegular;
    }
    else if (errno == ENOENT && (flags & O_CREAT) == 0)
        return FileAt::Missing;
    // And checked again once open, as it may have been swapped between the two.
    fd.reset(::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (fd.get() < 0)
    {
        if (errno == ENOENT)
            return FileAt::Missing;
        if (errno == ELOOP)
            return FileAt::NotRegular;
        error = std::strerror(errno);
        return FileAt::Failed;
    }
    if (::fstat(fd.get(), &st) != 0)
    {
        error = std::strerror(errno);
        fd.reset();
        return FileAt::Failed;
    }
    if (!S_ISREG(st.st_mode))
    {
        fd.reset();
        return FileAt::NotRegular;
    }
    return FileAt::Opened;
}
} // namespace nasfinder
