#include "temporaryfile.h"

#include "commit/systemcalls.h"
#include "files/filesystem.h"

#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perrox {

QString TemporaryFileName(const QString &folder, int number)
{
    return folder + QLatin1String("/~PX") + QString::number(number) + QLatin1String(".tmp");
}

TemporaryFile::TemporaryFile(int folderFd, const QString &folderPath, std::mt19937 &rng)
    : m_folderFd(folderFd)
    , m_folder(folderPath)
    , m_rng(&rng)
{ }

TemporaryFile::TemporaryFile(const QString &folderPath, std::mt19937 &rng)
    : m_folder(folderPath)
    , m_rng(&rng)
{ }

TemporaryFile::TemporaryFile(int folderFd, const QString &folderPath, Unpredictable)
    : m_folderFd(folderFd)
    , m_folder(folderPath)
    , m_unpredictable(true)
{ }

TemporaryFile::TemporaryFile(const QString &folderPath, Unpredictable)
    : m_folder(folderPath)
    , m_unpredictable(true)
{ }

TemporaryFile::TemporaryFile(const QString &exactPath)
    : m_path(exactPath)
{
    const qsizetype slash = exactPath.lastIndexOf(QLatin1Char('/'));
    m_folder = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : exactPath.left(slash);
}

TemporaryFile::~TemporaryFile()
{
    remove();
}

QString TemporaryFile::drawName()
{
    if (m_unpredictable) {
        static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QString name = m_folder + QLatin1String("/~PX");
        for (int i = 0; i < 10; ++i)
            name += QLatin1Char(letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))]);
        return name + QLatin1String(".tmp");
    }
    // The whole part of r * 90000 + 10000 for a uniform r in [0, 1).
    std::uniform_int_distribution<int> number(10000, 99999);
    return TemporaryFileName(m_folder, number(*m_rng));
}

int TemporaryFile::folderFd() const
{
    return m_folderFd >= 0 ? m_folderFd : m_ownFolder.get();
}

QByteArray TemporaryFile::name() const
{
    return NativePath(m_path.mid(m_path.lastIndexOf(QLatin1Char('/')) + 1));
}

