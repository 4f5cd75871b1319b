#include "undorun.h"

#include "commit/filecopy.h"
#include "commit/resultbatch.h"
#include "commit/safereplace.h"
#include "commit/systemcalls.h"
#include "commit/temporaryfile.h"
#include "engine/processfiles.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QLocale>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace perrox {

namespace {

using Kind = JournalEntry::Kind;

QString changedSinceMessage(const QString &path)
{
    return QLatin1String("The file ") + path + QLatin1String(" was changed after the run; it was left as it is.");
}

QString goneMessage(const QString &path)
{
    return QLatin1String("The file ") + path + QLatin1String(" is no longer there; nothing was restored.");
}

QString standsThereMessage(const QString &path)
{
    return QLatin1String("Another file stands at ") + path + QLatin1String(" now; it was left as it is.");
}

QString keptCopyGoneMessage(const QString &path, int error)
{
    return QLatin1String("The copy kept of ") + path + QLatin1String(" cannot be read (") + SystemErrorText(error)
        + QLatin1String("); the file was left as it is.");
}

QString keptCopyChangedMessage(const QString &path)
{
    return QLatin1String("The copy kept of ") + path + QLatin1String(" is not what the run kept; the file was left as it is.");
}

QString damagedRecordMessage(const JournalRun &run)
{
    QStringList lines;
    for (int line : run.damagedLines)
        lines.append(QString::number(line));
    return QLatin1String("The record of the run ") + run.id + QLatin1String(" cannot be read at ")
        + (lines.size() == 1 ? QLatin1String("line ") : QLatin1String("lines ")) + lines.join(QLatin1String(", "))
        + QLatin1String("; what it names there was left as it is.");
}

// A commit made already, for a ResultBatch.
class PreparedResult : public BatchedResult
{
public:
    PreparedResult(std::unique_ptr<ResultCommit> commit, CommitUndo &undo)
        : m_commit(std::move(commit))
        , m_undo(undo)
    { }
    std::unique_ptr<ResultCommit> makeCommit(QString &) override { return std::move(m_commit); }
    CommitUndo *undo() override { return &m_undo; }
    QString messagePath() const override { return DecodeNativePath(m_undo.restore ? m_undo.restore->path : QByteArray()); }

private:
    std::unique_ptr<ResultCommit> m_commit;
    CommitUndo &m_undo;
};

// Undoes the entries of one run, newest first, as a run of its own.
class Undoer
{
public:
    Undoer(const JournalRun &run, const UndoSettings &settings, UndoOutcome &outcome)
        : m_run(run)
        , m_outcome(outcome)
        , m_rng(std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()))
        , m_context {}
    {
        if (settings.keep)
            m_journal.emplace(JournalMode::Undo, settings, run.id);
    }

    // False when an entry failed in a way that ends the undo.
    bool undo(const JournalEntry &e)
    {
        const QString path = DecodeNativePath(e.path);
        // An entry that never got its "done" is one whose file may not have
        // been changed at all: unless it holds what the run wrote, it is
        // passed over without a word.
        const bool certain = e.state == JournalEntry::State::Done;
        auto leave = [&](const QString &message) {
            if (certain)
                m_outcome.leftAlone.append(message);
            return true;
        };
        if (e.kind == Kind::Deleted)
            return create(e, path, leave);

        OpenedFile current;
        if (const QString reason = current.open(path); !reason.isEmpty())
            return leave(current.error() == ENOENT ? goneMessage(path) : FileErrorMessage(reason, path));
        // Only the very file the run left there: a link put at the path
        // since then leads elsewhere, whatever that file holds. Where the
        // record does not name the file, at least no link at the name itself
        // is followed.
        const auto restoredHere = m_restored.find(e.path);
        const FileIdentity expected = restoredHere != m_restored.end() ? restoredHere->second : e.result;
        if (expected.known ? !(IdentityOf(current.status()) == expected) : current.linkFollowed())
            return leave(changedSinceMessage(path));
        qint64 size = -1;
        if (HashLike(current.fd(), e.hash, &size) != e.hash || size != e.size || !current.stillNamed())
            return leave(changedSinceMessage(path));
        if (e.kind == Kind::Created)
            return remove(current, path, e);

        return restore(e, path, [&](TemporaryFile &temp, CommitUndo &undo) { return MakeReplaceCommit(temp, current, m_context, &undo); });
    }

    void finish()
    {
        if (m_journal)
            m_outcome.undoRunId = m_journal->finish();
    }

private:
    RunJournal *journal() { return m_journal ? &*m_journal : nullptr; }

