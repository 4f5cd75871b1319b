#include "processfiles.h"

#include "arguments/notation.h"
#include "base/blanks.h"
#include "base/messagesink.h"
#include "base/workers.h"
#include "commit/rewritejournal.h"
#include "commit/safereplace.h"
#include "commit/statefolder.h"
#include "commit/temporaryfile.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <random>
#include <semaphore>
#include <sys/resource.h>
#include <sys/stat.h>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

// A file of a file system the kernel makes (/proc, /sys and their kind):
// writing to it changes no file but the kernel's state, so it is counted
// but never rewritten, and nothing is recorded for it.
QString KernelFileMessage(const QString &path)
{
    return QLatin1String("The file ") + path + QLatin1String(" is made by the kernel, as the files of /proc and /sys are; it was counted but left as it is.");
}

// The output of one row: a temporary file in the run's own folder. The
// folder is made with the first temporary file of the run, so a run that
// finds nothing to replace writes nothing at all.
class RowOutput : public ReplaceOutput
{
public:
    RowOutput(RunFolder &folder, std::mt19937 &rng)
        : m_folder(folder)
        , m_rng(rng)
    { }

    bool open() override
    {
        if (m_folder.fd() < 0 && !m_folder.create(GetTempFolder())) {
            m_folderFailed = true;
            return false;
        }
        m_temp = std::make_unique<TemporaryFile>(m_folder.fd(), m_folder.path(), m_rng);
        return m_temp->open();
    }
    bool write(const char *data, qint64 len) override
    {
        m_written += len;
        return m_temp->write(data, len);
    }
    bool close() override { return !m_temp || m_temp->close(); }
    QString path() const override { return m_folderFailed ? m_folder.path() : m_temp ? m_temp->path() : QString(); }
    QString errorString() const override { return m_folderFailed ? SystemErrorText(m_folder.error()) : m_temp ? m_temp->errorString() : QString(); }

    // The run's temporary folder could not be made.
    bool folderFailed() const { return m_folderFailed; }
    qint64 written() const { return m_written; }
    std::unique_ptr<TemporaryFile> take() { return std::move(m_temp); }

private:
    RunFolder &m_folder;
    std::mt19937 &m_rng;
    std::unique_ptr<TemporaryFile> m_temp;
    qint64 m_written = 0;
    bool m_folderFailed = false;
};

// The SHA-256 of a complete result, for the journal, computed on one of the
// run's workers while the run reads the next files (or at once where there
// is no worker); the result's descriptor must stay open until it is done,
// which the destructor waits for.
class BackgroundHash
{
public:
    BackgroundHash(Workers &workers, int fd)
        : m_job(std::make_shared<Job>())
    {
        workers.run([job = m_job, fd] {
            job->hash = HashContents(fd);
            job->done.release();
        });
    }
    ~BackgroundHash() { wait(); }
    BackgroundHash(const BackgroundHash &) = delete;
    BackgroundHash &operator=(const BackgroundHash &) = delete;

    QByteArray result()
    {
        wait();
        return m_job->hash;
    }

private:
    struct Job
    {
        QByteArray hash;
        std::binary_semaphore done {0};
    };
    void wait()
    {
        if (!m_waited)
            m_job->done.acquire();
        m_waited = true;
    }
    std::shared_ptr<Job> m_job;
    bool m_waited = false;
};

