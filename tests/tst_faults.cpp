// What a kill -9 or a failed system call at every step of writing leaves. For every k until the run no longer gets there, a run is killed right
// before its k-th system call that creates, writes, syncs, renames, links or deletes a file (a write is cut in the middle, as the kernel cuts one
// short for a fatal signal), or the k-th such call of one kind fails. Either way every file must be wholly old or wholly new, a failure must be
// reported, the next start must set right what the run left and leave nothing of it behind, and the journal must undo what it did.

#include "commit/systemcalls.h"
#include "engine/processfiles.h"
#include "engine/undorun.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

int g_kind = -1; // the SystemStep to fail; -1: kill the process at the step
int g_at = 0; // the step to stop at, from 1
int g_steps = 0;

int stepHook(const StepCall &call)
{
    if ((g_kind >= 0 && int(call.step) != g_kind) || ++g_steps != g_at)
        return 0;
    // A full disk where one can show, else a failing disk.
    if (g_kind >= 0)
        return call.step == SystemStep::Write || call.step == SystemStep::Truncate || call.step == SystemStep::Copy ? ENOSPC : EIO;
    // Half of a write lands, then the process dies, as with a kill -9
    // during a write the kernel has begun.
    if (call.step == SystemStep::Write && call.length > 1) {
        if (call.offset >= 0)
            (void)!::pwrite(call.fd, call.data, call.length / 2, call.offset);
        else
            (void)!::write(call.fd, call.data, call.length / 2);
    }
    ::raise(SIGKILL);
    return 0;
}

constexpr UndoSettings kJournal {true, 20, qint64(1) << 30};

// Both loops' files: a plain file, a hard-linked one (rewritten in place, four chunks of 4096 bytes and more), one without occurrences, another plain
// one; Replace As writes them to out, where one target stands.
struct Scenario
{
    QString dir, out, link;
    QStringList paths, targets;
    QByteArray before = RandomBytes(11, 4 * 4096 + 100, "abcdef\n");
    QByteArray after = QByteArray(before).replace("a", "AA");

    explicit Scenario(const QString &folder)
        : dir(folder)
        , out(folder + u"/out"_s)
        , link(folder + u"/other-name.txt"_s)
    {
        for (const QString &name : {u"plain.txt"_s, u"linked.txt"_s, u"none.txt"_s, u"last.txt"_s}) {
            paths.append(dir + u'/' + name);
            targets.append(out + u'/' + name);
        }
    }
    bool make() const
    {
        QDir(out).removeRecursively();
        QFile::remove(link);
        for (int i = 0; i < 4; ++i)
            WriteFile(paths.at(i), i == 2 ? "xyz"_ba : before);
        return ::link(NativePath(paths.at(1)).constData(), NativePath(link).constData()) == 0 && QDir().mkpath(out)
            && WriteFile(targets.at(0), "standing target");
    }
    RunResult run(RunMode mode, RecordingSink *sink = nullptr) const
    {
        ScriptedHost host(paths);
        host.undo = kJournal;
        host.state.ioChunk = 4096;
        host.chosenSettings = ReplaceAsSettings {out, {}, {}, 1};
        RunResult result = host.run(mode, u"a"_s, u"AA"_s);
        if (sink)
            sink->shown = host.sink.shown;
        return result;
    }
    // What file i (its target) may hold after a run of mode; the first is what it held before.
    QList<QByteArray> allowed(int i, bool target, RunMode mode) const
    {
        if (!target)
            return i == 2 ? QList {"xyz"_ba} : mode == RunMode::ReplaceAs ? QList {before} : QList {before, after};
        const QByteArray old = i == 0 ? "standing target"_ba : QByteArray();
        return mode == RunMode::ReplaceAs && i != 2 ? QList {old, after} : QList {old};
    }
    QString file(int i, bool target) const { return (target ? targets : paths).at(i); }
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        m_temp.emplace();
        m_tempVariable.emplace("TEMP", NativePath(m_temp->path()));
        m_state.emplace();
    }
    void cleanup()
    {
        SetStepHook(nullptr);
        m_state.reset();
        m_tempVariable.reset();
        m_temp.reset();
        m_dir.reset();
    }

    void everyStep_data()
    {
        QTest::addColumn<RunMode>("mode");
        QTest::addColumn<bool>("undo"); // the run stopped is the Undo of a finished run
        QTest::addColumn<int>("kind"); // see g_kind
        QTest::addColumn<int>("steps"); // a kill: at least
        const char *kinds[] = {"killed", "create", "write", "sync", "rename", "link", "unlink", "truncate", "copy"};
        for (int kind = -1; kind < 8; ++kind) {
            QTest::addRow("replace, %s", kinds[kind + 1]) << RunMode::Replace << false << kind << 45;
            QTest::addRow("replace as, %s", kinds[kind + 1]) << RunMode::ReplaceAs << false << kind << 18;
            QTest::addRow("undo, %s", kinds[kind + 1]) << RunMode::Replace << true << kind << 35;
        }
    }

    void everyStep()
    {
        QFETCH(RunMode, mode);
        QFETCH(bool, undo);
        QFETCH(int, kind);
        QFETCH(int, steps);
        const Scenario s(m_dir->path());
        const bool toTargets = mode == RunMode::ReplaceAs;
        int k = 1;
        for (;; ++k) {
            QVERIFY(s.make());
            const QString finished = undo ? s.run(mode).journalRun : QString();
            QCOMPARE(finished.isEmpty(), !undo);
            g_kind = kind;
            g_at = k;
            g_steps = 0;
            const QString at = u"step %1"_s.arg(k);
            if (kind < 0) {
                const int rc = RunInChild([&]() -> int {
                    SetStepHook(stepHook);
                    return (undo ? UndoRun(finished, kJournal).complete() : s.run(mode).end == RunResult::End::Completed) ? 0 : 1;
                });
                QVERIFY2(QList<int>({0, -1}).contains(rc), qPrintable(at + u": exit "_s + QString::number(rc)));
                if (rc == 0)
                    break; // no step left to stop at
                nextStart(s, mode, at, finished);
                if (QTest::currentTestFailed())
                    return;
                continue;
            }
            SetStepHook(stepHook);
            RecordingSink sink;
            const RunResult result = undo ? RunResult() : s.run(mode, &sink);
            const UndoOutcome outcome = undo ? UndoRun(finished, kJournal) : UndoOutcome();
            SetStepHook(nullptr);
            // A rewrite in place cut short is finished by the next start, as the message says.
            const bool later = (undo ? outcome.error : sink.texts().join(u' ')).contains(u"Perrox finishes the file when it starts next"_s);
            // Each file is whole, and new exactly when the run says so.
            int done = 0;
            for (int i = 0; i < 4; ++i) {
                const QByteArray now = ReadFile(s.file(i, toTargets));
                if (later && i == 1 && !toTargets)
                    continue;
                QVERIFY2(s.allowed(i, toTargets, undo ? RunMode::Replace : mode).contains(now), qPrintable(at + u": "_s + s.file(i, toTargets)));
                const bool isDone = i != 2 && now == (undo ? s.before : s.after);
                done += isDone ? 1 : 0;
                if (!undo && i != 2)
                    QVERIFY2((result.rows.at(i).state == RowState::Replaced) == isDone, qPrintable(at + u": "_s + s.file(i, toTargets)));
            }
            if (g_steps < k) { // the run never got there
                QCOMPARE(done, 3);
                QCOMPARE(undo ? outcome.complete() : result.end == RunResult::End::Completed, true);
                break;
            }
            if (undo)
                QVERIFY2(outcome.restored == done, qPrintable(at));
            // Whatever was not done was reported.
            if (done + (later ? 1 : 0) < 3)
                QVERIFY2(undo ? !outcome.complete() : !sink.shown.isEmpty(), qPrintable(at));
            // A file that could not be deleted, or a rewrite to finish, waits for the next start.
            if (kind != int(SystemStep::Unlink) && !later)
                checkNothingLeft(s, at);
            nextStart(s, mode, at, finished);
            if (QTest::currentTestFailed())
                return;
        }
        // A kill met every step of the run: creating, writing, copying, syncing, linking, renaming, deleting.
        if (kind < 0)
            QVERIFY2(k > steps, qPrintable(QString::number(k)));
    }

