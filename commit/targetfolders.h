#pragma once

#include "files/filedescriptor.h"

#include <QByteArray>
#include <QString>

#include <map>

namespace perrox {

// The folders below a Replace As folder that results go to when the sources'
// folders are kept. Each one is reached a name at a time from the folder held
// open (openat, mkdirat), never through a symbolic link nor through anything
// that is no folder, so whatever is renamed or planted meanwhile cannot lead
// a result out of the chosen folder.
class TargetFolders
{
public:
    // root: the chosen folder, held open by the caller while this is used;
    // rootPath names it in messages.
    TargetFolders(int root, const QString &rootPath);

    // The folder at relative ("a/b", empty for the chosen folder itself),
    // held open here until release(); -1 where it cannot be reached, with
    // error() saying why. With create, the folders missing on the way are
    // made (with the permissions of any new folder); without, a missing
    // folder gives -1 with missing() true.
    int open(const QByteArray &relative, bool create);

    // The last open() failed only because a folder on the way is not there yet.
    bool missing() const { return m_missing; }
    // The last failure as a message naming the folder concerned: "reason -
    // folder", or that it is a symbolic link or no folder.
    QString error() const { return m_error; }

    // Closes every folder opened so far; their descriptors are no longer used.
    void release() { m_open.clear(); }

private:
    int fail(int error, const QByteArray &at);

    int m_root;
    QString m_rootPath;
    std::map<QByteArray, FileDescriptor> m_open;
    bool m_missing = false;
    QString m_error;
};

} // namespace perrox