// The results of a Replace or Replace As run that wait, complete, until the
// results of many files reach the disk in one flush; then they are put in
// place in row order. What the run shows meanwhile (the Count cells) waits
// with them, and every message or question flushes them first (see
// FlushingSink), so cells, messages and the row where a run ends come out
// exactly as if each result had been put in place as soon as it was made.
class CommitBatch
{
public:
    // journal: where old contents are kept, or null.
    CommitBatch(RunHost &host, CommitContext &context, RunJournal *journal)
        : m_host(host)
        , m_context(context)
        , m_journal(journal)
    {
        // Every waiting result holds a few descriptors; stay well inside the
        // limit of open files.
        struct rlimit limit = {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            m_maxResults = limit.rlim_cur <= 64 ? 1 : int(std::clamp<rlim_t>((limit.rlim_cur - 64) / 6, 1, kMaxResults));
    }

    bool empty() const { return m_results == 0; }
    // A result could not be put in place: the run ends.
    bool failed() const { return m_failed; }

    // The row's Count cell, now or after the results before it.
    void showCount(int row, const QString &cell)
    {
        if (empty()) {
            m_host.setRowCount(row, cell);
            m_host.pumpEvents();
            return;
        }
        m_steps.push_back({row, cell, {}});
    }

    // A result to put in place after the row's cell. A result with a message
    // is refused when its turn comes.
    void add(
        int row, const QString &cell, std::unique_ptr<OpenedFile> file, RowOutput &output, const ReplaceAsTarget *target, const QString &refusal = QString())
    {
        m_bytes += output.written();
        auto p = std::make_unique<Pending>();
        p->file = std::move(file);
        p->undo = {m_journal, {}, output.written()};
        p->temp = output.take();
        if (m_journal) {
            p->hash = std::make_unique<BackgroundHash>(m_hashers, p->temp->fd());
            // What the journal keeps of a replaced file is its content now.
            if (!target && refusal.isEmpty())
                p->keptHash = std::make_unique<BackgroundHash>(m_hashers, p->file->fd());
        }
        p->refusal = refusal;
        if (target) {
            p->target = *target;
            p->messagePath = target->path;
            if (target->kind == ReplaceAsTarget::Kind::Regular)
                m_files.push_back(target->status);
            m_targetNames.push_back(target->name);
        } else {
            p->messagePath = p->file->path();
            m_files.push_back(p->file->status());
        }
        if (empty())
            m_since = std::chrono::steady_clock::now();
        ++m_results;
        m_steps.push_back({row, cell, std::move(p)});
    }

    bool full() const { return m_results >= m_maxResults || m_bytes >= kMaxBytes || (!empty() && std::chrono::steady_clock::now() - m_since >= kMaxWait); }

    // Whether a waiting result replaces this file.
    bool replaces(const struct stat &st) const
    {
        return std::any_of(m_files.begin(), m_files.end(), [&](const struct stat &f) { return SameFile(f, st); });
    }
    // Whether a waiting Replace As result goes to this name.
    bool writesTo(const QByteArray &name) const { return std::find(m_targetNames.begin(), m_targetNames.end(), name) != m_targetNames.end(); }

    // Brings every waiting result to the disk and puts it in place, in row
    // order with the cells. False when one could not be put in place: the
    // later ones are dropped and the run ends.
    bool flush(RunResult &result)
    {
        if (m_failed)
            return false;
        // Every check and copy before the flush ...
        std::vector<int> rows;
        std::vector<int> fds;
        std::vector<Pending *> flushed;
        for (Step &step : m_steps) {
            Pending *p = step.pending.get();
            if (!p)
                continue;
            rows.push_back(step.row);
            if (!p->refusal.isEmpty())
                continue;
            if (!p->target.name.isEmpty() && !p->file->unchanged()) {
                // the result was built from bytes the source no longer holds
                p->refusal = ChangedByAnotherProgramMessage(p->file->path());
                continue;
            }
            if (p->hash)
                p->undo.hash = p->hash->result();
            if (p->keptHash)
                p->undo.keptHash = p->keptHash->result();
            p->commit = p->target.name.isEmpty() ? MakeReplaceCommit(*p->temp, *p->file, m_context, &p->undo)
                                                 : MakeReplaceAsCommit(*p->temp, p->target, m_context, &p->undo, p->file.get());
            const int fd = p->commit->prepare();
            if (fd >= 0) {
                fds.push_back(fd);
                flushed.push_back(p);
            }
        }
        // ... one flush for all, the journal's entries and kept contents
        // with them ...
        int journalError = 0;
        const std::vector<int> journalFds = m_journal ? m_journal->syncFds(journalError) : std::vector<int>();
        const size_t results = fds.size();
        fds.insert(fds.end(), journalFds.begin(), journalFds.end());
        if (!fds.empty()) {
            const std::vector<int> errors = FlushTogether(fds);
            for (size_t i = 0; i < results; ++i)
                flushed[i]->flushError = errors[i];
            const auto failed = std::find_if(errors.begin() + qsizetype(results), errors.end(), [](int e) { return e != 0; });
            if (!journalError && failed != errors.end())
                journalError = *failed;
        }
        if (journalError) {
            // No file may be touched whose old content is not safely kept.
            for (Step &step : m_steps)
                if (step.pending && step.pending->undo.entry > 0)
                    step.pending->keepError = CannotKeepMessage(journalError, RunJournalFolder());
        }
        m_host.resultsFlushed(rows);
        // ... and each put in place after its cell, in row order.
        MessageSink &messages = m_host.messages();
        std::vector<Step> steps = std::move(m_steps);
        clear();
        for (Step &step : steps) {
            m_host.setRowCount(step.row, step.cell);
            m_host.pumpEvents();
            Pending *p = step.pending.get();
            if (!p)
                continue;
            m_host.beforeCommit(step.row);
            CommitResult commit;
            if (!p->refusal.isEmpty())
                commit = {CommitResult::Status::Refused, p->refusal};
            else if (!p->keepError.isEmpty())
                commit = {CommitResult::Status::Failed, p->keepError};
            else if (p->flushError != 0)
                commit = {CommitResult::Status::Failed, FileErrorMessage(p->flushError, p->messagePath), p->flushError};
            else
                commit = p->commit->finish(true);
            if (m_journal && p->undo.entry > 0) {
                if (commit.ok())
                    m_journal->done(p->undo.entry, commit.result);
                else
                    m_journal->skipped(p->undo.entry);
            }
            RowResult &row = result.rows[size_t(step.row)];
            if (commit.ok()) {
                row.state = RowState::Replaced;
                if (p->target.name.isEmpty())
                    ::stat(NativePath(p->file->path()).constData(), &row.status);
                else
                    row.status = p->file->status();
            } else {
                row.state = RowState::Failed;
                row.error = commit.message;
            }
            if (!commit.ok()) {
                messages.warn(commit.message);
                ++result.failedFiles;
                if (commit.status == CommitResult::Status::Failed) {
                    m_failed = true;
                    result.end = RunResult::End::CopyFailed;
                    // The later results are deleted with steps; what was
                    // kept for them goes.
                    for (const Step &later : steps)
                        if (m_journal && later.pending && later.pending->undo.entry > 0 && &later.pending->undo != &p->undo && !later.pending->settled)
                            m_journal->skipped(later.pending->undo.entry);
                    return false;
                }
            }
            p->settled = true;
        }
        return true;
    }

private:
    struct Pending
    {
        std::unique_ptr<OpenedFile> file;
        std::unique_ptr<TemporaryFile> temp;
        std::unique_ptr<BackgroundHash> hash; // declared after temp: done before its file closes
        std::unique_ptr<BackgroundHash> keptHash; // of the file's content before the change, after file
        ReplaceAsTarget target; // Replace As only
        QString messagePath;
        QString refusal;
        std::unique_ptr<ResultCommit> commit;
        CommitUndo undo;
        QString keepError; // the journal could not be brought to the disk
        int flushError = 0;
        bool settled = false; // its outcome is known (and recorded)
    };
    struct Step
    {
        int row;
        QString cell;
        std::unique_ptr<Pending> pending;
    };

    void clear()
    {
        m_steps.clear();
        m_files.clear();
        m_targetNames.clear();
        m_results = 0;
        m_bytes = 0;
    }

    // A flush costs about one fsync; these keep it to a small part of the
    // run while bounding what waits.
    static constexpr int kMaxResults = 512;
    static constexpr qint64 kMaxBytes = qint64(64) << 20;
    static constexpr std::chrono::milliseconds kMaxWait {500};

    RunHost &m_host;
    CommitContext &m_context;
    RunJournal *m_journal;
    // The run's own, so that it never waits on threads of another run or
    // of a parent process it was forked from; declared before the steps,
    // whose hashes it runs, so that it outlives them.
    Workers m_hashers {Workers::spareThreads()};
    std::vector<Step> m_steps;
    std::vector<struct stat> m_files;
    std::vector<QByteArray> m_targetNames;
    int m_results = 0;
    int m_maxResults = kMaxResults;
    qint64 m_bytes = 0;
    std::chrono::steady_clock::time_point m_since;
    bool m_failed = false;
};

// The run's messages: each one first puts the waiting results in place, so
// that it comes after theirs. Should that fail, the run ends there and the
// message is not shown.
class FlushingSink : public MessageSink
{
public:
    FlushingSink(MessageSink &sink, CommitBatch &batch, RunResult &result)
        : m_sink(sink)
        , m_batch(batch)
        , m_result(result)
    { }

    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        if (!m_batch.flush(m_result))
            return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
        return m_sink.show(text, icon, buttons, title);
    }
    void beep() override { m_sink.beep(); }
    void setBusy(bool busy) override { m_sink.setBusy(busy); }

private:
    MessageSink &m_sink;
    CommitBatch &m_batch;
    RunResult &m_result;
};

} // namespace

