// What a kill -9 at every step of writing leaves: for each k, a run is
// stopped right before its k-th system call that creates, writes, syncs,
// renames, links or deletes a file (a write is cut in the middle, as the
// kernel cuts one short for a fatal signal), and then the next start must
// find every file wholly old or wholly new, undo what the run did, and leave
// nothing of the run behind.

#include "commit/systemcalls.h"
#include "engine/processfiles.h"
#include "engine/undorun.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

int g_killAt = 0; // the step to stop at, from 1
int g_steps = 0;

int killAtStep(const StepCall &call)
{
    ++g_steps;
    if (qEnvironmentVariableIsSet("FAULT_TRACE"))
        std::fprintf(stderr, "step %d: %d fd %d len %zu\n", g_steps, int(call.step), call.fd, call.length);
    if (g_steps < g_killAt)
        return 0;
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
        m_state.reset();
        m_tempVariable.reset();
        m_temp.reset();
        m_dir.reset();
    }

    void killedAtEveryStep_data()
    {
        QTest::addColumn<RunMode>("mode");
        QTest::addColumn<bool>("undo"); // the run killed is the Undo of a finished run
        QTest::addColumn<int>("steps"); // at least
        QTest::newRow("replace") << RunMode::Replace << false << 45;
        QTest::newRow("replace as") << RunMode::ReplaceAs << false << 18;
        QTest::newRow("undo of a replace") << RunMode::Replace << true << 35;
    }

    void killedAtEveryStep()
    {
        QFETCH(RunMode, mode);
        QFETCH(bool, undo);
        QFETCH(int, steps);
        // Four chunks of 4096 bytes and more: the hard-linked file is
        // rewritten in place in several steps.
        const QByteArray before = RandomBytes(11, 4 * 4096 + 100, "abcdef\n");
        const QByteArray after = QByteArray(before).replace("a", "AA");
        const QString out = m_dir->filePath(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        int k = 1;
        for (;; ++k) {
            const QStringList paths {WriteFileIn(m_dir->path(), u"plain.txt"_s, before), WriteFileIn(m_dir->path(), u"linked.txt"_s, before),
                WriteFileIn(m_dir->path(), u"none.txt"_s, "xyz"), WriteFileIn(m_dir->path(), u"last.txt"_s, before)};
            const QString link = m_dir->filePath(u"other-name.txt"_s);
            QFile::remove(link);
            QCOMPARE(::link(NativePath(paths.at(1)).constData(), NativePath(link).constData()), 0);
            // Replace As overwrites one target that stands.
            QDir(out).removeRecursively();
            QVERIFY(QDir().mkpath(out));
            WriteFileIn(out, u"plain.txt"_s, "standing target");
            const QStringList targets {out + u"/plain.txt"_s, out + u"/linked.txt"_s, out + u"/none.txt"_s, out + u"/last.txt"_s};
            const auto run = [&] {
                ScriptedHost host(paths);
                host.undo = kJournal;
                host.state.ioChunk = 4096;
                host.chosenSettings = ReplaceAsSettings {out, {}, {}, 1};
                return host.run(mode, u"a"_s, u"AA"_s);
            };
            QString finished;
            if (undo) {
                finished = run().journalRun;
                QVERIFY(!finished.isEmpty());
            }

            g_killAt = k;
            g_steps = 0;
            const int rc = RunInChild([&]() -> int {
                SetStepHook(killAtStep);
                if (undo)
                    return UndoRun(finished, kJournal).complete() ? 0 : 1;
                return run().end == RunResult::End::Completed ? 0 : 1;
            });
            QVERIFY2(rc == 0 || rc == -1, qPrintable(u"step %1: exit %2"_s.arg(k).arg(rc)));
            if (rc == 0)
                break; // no step left to stop at
            const QString at = u"killed before step %1"_s.arg(k);

            // The next start sets right what the run left.
            // Said only when a rewrite in place was finished, never that a file was left half done.
            static const QRegularExpression finishedOnly(u"^(Perrox was stopped while it rewrote the file \\S+ and has now finished it\\.)?$"_s);
            const QString said = FinishStoppedRuns();
            QVERIFY2(finishedOnly.match(said).hasMatch(), qPrintable(at + u": "_s + said));
            QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
            QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
            QCOMPARE(TemporaryFilesIn(out), QStringList());
            QVERIFY2(m_state->records().filter(u"rewrite-"_s).isEmpty(), qPrintable(at + m_state->records().join(u' ')));
            const QStringList written = mode == RunMode::Replace ? paths : targets;
            for (const QString &path : written) {
                const QByteArray now = ReadFile(path);
                const bool unchangedKind = path.endsWith(u"none.txt"_s);
                const QByteArray old = mode == RunMode::Replace ? (unchangedKind ? "xyz"_ba : before)
                    : path == targets.at(0)                     ? "standing target"_ba
                                                                : QByteArray();
                const bool whole = now == old || (!unchangedKind && now == after);
                QVERIFY2(whole, qPrintable(at + u": "_s + path));
            }
            QCOMPARE(ReadFile(link), ReadFile(paths.at(1)));

            // The journal takes back exactly what was done.
            if (undo) {
                UndoRun(finished, kJournal);
            } else if (const std::optional<JournalRun> last = LastUndoableRun()) {
                const UndoOutcome outcome = UndoRun(QString(), kJournal);
                QVERIFY2(outcome.complete(), qPrintable(at + u": "_s + outcome.leftAlone.join(u" / "_s) + outcome.error));
            }
            for (const QString &path : paths)
                QVERIFY2(ReadFile(path) == (path.endsWith(u"none.txt"_s) ? "xyz"_ba : before), qPrintable(at + u", undone: "_s + path));
            QCOMPARE(ReadFile(targets.at(0)), "standing target"_ba);
            for (const QString &target : targets.mid(1))
                QVERIFY2(!QFileInfo::exists(target), qPrintable(at + u", undone: "_s + target));
            for (const QString &id : QDir(RunJournalFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                QVERIFY(QDir(RunJournalFolder() + u'/' + id).removeRecursively());
        }
        // Every step of the run was met: creating, writing, copying, syncing, linking, renaming, deleting.
        QVERIFY2(k > steps, qPrintable(QString::number(k)));
    }

private:
    std::optional<QTemporaryDir> m_dir;
    std::optional<QTemporaryDir> m_temp;
    std::optional<EnvironmentGuard> m_tempVariable;
    std::optional<StateFolderGuard> m_state;
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
