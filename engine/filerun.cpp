#include "filerun.h"

#include "base/messagesink.h"
#include "base/workers.h"
#include "commit/resultbatch.h"
#include "commit/runjournal.h"
#include "commit/safereplace.h"
#include "commit/statefolder.h"
#include "commit/targetfolders.h"
#include "commit/temporaryfile.h"
#include "commit/temporarypool.h"
#include "engine/listedoccurrences.h"
#include "engine/progressscale.h"
#include "engine/readahead.h"
#include "engine/runreport.h"
#include "engine/targetplan.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <optional>
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
    // pool: made ahead from the run's second temporary file on, poolFiles
    // at a time where descriptors allow (else none).
    RowOutput(RunFolder &folder, std::mt19937 &rng, std::unique_ptr<TemporaryPool> &pool, size_t poolFiles)
        : m_folder(folder)
        , m_rng(rng)
        , m_pool(pool)
        , m_poolFiles(poolFiles)
    { }

    bool open() override
    {
        const bool first = m_folder.fd() < 0;
        if (first && !m_folder.create(GetTempFolder())) {
            m_folderFailed = true;
            return false;
        }
        if (!first && !m_pool && m_poolFiles > 0)
            m_pool = std::make_unique<TemporaryPool>(m_folder.fd(), m_folder.path(), m_poolFiles);
        if (m_pool && (m_temp = m_pool->take()))
            return true;
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
    std::unique_ptr<TemporaryPool> &m_pool;
    const size_t m_poolFiles;
    std::unique_ptr<TemporaryFile> m_temp;
    qint64 m_written = 0;
    bool m_folderFailed = false;
};

// The hash of a file's content (HashContents), for the journal, computed on one of the
// run's workers while the run reads the next files (or at once where there
// is no worker); the descriptor must stay open until it is done, which the
// destructor waits for.
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

// One row's complete result, waiting to be put in place.
class FileResult : public BatchedResult
{
public:
    FileResult(std::unique_ptr<OpenedFile> file, RowOutput &output, const ReplaceAsTarget *target, const QString &refusal, CommitContext &context,
        RunJournal *journal, Workers &hashers)
        : m_file(std::move(file))
        , m_temp(output.take())
        , m_context(context)
        , m_undo {journal, {}, output.written()}
        , m_refusal(refusal)
    {
        if (journal) {
            m_hash = std::make_unique<BackgroundHash>(hashers, m_temp->fd());
            // What the journal keeps of a replaced file is its content now.
            if (!target && refusal.isEmpty())
                m_keptHash = std::make_unique<BackgroundHash>(hashers, m_file->fd());
        }
        if (target)
            m_target = *target;
    }

    std::unique_ptr<ResultCommit> makeCommit(QString &refusal) override
    {
        // A Replace As result was built from bytes the source may no longer hold.
        if (m_refusal.isEmpty() && isReplaceAs() && !m_file->unchanged())
            m_refusal = ChangedByAnotherProgramMessage(m_file->path());
        if (!m_refusal.isEmpty()) {
            refusal = m_refusal;
            return nullptr;
        }
        if (m_hash)
            m_undo.hash = m_hash->result();
        if (m_keptHash)
            m_undo.keptHash = m_keptHash->result();
        return isReplaceAs() ? MakeReplaceAsCommit(*m_temp, m_target, m_context, &m_undo, m_file.get())
                             : MakeReplaceCommit(*m_temp, *m_file, m_context, &m_undo);
    }
    CommitUndo *undo() override { return &m_undo; }
    QString messagePath() const override { return isReplaceAs() ? m_target.path : m_file->path(); }

    bool isReplaceAs() const { return !m_target.name.isEmpty(); }
    const OpenedFile &file() const { return *m_file; }
    const ReplaceAsTarget &target() const { return m_target; }

private:
    std::unique_ptr<OpenedFile> m_file;
    std::unique_ptr<TemporaryFile> m_temp;
    std::unique_ptr<BackgroundHash> m_hash; // after m_temp: done before its file closes
    std::unique_ptr<BackgroundHash> m_keptHash; // after m_file, likewise
    CommitContext &m_context;
    ReplaceAsTarget m_target; // Replace As only
    CommitUndo m_undo;
    QString m_refusal;
};

