#include "statefolder.h"

#include "files/filesystem.h"

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perrox {

QString StateFolder()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.startsWith(QLatin1Char('/')))
        return state + QLatin1String("/perrox");
    QString home = qEnvironmentVariable("HOME");
    if (!home.startsWith(QLatin1Char('/'))) {
        // Started without a HOME (by cron, say, or env -i): the home the
        // password database names.
        // An account without a home of its own (nobody's is /nonexistent)
        // has nowhere to keep anything.
        const struct passwd *user = ::getpwuid(::geteuid());
        home = user && user->pw_dir && user->pw_dir[0] == '/' ? DecodeNativePath(user->pw_dir) : QString();
        if (home.isEmpty() || !FolderExists(home))
            return QString();
    }
    return home + QLatin1String("/.local/state/perrox");
}

bool PrivateFolder::open(const QString &path, bool create)
{
    m_path = path;
    m_reason.clear();
    m_fd.reset();
    if (path.isEmpty()) {
        // Nowhere to keep anything: nothing was kept either.
        if (create)
            m_reason = QStringLiteral("No home folder is known for your user");
        return false;
    }
    if (create)
        MakePrivateFolder(path);
    return check(AT_FDCWD, NativePath(path));
}

bool PrivateFolder::openAt(int base, const QString &basePath, const QByteArray &name, bool create)
{
    m_path = basePath + QLatin1Char('/') + DecodeNativePath(name);
    m_reason.clear();
    m_fd.reset();
    if (create && ::mkdirat(base, name.constData(), 0700) == 0)
        (void)!::fchmodat(base, name.constData(), 0700, 0); // whatever the umask
    return check(base, name);
}

bool PrivateFolder::check(int base, const QByteArray &name)
{
    struct stat seen;
    if (::fstatat(base, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            m_reason = SystemErrorText(errno);
        return false;
    }
    if (S_ISLNK(seen.st_mode)) {
        m_reason = QStringLiteral("Is a symbolic link, not a folder of your own");
        return false;
    }
    m_fd = FileDescriptor(::openat(base, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (m_fd.get() < 0 || ::fstat(m_fd.get(), &st) != 0) {
        m_reason = SystemErrorText(errno);
        m_fd.reset();
        return false;
    }
    if (st.st_uid != ::geteuid())
        m_reason = QStringLiteral("Belongs to another user");
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        m_reason = QStringLiteral("Other users may write to it");
    else if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino)
        m_reason = SystemErrorText(EAGAIN); // swapped while it was opened
    if (!m_reason.isEmpty()) {
        m_fd.reset();
        return false;
    }
    return true;
}

QString PrivateFolder::message() const
{
    return m_reason.isEmpty() || m_path.isEmpty() ? m_reason : FileErrorMessage(m_reason, m_path);
}

QString NoStateFolderMessage()
{
    return QStringLiteral("Cannot keep a copy for Undo: neither XDG_STATE_HOME nor HOME is set, and your account has no home folder to keep it in. "
                          "The files are replaced all the same; this run cannot be undone.");
}

QString UntrustedStateFolderMessage(const PrivateFolder &folder)
{
    return QLatin1String("Perrox does not use its folder of records and Undo copies: ") + folder.message()
        + QLatin1String(". Nothing is kept there and nothing is undone from it until it is a folder of yours alone (mode 0700).");
}

} // namespace perrox
