#include "safereplace.h"

#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "replaceoutput.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perrox {

namespace {

// The file a chain of symbolic links ends at (the path itself when it is no link).
QString resolveLinks(const QString &path)
{
    QString current = path;
    for (int depth = 0; depth < 40; ++depth) {
        const QByteArray native = NativePath(current);
        struct stat st;
        if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> link(size_t(PATH_MAX) + 1);
        const ssize_t n = ::readlink(native.constData(), link.data(), link.size() - 1);
        if (n < 0)
            return current;
        const QString target = DecodeNativePath(QByteArray(link.data(), n));
        if (target.startsWith(QLatin1Char('/'))) {
            current = target;
        } else {
            const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
            current = (slash < 0 ? QString() : current.left(slash + 1)) + target;
        }
    }
    return current;
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Copies all of in (from its start) to out at offset 0.
int copyContents(int in, int out)
{
    off_t inOffset = 0;
    off_t outOffset = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, size_t(1) << 30, 0);
        if (n == 0)
            return 0;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        break; // not supported here: plain reads and writes from where it stopped
    }
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        const ssize_t got = ::pread(in, buffer.data(), buffer.size(), inOffset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        inOffset += got;
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = ::pwrite(out, buffer.data() + done, size_t(got - done), outOffset);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += n;
            outOffset += n;
        }
    }
}

struct Owner
{
    bool known = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Permission bits and, where allowed, owner for a file about to replace another.
void applyAttributes(int fd, mode_t mode, const Owner &owner)
{
    if (owner.known)
        (void)::fchown(fd, owner.uid, owner.gid); // changing the owner needs rights we may lack
    ::fchmod(fd, mode); // after fchown, which may clear set-id bits
}

// Writes the new content into the existing file itself.
int rewriteInPlace(const QString &tempPath, const QString &target)
{
    FileDescriptor in(::open(NativePath(tempPath).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return errno;
    FileDescriptor out(::open(NativePath(target).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (out.get() < 0)
        return errno;
    struct stat inStat;
    struct stat outStat;
    if (::fstat(in.get(), &inStat) != 0 || ::fstat(out.get(), &outStat) != 0)
        return errno;
    const bool regular = S_ISREG(outStat.st_mode);
    if (regular && inStat.st_size > outStat.st_size) {
        // Claim the space first, so a full disk fails before anything is overwritten.
        const int r = ::posix_fallocate(out.get(), outStat.st_size, inStat.st_size - outStat.st_size);
        if (r != 0) {
            (void)::ftruncate(out.get(), outStat.st_size);
            return r;
        }
    }
    if (const int r = copyContents(in.get(), out.get()))
        return r;
    if (regular) {
        if (inStat.st_size < outStat.st_size && ::ftruncate(out.get(), inStat.st_size) != 0)
            return errno;
        if (::fsync(out.get()) != 0)
            return errno;
    }
    return out.closeChecked();
}

// Gives the file at path its attributes and renames it to target. When that
// replaces an existing file the new content is synced first, so that a crash
// cannot leave the name pointing at a file whose data never reached the disk.
int renameIntoPlace(const QString &path, const QString &target, mode_t mode, const Owner &owner, bool replacing)
{
    FileDescriptor fd(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    applyAttributes(fd.get(), mode, owner);
    if (replacing && ::fsync(fd.get()) != 0)
        return errno;
    if (::rename(NativePath(path).constData(), NativePath(target).constData()) != 0)
        return errno;
    return 0;
}

} // namespace

CommitResult CommitTemporaryFile(TemporaryFile &temp, const QString &target, std::mt19937 &rng)
{
    auto failure = [&](int errnum) { return CommitResult {FileErrorMessage(errnum, target)}; };

    const QString file = resolveLinks(target);
    const QByteArray nativeFile = NativePath(file);
    struct stat st;
    const bool exists = ::stat(nativeFile.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failure(errno);
    if (exists && S_ISDIR(st.st_mode))
        return failure(EISDIR);

    mode_t mode = newFileMode();
    Owner owner;
    if (exists) {
        // The user must be allowed to write the file itself, exactly as when
        // copying over it; a writable folder alone is not enough.
        FileDescriptor probe(::open(nativeFile.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (probe.get() < 0)
            return failure(errno);
        probe.reset();
        mode = st.st_mode & 07777;
        owner = {true, st.st_uid, st.st_gid};
        if (st.st_nlink > 1 || !S_ISREG(st.st_mode)) {
            const int r = rewriteInPlace(temp.path(), file);
            return r ? failure(r) : CommitResult {};
        }
    }

    const QString folder = folderOf(file);
    struct stat tempStat;
    struct stat folderStat;
    if (::stat(NativePath(temp.path()).constData(), &tempStat) != 0)
        return failure(errno);
    if (::stat(NativePath(folder).constData(), &folderStat) != 0)
        return failure(errno);

    if (tempStat.st_dev == folderStat.st_dev) {
        const int r = renameIntoPlace(temp.path(), file, mode, owner, exists);
        if (r == 0) {
            temp.release();
            return {};
        }
        if (r != EXDEV && r != EACCES && r != EPERM)
            return failure(r);
    }

    // Another file system (or a folder that refused the rename): copy to a new
    // file beside the target first, then rename that.
    TemporaryFile beside(folder, rng);
    if (!beside.open()) {
        const int r = beside.error();
        if (exists && (r == EACCES || r == EPERM)) {
            const int inPlace = rewriteInPlace(temp.path(), file);
            return inPlace ? failure(inPlace) : CommitResult {};
        }
        return failure(r);
    }
    beside.close();
    {
        FileDescriptor in(::open(NativePath(temp.path()).constData(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0)
            return failure(errno);
        FileDescriptor out(::open(NativePath(beside.path()).constData(), O_WRONLY | O_CLOEXEC));
        if (out.get() < 0)
            return failure(errno);
        if (const int r = copyContents(in.get(), out.get()))
            return failure(r);
        if (const int r = out.closeChecked())
            return failure(r);
    }
    if (const int r = renameIntoPlace(beside.path(), file, mode, owner, exists))
        return failure(r);
    beside.release();
    return {};
}

} // namespace perrox