    // A temporary file holding the entry's kept content, with its hash in
    // undo; null when it cannot be made (reported).
    std::unique_ptr<TemporaryFile> keptContent(const JournalEntry &e, const QString &path, CommitUndo &undo)
    {
        // A regular file of the size recorded, or nothing: a pipe or a
        // device put in its place must not make the undo wait or read
        // without end.
        const FileDescriptor kept(OpenKept(m_run.id, e.kept));
        struct stat st;
        if (kept.get() < 0 || ::fstat(kept.get(), &st) != 0) {
            m_outcome.leftAlone.append(keptCopyGoneMessage(path, errno));
            return nullptr;
        }
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size != e.keptBytes) {
            m_outcome.leftAlone.append(keptCopyChangedMessage(path));
            return nullptr;
        }
        undo.hash = HashLike(kept.get(), e.keptHash, &undo.size);
        if (!e.keptHash.isEmpty() && undo.hash != e.keptHash) {
            m_outcome.leftAlone.append(keptCopyChangedMessage(path));
            return nullptr;
        }
        if (m_folder.fd() < 0 && !m_folder.create(GetTempFolder())) {
            fail(FileErrorMessage(m_folder.error(), m_folder.path()));
            return nullptr;
        }
        auto temp = std::make_unique<TemporaryFile>(m_folder.fd(), m_folder.path(), m_rng);
        int error = temp->open() ? CopyContents(kept.get(), temp->fd()) : temp->error();
        if (!error && !temp->close())
            error = temp->error();
        if (error) {
            fail(FileErrorMessage(error, temp->path()));
            return nullptr;
        }
        return temp;
    }

    // Puts one restored file in place, as a run puts its results.
    bool commit(std::unique_ptr<ResultCommit> commit, CommitUndo &undo)
    {
        ResultBatch batch(journal());
        batch.add(std::make_unique<PreparedResult>(std::move(commit), undo));
        CommitResult placed;
        ResultBatch::Steps steps;
        steps.placed = [&](size_t, BatchedResult &, const CommitResult &result) {
            placed = result;
            return true;
        };
        batch.place(steps);
        if (placed.ok()) {
            // Where the run wrote this name more than once, the file put
            // here now holds what its earlier entry wrote.
            if (undo.restore)
                m_restored[undo.restore->path] = placed.result;
            ++m_outcome.restored;
            if (undo.restore)
                m_outcome.restoredPaths.push_back(undo.restore->path);
            return true;
        }
        if (placed.status == CommitResult::Status::Refused) {
            m_outcome.leftAlone.append(placed.message);
            return true;
        }
        return fail(placed.message);
    }

    // A file the run created goes, kept in the Undo's own record.
    bool remove(OpenedFile &current, const QString &path, const JournalEntry &e)
    {
        int entry = -1;
        if (m_journal) {
            const struct stat before = current.status();
            entry = m_journal->keep(Kind::Deleted, current.fd(), before, e.path, true, e.hash, e.size, e.hash);
            if (entry < 0)
                return fail(m_journal->error() + QLatin1String("\r\n\r\nThe file ") + path + QLatin1String(" was left as it is."));
            int error = 0;
            for (int fd : m_journal->syncFds(error))
                if (!error && sys::fsync(fd) != 0)
                    error = errno;
            if (error) {
                m_journal->skipped(entry);
                return fail(CannotKeepMessage(error, RunJournalFolder()));
            }
        }
        struct stat now;
        const bool same = ::fstat(current.fd(), &now) == 0 && SameContent(now, current.status()) && current.stillNamed();
        if (!same || sys::unlinkat(current.folderFd(), current.name().constData(), 0) != 0) {
            const int error = errno;
            if (m_journal)
                m_journal->skipped(entry);
            if (!same) {
                m_outcome.leftAlone.append(changedSinceMessage(path));
                return true;
            }
            m_outcome.leftAlone.append(FileErrorMessage(error, path));
            return true;
        }
        sys::fsync(current.folderFd());
        if (m_journal)
            m_journal->done(entry);
        ++m_outcome.restored;
        m_outcome.restoredPaths.push_back(e.path);
        return true;
    }

    // A file an Undo deleted comes back, where nothing stands now.
    template<typename Leave> bool create(const JournalEntry &e, const QString &path, Leave leave)
    {
        const FileDescriptor folder(::open(NativePath(GetFolderName(path)).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0)
            return leave(FileErrorMessage(errno, GetFolderName(path)));
        const ReplaceAsTarget target = InspectTarget(folder.get(), NativePath(GetFileName(path)), path);
        if (target.kind != ReplaceAsTarget::Kind::Missing)
            return leave(target.kind == ReplaceAsTarget::Kind::Unknown ? FileErrorMessage(target.error, path) : standsThereMessage(path));
        return restore(e, path, [&](TemporaryFile &temp, CommitUndo &undo) { return MakeReplaceAsCommit(temp, target, m_context, &undo); });
    }

    // Puts the entry's kept content in place through the commit made by
    // makeCommit, with the old file's status.
    template<typename MakeCommit> bool restore(const JournalEntry &e, const QString &path, MakeCommit makeCommit)
    {
        // The file holds what the run wrote (checked before), and that is
        // what this Undo keeps of it.
        CommitUndo undo {journal(), {}, 0, -1, &e, e.hash};
        std::unique_ptr<TemporaryFile> temp = keptContent(e, path, undo);
        if (!temp)
            return m_outcome.end != UndoOutcome::End::Failed;
        return commit(makeCommit(*temp, undo), undo);
    }

    bool fail(const QString &message)
    {
        m_outcome.end = UndoOutcome::End::Failed;
        m_outcome.error = message;
        return false;
    }

    const JournalRun &m_run;
    UndoOutcome &m_outcome;
    std::mt19937 m_rng;
    CommitContext m_context;
    RunFolder m_folder;
    std::optional<RunJournal> m_journal;
    std::map<QByteArray, FileIdentity> m_restored; // by path: the file this Undo put there
};

} // namespace