QString AdjustRight(qint64 n, int fldWidth)
{
    return QString::number(n).rightJustified(fldWidth, QLatin1Char(' '));
}

QString GetDefaultTempFolder()
{
    const QString folder = QStringLiteral("/tmp");
    if (!FolderExists(folder))
        QDir().mkpath(folder);
    return folder;
}

QString GetTempFolder()
{
    const char *name = qEnvironmentVariableIsSet("TEMP") ? "TEMP" : "TMPDIR";
    const QString value = DecodeNativePath(qgetenv(name));
    if (value.size() > 2) {
        QString folder = TrimBlanks(value.section(QLatin1Char(';'), 0, 0));
        if (folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
        if (FolderExists(folder))
            return folder;
    }
    return GetDefaultTempFolder();
}

QString FinishStoppedRuns()
{
    QStringList messages;
    if (const QString report = RecoverInterruptedRewrites(); !report.isEmpty())
        messages.append(report);
    // One word about a state folder that cannot be trusted is enough.
    if (const QString report = RecoverInterruptedRuns(); !report.isEmpty() && !messages.contains(report))
        messages.append(report);
    if (const QString report = RemoveDeadRunFolders(GetTempFolder()); !report.isEmpty())
        messages.append(report);
    return messages.join(kCrLf + kCrLf);
}

double GetTotalBytes(RunHost &host, std::vector<struct stat> *seen)
{
    host.setStatusText(QStringLiteral("Calculating the number of bytes to process."));
    double total = 0;
    {
        BusyPointer busy(host.messages());
        FolderCache folders;
        const int rows = host.rowCount();
        if (seen)
            seen->assign(size_t(rows), {});
        for (int row = 0; row < rows; ++row) {
            const QByteArray path = NativePath(host.rowPath(row));
            struct stat st;
            const bool found = folders.stat(path, &st, false) == 0;
            if (found && seen)
                (*seen)[size_t(row)] = st;
            // The size is that of the file a link leads to.
            if (found && (!S_ISLNK(st.st_mode) || folders.stat(path, &st, true) == 0) && !S_ISDIR(st.st_mode))
                total += double(st.st_size);
            host.pumpEvents();
        }
    }
    host.setStatusText(host.fileListStatusText());
    return total;
}

namespace {

// One side of an argument as bytes, after its checks; nothing once a check
// has shown its message. An empty replace side deletes what is found.
std::optional<QByteArray> SideBytes(const QString &text, Notation notation, bool findSide, MessageSink &messages)
{
    if (!ValidateArgument(text, notation, messages))
        return std::nullopt;
    if (!findSide && text.isEmpty())
        return QByteArray();
    const BytesResult converted = ToByteSequence(text, notation);
    if (!converted.ok()) {
        messages.warn(converted.error);
        return std::nullopt;
    }
    if (converted.bytes.isEmpty()) {
        messages.warn(QLatin1String("Cannot find a valid value in the following ")
            + (findSide ? QLatin1String("'Find what' field: ") : QLatin1String("'Replace with' field.")) + kCrLf + text + kCrLf + kCrLf
            + QLatin1String("Correct the ") + (findSide ? QLatin1String("find") : QLatin1String("replace")) + QLatin1String(" argument and try again."));
        return std::nullopt;
    }
    return converted.bytes;
}

} // namespace

std::optional<ArgumentTables> BuildArgumentTables(const FindReplaceArguments &arguments, MessageSink &messages)
{
    if (arguments.isEmpty()) {
        messages.warn(QLatin1String("Cannot find any Find&Replace arguments.") + kCrLf + kCrLf + QLatin1String("Enter Find&Replace arguments and try again."));
        return std::nullopt;
    }
    std::vector<QByteArray> finds;
    std::vector<QByteArray> replaces;
    for (const FindReplaceArgument &a : arguments) {
        std::optional<QByteArray> find = SideBytes(a.findText, a.findNotation, true, messages);
        if (!find)
            return std::nullopt;
        std::optional<QByteArray> replace = SideBytes(a.replaceText, a.replaceNotation, false, messages);
        if (!replace)
            return std::nullopt;
        finds.push_back(std::move(*find));
        replaces.push_back(std::move(*replace));
    }
    return ArgumentTables(std::move(finds), std::move(replaces));
}

RunResult ProcessFiles(RunMode mode, const FindReplaceArguments &arguments, ReplaceAsSettings &settings, EngineState &state, RunHost &host,
    const UndoSettings &undo, bool keepTimes)
{
    using End = RunResult::End;
    RunResult result;
    MessageSink &messages = host.messages();

    if (host.rowCount() == 0)
        return result;

    const std::optional<ArgumentTables> tables = BuildArgumentTables(arguments, messages);
    if (!tables) {
        result.end = End::ArgumentError;
        return result;
    }

    result.finds = tables->finds.finds();
    result.replaces = tables->replaces;

    if (mode == RunMode::ReplaceAs) {
        const bool chosen = host.chooseReplaceAsTarget(settings);
        host.pumpEvents();
        if (!chosen) {
            result.end = End::TargetCancelled;
            return result;
        }
    }

    // Replace As writes into this one folder, whatever happens to its path.
    FileDescriptor outFolder;
    if (mode == RunMode::ReplaceAs) {
        outFolder = FileDescriptor(::open(NativePath(settings.outpath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (outFolder.get() < 0) {
            messages.warn(FileErrorMessage(errno, settings.outpath));
            result.end = End::SetupFailed;
            return result;
        }
    }
    // What stands at each row's path, to open it with fewer steps.
    std::vector<struct stat> seen;
    const double total = GetTotalBytes(host, &seen);

    host.beginRun(mode == RunMode::Count ? QStringLiteral("Counting...") : QStringLiteral("Replacing..."), total);
    host.pumpEvents();

    state.dblActVal = 0;
    std::mt19937 rng(std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()));
    CommitContext commitContext {[&host] { host.pumpEvents(); }, state.ioChunk, keepTimes};
    // Every temporary file of the run lives in a folder of the run's own.
    RunFolder runFolder;
    FolderCache folders;
    std::optional<RunJournal> journal;
    if (undo.keep && mode != RunMode::Count) {
        if (!StateFolder().isEmpty())
            journal.emplace(mode == RunMode::ReplaceAs ? JournalMode::ReplaceAs : JournalMode::Replace, undo);
        else
            messages.warn(NoStateFolderMessage());
    }
    CommitBatch batch(host, commitContext, journal ? &*journal : nullptr);
    FlushingSink sink(messages, batch, result);

    result.end = End::Completed;
    const int rows = host.rowCount();
    result.rows.resize(size_t(rows));
    for (int row = 0; row < rows; ++row) {
        const QString source = host.rowPath(row);
        QString target;
        ReplaceAsTarget slot;
        if (mode == RunMode::ReplaceAs) {
            const QString targetName = OutputFileName(source, settings.outprefix, settings.outsuffix);
            target = OutputPath(source, settings.outpath, settings.outprefix, settings.outsuffix);
            host.showFile(source, QLatin1String("to ") + target);
            // An earlier result going to the same name decides what stands there.
            if (batch.writesTo(NativePath(targetName)) && !batch.flush(result))
                break;
            // What stands at the target now, links not followed: only a
            // regular file is a file that exists here, and only it can be
            // overwritten.
            slot = InspectTarget(outFolder.get(), NativePath(targetName), target);
            if (settings.outoverwrite != 1 && slot.kind == ReplaceAsTarget::Kind::Regular) {
                const QString question
                    = QLatin1String("The file ") + target + QLatin1String(" already exists.") + kCrLf + kCrLf + QLatin1String("Do you want to overwrite it?");
                const MessageSink::Answer answer
                    = sink.show(question, MessageSink::Icon::Exclamation, MessageSink::Buttons::YesNo, MessageSink::programTitle());
                if (batch.failed())
                    break;
                if (answer != MessageSink::Answer::Yes) {
                    host.pumpEvents();
                    result.end = End::StoppedAtNo;
                    break;
                }
            }
        } else {
            host.showFile(source, QString());
        }

        auto file = std::make_unique<OpenedFile>();
        QString reason = file->open(source, folders, &seen[size_t(row)]);
        // A file that a waiting result replaces, or creates, is read once
        // that result is in place.
        if (!batch.empty() && (reason.isEmpty() ? batch.replaces(file->status()) : file->error() == ENOENT)) {
            if (!batch.flush(result))
                break;
            file = std::make_unique<OpenedFile>();
            reason = file->open(source, folders, &seen[size_t(row)]);
        }
        RowOutput output(runFolder, rng);
        DiscardedOutput discarded;
        const ReplaceOutcome outcome = reason.isEmpty()
            ? ReplaceInFile(*file, mode == RunMode::Count ? static_cast<ReplaceOutput &>(discarded) : output, *tables, state, host)
            : ReplaceOutcome {0, ReplaceOutcome::Status::Failed, FileErrorMessage(reason, source), {}};
        // Shown through the run's sink, so it comes after the waiting results.
        if (!outcome.error.isEmpty())
            sink.warn(outcome.error);
        if (batch.failed())
            break;
        if (output.folderFailed()) {
            result.end = End::SetupFailed;
            break;
        }
        if (host.cancelRequested()) {
            result.end = End::Cancelled;
            break;
        }
        RowResult &rowResult = result.rows[size_t(row)];
        if (outcome.status == ReplaceOutcome::Status::Failed) {
            ++result.failedFiles;
            rowResult.state = RowState::Failed;
            rowResult.error = outcome.error;
        } else {
            rowResult.count = outcome.count;
            rowResult.perPair = outcome.perPair;
            rowResult.status = file->status();
            if (mode == RunMode::Count)
                rowResult.state = RowState::Counted;
            else if (outcome.count < 1)
                rowResult.state = RowState::Unchanged;
            // else: Replaced or Failed once its result's turn comes
        }

        const QString cell = AdjustRight(outcome.count, 8);
        if (mode == RunMode::Count || outcome.count < 1) {
            batch.showCount(row, cell);
        } else {
            const bool kernel = mode == RunMode::Replace && IsKernelFile(file->fd());
            batch.add(row, cell, std::move(file), output, mode == RunMode::ReplaceAs ? &slot : nullptr, kernel ? KernelFileMessage(source) : QString());
        }
        if (batch.full() && !batch.flush(result))
            break;
    }
    batch.flush(result);
    if (journal)
        result.journalRun = journal->finish();
    // A result dropped with the end of the run counts nothing.
    for (RowResult &row : result.rows) {
        if (row.state == RowState::NotProcessed)
            row = RowResult();
        row.perPair.resize(size_t(tables->finds.size()), 0);
    }

    host.endRun();
    return result;
}

} // namespace perrox
