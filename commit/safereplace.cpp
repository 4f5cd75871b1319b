#include "safereplace.h"

#include "commit/filecopy.h"
#include "commit/rewritejournal.h"
#include "commit/systemcalls.h"
#include "commit/temporaryfile.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace perrox {

namespace {

// The target changed under us; never an errno value.
constexpr int kChanged = -1;

const QLatin1String kParagraph("\r\n\r\n");

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

struct Attributes
{
    mode_t mode = 0;
    bool ownerKnown = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

Attributes attributesOf(const struct stat &st)
{
    return {mode_t(st.st_mode & 07777), true, st.st_uid, st.st_gid};
}

Attributes attributesOf(const JournalEntry &e)
{
    return {e.mode, true, e.uid, e.gid};
}

// The access and modification times a result takes instead of those of its
// writing: an Undo gives the file its old times back; with keepTimes the
// result takes those of the file it was made from.
struct ResultTimes
{
    bool set = false;
    struct timespec times[2] = {};
};

ResultTimes resultTimes(const CommitUndo *undo, const CommitContext &context, const struct stat *source)
{
    if (undo && undo->restore)
        return {true, {undo->restore->atime, undo->restore->mtime}};
    if (context.keepTimes && source)
        return {true, {source->st_atim, source->st_mtim}};
    return {};
}

// Times that cannot be set (a file of another owner, rewritten in place)
// leave the content written all the same.
void applyTimes(int fd, const ResultTimes &t)
{
    if (t.set)
        (void)::futimens(fd, t.times);
}

bool keeps(const CommitUndo *undo)
{
    return undo && undo->journal;
}

// The old content could not be kept: the file is not touched.
CommitResult keepFailure(const CommitUndo &undo, const QString &path, bool exists)
{
    return {CommitResult::Status::Failed,
        undo.journal->error() + kParagraph
            + (exists ? QLatin1String("The file ") + path + QLatin1String(" was left as it is.")
                      : QLatin1String("Nothing was written to ") + path + QLatin1Char('.'))};
}

// Permission bits and, where allowed, owner for a file about to replace
// another; now, where known, is the file's own status, so that an owner
// that is right already is not set again.
void applyAttributes(int fd, const Attributes &a, const struct stat *now = nullptr)
{
    const bool ownerRight = now && now->st_uid == a.uid && now->st_gid == a.gid;
    if (a.ownerKnown && !ownerRight && ::fchown(fd, a.uid, a.gid) != 0) {
        // Changing the owner needs rights we may lack; the file is then the user's own.
    }
    ::fchmod(fd, a.mode); // after fchown, which may clear set-id bits
}

// Swaps the file named by from with what stands at name in folder. check()
// tells whether the entry taken out (its status given) is the one that may
// be replaced; if not, the swap is undone. Returns 0, kChanged or an errno
// value; where the file system cannot swap, EINVAL.
template<typename Check> int exchange(TemporaryFile &from, int folder, const QByteArray &name, Check check)
{
    const QByteArray fromName = from.name();
    if (sys::renameat2(from.folderFd(), fromName.constData(), folder, name.constData(), RENAME_EXCHANGE) != 0)
        return errno;
    struct stat old;
    if (::fstatat(from.folderFd(), fromName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 && check(old)) {
        from.release();
        sys::unlinkat(from.folderFd(), fromName.constData(), 0); // the file just replaced
        return 0;
    }
    // Not what was checked: put the other program's entry back. Should even
    // that fail, its entry now stands under our temporary name, which is
    // then never deleted.
    if (sys::renameat2(from.folderFd(), fromName.constData(), folder, name.constData(), RENAME_EXCHANGE) != 0)
        from.release();
    return kChanged;
}

bool cannotSwap(int error)
{
    return error == EINVAL || error == ENOSYS;
}

// Puts from in the place of source. The window between the last check and
// the rename is closed by checking after the swap and undoing it; where the
// file system cannot swap, it is the time of one rename right after the check.
int swapIntoPlace(TemporaryFile &from, const OpenedFile &source)
{
    if (!source.unchanged() || !source.stillNamed())
        return kChanged;
    const int r = exchange(from, source.folderFd(), source.name(),
        [&](const struct stat &old) { return S_ISREG(old.st_mode) && SameFile(old, source.status()) && source.unchangedButRenamed(); });
    if (!cannotSwap(r))
        return r;
    if (!source.unchanged() || !source.stillNamed())
        return kChanged;
    if (sys::renameat(from.folderFd(), from.name().constData(), source.folderFd(), source.name().constData()) != 0)
        return errno;
    from.release();
    return 0;
}

// A new temporary file beside a target, in folder, holding a copy of temp.
// Returns 0 or the errno value.
int copyBeside(TemporaryFile &beside, const TemporaryFile &temp)
{
    if (!beside.open())
        return beside.error();
    return CopyContents(temp.fd(), beside.fd());
}

// Done, with the file open as fd standing at the target now.
CommitResult doneWith(int fd)
{
    CommitResult done;
    struct stat st;
    if (::fstat(fd, &st) == 0)
        done.result = IdentityOf(st);
    return done;
}

bool refusedByFolder(int error)
{
    return error == EACCES || error == EPERM;
}

// A commit whose outcome prepare() may decide already, before the flush.
class DecidingCommit : public ResultCommit
{
protected:
    // Records the outcome for finish(); nothing is to be flushed.
    int decide(const CommitResult &result)
    {
        m_decided = true;
        m_result = result;
        return -1;
    }

    bool m_decided = false;
    CommitResult m_result;
};

class ReplaceCommit : public DecidingCommit
{
public:
    ReplaceCommit(TemporaryFile &temp, OpenedFile &source, CommitContext &context, CommitUndo *undo)
        : m_temp(temp)
        , m_source(source)
        , m_context(context)
        , m_undo(undo)
        , m_beside(
              source.folderFd(), GetFolderName(source.path()).isEmpty() ? QStringLiteral(".") : GetFolderName(source.path()), TemporaryFile::Unpredictable {})
        , m_times(resultTimes(undo, context, &source.status())) // as opened: before the run read it
    { }

    int prepare() override
    {
        const struct stat &st = m_source.status();
        m_writer = FileDescriptor(m_source.openForWriting());
        if (m_writer.get() < 0)
            return decide(errno == ESTALE ? changed() : failure(errno));
        if (!m_source.unchanged())
            return decide(changed());
        // A hard link made to keep the old content adds to the link count.
        const bool severalLinks = st.st_nlink > 1;
        if (keeps(m_undo) && !keepOld(!severalLinks))
            return decide(m_keepResult);
        if (severalLinks)
            return decideInPlace();

        struct stat tempStat;
        struct stat folderStat;
        if (::fstat(m_temp.fd(), &tempStat) != 0 || ::fstat(m_source.folderFd(), &folderStat) != 0)
            return decide(failure(errno));
        m_from = &m_temp;
        if (tempStat.st_dev != folderStat.st_dev) {
            if (const int r = copyBeside(m_beside, m_temp))
                return refusedByFolder(r) ? decideInPlace() : decide(failure(r));
            m_from = &m_beside;
        }
        applyAttributes(m_from->fd(), attributes(), m_from == &m_temp ? &tempStat : nullptr);
        applyTimes(m_from->fd(), m_times);
        return m_from->fd();
    }

    CommitResult finish(bool flushed) override
    {
        if (m_decided)
            return m_inPlace ? inPlace() : m_result;
        int r = putInPlace(*m_from, flushed);
        if (r == EXDEV && m_from == &m_temp) {
            // Another mount of the same file system: copy it over after all.
            r = copyBeside(m_beside, m_temp);
            if (r != 0)
                return refusedByFolder(r) ? inPlace() : failure(r);
            m_from = &m_beside;
            applyAttributes(m_from->fd(), attributes());
            applyTimes(m_from->fd(), m_times);
            r = putInPlace(*m_from, false);
        }
        if (r == 0)
            return doneWith(m_from->fd());
        if (r == kChanged)
            return changed();
        // A sticky folder, or one that takes no new name: the file itself
        // may still be written.
        if (refusedByFolder(r))
            return inPlace();
        return failure(r);
    }

private:
    Attributes attributes() const { return m_undo && m_undo->restore ? attributesOf(*m_undo->restore) : attributesOf(m_source.status()); }

    // Keeps the old content in the journal; linkable: the file leaves its
    // place by the rename, so a hard link keeps it.
    bool keepOld(bool linkable)
    {
        // The path as the user gave it, made absolute: links on the way
        // are followed again by Undo, as they were here.
        const QByteArray path = NativePath(AbsolutePath(m_source.path()));
        const struct stat before = m_source.status();
        m_undo->entry
            = m_undo->journal->keep(JournalEntry::Kind::Replaced, m_source.fd(), before, path, linkable, m_undo->hash, m_undo->size, m_undo->keptHash);
        if (m_undo->entry < 0) {
            m_keepResult = keepFailure(*m_undo, m_source.path(), true);
            return false;
        }
        return acceptOwnChange(before);
    }

    // The link made to keep the file moved its change time; anything else
    // that changed is another program's doing.
    bool acceptOwnChange(const struct stat &before)
    {
        struct stat now;
        if (::fstat(m_source.fd(), &now) != 0 || !SameContent(now, before)) {
            m_keepResult = changed();
            return false;
        }
        m_source.acceptStatus(now);
        return true;
    }

    int decideInPlace()
    {
        m_inPlace = true;
        return decide({});
    }

    int putInPlace(TemporaryFile &from, bool flushed)
    {
        // On disk before its name can replace the old file, so that a crash
        // cannot leave the name on a file whose data never got there.
        if (!flushed && sys::fsync(from.fd()) != 0)
            return errno;
        return swapIntoPlace(from, m_source);
    }

    CommitResult inPlace()
    {
        if (keeps(m_undo) && m_undo->journal->keptByLink(m_undo->entry)) {
            // The kept link would see the rewrite: a copy takes its place.
            const struct stat before = m_source.status();
            if (const int r = m_undo->journal->copyInsteadOfLink(m_undo->entry, m_source.fd()))
                return {CommitResult::Status::Failed,
                    CannotKeepMessage(r, RunJournalFolder()) + kParagraph + QLatin1String("The file ") + m_source.path()
                        + QLatin1String(" was left as it is.")};
            if (!acceptOwnChange(before))
                return m_keepResult;
        }
        if (!m_source.unchanged())
            return changed();
        struct stat result;
        if (::fstat(m_temp.fd(), &result) != 0)
            return failure(errno);
        // Claim the space first, without changing the file, so that a full
        // disk fails before anything is overwritten.
        if (result.st_size > m_source.status().st_size && sys::fallocate(m_writer.get(), FALLOC_FL_KEEP_SIZE, 0, result.st_size) != 0 && errno != EOPNOTSUPP
            && errno != ENOSYS)
            return failure(errno);
        struct stat before;
        if (::fstat(m_writer.get(), &before) != 0)
            return failure(errno);
        if (before.st_size != m_source.status().st_size || !m_source.stillNamed())
            return changed();

        QByteArray where = m_source.currentPath();
        if (where.isEmpty())
            where = NativePath(AbsolutePath(m_source.path()));
        RewriteRecord record;
        if (const int r = record.begin(before, where, m_source.fd(), m_temp.fd(), m_temp.folderFd(), m_temp.name()))
            return {CommitResult::Status::Failed, record.failureMessage(r)};
        // The last look before the first byte is written.
        struct stat now;
        if (::fstat(m_writer.get(), &now) != 0 || !SameContentStatus(now, before)) {
            record.finish();
            return changed();
        }
        if (const int r = RewriteFromResult(m_writer.get(), m_temp.fd(), result.st_size, record, m_context.chunk, m_context.pump))
            return {CommitResult::Status::Failed,
                FileErrorMessage(r, m_source.path()) + kParagraph + QLatin1String("The complete result is kept in ") + record.keptResultPath()
                    + QLatin1String("; Perrox finishes the file when it starts next."),
                0, {}, true};
        record.finish();
        if (m_undo && m_undo->restore)
            applyAttributes(m_writer.get(), attributes());
        applyTimes(m_writer.get(), m_times);
        return doneWith(m_writer.get());
    }

    CommitResult failure(int error) const { return {CommitResult::Status::Failed, FileErrorMessage(error, m_source.path()), error}; }
    CommitResult changed() const { return {CommitResult::Status::Refused, ChangedByAnotherProgramMessage(m_source.path())}; }

    TemporaryFile &m_temp;
    OpenedFile &m_source;
    CommitContext &m_context;
    CommitUndo *m_undo;
    TemporaryFile m_beside;
    FileDescriptor m_writer;
    TemporaryFile *m_from = nullptr;
    ResultTimes m_times;
    bool m_inPlace = false;
    CommitResult m_keepResult;
};

QString notRegularTargetMessage(const QString &path, mode_t mode)
{
    QString what = NotRegularReason(mode);
    if (S_ISLNK(mode))
        what = QStringLiteral("it is a symbolic link, and Perrox never writes through a link");
    else if (!what.isEmpty())
        what[0] = what.at(0).toLower();
    return QLatin1String("Cannot write the result to ") + path + QLatin1String(": ") + what + QLatin1String(". It was left as it is.");
}

} // namespace

QString ChangedByAnotherProgramMessage(const QString &path)
{
    return QLatin1String("The file ") + path + QLatin1String(" was changed by another program while Perrox was working on it; it was left as it is.");
}

CommitResult CommitReplace(TemporaryFile &temp, OpenedFile &source, CommitContext &context)
{
    ReplaceCommit commit(temp, source, context, nullptr);
    commit.prepare();
    return commit.finish(false);
}

CommitResult CommitToPath(TemporaryFile &temp, const QString &path, CommitContext &context)
{
    OpenedFile existing;
    const QString reason = existing.open(path);
    if (reason.isEmpty())
        return CommitReplace(temp, existing, context);
    if (existing.error() != ENOENT)
        return {CommitResult::Status::Failed, FileErrorMessage(reason, path)};
    QString folder = GetFolderName(path);
    if (folder.isEmpty())
        folder = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QStringLiteral(".");
    const FileDescriptor folderFd(::open(NativePath(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
        const int error = errno;
        return {CommitResult::Status::Failed, FileErrorMessage(error, path), error};
    }
    return CommitReplaceAs(temp, InspectTarget(folderFd.get(), NativePath(GetFileName(path)), path), context);
}

ReplaceAsTarget InspectTarget(int folderFd, const QByteArray &name, const QString &path)
{
    ReplaceAsTarget t;
    t.folderFd = folderFd;
    t.name = name;
    t.path = path;
    if (::fstatat(folderFd, name.constData(), &t.status, AT_SYMLINK_NOFOLLOW) != 0) {
        t.error = errno;
        t.kind = t.error == ENOENT ? ReplaceAsTarget::Kind::Missing : ReplaceAsTarget::Kind::Unknown;
        if (t.kind == ReplaceAsTarget::Kind::Missing)
            t.error = 0;
        return t;
    }
    t.kind = S_ISREG(t.status.st_mode) ? ReplaceAsTarget::Kind::Regular : ReplaceAsTarget::Kind::Other;
    return t;
}

namespace {

class ReplaceAsCommit : public DecidingCommit
{
public:
    using Kind = ReplaceAsTarget::Kind;

    ReplaceAsCommit(TemporaryFile &temp, const ReplaceAsTarget &target, CommitContext &context, CommitUndo *undo, const OpenedFile *source)
        : m_temp(temp)
        , m_target(target)
        , m_undo(undo)
        , m_beside(target.folderFd, GetFolderName(target.path), TemporaryFile::Unpredictable {})
        , m_times(resultTimes(undo, context, source ? &source->status() : nullptr))
    { }

    int prepare() override
    {
        if (m_target.kind == Kind::Unknown)
            return decide(failure(m_target.error));
        if (m_target.kind == Kind::Other)
            return decide(refused(m_target));
        if (keeps(m_undo)) {
            if (const std::optional<CommitResult> failed = keepOld())
                return decide(*failed);
        }
        struct stat tempStat;
        struct stat folderStat;
        if (::fstat(m_temp.fd(), &tempStat) != 0 || ::fstat(m_target.folderFd, &folderStat) != 0)
            return decide(failure(errno));
        m_from = &m_temp;
        if (tempStat.st_dev != folderStat.st_dev) {
            if (const int r = copyBeside(m_beside, m_temp))
                return decide(failure(r));
            m_from = &m_beside;
        }
        applyAttributes(m_from->fd(), attributes());
        applyTimes(m_from->fd(), m_times);
        return m_from->fd();
    }

    CommitResult finish(bool flushed) override
    {
        if (m_decided)
            return m_result;
        for (;;) {
            int r;
            const ReplaceAsTarget now = InspectTarget(m_target.folderFd, m_target.name, m_target.path);
            if (!stillAsInspected(now))
                return now.kind == Kind::Unknown ? failure(now.error) : refused(now);
            if (!flushed && sys::fsync(m_from->fd()) != 0)
                return failure(errno);
            flushed = true;
            if (m_target.kind == Kind::Regular) {
                r = exchange(
                    *m_from, m_target.folderFd, m_target.name, [&](const struct stat &old) { return S_ISREG(old.st_mode) && SameFile(old, m_target.status); });
                if (cannotSwap(r)) {
                    r = sys::renameat(m_from->folderFd(), m_from->name().constData(), m_target.folderFd, m_target.name.constData()) == 0 ? 0 : errno;
                    if (r == 0)
                        m_from->release();
                }
            } else {
                // Only where nothing stands: whatever appeared meanwhile is
                // neither replaced nor written through.
                r = sys::renameat2(m_from->folderFd(), m_from->name().constData(), m_target.folderFd, m_target.name.constData(), RENAME_NOREPLACE) == 0 ? 0
                                                                                                                                                        : errno;
                if (cannotSwap(r))
                    r = sys::renameat(m_from->folderFd(), m_from->name().constData(), m_target.folderFd, m_target.name.constData()) == 0 ? 0 : errno;
                if (r == 0)
                    m_from->release();
                else if (r == EEXIST)
                    r = kChanged;
            }
            if (r == EXDEV && m_from == &m_temp) {
                if (const int c = copyBeside(m_beside, m_temp))
                    return failure(c);
                m_from = &m_beside;
                applyAttributes(m_from->fd(), attributes());
                applyTimes(m_from->fd(), m_times);
                flushed = false;
                continue;
            }
            if (r == kChanged)
                return refused(InspectTarget(m_target.folderFd, m_target.name, m_target.path));
            return r == 0 ? doneWith(m_from->fd()) : failure(r);
        }
    }

private:
    Attributes attributes() const
    {
        if (m_undo && m_undo->restore)
            return attributesOf(*m_undo->restore);
        return m_target.kind == Kind::Regular ? attributesOf(m_target.status) : Attributes {newFileMode()};
    }

    // Keeps the target that stands, or records that the result creates it.
    std::optional<CommitResult> keepOld()
    {
        QByteArray path = DescriptorPath(m_target.folderFd);
        path = path.isEmpty() ? NativePath(AbsolutePath(m_target.path)) : path + '/' + m_target.name;
        RunJournal &journal = *m_undo->journal;
        if (m_target.kind == Kind::Missing) {
            m_undo->entry = journal.keepCreated(path, m_undo->hash, m_undo->size);
            if (m_undo->entry < 0)
                return keepFailure(*m_undo, m_target.path, false);
            return std::nullopt;
        }
        const FileDescriptor old(::openat(m_target.folderFd, m_target.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat before;
        if (old.get() < 0 || ::fstat(old.get(), &before) != 0) {
            const int error = errno;
            return error == ENOENT || error == ELOOP ? refused(InspectTarget(m_target.folderFd, m_target.name, m_target.path))
                                                     : CommitResult {CommitResult::Status::Failed, CannotKeepMessage(error, m_target.path)};
        }
        if (!SameContentStatus(before, m_target.status))
            return refused(InspectTarget(m_target.folderFd, m_target.name, m_target.path));
        m_undo->entry = journal.keep(JournalEntry::Kind::Replaced, old.get(), before, path, true, m_undo->hash, m_undo->size);
        if (m_undo->entry < 0)
            return keepFailure(*m_undo, m_target.path, true);
        struct stat now;
        if (::fstat(old.get(), &now) != 0 || !SameContent(now, before))
            return refused(InspectTarget(m_target.folderFd, m_target.name, m_target.path));
        m_target.status = now; // the link moved its change time
        return std::nullopt;
    }
    CommitResult failure(int error) const { return {CommitResult::Status::Failed, FileErrorMessage(error, m_target.path), error}; }
    CommitResult refused(const ReplaceAsTarget &now) const
    {
        if (now.kind == Kind::Other)
            return {CommitResult::Status::Refused, notRegularTargetMessage(m_target.path, now.status.st_mode)};
        return {CommitResult::Status::Refused, ChangedByAnotherProgramMessage(m_target.path)};
    }
    // Still what the run saw when it decided to write here?
    bool stillAsInspected(const ReplaceAsTarget &now) const
    {
        return now.kind == m_target.kind && (now.kind == Kind::Missing || SameContentStatus(now.status, m_target.status));
    }

    TemporaryFile &m_temp;
    ReplaceAsTarget m_target;
    CommitUndo *m_undo;
    TemporaryFile m_beside;
    TemporaryFile *m_from = nullptr;
    ResultTimes m_times;
};

} // namespace

std::unique_ptr<ResultCommit> MakeReplaceCommit(TemporaryFile &temp, OpenedFile &source, CommitContext &context, CommitUndo *undo)
{
    return std::make_unique<ReplaceCommit>(temp, source, context, undo);
}

std::unique_ptr<ResultCommit> MakeReplaceAsCommit(
    TemporaryFile &temp, const ReplaceAsTarget &target, CommitContext &context, CommitUndo *undo, const OpenedFile *source)
{
    return std::make_unique<ReplaceAsCommit>(temp, target, context, undo, source);
}

CommitResult CommitReplaceAs(TemporaryFile &temp, const ReplaceAsTarget &target, CommitContext &context)
{
    ReplaceAsCommit commit(temp, target, context, nullptr, nullptr);
    commit.prepare();
    return commit.finish(false);
}

std::vector<int> FlushTogether(const std::vector<int> &fds)
{
    std::vector<int> errors(fds.size(), 0);
    if (fds.size() == 1) {
        if (sys::fsync(fds.front()) != 0)
            errors.front() = errno;
        return errors;
    }
    // One syncfs per file system writes back every dirty page and inode of
    // it and commits its journal once, where one fsync per file would wait
    // for the disk once per file. The write-back was started when each file
    // was finished, so little is left to wait for.
    std::vector<dev_t> devices;
    bool failed = false;
    for (int fd : fds) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            failed = true;
            break;
        }
        if (std::find(devices.begin(), devices.end(), st.st_dev) != devices.end())
            continue;
        devices.push_back(st.st_dev);
        if (sys::syncfs(fd) != 0) {
            failed = true;
            break;
        }
    }
    if (!failed)
        return errors;
    // A failure tells only that some write of the file system failed: find
    // out which of ours did.
    for (size_t i = 0; i < fds.size(); ++i)
        if (sys::fsync(fds[i]) != 0)
            errors[i] = errno;
    return errors;
}

QString SaveContents(const QString &path, const QByteArray &content, const std::function<QString(const QString &reason)> &writeError)
{
    const auto failed = [&](const QString &reason) { return writeError ? writeError(reason) : FileErrorMessage(reason, path); };
    QString folder = GetFolderName(path);
    if (folder.isEmpty())
        folder = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QStringLiteral(".");
    // Deleted by its destructor on every way out but the commit.
    TemporaryFile temp(folder, TemporaryFile::Unpredictable {});
    if (!temp.open())
        return FileErrorMessage(temp.errorString(), path);
    if (!temp.write(content.constData(), content.size()) || !temp.close())
        return failed(temp.errorString());
    CommitContext context;
    const CommitResult commit = CommitToPath(temp, path, context);
    if (!commit.ok())
        // Putting the complete file in place is the last step of writing it.
        return commit.error ? failed(SystemErrorText(commit.error)) : commit.message;
    return QString();
}

} // namespace perrox