private:
    void checkNothingLeft(const Scenario &s, const QString &at)
    {
        QVERIFY2(TemporaryFilesIn(m_temp->path()).isEmpty(), qPrintable(at + TemporaryFilesIn(m_temp->path()).join(u' ')));
        QVERIFY2(TemporaryFilesIn(s.dir).isEmpty(), qPrintable(at));
        QVERIFY2(TemporaryFilesIn(s.out).isEmpty(), qPrintable(at));
        QVERIFY2(m_state->records().filter(u"rewrite-"_s).isEmpty(), qPrintable(at + m_state->records().join(u' ')));
    }

    // The next start sets right what the run left; then every file is whole,
    // and the journal takes back exactly what was done.
    void nextStart(const Scenario &s, RunMode mode, const QString &at, const QString &undone)
    {
        // Said only when a rewrite in place was finished, never that a file was left half done.
        static const QRegularExpression finishedOnly(u"^(Perrox was stopped while it rewrote the file \\S+ and has now finished it\\.)?$"_s);
        const QString said = FinishStoppedRuns();
        QVERIFY2(finishedOnly.match(said).hasMatch(), qPrintable(at + u": "_s + said));
        checkNothingLeft(s, at);
        for (int i = 0; i < 4; ++i)
            for (const bool target : {false, true})
                QVERIFY2(s.allowed(i, target, mode).contains(ReadFile(s.file(i, target))), qPrintable(at + u": "_s + s.file(i, target)));
        QCOMPARE(ReadFile(s.link), ReadFile(s.paths.at(1)));

        if (!undone.isEmpty()) {
            UndoRun(undone, kJournal); // again, after a kill or a failure
        } else if (const std::optional<JournalRun> last = LastUndoableRun()) {
            const UndoOutcome outcome = UndoRun(QString(), kJournal);
            QVERIFY2(outcome.complete(), qPrintable(at + u": "_s + outcome.leftAlone.join(u" / "_s) + outcome.error));
        }
        for (int i = 0; i < 4; ++i)
            for (const bool target : {false, true})
                QVERIFY2(ReadFile(s.file(i, target)) == s.allowed(i, target, mode).first(), qPrintable(at + u", undone: "_s + s.file(i, target)));
        for (const QString &target : s.targets.mid(1))
            QVERIFY2(!QFileInfo::exists(target), qPrintable(at + u", undone: "_s + target));
        for (const QString &id : QDir(RunJournalFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QVERIFY(QDir(RunJournalFolder() + u'/' + id).removeRecursively());
    }

    std::optional<QTemporaryDir> m_dir;
    std::optional<QTemporaryDir> m_temp;
    std::optional<EnvironmentGuard> m_tempVariable;
    std::optional<StateFolderGuard> m_state;
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