class FileRun
{
public:
    FileRun(RunMode mode, const ArgumentTables &pairs, ReplaceAsSettings &settings, EngineState &state, RunHost &host, const UndoSettings &undo, bool keepTimes)
        : m_mode(mode)
        , m_pairs(pairs)
        , m_settings(settings)
        , m_state(state)
        , m_host(host)
        , m_undo(undo)
        , m_rng(std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()))
        , m_context {[&host] { host.pumpEvents(); }, state.ioChunk, keepTimes}
    { }

    RunResult run()
    {
        if (!begin())
            return std::move(m_result);
        m_result.end = RunResult::End::Completed;
        startReadAhead();
        for (int row = 0; row < m_host.rowCount(); ++row) {
            if (m_host.rowIncluded(row) && !processRow(row))
                break;
        }
        m_ahead.reset();
        commit();
        report();
        return std::move(m_result);
    }

private:
    // A step of what the host is shown, in row order: a Count cell, and the
    // result to put in place after it (an index into m_batch), if any.
    struct Step
    {
        int row;
        QString cell;
        int result = -1;
    };

    // Until the first row: the Replace As folder, the total, the progress
    // window, the journal. False when the run ends before its files.
    bool begin()
    {
        using End = RunResult::End;
        MessageSink &messages = m_host.messages();
        if (m_host.rowCount() == 0)
            return false;
        m_result.finds = m_pairs.findBytes();
        m_result.tables = std::make_shared<const ArgumentTables>(m_pairs);
        m_result.replaces = m_pairs.replaces;
        if (m_mode == RunMode::ReplaceAs) {
            const bool chosen = m_host.chooseReplaceAsTarget(m_settings);
            m_host.pumpEvents();
            if (!chosen) {
                m_result.end = End::TargetCancelled;
                return false;
            }
            // Replace As writes into this one folder, whatever happens to its path.
            m_outFolder = FileDescriptor(::open(NativePath(m_settings.outpath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (m_outFolder.get() < 0) {
                messages.warn(FileErrorMessage(errno, m_settings.outpath));
                m_result.end = End::SetupFailed;
                return false;
            }
            m_targetFolders.emplace(m_outFolder.get(), m_settings.outpath);
        }
        // What stands at each row's path: the total, the files listed twice,
        // and what each file is opened with, in fewer steps.
        RowLookup lookup = LookUpRows(m_host, threads());
        m_ids = std::move(lookup.ids);
        m_regular = std::move(lookup.regular);
        if (!planRows())
            return false;
        double total = lookup.total;
        for (size_t row = 0; row < m_sameAs.size(); ++row)
            if (m_sameAs[row] >= 0)
                total -= double(m_ids[row].size);
        m_host.beginRun(m_mode == RunMode::Count ? QStringLiteral("Counting...") : QStringLiteral("Replacing..."), total);
        m_host.pumpEvents();
        m_state.dblActVal = 0;
        if (m_undo.keep && m_mode != RunMode::Count) {
            if (!StateFolder().isEmpty())
                m_journal.emplace(m_mode == RunMode::ReplaceAs ? JournalMode::ReplaceAs : JournalMode::Replace, m_undo);
            else
                messages.warn(NoStateFolderMessage());
        }
        m_batch.emplace(m_journal ? &*m_journal : nullptr);
        struct rlimit limit = {};
        // Every waiting result holds a few descriptors; stay well inside the
        // limit of open files, beside the files opened ahead.
        const rlim_t reserved = 64 + 2 * rlim_t(kMaxAhead);
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            m_maxResults = limit.rlim_cur <= reserved ? 1 : int(std::clamp<rlim_t>((limit.rlim_cur - reserved) / 6, 1, kMaxResults));
        m_poolFiles = m_maxResults < 64 ? 0 : kPoolFiles;
        m_result.rows.resize(size_t(m_host.rowCount()));
        return true;
    }

    // A file listed twice is processed once, at its first row; and no
    // Replace As result may take the place of another one or of a source.
    // False when the targets collide: the run ends before its files.
    bool planRows()
    {
        QStringList paths;
        std::vector<bool> included;
        for (int row = 0; row < m_host.rowCount(); ++row) {
            paths.append(m_host.rowPath(row));
            included.push_back(m_host.rowIncluded(row));
        }
        // Rows left out are nobody's first row.
        std::vector<FileId> processed = m_ids;
        for (size_t row = 0; row < processed.size(); ++row)
            if (!included[row])
                processed[row] = FileId();
        m_sameAs = SameFileRows(processed);
        if (m_mode != RunMode::ReplaceAs)
            return true;
        TargetPlan plan = PlanTargets(paths, m_ids, m_sameAs, m_settings.outpath, m_settings, included);
        if (!plan.refusal.isEmpty()) {
            m_host.messages().warn(plan.refusal);
            m_result.end = RunResult::End::TargetsCollide;
            return false;
        }
        m_relativeTargets = std::move(plan.relative);
        return true;
    }

    // One row through its phases; false ends the run.
    bool processRow(int row)
    {
        if (m_sameAs[size_t(row)] >= 0) {
            m_result.rows[size_t(row)].sameAs = m_sameAs[size_t(row)];
            return true;
        }
        const QString source = m_host.rowPath(row);
        m_currentRow = row;
        m_host.startRow(row);
        ReplaceAsTarget slot;
        if (m_mode == RunMode::ReplaceAs) {
            // Nothing waits that uses the folders opened so far.
            if (m_results == 0)
                m_targetFolders->release();
            if (!inspectTarget(row, source, slot))
                return false;
        } else {
            m_host.showFile(source, QString());
        }
        RowOutput output(m_runFolder, m_rng, m_temporaries, m_poolFiles);
        ReplaceOutcome outcome;
        std::unique_ptr<OpenedFile> file = read(row, source, output, outcome);
        if (!file)
            return false;
        if (m_mode == RunMode::ReplaceAs && outcome.count > 0 && slot.folderFd < 0)
            makeTargetFolder(row, slot, outcome);
        // A message comes after the waiting results.
        if (!outcome.error.isEmpty() && !say(row, outcome.error))
            return false;
        if (output.folderFailed()) {
            m_result.end = RunResult::End::SetupFailed;
            return false;
        }
        if (m_host.cancelRequested()) {
            m_result.end = RunResult::End::Cancelled;
            return false;
        }
        queue(row, outcome, std::move(file), output, slot, source);
        return !full() || commit();
    }

    // With threads to spare, the files are opened and counted a few rows
    // ahead on workers; the run takes them in its own order and shows what
    // each found as if it had read it itself. A Replace writes only files
    // with occurrences, and writes those itself.
    void startReadAhead()
    {
        int threads = this->threads();
        // A few files per thread wait ahead, each with its descriptor and
        // each thread with its folder's: well inside the limit of open files.
        rlim_t window = std::min(4 * rlim_t(threads), rlim_t(kMaxAhead));
        struct rlimit limit = {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            window = std::min(window, limit.rlim_cur > 64 ? (limit.rlim_cur - 64) / 8 : 0);
        threads = std::min(threads, int(window));
        if (threads < 2)
            return;
        const bool keepFound = m_mode != RunMode::Count;
        m_ahead = std::make_unique<ReadAhead>(
            threads, size_t(window), m_pairs, m_state,
            [this, next = 0]() mutable {
                for (int row = next; row < m_host.rowCount(); ++row) {
                    // A row whose occurrences are listed is the run's own.
                    if (m_host.rowIncluded(row) && m_sameAs[size_t(row)] < 0 && !m_host.listedOccurrences(row)) {
                        next = row + 1;
                        return std::optional(ReadAhead::File {row, m_host.rowPath(row), seen(row)});
                    }
                }
                next = m_host.rowCount();
                return std::optional<ReadAhead::File>();
            },
            keepFound);
    }

    // Told none, one thread per processor the run may use.
    int threads() const { return m_state.threads > 0 ? m_state.threads : Workers::processors(); }

    // The row's file opened and matched, by the run or ahead of it, with
    // outcome set; null when committing a result the file waited for ended
    // the run.
    std::unique_ptr<OpenedFile> read(int row, const QString &source, RowOutput &output, ReplaceOutcome &outcome)
    {
        QString reason;
        std::unique_ptr<OpenedFile> file;
        if (m_ahead && m_ahead->holds(row)) {
            ReadAhead::Read ahead = m_ahead->take([this] { m_host.pumpEvents(); }, kPumpWaitMs);
            // What a Count found stands; a Replace takes over only a file
            // without occurrences, and reads one with them itself.
            const bool taken = ahead.outcome && (m_mode == RunMode::Count || (ahead.outcome->count == 0 && ahead.outcome->error.isEmpty()));
            if (taken) {
                UpdateBlockSize(m_state, m_pairs.literalMaxLength());
                outcome = ahead.log->replay(*ahead.outcome, m_state, m_host);
                return std::move(ahead.file);
            }
            if (m_mode == RunMode::Count) {
                file = std::move(ahead.file);
                reason = ahead.reason;
            } else if (!(file = open(row, source, reason, std::move(ahead.file)))) {
                return nullptr;
            }
        } else if (!(file = open(row, source, reason))) {
            return nullptr;
        }
        outcome = match(row, *file, reason, source, output);
        return file;
    }

    // Replace As: what stands at the row's target, and the question before
    // it is overwritten. False ends the run.
    bool inspectTarget(int row, const QString &source, ReplaceAsTarget &slot)
    {
        const QString relative = m_relativeTargets.at(row);
        const QString targetName = GetFileName(relative);
        const QString target = TargetPath(m_settings.outpath, relative);
        m_host.showFile(source, QLatin1String("to ") + target);
        // An earlier result going to the same name decides what stands there.
        if (m_targetNames.contains(NativePath(relative)) && !commit())
            return false;
        // The folder it goes to, where it stands already.
        const int folder = m_targetFolders->open(NativePath(GetFolderName(relative)), false);
        m_targetFolderError = folder < 0 && !m_targetFolders->missing() ? m_targetFolders->error() : QString();
        // What stands at the target now, links not followed: only a regular
        // file is a file that exists here, and only it can be overwritten.
        slot = folder < 0 ? ReplaceAsTarget {-1, NativePath(targetName), target, ReplaceAsTarget::Kind::Missing, {}, 0}
                          : InspectTarget(folder, NativePath(targetName), target);
        if (m_settings.outoverwrite == 1 || slot.kind != ReplaceAsTarget::Kind::Regular)
            return true;
        const QString question
            = QLatin1String("The file ") + target + QLatin1String(" already exists.") + kCrLf + kCrLf + QLatin1String("Do you want to overwrite it?");
        if (!commit())
            return false;
        const MessageSink::Answer answer
            = m_host.messages().show(question, MessageSink::Icon::Exclamation, MessageSink::Buttons::YesNo, MessageSink::programTitle());
        if (answer == MessageSink::Answer::Yes)
            return true;
        m_host.pumpEvents();
        m_result.end = RunResult::End::StoppedAtNo;
        return false;
    }

    // Opens the row's file, or takes the one opened ahead where that is
    // open (a result put in place since may have made what was missing); a
    // file that a waiting result replaces, or creates, is read once that
    // result is in place. Null when committing that result ended the run;
    // else the file, with reason set where it could not be opened.
    std::unique_ptr<OpenedFile> open(int row, const QString &source, QString &reason, std::unique_ptr<OpenedFile> opened = nullptr)
    {
        auto file = std::move(opened);
        if (!file || !file->isOpen()) {
            file = std::make_unique<OpenedFile>();
            const struct stat seen = this->seen(row);
            reason = file->open(source, m_folders, &seen);
        }
        const bool waitedFor = reason.isEmpty() ? replacesWaiting(file->status()) : file->error() == ENOENT;
        if (m_results == 0 || !waitedFor)
            return file;
        if (!commit())
            return nullptr;
        file = std::make_unique<OpenedFile>();
        const struct stat seen = this->seen(row);
        reason = file->open(source, m_folders, &seen);
        return file;
    }

    // What the row's file is opened with: the regular file found at its
    // path before the run, or nothing (its path is then followed step by
    // step).
    struct stat seen(int row) const
    {
        struct stat st = {};
        if (m_regular[size_t(row)]) {
            st.st_dev = m_ids[size_t(row)].dev;
            st.st_ino = m_ids[size_t(row)].ino;
            st.st_mode = S_IFREG;
        }
        return st;
    }

    // Replace As keeping folders, a result whose folder is not there yet:
    // the folder is made, or the row fails with the reason.
    void makeTargetFolder(int row, ReplaceAsTarget &slot, ReplaceOutcome &outcome)
    {
        const int folder = m_targetFolderError.isEmpty() ? m_targetFolders->open(NativePath(GetFolderName(m_relativeTargets.at(row))), true) : -1;
        if (folder >= 0) {
            slot = InspectTarget(folder, slot.name, slot.path);
            return;
        }
        outcome = {0, ReplaceOutcome::Status::Failed, m_targetFolderError.isEmpty() ? m_targetFolders->error() : m_targetFolderError, {}};
    }

    ReplaceOutcome match(int row, const OpenedFile &file, const QString &reason, const QString &source, RowOutput &output)
    {
        if (!reason.isEmpty())
            return {0, ReplaceOutcome::Status::Failed, FileErrorMessage(reason, source), {}};
        DiscardedOutput discarded;
        ReplaceOutput &out = m_mode == RunMode::Count ? static_cast<ReplaceOutput &>(discarded) : output;
        if (const ListedFile *listed = m_host.listedOccurrences(row))
            return ApplyListedOccurrences(file, out, m_pairs, *listed, m_state, m_host);
        return ReplaceInFile(file, out, m_pairs, m_state, m_host);
    }

    // The row's outcome, its cell and its result, which waits for the next commit.
    void queue(int row, const ReplaceOutcome &outcome, std::unique_ptr<OpenedFile> file, RowOutput &output, const ReplaceAsTarget &slot, const QString &source)
    {
        RowResult &rowResult = m_result.rows[size_t(row)];
        if (outcome.status == ReplaceOutcome::Status::Failed) {
            ++m_result.failedFiles;
            rowResult.state = RowState::Failed;
            rowResult.error = outcome.error;
        } else {
            rowResult.count = outcome.count;
            rowResult.perPair = outcome.perPair;
            rowResult.status = file->status();
            if (m_mode == RunMode::Count)
                rowResult.state = RowState::Counted;
            else if (outcome.count < 1)
                rowResult.state = RowState::Unchanged;
            // else: Replaced or Failed once its result's turn comes
        }
        const QString cell = AdjustRight(outcome.count, 8);
        if (m_mode == RunMode::Count || outcome.count < 1) {
            showCell(row, cell);
            return;
        }
        const bool kernel = m_mode == RunMode::Replace && IsKernelFile(file->fd());
        const ReplaceAsTarget *target = m_mode == RunMode::ReplaceAs ? &slot : nullptr;
        if (target) {
            if (target->kind == ReplaceAsTarget::Kind::Regular)
                m_waitingFiles.push_back(target->status);
            m_targetNames.append(NativePath(m_relativeTargets.at(row)));
        } else {
            m_waitingFiles.push_back(file->status());
        }
        if (m_results == 0)
            m_since = std::chrono::steady_clock::now();
        ++m_results;
        m_bytes += output.written();
        m_steps.push_back({row, cell, int(m_batch->size())});
        m_batch->add(std::make_unique<FileResult>(
            std::move(file), output, target, kernel ? KernelFileMessage(source) : QString(), m_context, m_journal ? &*m_journal : nullptr, m_hashers));
    }

    // The row's Count cell, now, or after the results waiting before it.
    void showCell(int row, const QString &cell)
    {
        if (m_steps.empty()) {
            m_host.setRowCount(row, cell);
            m_host.pumpEvents();
            return;
        }
        m_steps.push_back({row, cell});
    }

    // A message of the run's, once the waiting results are in place; false
    // (and no message) when putting them in place ended the run.
    bool say(int row, const QString &text)
    {
        if (!commit())
            return false;
        m_host.fileFailed(row, text);
        return true;
    }

    bool replacesWaiting(const struct stat &st) const
    {
        return std::any_of(m_waitingFiles.begin(), m_waitingFiles.end(), [&](const struct stat &f) { return SameFile(f, st); });
    }

    // A flush costs about one fsync; these keep it to a small part of the
    // run while bounding what waits.
    static constexpr int kMaxResults = 512;
    // The temporary files made ahead, where the limit of open files leaves room.
    static constexpr size_t kPoolFiles = 8;
    // The most files opened and counted ahead of the one the run shows.
    static constexpr int kMaxAhead = 64;
    static constexpr qint64 kMaxBytes = qint64(64) << 20;
    static constexpr std::chrono::milliseconds kMaxWait {500};
    // How often window events run while a commit waits for the disk.
    static constexpr int kPumpWaitMs = 20;

    bool full() const { return m_results >= m_maxResults || m_bytes >= kMaxBytes || (m_results > 0 && std::chrono::steady_clock::now() - m_since >= kMaxWait); }

    // Brings the waiting results to the disk in one flush and puts them in
    // place in row order, each after the cells before it. False when one
    // could not be put in place: the run ends there, the later ones dropped.
    bool commit()
    {
        if (m_failed)
            return false;
        std::vector<Step> steps = std::move(m_steps);
        m_steps.clear();
        m_waitingFiles.clear();
        m_targetNames.clear();
        m_results = 0;
        m_bytes = 0;
        size_t shown = 0;
        const auto showUpTo = [&](size_t end) {
            for (; shown < end; ++shown) {
                m_host.setRowCount(steps[shown].row, steps[shown].cell);
                m_host.pumpEvents();
            }
        };
        std::vector<int> rows;
        std::vector<size_t> stepOf(m_batch->size());
        for (size_t s = 0; s < steps.size(); ++s) {
            if (steps[s].result >= 0) {
                rows.push_back(steps[s].row);
                stepOf[size_t(steps[s].result)] = s;
            }
        }
        ResultBatch::Steps events;
        // The checks, copies and the flush take long on a large file: the
        // progress window answers meanwhile.
        events.prepare = [&](const std::function<void()> &work) {
            RunWhileWaiting(
                work, [&] { m_host.pumpEvents(); }, kPumpWaitMs);
        };
        // A cancel confirmed before the current file's result is in place
        // leaves that file as it was, as a cancel while reading it does.
        events.proceed = [&](size_t i) {
            if (steps[stepOf[i]].row != m_currentRow || !m_host.cancelRequested())
                return true;
            showUpTo(stepOf[i]);
            m_result.end = RunResult::End::Cancelled;
            return false;
        };
        events.flushed = [&] { m_host.resultsFlushed(rows); };
        events.before = [&](size_t i) {
            showUpTo(stepOf[i] + 1);
            m_host.beforeCommit(steps[stepOf[i]].row);
        };
        events.placed = [&](size_t i, BatchedResult &result, const CommitResult &commit) {
            return placed(steps[stepOf[i]].row, static_cast<const FileResult &>(result), commit);
        };
        // The batch is emptied by place(); the results it holds live until then.
        if (!m_batch->empty() && !m_batch->place(events)) {
            m_failed = m_result.end == RunResult::End::CopyFailed;
            return false;
        }
        showUpTo(steps.size());
        return true;
    }

    // A row's result was put in place, or not. False ends the run.
    bool placed(int row, const FileResult &result, const CommitResult &commit)
    {
        RowResult &rowResult = m_result.rows[size_t(row)];
        if (commit.ok()) {
            rowResult.state = RowState::Replaced;
            if (result.isReplaceAs())
                rowResult.status = result.file().status();
            else if (struct stat st; ::stat(NativePath(result.file().path()).constData(), &st) == 0)
                rowResult.status = st;
            m_host.resultPlaced(row, result.messagePath());
            // A file rewritten in place is finished even when the cancel
            // comes while it is written; the user is told so.
            if (row == m_currentRow && m_host.cancelRequested()) {
                m_host.messages().show(
                    ReplacedBeforeCancelMessage(result.messagePath()), MessageSink::Icon::Information, MessageSink::Buttons::Ok, MessageSink::programTitle());
                m_result.end = RunResult::End::Cancelled;
                return false;
            }
            return true;
        }
        rowResult.state = RowState::Failed;
        rowResult.error = commit.message;
        m_host.fileFailed(row, commit.message);
        ++m_result.failedFiles;
        if (commit.status != CommitResult::Status::Failed)
            return true;
        m_result.end = RunResult::End::CopyFailed;
        return false;
    }

    // The end: what waits is put in place, the journal's run closed, the rows'
    // results completed, the progress window closed.
    void report()
    {
        if (m_journal)
            m_result.journalRun = m_journal->finish();
        // A result dropped with the end of the run counts nothing.
        for (size_t i = 0; i < m_result.rows.size(); ++i) {
            RowResult &row = m_result.rows[i];
            if (row.state == RowState::NotProcessed) {
                const int sameAs = row.sameAs;
                row = RowResult();
                row.sameAs = sameAs;
            }
            if (!m_host.rowIncluded(int(i)))
                row.error = NotSelectedReason();
            row.perPair.resize(size_t(m_pairs.pairCount()), 0);
        }
        m_host.endRun();
    }

    const RunMode m_mode;
    const ArgumentTables &m_pairs;
    ReplaceAsSettings &m_settings;
    EngineState &m_state;
    RunHost &m_host;
    const UndoSettings m_undo;
    RunResult m_result;
    std::mt19937 m_rng;
    CommitContext m_context;
    FileDescriptor m_outFolder; // Replace As
    std::optional<TargetFolders> m_targetFolders; // below m_outFolder
    QStringList m_relativeTargets; // each row's, inside m_outFolder
    QString m_targetFolderError; // the current row's folder cannot be reached
    std::vector<FileId> m_ids; // what each row named before the run, links followed
    std::vector<int> m_sameAs; // each row's first row of the same file, or -1
    std::vector<bool> m_regular; // a regular file stood at the row's path before the run
    FolderCache m_folders;
    // Every temporary file of the run lives in a folder of the run's own.
    RunFolder m_runFolder;
    std::unique_ptr<TemporaryPool> m_temporaries; // goes before the folder
    size_t m_poolFiles = 0;
    std::optional<RunJournal> m_journal;
    // The run's own, so that it never waits on threads of another run or
    // of a parent process it was forked from; declared before the batch,
    // whose hashes it runs, so that it outlives them.
    Workers m_hashers {Workers::spareThreads()};
    std::optional<ResultBatch> m_batch;
    // What waits for the next commit: the steps, the files the results
    // replace, the Replace As names they go to, how many and how large.
    std::vector<Step> m_steps;
    std::vector<struct stat> m_waitingFiles;
    QByteArrayList m_targetNames;
    int m_results = 0;
    int m_maxResults = kMaxResults;
    qint64 m_bytes = 0;
    std::chrono::steady_clock::time_point m_since;
    bool m_failed = false; // a result could not be put in place
    int m_currentRow = -1; // the row the progress window shows
    std::unique_ptr<ReadAhead> m_ahead; // the files opened and counted ahead
};

} // namespace

RunResult RunFiles(
    RunMode mode, const ArgumentTables &pairs, ReplaceAsSettings &settings, EngineState &state, RunHost &host, const UndoSettings &undo, bool keepTimes)
{
    return FileRun(mode, pairs, settings, state, host, undo, keepTimes).run();
}

} // namespace perrox
