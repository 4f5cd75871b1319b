#pragma once

#include "filedescriptor.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace perrox {

// A file opened once by its path, together with the folder that holds it.
// Symbolic links are followed while it is opened, in the folders and in the
// name itself; from then on every step works on the descriptors held here
// and never resolves the path again, so the file whose bytes were read is
// the file that a later step checks, rewrites or replaces, whatever another
// process does to the path meanwhile.
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

    bool isOpen() const { return m_fd.get() >= 0; }
    // The errno value of a failed open(); 0 after success and for a file
    // that was refused for its kind.
    int error() const { return m_error; }
    // The path as given to open(), for messages.
    const QString &path() const { return m_path; }
    int fd() const { return m_fd.get(); }
    // The folder that holds the file (after every link) and the file's name in it.
    int folderFd() const { return m_folder.get(); }
    const QByteArray &name() const { return m_name; }
    // The file's status when it was opened.
    const struct stat &status() const { return m_status; }

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
    QString m_path;
    FileDescriptor m_folder;
    QByteArray m_name;
    FileDescriptor m_fd;
    struct stat m_status = {};
    int m_error = 0;
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
