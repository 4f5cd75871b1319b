#include "targetfolders.h"

#include "files/filesystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace perrox {

TargetFolders::TargetFolders(int root, const QString &rootPath)
    : m_root(root)
    , m_rootPath(rootPath.endsWith(QLatin1Char('/')) ? rootPath.chopped(1) : rootPath)
{ }

int TargetFolders::fail(int error, const QByteArray &at)
{
    m_missing = error == ENOENT;
    const QString path = m_rootPath + QLatin1Char('/') + DecodeNativePath(at);
    if (error == ELOOP)
        m_error = QLatin1String("The folder ") + path + QLatin1String(" is a symbolic link, and Perrox never writes through a link.");
    else if (error == ENOTDIR)
        m_error = path + QLatin1String(" is not a folder, so no result can be written into it.");
    else
        m_error = FileErrorMessage(error, path);
    return -1;
}

int TargetFolders::open(const QByteArray &relative, bool create)
{
    m_missing = false;
    m_error.clear();
    if (relative.isEmpty())
        return m_root;
    if (const auto found = m_open.find(relative); found != m_open.end())
        return found->second.get();
    FileDescriptor parent;
    int at = m_root;
    qsizetype start = 0;
    while (start <= relative.size()) {
        qsizetype end = relative.indexOf('/', start);
        if (end < 0)
            end = relative.size();
        const QByteArray name = relative.mid(start, end - start);
        const QByteArray upTo = relative.left(end);
        // A name that leads up or nowhere is never part of a kept folder.
        if (name.isEmpty() || name == "." || name == "..")
            return fail(EINVAL, upTo);
        if (create && ::mkdirat(at, name.constData(), 0777) != 0 && errno != EEXIST)
            return fail(errno, upTo);
        FileDescriptor next(::openat(at, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (next.get() < 0) {
            const int error = errno;
            // Whatever stands there that is no folder: a link is named as one.
            if (error == ENOTDIR || error == ELOOP)
                return fail(::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR, upTo);
            return fail(error, upTo);
        }
        if (::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode))
            return fail(S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR, upTo);
        parent = std::move(next);
        at = parent.get();
        start = end + 1;
    }
    const int fd = parent.get();
    m_open.emplace(relative, std::move(parent));
    return fd;
}

} // namespace perrox
