#include "openedfile.h"

#include "filesystem.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace perrox {

namespace {

// As many links as the system itself follows in one path.
constexpr int kMaxLinks = 40;

struct Split
{
    QByteArray folder; // empty: the name stands alone
    QByteArray name; // empty: the path ends with "/"
};

// The target of the link name in folder; empty, with errno set, when it
// cannot be read or is empty.
QByteArray readLink(int folder, const QByteArray &name)
{
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(folder, name.constData(), target.data(), size_t(target.size()));
    if (n < 0)
        return {};
    target.truncate(n);
    if (target.isEmpty())
        errno = ENOENT;
    return target;
}

Split splitPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArray(), path};
    return {slash == 0 ? QByteArray("/") : path.left(slash), path.mid(slash + 1)};
}

// Opens a folder for use as the base of later *at() calls; base is the folder
// a relative path starts from.
int openFolder(int base, const QByteArray &folder)
{
    return ::openat(base, folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The same, shared; null with errno set when the folder cannot be opened.
std::shared_ptr<const FileDescriptor> openSharedFolder(int base, const QByteArray &folder)
{
    auto fd = std::make_shared<const FileDescriptor>(openFolder(base, folder));
    return fd->get() >= 0 ? fd : nullptr;
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool MayFollowLink(const struct stat &folder, const struct stat &link)
{
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

QString PlantedLinkReason()
{
    return QStringLiteral("Is a link another user planted in a shared folder");
}

bool IsKernelFile(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case SECURITYFS_MAGIC:
    case 0x62656570: // configfs
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case BINFMTFS_MAGIC:
    case 0x65735543: // fusectl
        return true;
    }
    return false;
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameContent(const struct stat &a, const struct stat &b)
{
    return SameFile(a, b) && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim);
}

bool SameContentStatus(const struct stat &a, const struct stat &b)
{
    return SameContent(a, b) && sameTime(a.st_ctim, b.st_ctim);
}

QString NotRegularReason(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG:
        return QString();
    case S_IFDIR:
        return SystemErrorText(EISDIR);
    case S_IFIFO:
        return QStringLiteral("Is a named pipe, not a regular file");
    case S_IFSOCK:
        return QStringLiteral("Is a socket, not a regular file");
    case S_IFCHR:
        return QStringLiteral("Is a character device, not a regular file");
    case S_IFBLK:
        return QStringLiteral("Is a block device, not a regular file");
    }
    return QStringLiteral("Not a regular file");
}

std::shared_ptr<const FileDescriptor> FolderCache::open(const QByteArray &path)
{
    if (m_folder && path == m_path)
        return m_folder;
    m_folder = openSharedFolder(AT_FDCWD, path);
    m_path = path;
    return m_folder;
}

int FolderCache::stat(const QByteArray &path, struct stat *st, bool follow)
{
    const Split part = splitPath(path);
    const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (part.folder.isEmpty() || part.name.isEmpty())
        return ::fstatat(AT_FDCWD, path.constData(), st, flags);
    const std::shared_ptr<const FileDescriptor> folder = open(part.folder);
    return folder ? ::fstatat(folder->get(), part.name.constData(), st, flags) : -1;
}

QString OpenedFile::open(const QString &path)
{
    return openWith(path, nullptr, nullptr);
}

QString OpenedFile::open(const QString &path, FolderCache &cache, const struct stat *seen)
{
    return openWith(path, &cache, seen);
}

QString OpenedFile::openWith(const QString &path, FolderCache *cache, const struct stat *seen)
{
    m_path = path;
    m_fd.reset();
    m_folder.reset();
    m_error = 0;
    m_linksFollowed = 0;
    const auto fail = [this](int error) {
        m_error = error;
        return SystemErrorText(error);
    };
    const QByteArray native = NativePath(path);
    if (native.isEmpty() || native.contains('\0'))
        return fail(ENOENT);

    Split part = splitPath(native);
    for (int links = 0;; ++links) {
        if (part.name.isEmpty()) {
            // A path ending in "/" names a folder, if anything.
            const FileDescriptor folder(openFolder(m_folder ? m_folder->get() : AT_FDCWD, part.folder));
            return fail(folder.get() >= 0 ? EISDIR : errno);
        }
        if (!part.folder.isEmpty()) {
            m_folder = cache && links == 0 ? cache->open(part.folder) : openSharedFolder(m_folder ? m_folder->get() : AT_FDCWD, part.folder);
            if (!m_folder)
                return fail(errno);
            part.folder.clear(); // taken: another round starts from m_folder
        } else if (!m_folder) {
            m_folder = openSharedFolder(AT_FDCWD, QByteArrayLiteral("."));
            if (!m_folder)
                return fail(errno);
        }
        m_name = part.name;

        if (links == 0 && seen && S_ISREG(seen->st_mode)) {
            if (std::optional<QString> result = openSeen(*seen))
                return *result;
        }

        struct stat st;
        if (::fstatat(folderFd(), m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno);
        if (S_ISLNK(st.st_mode)) {
            if (links == kMaxLinks)
                return fail(ELOOP);
            struct stat folder;
            if (::fstat(folderFd(), &folder) != 0)
                return fail(errno);
            if (!MayFollowLink(folder, st)) {
                m_error = EACCES;
                return PlantedLinkReason();
            }
            const QByteArray target = readLink(folderFd(), m_name);
            if (target.isEmpty())
                return fail(errno);
            ++m_linksFollowed;
            // A relative link continues from the folder that holds it; an
            // absolute one from the root, whatever the base.
            part = splitPath(target);
            continue;
        }
        if (const QString reason = NotRegularReason(st.st_mode); !reason.isEmpty())
            return reason;

        if (std::optional<QString> result = openFound(links < kMaxLinks))
            return *result;
    }
}

std::optional<QString> OpenedFile::openSeen(const struct stat &seen)
{
    // A regular file stood here a moment ago: open it straight away, and keep
    // it only if it still is that file. O_NONBLOCK keeps whatever else may
    // have taken its place from blocking the open.
    m_fd = FileDescriptor(::openat(folderFd(), m_name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (m_fd.get() >= 0 && ::fstat(m_fd.get(), &m_status) == 0 && S_ISREG(m_status.st_mode) && SameFile(m_status, seen))
        return QString();
    if (m_fd.get() < 0 && errno == ELOOP) {
        // A link put where a file stood: whoever put it there chose where it
        // leads, not the user.
        m_error = ELOOP;
        return QStringLiteral("Was replaced by a symbolic link while Perrox was working on it");
    }
    m_fd.reset(); // something else: step by step
    return std::nullopt;
}

std::optional<QString> OpenedFile::openFound(bool mayRetry)
{
    // O_NOFOLLOW: a link put in its place meanwhile is not followed here but
    // resolved by another round. O_NONBLOCK: a pipe put in its place cannot
    // make the open wait.
    m_fd = FileDescriptor(::openat(folderFd(), m_name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    int error = m_fd.get() < 0 ? errno : 0;
    if (error == ELOOP && mayRetry)
        return std::nullopt;
    if (!error && ::fstat(m_fd.get(), &m_status) != 0)
        error = errno;
    if (error) {
        m_fd.reset();
        m_error = error;
        return SystemErrorText(error);
    }
    if (const QString reason = NotRegularReason(m_status.st_mode); !reason.isEmpty()) {
        m_fd.reset();
        return reason;
    }
    return QString();
}

bool OpenedFile::unchanged() const
{
    struct stat now;
    return isOpen() && ::fstat(m_fd.get(), &now) == 0 && SameContentStatus(now, m_status);
}

bool OpenedFile::unchangedButRenamed() const
{
    struct stat now;
    return isOpen() && ::fstat(m_fd.get(), &now) == 0 && SameContent(now, m_status);
}

bool OpenedFile::stillNamed() const
{
    struct stat now;
    return isOpen() && ::fstatat(folderFd(), m_name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode) && SameFile(now, m_status);
}

int OpenedFile::openForWriting() const
{
    // Through the descriptor's own entry the open reaches this very file,
    // with the permission check of any open for writing; where /proc is not
    // mounted, through the name, checked afterwards.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd.get());
    FileDescriptor fd(::open(self.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 && errno == ENOENT)
        fd = FileDescriptor(::openat(folderFd(), m_name.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return -1;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return -1;
    if (!SameFile(st, m_status)) {
        errno = ESTALE;
        return -1;
    }
    return fd.release();
}

QByteArray OpenedFile::currentPath() const
{
    return DescriptorPath(m_fd.get());
}

QByteArray DescriptorPath(int fd)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(self.constData(), target.data(), size_t(target.size()));
    if (n <= 0 || target.at(0) != '/')
        return QByteArray();
    target.truncate(n);
    // An unlinked file is shown with " (deleted)" after its last name.
    if (target.endsWith(" (deleted)"))
        return QByteArray();
    return target;
}

} // namespace perrox
