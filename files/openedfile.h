#pragma once

#include "filedescriptor.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <memory>
#include <sys/stat.h>

namespace perrox {

// A file opened once by its path, together with the folder that holds it.
// Symbolic links are followed while it is opened, in the folders and in the
// name itself; from then on every step works on the descriptors held here
// and never resolves the path again, so the file whose bytes were read is
// the file that a later step checks, rewrites or replaces, whatever another
// process does to the path meanwhile.
class FolderCache;

class OpenedFile
{
public:
    OpenedFile() = default;
    OpenedFile(const OpenedFile &) = delete;
    OpenedFile &operator=(const OpenedFile &) = delete;

    // Opens path for reading. Only a regular file is opened: a folder, a
    // named pipe, a socket or a device gives the reason without being opened
    // (so nothing can block), as does a name that turns into one while it is
    // opened. Returns the reason of a failure ("Permission denied"), empty on
    // success.
    QString open(const QString &path);
    // The same, taking the folder from cache when the last file opened
    // through it was in the same folder (as the files of a list mostly are),
    // which saves walking the folder's path again. seen, when given, is what
    // was found at the path shortly before (links not followed): where that
    // was a regular file, it is opened at once and kept only if it is that
    // same regular file; a link that stands there now instead is not
    // followed (the reason says so); otherwise the path is followed step by
    // step.
    QString open(const QString &path, FolderCache &cache, const struct stat *seen = nullptr);

    bool isOpen() const { return m_fd.get() >= 0; }
    // Closes the file once nothing more is read from it; its path and
    // status stay.
    void close()
    {
        m_fd.reset();
        m_folder.reset();
    }
    // The errno value of a failed open(); 0 after success and for a file
    // that was refused for its kind.
    int error() const { return m_error; }
    // Whether open() followed a symbolic link that stood at the file's own
    // name (links in the folders on the way do not count).
    bool linkFollowed() const { return m_linksFollowed > 0; }
    // The path as given to open(), for messages.
    const QString &path() const { return m_path; }
    int fd() const { return m_fd.get(); }
    // The folder that holds the file (after every link) and the file's name in it.
    int folderFd() const { return m_folder ? m_folder->get() : -1; }
    const QByteArray &name() const { return m_name; }
    // The file's status when it was opened.
    const struct stat &status() const { return m_status; }
    // A step of our own changed the file's change time or link count (a
    // hard link made to it): st, its status now, is what later checks expect.
    void acceptStatus(const struct stat &st) { m_status = st; }

    // True when the file holds what it held when it was opened: the same
    // size, modification and change times. A write, an append, a truncation,
    // a change of mode or owner all show up here.
    bool unchanged() const;
    // The same, except for the change time, which a rename of the file moves.
    bool unchangedButRenamed() const;
    // True when the name in its folder still refers to this file (device and
    // inode), without following a link that now stands there.
    bool stillNamed() const;
    // Opens the same file again for writing, with the user's own rights; the
    // descriptor refers to this very file or the call fails (with ESTALE when
    // the name no longer leads to it). Returns the descriptor or -1 with errno set.
    int openForWriting() const;
    // The file's absolute path as the system sees it now, for records that
    // must find it again; empty when it cannot be told.
    QByteArray currentPath() const;

private:
    QString openWith(const QString &path, FolderCache *cache, const struct stat *seen);
    // The two ways to open the regular file m_name in the folder, once it is
    // reached: nothing when the walk must take another round.
    std::optional<QString> openSeen(const struct stat &seen);
    std::optional<QString> openFound(bool mayRetry);

    QString m_path;
    std::shared_ptr<const FileDescriptor> m_folder;
    QByteArray m_name;
    FileDescriptor m_fd;
    struct stat m_status = {};
    int m_error = 0;
    int m_linksFollowed = 0;
};

// The folder of the last file opened through it, kept open for the next file
// of the same folder. A folder renamed meanwhile is still the one whose path
// was walked a moment before, as when the rename comes just after the walk.
class FolderCache
{
public:
    // The folder at path, opened for use as the base of *at() calls; null
    // with errno set when it cannot be opened.
    std::shared_ptr<const FileDescriptor> open(const QByteArray &path);
    // stat() of the file at path through the cached folder; a link at the
    // path itself is followed only if follow is true.
    int stat(const QByteArray &path, struct stat *st, bool follow = true);

private:
    QByteArray m_path;
    std::shared_ptr<const FileDescriptor> m_folder;
};

// The absolute path the system shows for an open descriptor (a file, or a
// folder opened with O_PATH); empty when it cannot be told or the file was
// deleted.
QByteArray DescriptorPath(int fd);

// Whether the open file belongs to a file system the kernel makes rather
// than stores (proc, sysfs, debugfs, tracefs, cgroup, securityfs, configfs
// and their kind), whatever size its files report. Such files are read but
// never written.
bool IsKernelFile(int fd);

// The kernel's own rule for links in shared folders (fs.protected_symlinks),
// kept wherever Perrox follows a link itself: in a sticky folder that others
// may write to (/tmp), a link is followed only when it belongs to the user
// running Perrox or to the folder's owner, so that nobody can steer a run
// to a file of its choice by putting a link there.
bool MayFollowLink(const struct stat &folder, const struct stat &link);

// The reason given for a link that MayFollowLink refuses.
QString PlantedLinkReason();

// What tells a file and its content apart in a status record, kept per row
// of a run in a fraction of the record's size.
struct FileStatus
{
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {};
    struct timespec ctime = {};

    FileStatus() = default;
    // Implicit, so that a record is stored as it comes.
    FileStatus(const struct stat &st)
        : dev(st.st_dev)
        , ino(st.st_ino)
        , size(st.st_size)
        , mtime(st.st_mtim)
        , ctime(st.st_ctim)
    { }
    // As a status record, the other fields zero.
    struct stat record() const
    {
        struct stat st = {};
        st.st_dev = dev;
        st.st_ino = ino;
        st.st_size = size;
        st.st_mtim = mtime;
        st.st_ctim = ctime;
        return st;
    }
};

// Whether two status records describe the same file (device and inode).
bool SameFile(const struct stat &a, const struct stat &b);
// Whether a file is unchanged between two status records: the same file with
// the same size, modification and change times.
bool SameContentStatus(const struct stat &a, const struct stat &b);
// The same without the change time.
bool SameContent(const struct stat &a, const struct stat &b);

// The reason given for a file that is not regular ("Is a named pipe, not a
// regular file"); empty for a regular file. A folder gives the system's own
// text ("Is a directory").
QString NotRegularReason(mode_t mode);

} // namespace perrox