bool TemporaryFile::open()
{
    remove();
    m_fd.reset();
    const bool drawn = m_rng || m_unpredictable;
    if (drawn)
        m_path = drawName();
    if (folderFd() < 0) {
        m_ownFolder = FileDescriptor(::open(NativePath(m_folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (m_ownFolder.get() < 0) {
            m_error = errno;
            return false;
        }
    }
    for (int attempt = 0; attempt < kMaxDraws; ++attempt) {
        if (drawn && attempt > 0)
            m_path = drawName();
        m_fd = FileDescriptor(sys::openat(folderFd(), name().constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (m_fd.get() >= 0) {
            m_owned = true;
            m_error = 0;
            // Advisory: keeps out other programs that honour locks. Never waits.
            ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
            return true;
        }
        m_error = errno;
        if (m_error != EEXIST || !drawn)
            break;
    }
    return false;
}

bool TemporaryFile::close()
{
    // Started now, the write-back overlaps with the work on the next files,
    // and the flush before the result is put in place finds little left to do.
    if (m_fd.get() >= 0)
        ::sync_file_range(m_fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return true;
}

bool TemporaryFile::write(const char *data, qint64 len)
{
    while (len > 0) {
        const ssize_t n = sys::write(m_fd.get(), data, size_t(len));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return false;
        }
        data += n;
        len -= n;
    }
    return true;
}

QString TemporaryFile::errorString() const
{
    return SystemErrorText(m_error);
}

void TemporaryFile::remove()
{
    m_fd.reset();
    if (!m_owned)
        return;
    m_owned = false;
    sys::unlinkat(folderFd(), name().constData(), 0);
}

namespace {

constexpr QByteArrayView kRunFolderPrefix("perrox-");
constexpr int kRunFolderLetters = 6;

bool isRunFolderName(const QByteArray &name)
{
    if (name.size() != kRunFolderPrefix.size() + kRunFolderLetters || !name.startsWith(kRunFolderPrefix))
        return false;
    for (const char c : name.sliced(kRunFolderPrefix.size()))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

// "~PX" + five digits + ".tmp".
bool isTemporaryFileName(const QByteArray &name)
{
    if (name.size() != 12 || !name.startsWith("~PX") || !name.endsWith(".tmp"))
        return false;
    for (const char c : name.sliced(3, 5))
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A folder made by RunFolder for this user: a folder, not a link, ours,
// with no rights for anybody else.
bool isOwnRunFolder(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

QString cannotRemoveMessage(int error, const QString &path)
{
    return QLatin1String("Cannot remove what a stopped run left in the temporary folder: ") + FileErrorMessage(error, path);
}

} // namespace

RunFolder::~RunFolder()
{
    if (m_fd.get() < 0)
        return;
    // Only the folder made here, and only when it is empty: a file that
    // could not be removed stays where it can be found.
    struct stat now;
    struct stat made;
    if (::fstatat(m_parent.get(), m_name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(m_fd.get(), &made) == 0 && now.st_dev == made.st_dev
        && now.st_ino == made.st_ino)
        sys::unlinkat(m_parent.get(), m_name.constData(), AT_REMOVEDIR);
}

bool RunFolder::create(const QString &parent)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    m_parent = FileDescriptor(::open(NativePath(parent).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    m_path = parent + QLatin1String("/perrox-XXXXXX");
    if (m_parent.get() < 0) {
        m_error = errno;
        return false;
    }
    // 62^6 names: a clash is a rare accident, never something another user
    // can arrange for every try.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_name = kRunFolderPrefix.toByteArray();
        for (int i = 0; i < kRunFolderLetters; ++i)
            m_name += letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
        m_path = parent + QLatin1Char('/') + QString::fromLatin1(m_name);
        if (sys::mkdirat(m_parent.get(), m_name.constData(), 0700) != 0) {
            m_error = errno;
            if (m_error == EEXIST)
                continue;
            return false;
        }
        if (::fchmodat(m_parent.get(), m_name.constData(), 0700, 0) != 0) {
            // The umask must not take our own rights away; should this fail, the
            // folder is still ours, and the files made in it report their own errors.
        }
        m_fd = FileDescriptor(::openat(m_parent.get(), m_name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (m_fd.get() < 0 && errno == ENOENT)
            continue; // taken for a dead run's folder and removed at once (see below)
        struct stat st;
        if (m_fd.get() < 0 || ::fstat(m_fd.get(), &st) != 0) {
            m_error = errno;
            m_fd.reset();
            return false;
        }
        // Made by us a moment ago: ours, private, a folder. Anything else
        // was swapped in by somebody else and is left alone.
        if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
            m_error = EEXIST;
            m_fd.reset();
            return false;
        }
        // Locked for the run's whole life: the folder of a run that is gone
        // is the one whose lock nobody holds (see RemoveDeadRunFolders).
        // Another start may have taken the new, empty folder for such a one
        // before the lock was taken, and removed it: then another is made.
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(m_fd.get(), &st) != 0 || st.st_nlink == 0) {
            m_fd.reset();
            continue;
        }
        m_error = 0;
        return true;
    }
    m_error = EEXIST;
    return false;
}

QString RemoveDeadRunFolders(const QString &parent)
{
    const FileDescriptor folder(::open(NativePath(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return QString();
    QStringList failures;
    for (const QByteArray &name : NamesIn(folder.get(), isRunFolderName)) {
        const QString path = parent + QLatin1Char('/') + QString::fromLatin1(name);
        struct stat seen;
        struct stat st;
        if (::fstatat(folder.get(), name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnRunFolder(seen))
            continue;
        const FileDescriptor run(::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (run.get() < 0 || ::fstat(run.get(), &st) != 0 || !isOwnRunFolder(st) || st.st_ino != seen.st_ino || st.st_dev != seen.st_dev)
            continue;
        // A living run holds its folder locked.
        if (::flock(run.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        bool failed = false;
        for (const QByteArray &file : NamesIn(run.get(), isTemporaryFileName)) {
            struct stat f;
            if (::fstatat(run.get(), file.constData(), &f, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(f.st_mode))
                continue;
            if (sys::unlinkat(run.get(), file.constData(), 0) != 0 && errno != ENOENT) {
                failures.append(cannotRemoveMessage(errno, path + QLatin1Char('/') + QString::fromLatin1(file)));
                failed = true;
                break;
            }
        }
        // What is not ours stays, and with it the folder.
        if (!failed && sys::unlinkat(folder.get(), name.constData(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT)
            failures.append(cannotRemoveMessage(errno, path));
    }
    return failures.join(QLatin1String("\r\n\r\n"));
}

} // namespace perrox