std::optional<JournalRun> LastUndoableRun()
{
    for (JournalRun &run : ListRuns())
        if (!run.running && run.undoneBy.isEmpty() && run.changedFiles() > 0)
            return std::move(run);
    return std::nullopt;
}

UndoOutcome UndoRun(const QString &id, const UndoSettings &settings)
{
    using End = UndoOutcome::End;
    UndoOutcome outcome;
    if (id.isEmpty()) {
        std::optional<JournalRun> last = LastUndoableRun();
        if (!last)
            return outcome;
        outcome.run = std::move(*last);
    } else if (!LoadRun(id, outcome.run)) {
        outcome.end = End::UnknownRun;
        return outcome;
    }
    if (!outcome.run.undoneBy.isEmpty()) {
        outcome.end = End::AlreadyUndone;
        return outcome;
    }
    RunLock lock;
    // Read again under the lock: another process may have undone it meanwhile.
    if (outcome.run.running || !lock.lock(outcome.run.id) || !LoadRun(outcome.run.id, outcome.run)) {
        outcome.end = End::InUse;
        return outcome;
    }
    if (!outcome.run.undoneBy.isEmpty()) {
        outcome.end = End::AlreadyUndone;
        return outcome;
    }
    outcome.end = End::Completed;
    if (!outcome.run.damagedLines.empty())
        outcome.leftAlone.append(damagedRecordMessage(outcome.run));
    Undoer undoer(outcome.run, settings, outcome);
    const std::vector<JournalEntry> &entries = outcome.run.entries;
    // Newest first: where a run wrote one name twice, the older content
    // comes back last.
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
        if (e->state != JournalEntry::State::Skipped && !undoer.undo(*e))
            break;
    undoer.finish();
    // An undo cut short by a failure can be made again, as one cut short by a kill.
    if (outcome.end != End::Failed)
        lock.markUndone(outcome.undoRunId.isEmpty() ? QStringLiteral("-") : outcome.undoRunId);
    return outcome;
}

QString FilesText(int n)
{
    return n == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(n);
}

QString UndoRefusalText(const UndoOutcome &outcome, const QString &id)
{
    switch (outcome.end) {
    case UndoOutcome::End::NothingToUndo:
        return QStringLiteral("There is nothing to undo.");
    case UndoOutcome::End::UnknownRun:
        return QLatin1String("There is no run ") + id + QLatin1String(" in the journal.");
    case UndoOutcome::End::AlreadyUndone:
        return QLatin1String("The run ") + outcome.run.id + QLatin1String(" was undone already.");
    case UndoOutcome::End::InUse:
        return QLatin1String("The run ") + outcome.run.id + QLatin1String(" is in use by another Perrox; try again when it has finished.");
    default:
        return QString();
    }
}

QString UndoSummaryText(const UndoOutcome &outcome)
{
    const int files = outcome.run.changedFiles();
    return QStringLiteral("%1 of %2 %3 restored.").arg(outcome.restored).arg(files).arg(files == 1 ? QLatin1String("file was") : QLatin1String("files were"));
}

QString HistoryLine(const JournalRun &run)
{
    return QStringLiteral("%1  %2  %3  %4  %5 bytes kept%6")
        .arg(run.id.leftJustified(21), run.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), JournalModeName(run.mode).leftJustified(10))
        .arg(FilesText(run.changedFiles()), 12)
        .arg(run.keptBytes(), 12)
        .arg(run.undoneBy.isEmpty() ? QString() : QStringLiteral("  undone"));
}

QString UndoCommandText(const JournalRun &run)
{
    return QLatin1String("&Undo ") + JournalModeName(run.mode) + QLatin1String(" (") + FilesText(run.changedFiles()) + QLatin1Char(')');
}

} // namespace perrox
