#include "commit/rewritejournal.h"
#include "commit/statefolder.h"
#include "engine/undorun.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

const UndoSettings kJournal {true, 20, qint64(1) << 30};

struct Status
{
    QByteArray content;
    mode_t mode;
    uid_t uid;
    gid_t gid;
    timespec mtime;
    nlink_t links;
    bool operator==(const Status &o) const
    {
        return content == o.content && mode == o.mode && uid == o.uid && gid == o.gid && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec
            && links == o.links;
    }
};

// What a user sees of a file (links followed); nullopt when it is gone.
std::optional<Status> statusOf(const QString &path)
{
    struct stat st;
    if (::stat(NativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return Status {ReadFile(path), mode_t(st.st_mode & 07777), st.st_uid, st.st_gid, st.st_mtim, st.st_nlink};
}

QList<std::optional<Status>> statusesOf(const QStringList &paths)
{
    QList<std::optional<Status>> all;
    for (const QString &p : paths)
        all.append(statusOf(p));
    return all;
}

// The modes and undone marks of the journal's runs, newest first: "Replace", "Undo*".
QStringList history()
{
    QStringList lines;
    for (const JournalRun &run : ListRuns())
        lines.append(JournalModeName(run.mode) + (run.undoneBy.isEmpty() ? QString() : u"*"_s));
    return lines;
}

// Links left to the user's files from the journal: every kept file should
// be a content of its own once its run is over, or stand for an old inode.
int keptFiles()
{
    int n = 0;
    for (const JournalRun &run : ListRuns())
        for (const JournalEntry &e : run.entries)
            n += !e.kept.isEmpty() && QFileInfo::exists(KeptPath(run.id, e.kept));
    return n;
}

RunResult replace(
    const QStringList &paths, const UndoSettings &undo = kJournal, RunMode mode = RunMode::Replace, const QString &outpath = {}, bool keepTimes = false)
{
    ScriptedHost host(paths);
    host.undo = undo;
    host.keepTimes = keepTimes;
    host.settings.outpath = outpath;
    host.settings.outsuffix = outpath.isEmpty() ? QString() : u"-new"_s;
    host.settings.outoverwrite = 1;
    return host.run(mode, u"hello"_s, u"HI!"_s);
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private:
    std::optional<QTemporaryDir> m_dir;
    std::optional<QTemporaryDir> m_temp; // TEMP: the runs' own folders go here, not to the system's
    std::optional<EnvironmentGuard> m_tempVariable;
    std::optional<StateFolderGuard> m_state;
    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir.emplace();
        m_temp.emplace();
        QVERIFY(m_dir->isValid());
        QVERIFY(m_temp->isValid());
        m_tempVariable.emplace("TEMP", NativePath(m_temp->path()));
        m_state.emplace();
        QVERIFY(QDir().mkpath(path(u"private"_s)));
    }
    // No run leaves a temporary file behind; a test that kills one removes what it left.
    void cleanup()
    {
        const QStringList left = TemporaryFilesIn(m_temp->path());
        m_state.reset();
        m_tempVariable.reset();
        m_temp.reset();
        m_dir.reset();
        QCOMPARE(left, QStringList());
    }

    // Replace (or Replace As) and Undo give every file back exactly: bytes,
    // mode, owner, modification time and links; Undo of the Undo gives the
    // result back. With the times kept, every result has its source's
    // modification time, and Undo still restores everything.
    void roundTrip_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<bool>("keepTimes");
        const char *names[] = {"plain", "symbolic link", "hard links", "mode 0751, foreign owner, old time", "replace as: new target",
            "replace as: overwritten target", "replace as: two sources, one target", "several files, one without occurrences"};
        for (int i = 0; i < int(std::size(names)); ++i)
            QTest::newRow(names[i]) << i << false;
        for (int i : {0, 2, 3, 5})
            QTest::addRow("%s, times kept", names[i]) << i << true;
    }
    void roundTrip()
    {
        QFETCH(int, shape);
        QFETCH(bool, keepTimes);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello world, hello\n");
        QStringList list {a};
        QStringList watched {a};
        RunMode mode = RunMode::Replace;
        QString out;
        switch (shape) {
        case 1:
            QVERIFY(QFile::link(a, path(u"link.txt"_s)));
            list = {path(u"link.txt"_s)};
            watched = {a, path(u"link.txt"_s)};
            break;
        case 2:
            QCOMPARE(::link(NativePath(a).constData(), NativePath(path(u"b.txt"_s)).constData()), 0);
            watched = {a, path(u"b.txt"_s)};
            break;
        case 3: {
            QCOMPARE(::chmod(NativePath(a).constData(), 0751), 0);
            QCOMPARE(::chown(NativePath(a).constData(), 4321, 8765), 0);
            const timespec old[2] = {{1000000000, 123456789}, {1000000001, 987654321}};
            QCOMPARE(::utimensat(AT_FDCWD, NativePath(a).constData(), old, 0), 0);
            break;
        }
        case 4:
        case 5:
        case 6:
            mode = RunMode::ReplaceAs;
            out = path(u"out"_s);
            QVERIFY(QDir().mkpath(out));
            watched = {a, out + u"/a-new.txt"_s};
            if (shape == 5)
                WriteFile(out + u"/a-new.txt"_s, "an older result\n");
            if (shape == 6) {
                QVERIFY(QDir().mkpath(path(u"sub"_s)));
                list.append(WriteFileIn(path(u"sub"_s), u"a.txt"_s, "hello from sub\n"));
            }
            break;
        case 7:
            list.append(WriteFileIn(m_dir->path(), u"c.txt"_s, "nothing here\n"));
            list.append(WriteFileIn(m_dir->path(), u"d.txt"_s, "hello again\n"));
            watched = list;
            break;
        }
        QVERIFY(!keepTimes || shape == 3 || AgeFile(a)); // a time no write can give
        const auto before = statusesOf(watched);
        const RunResult run = replace(list, kJournal, mode, out, keepTimes);
        QCOMPARE(run.end, RunResult::End::Completed);
        QVERIFY(!run.journalRun.isEmpty());
        const auto after = statusesOf(watched);
        QVERIFY(after != before);
        for (qsizetype i = 0; keepTimes && i < watched.size(); ++i) {
            QVERIFY(after[i] && before[0]);
            const timespec expected = (after[i]->content == before[i].value_or(Status {}).content ? before[i] : before[0])->mtime;
            QCOMPARE((std::pair(after[i]->mtime.tv_sec, after[i]->mtime.tv_nsec)), std::pair(expected.tv_sec, expected.tv_nsec));
        }
        const std::optional<JournalRun> last = LastUndoableRun();
        QVERIFY(last);
        QCOMPARE(last->id, run.journalRun);
        QCOMPARE(last->changedFiles(), shape == 7 ? 2 : shape == 6 ? 2 : 1);

        UndoOutcome undone = UndoRun(QString(), kJournal);
        QCOMPARE(std::tuple(undone.end, undone.leftAlone, undone.restored), std::tuple(UndoOutcome::End::Completed, QStringList(), last->changedFiles()));
        QCOMPARE(statusesOf(watched), before);
        QCOMPARE(history(), QStringList({u"Undo"_s, u"Replace%1*"_s.arg(mode == RunMode::ReplaceAs ? u" As"_s : QString())}));

        // Undo of the Undo: the result again, byte for byte (times and
        // modes are those of a new result, so only the contents count).
        undone = UndoRun(QString(), kJournal);
        QVERIFY(undone.complete());
        for (qsizetype i = 0; i < watched.size(); ++i)
            QCOMPARE(statusOf(watched[i]).value_or(Status {}).content, after[i].value_or(Status {}).content);
        QVERIFY(UndoRun(QString(), kJournal).complete());
        QCOMPARE(statusesOf(watched), before);
    }

    // A file that is not as the run left it is never overwritten: it is
    // reported and the others are restored.
    void leftAlone_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("message");
        QTest::newRow("changed") << 0 << u"The file %1 was changed after the run; it was left as it is."_s;
        QTest::newRow("deleted") << 1 << u"The file %1 is no longer there; nothing was restored."_s;
        QTest::newRow("same size, other bytes") << 2 << u"The file %1 was changed after the run; it was left as it is."_s;
        QTest::newRow("replace as target changed") << 3 << u"The file %1 was changed after the run; it was left as it is."_s;
        // Another user puts a link where the run's file stood, to a file of
        // root's that holds exactly what the run wrote: Undo follows no such
        // link, neither to write nor to delete nor to give away an owner.
        QTest::newRow("link planted after a replace") << 4 << u"The file %1 was changed after the run; it was left as it is."_s;
        QTest::newRow("link planted after a replace as") << 5 << u"The file %1 was changed after the run; it was left as it is."_s;
        QTest::newRow("link planted, record of an older version") << 6 << u"The file %1 was changed after the run; it was left as it is."_s;
    }
    void leftAlone()
    {
        QFETCH(int, change);
        QFETCH(QString, message);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello a\n");
        const QString b = WriteFileIn(m_dir->path(), u"b.txt"_s, "hello b\n");
        const QString out = path(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const bool as = change == 3 || change == 5;
        const RunResult run = replace({a, b}, kJournal, as ? RunMode::ReplaceAs : RunMode::Replace, as ? out : QString());
        QCOMPARE(run.end, RunResult::End::Completed);
        const QString touched = as ? out + u"/a-new.txt"_s : a;
        const QString other = as ? out + u"/b-new.txt"_s : b;
        if (change == 1) {
            QVERIFY(QFile::remove(touched));
        } else if (change >= 4) {
            const QString victim = WriteFileIn(path(u"private"_s), u"victim"_s, ReadFile(touched));
            QCOMPARE(::chmod(NativePath(victim).constData(), 0600), 0);
            QCOMPARE(::chown(NativePath(victim).constData(), 65534, 65534), 0);
            if (change == 6) {
                // Older versions recorded no identity of what the run left.
                const QString record = RunJournalFolder() + u'/' + run.journalRun + u"/record"_s;
                WriteFile(
                    record, QString::fromLatin1(ReadFile(record)).replace(QRegularExpression(u"(?m)^done (\\d+) \\d+ \\d+$"_s), u"done \\1"_s).toLatin1());
            }
            QVERIFY(QFile::remove(touched));
            QVERIFY(QFile::link(victim, touched));
        } else {
            WriteFile(touched, change == 2 ? "HI? a\n" : "edited by hand\n");
        }
        const std::optional<Status> kept = statusOf(touched);
        const UndoOutcome undone = UndoRun(QString(), kJournal);
        QCOMPARE(std::tuple(undone.end, undone.restored, undone.leftAlone), std::tuple(UndoOutcome::End::Completed, 1, QStringList {message.arg(touched)}));
        QCOMPARE(statusOf(touched), kept);
        QCOMPARE(QFileInfo(touched).isSymLink(), change >= 4);
        QCOMPARE(statusOf(other).has_value(), !as);
        if (!as)
            QCOMPARE(ReadFile(other), "hello b\n");
        QCOMPARE(UndoRun(QString(), kJournal).restored, 1); // the Undo itself, of the one file it restored
    }

    // Runs go oldest first beyond either limit, never the run just made.
    void retention_data()
    {
        QTest::addColumn<int>("maxRuns");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("left");
        QTest::newRow("runs") << 3 << (qint64(1) << 30) << 3;
        QTest::newRow("bytes") << 20 << qint64(250) << 2;
        QTest::newRow("one run too big") << 20 << qint64(50) << 1;
        QTest::newRow("within both") << 20 << (qint64(1) << 30) << 5;
    }
    void retention()
    {
        QFETCH(int, maxRuns);
        QFETCH(qint64, maxBytes);
        QFETCH(int, left);
        const QString a = path(u"a.txt"_s);
        QStringList ids;
        for (int i = 0; i < 5; ++i) {
            WriteFile(a, "hello " + QByteArray(94, char('0' + i))); // 100 bytes kept per run
            ids.prepend(replace({a}, {true, maxRuns, maxBytes}).journalRun);
        }
        QStringList kept;
        for (const JournalRun &run : ListRuns())
            kept.append(run.id);
        QCOMPARE(kept, ids.mid(0, left));
        QCOMPARE(QDir(RunJournalFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), left);
    }

    // Nothing is recorded where nothing changed, or without the journal.
    void nothingRecorded_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no occurrence") << true << QByteArray("nothing\n");
        QTest::newRow("journal off") << false << QByteArray("hello\n");
    }
    void nothingRecorded()
    {
        QFETCH(bool, keep);
        QFETCH(QByteArray, content);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, content);
        QCOMPARE(replace({a}, {keep, 20, 1 << 20}).journalRun, QString());
        QCOMPARE(QDir(RunJournalFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(UndoRun(QString(), kJournal).end, UndoOutcome::End::NothingToUndo);
    }

    // A user who cannot write the journal's folder: the file is not touched
    // and the run ends with one message.
    void unwritableJournal()
    {
        QCOMPARE(::chmod(NativePath(m_dir->path()).constData(), 0777), 0);
        QCOMPARE(::chmod(NativePath(m_temp->path()).constData(), 0777), 0);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello\n");
        QCOMPARE(::chmod(NativePath(a).constData(), 0666), 0);
        QVERIFY(QDir().mkpath(RunJournalFolder()));
        QCOMPARE(::chmod(NativePath(RunJournalFolder()).constData(), 0755), 0); // root's, not nobody's
        const QString state = QFileInfo(RunJournalFolder()).path();
        const int code = RunUnprivileged([&]() -> int {
            ScriptedHost host({a});
            host.undo = kJournal;
            const RunResult run = host.run(RunMode::Replace, u"hello"_s, u"HI"_s);
            CHILD_CHECK(run.end == RunResult::End::CopyFailed && run.journalRun.isEmpty());
            CHILD_CHECK(host.sink.texts()
                == QStringList {u"Cannot keep a copy for Undo: Belongs to another user - %1\r\n\r\nThe file %2 was left as it is."_s.arg(state, a)});
            return 0;
        });
        QCOMPARE(code, 0);
        QCOMPARE(ReadFile(a), "hello\n");
        QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    }

    // Perrox's own folders are used only while they are the user's alone:
    // records another user could have put there are never run, neither by
    // Undo nor at a start, and no Replace keeps a copy there.
    void foreignStateFolder_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("folder"); // the one refused, below the state home
        QTest::newRow("another user's") << u"nobody"_s << u"Belongs to another user"_s << u"perrox"_s;
        QTest::newRow("open to all") << u"0777"_s << u"Other users may write to it"_s << u"perrox"_s;
        QTest::newRow("a link to a folder of another user's") << u"link"_s << u"Is a symbolic link, not a folder of your own"_s << u"perrox"_s;
        // The records of rewrites are still of use; the journal is not.
        QTest::newRow("its runs open to all") << u"runs"_s << u"Other users may write to it"_s << u"perrox/runs"_s;
    }
    void foreignStateFolder()
    {
        QFETCH(QString, how);
        QFETCH(QString, reason);
        QFETCH(QString, folder);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello\n");
        const QString linked = WriteFileIn(m_dir->path(), u"linked.txt"_s, "old content");
        QCOMPARE(::link(NativePath(linked).constData(), NativePath(path(u"other.txt"_s)).constData()), 0);
        QVERIFY(!replace({a}).journalRun.isEmpty());
        QVERIFY(LeaveInterruptedRewrite(linked, "new"));
        const QString state = StateFolder();
        const QByteArray native = NativePath(state);
        if (how == u"nobody"_s) {
            QCOMPARE(std::system(("chown -R nobody " + native).constData()), 0);
        } else if (how == u"0777"_s) {
            QCOMPARE(::chmod(native.constData(), 0777), 0);
        } else if (how == u"runs"_s) {
            QCOMPARE(::chmod(NativePath(RunJournalFolder()).constData(), 0777), 0);
        } else {
            QVERIFY(QFile::rename(state, state + u"-moved"_s));
            QCOMPARE(std::system(("chown -R nobody " + native + "-moved").constData()), 0);
            QVERIFY(QFile::link(state + u"-moved"_s, state));
        }
        const QString refused = FileErrorMessage(reason, QFileInfo(state).path() + u'/' + folder);
        const bool rewrites = how == u"runs"_s;
        const QString finished
            = u"Perrox was stopped while it rewrote the file %1 and has now finished it.\r\n\r\n"_s.arg(QFileInfo(linked).canonicalFilePath());
        QCOMPARE(FinishStoppedRuns(),
            (rewrites ? finished : QString()) + u"Perrox does not use its folder of records and Undo copies: "_s + refused
                + u". Nothing is kept there and nothing is undone from it until it is a folder of yours alone (mode 0700)."_s);
        QCOMPARE(ReadFile(linked), rewrites ? "new"_ba : "old content"_ba);
        QCOMPARE(UndoRun(QString(), kJournal).end, UndoOutcome::End::NothingToUndo);
        QCOMPARE(ReadFile(a), "HI!\n"_ba);
        // A Replace keeps no copy there, so it replaces nothing; without Undo it may.
        const QString b = WriteFileIn(m_dir->path(), u"b.txt"_s, "hello b\n");
        ScriptedHost host({b});
        host.undo = kJournal;
        host.run(RunMode::Replace, u"hello"_s, u"HI!"_s);
        QCOMPARE(host.sink.texts(), QStringList {u"Cannot keep a copy for Undo: %1\r\n\r\nThe file %2 was left as it is."_s.arg(refused, b)});
        QCOMPARE(ReadFile(b), "hello b\n"_ba);
        QCOMPARE(replace({b}, UndoSettings {false}).end, RunResult::End::Completed);
        QCOMPARE(ReadFile(b), "HI! b\n"_ba);
        if (how == u"link"_s) {
            QVERIFY(QFile::remove(state));
            QVERIFY(QDir(state + u"-moved"_s).removeRecursively());
        }
    }

    // A folder that takes no new name (nobody's file in root's folder): the
    // file is rewritten in place, so the hard link first made to keep it
    // gives way to a copy; Undo rewrites it back the same way.
    void rewrittenInPlace()
    {
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello world\n");
        QCOMPARE(::chown(NativePath(a).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(NativePath(m_dir->path()).constData(), 0755), 0);
        QCOMPARE(::chmod(NativePath(m_temp->path()).constData(), 0777), 0);
        const int code = RunUnprivileged([&]() -> int {
            ScriptedHost host({a});
            host.undo = kJournal;
            CHILD_CHECK(host.run(RunMode::Replace, u"hello"_s, u"HI"_s).end == RunResult::End::Completed && host.sink.texts().isEmpty());
            CHILD_CHECK(ReadFile(a) == "HI world\n" && keptFiles() == 1 && statusOf(a)->links == 1);
            CHILD_CHECK(UndoRun(QString(), kJournal).complete() && ReadFile(a) == "hello world\n");
            return 0;
        });
        QCOMPARE(code, 0);
    }

    // kill -9 in the middle of a Replace of many files: the next start
    // tidies the journal, which then undoes exactly the files replaced.
    void killedDuringReplace()
    {
        QStringList paths;
        for (int i = 0; i < 60; ++i)
            paths.append(WriteFileIn(m_dir->path(), u"f%1.txt"_s.arg(i, 2, 10, QLatin1Char('0')), "hello " + QByteArray::number(i) + '\n'));
        const QList<std::optional<Status>> before = statusesOf(paths);
        const int code = RunInChild([&]() -> int {
            ScriptedHost host(paths);
            host.undo = kJournal;
            host.onBeforeCommit = [](int row) {
                if (row == 37)
                    ::raise(SIGKILL);
            };
            host.run(RunMode::Replace, u"hello"_s, u"HI"_s);
            return 0;
        });
        QCOMPARE(code, -1);
        // The killed run's own folder, with the results it had not put in place yet, is left to whoever killed it.
        const QStringList left = TemporaryFilesIn(m_temp->path());
        QVERIFY(!left.isEmpty());
        QVERIFY(left.at(0).startsWith(u"perrox-"_s));
        QVERIFY(QDir(m_temp->filePath(left.at(0))).removeRecursively());
        for (int i = 0; i < 60; ++i)
            QCOMPARE(ReadFile(paths[i]).startsWith("HI "), i < 37);
        RecoverInterruptedRuns();
        const std::optional<JournalRun> run = LastUndoableRun();
        QVERIFY(run);
        QCOMPARE(run->changedFiles(), 37);
        QCOMPARE(keptFiles(), 37);
        for (const QString &p : paths)
            QCOMPARE(statusOf(p)->links, nlink_t(1)); // no link of the journal left on an untouched file
        QVERIFY(UndoRun(QString(), kJournal).complete());
        QCOMPARE(statusesOf(paths), before);
    }

    // A crash that lost the "done" lines and the end of the record: each
    // entry is judged by what its file holds.
    void lostDoneLines()
    {
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello a\n");
        const QString b = WriteFileIn(m_dir->path(), u"b.txt"_s, "hello b\n");
        const QString id = replace({a, b}).journalRun;
        const QString record = RunJournalFolder() + u"/"_s + id + u"/record"_s;
        QByteArray text = ReadFile(record);
        QByteArrayList lines = text.split('\n');
        lines.removeIf([](const QByteArray &line) { return line.startsWith("done ") || line == "end"; });
        text = lines.join('\n');
        WriteFile(record, text + "entry 3 R k3 00 1 644 0 0 0 0 0 0 1 /no/such/fi"); // a last line cut short
        WriteFile(b, "hello b\n"); // as if the crash came before b was replaced
        // What a crash leaves while a copy is made or a run's folder is new.
        WriteFile(RunJournalFolder() + u"/"_s + id + u"/k3"_s, "half a copy");
        WriteFile(RunJournalFolder() + u"/"_s + id + u"/k1.part"_s, "half a copy");
        QVERIFY(QDir().mkpath(RunJournalFolder() + u"/20200101-000000-000"_s));
        RecoverInterruptedRuns();
        JournalRun run;
        QVERIFY(LoadRun(id, run));
        QCOMPARE(run.changedFiles(), 1);
        QCOMPARE(QDir(RunJournalFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList {id});
        QCOMPARE(QDir(RunJournalFolder() + u"/"_s + id).entryList(QDir::Files), QStringList({u"k1"_s, u"record"_s}));
        QCOMPARE(UndoRun(id, kJournal).leftAlone, QStringList());
        QCOMPARE(std::pair(ReadFile(a), ReadFile(b)), std::pair(QByteArray("hello a\n"), QByteArray("hello b\n")));
    }

    // A journal is read as if it could hold anything: a damaged line, or a
    // kept copy that is no longer what was kept, leaves its file alone with
    // a message; nothing hangs, overflows or reaches another file.
    void damagedJournal_data()
    {
        QTest::addColumn<QString>("damage"); // what happens to the run of a.txt and b.txt
        QTest::addColumn<QString>("message"); // %1 a.txt, %2 the run
        QTest::addColumn<int>("restored"); // a.txt stays replaced unless both are restored
        const QString lines = u"The record of the run %2 cannot be read at lines 4, 6; what it names there was left as it is."_s;
        QTest::newRow("kept copy became a named pipe") << u"pipe"_s << u"The copy kept of %1 is not what the run kept; the file was left as it is."_s << 1;
        QTest::newRow("kept copy cut short") << u"cut"_s << u"The copy kept of %1 is not what the run kept; the file was left as it is."_s << 1;
        // A program that still had the old file open wrote into it after the
        // run: the kept copy is that file, by a hard link.
        QTest::newRow("kept copy written since") << u"write"_s << u"The copy kept of %1 is not what the run kept; the file was left as it is."_s << 1;
        QTest::newRow("kept copy became a link") << u"link"_s
                                                 << u"The copy kept of %1 cannot be read (Too many levels of symbolic links); the file was left as it is."_s
                                                 << 1;
        QTest::newRow("size beyond any file") << u"entry 1 R k1 \\S+ \\K\\d+|9223372036854775807"_s << lines << 1;
        QTest::newRow("kept bytes beyond any file") << u"entry 1 R(?: \\S+){10} \\K\\d+|9223372036854775807"_s << lines << 1;
        QTest::newRow("negative size") << u"entry 1 R k1 \\S+ \\K\\d+|-8"_s << lines << 1;
        QTest::newRow("blank after a number") << u"entry 1 R k1 \\S+ \\K(\\d+)|\\1\t"_s << lines << 1;
        QTest::newRow("nanoseconds out of range") << u"entry 1 R(?: \\S+){7} \\K\\d+|1000000000"_s << lines << 1;
        QTest::newRow("path ends in a carriage return") << u"(entry 1 .*)$|\\1\r"_s << lines << 1;
        QTest::newRow("path cut by a NUL") << u"(entry 1 .*)a.txt$|\\1%00a.txt"_s << lines << 1;
        QTest::newRow("kept copy named outside") << u"entry 1 R \\Kk1|../k1"_s << lines << 1;
        QTest::newRow("a record of the version before, intact") << u"older"_s << QString() << 2;
        QTest::newRow("unknown entry done") << u"^done \\K2|7"_s
                                            << u"The record of the run %2 cannot be read at line 7; what it names there was left as it is."_s << 2;
    }
    void damagedJournal()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        QFETCH(int, restored);
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello a\n");
        const QString b = WriteFileIn(m_dir->path(), u"b.txt"_s, "hello b\n");
        const QString id = replace({a, b}).journalRun;
        const QString folder = RunJournalFolder() + u'/' + id;
        const QByteArray kept = NativePath(folder + u"/k1"_s);
        if (damage == u"pipe"_s) {
            QVERIFY(QFile::remove(folder + u"/k1"_s));
            QCOMPARE(::mkfifo(kept.constData(), 0600), 0);
        } else if (damage == u"cut"_s) {
            QCOMPARE(::truncate(kept.constData(), 3), 0);
        } else if (damage == u"write"_s) {
            QFile old(folder + u"/k1"_s);
            QVERIFY(old.open(QIODevice::ReadWrite));
            QCOMPARE(old.write("J"), 1);
        } else if (damage == u"link"_s) {
            QVERIFY(QFile::rename(folder + u"/k1"_s, folder + u"/elsewhere"_s));
            QVERIFY(QFile::link(folder + u"/elsewhere"_s, folder + u"/k1"_s));
        } else if (damage == u"older"_s) {
            // Entries without the hash of the kept content, done lines without the file's identity.
            const QString record = folder + u"/record"_s;
            QString text = QString::fromLatin1(ReadFile(record));
            text.replace(QRegularExpression(u"(?m)^(entry(?: \\S+){13}) \\S+ (\\S+)$"_s), u"\\1 \\2"_s);
            text.replace(QRegularExpression(u"(?m)^done (\\d+) \\d+ \\d+$"_s), u"done \\1"_s);
            QCOMPARE(text.count(QRegularExpression(u"(?m)^entry( \\S+){14}$"_s)), 2);
            WriteFile(record, text.toLatin1());
        } else {
            const QStringList how = damage.split(u'|');
            const QString record = folder + u"/record"_s;
            const QString text = QString::fromLatin1(ReadFile(record));
            const QString damaged = QString(text).replace(QRegularExpression(how.at(0), QRegularExpression::MultilineOption), how.at(1));
            QVERIFY(damaged != text);
            WriteFile(record, damaged.toLatin1());
        }
        ::alarm(20); // a hang ends the test
        const UndoOutcome undone = UndoRun(id, kJournal);
        ::alarm(0);
        QCOMPARE(undone.leftAlone, message.isEmpty() ? QStringList() : QStringList {QString(message).replace(u"%1"_s, a).replace(u"%2"_s, id)});
        QCOMPARE(std::pair(ReadFile(a), ReadFile(b)), std::pair(restored == 2 ? "hello a\n"_ba : "HI! a\n"_ba, "hello b\n"_ba));
        QCOMPARE(undone.restored, restored);
    }

    // The command line: --undo, --undo-run, --history and --no-undo, with
    // their exit codes; two processes writing runs at once.
    void batch()
    {
        const QString a = WriteFileIn(m_dir->path(), u"a.txt"_s, "hello a\n");
        const QString b = WriteFileIn(m_dir->path(), u"b.txt"_s, "hello b\n");
        auto batch = [](const QStringList &arguments) {
            QProcess p;
            p.start(QString::fromLocal8Bit(PERROX_BATCH_BINARY), arguments);
            p.waitForFinished(60000);
            return std::tuple(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError()));
        };
        const QString nothing = u"There is nothing to undo.\n"_s;
        QCOMPARE(batch({u"--undo"_s}), std::tuple(2, QString(), nothing));
        QCOMPARE(batch({u"--undo-run"_s, u"20200101-000000-000"_s}), std::tuple(2, QString(), u"There is no run 20200101-000000-000 in the journal.\n"_s));
        QCOMPARE(std::get<0>(batch({u"--undo"_s, u"--replace"_s})), 2);
        QCOMPARE(std::get<0>(batch({u"--undo-max-runs"_s, u"0"_s, u"--find"_s, u"x"_s, u"--with"_s, u"y"_s, a})), 2);
        QCOMPARE(
            batch({u"--replace"_s, u"--no-undo"_s, u"--find"_s, u"hello"_s, u"--with"_s, u"HI"_s, a}), std::tuple(0, u"       1  %1\n"_s.arg(a), QString()));
        QCOMPARE(batch({u"--history"_s}), std::tuple(0, QString(), QString()));
        // A run of the core, as the window makes it, undone from the command line.
        const QString c = WriteFileIn(m_dir->path(), u"c.txt"_s, "hello c\n");
        QVERIFY(!replace({c}).journalRun.isEmpty());
        QCOMPARE(batch({u"--undo"_s}), std::tuple(0, u"1 of 1 file was restored.\n"_s, QString()));
        QCOMPARE(ReadFile(c), "hello c\n");
        QCOMPARE(LastUndoableRun()->mode, JournalMode::Undo);
        QVERIFY(UndoRun(QString(), kJournal).complete());
        QCOMPARE(ReadFile(c), "HI! c\n");

        // Ten processes at once: ten runs, none lost.
        QList<QProcess *> running;
        for (int i = 0; i < 10; ++i) {
            const QString f = WriteFileIn(m_dir->path(), u"p%1.txt"_s.arg(i), "hello\n");
            running.append(new QProcess(this));
            running.last()->start(QString::fromLocal8Bit(PERROX_BATCH_BINARY), {u"--replace"_s, u"--find"_s, u"hello"_s, u"--with"_s, u"HI"_s, f});
        }
        for (QProcess *p : running) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
            delete p;
        }
        QCOMPARE(ListRuns().size(), size_t(13));

        QCOMPARE(std::get<0>(batch({u"--replace"_s, u"--find"_s, u"hello"_s, u"--with"_s, u"HI"_s, b})), 0);
        const QString id = ListRuns().front().id;
        const auto [code, out, err] = batch({u"--history"_s});
        QCOMPARE(code, 0);
        QCOMPARE(out.count(u'\n'), 14);
        QVERIFY2(QRegularExpression(u"^%1 +\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Replace +1 file +8 bytes kept\n"_s.arg(QRegularExpression::escape(id)))
                     .match(out)
                     .hasMatch(),
            qPrintable(out));
        WriteFile(b, "changed\n");
        QCOMPARE(
            batch({u"--undo"_s}), std::tuple(1, u"0 of 1 file was restored.\n"_s, u"The file %1 was changed after the run; it was left as it is.\n"_s.arg(b)));
        QCOMPARE(batch({u"--undo-run"_s, id}), std::tuple(2, QString(), u"The run %1 was undone already.\n"_s.arg(id)));
        const std::vector<JournalRun> runs = ListRuns();
        const auto oldestP
            = std::find_if(runs.rbegin(), runs.rend(), [](const JournalRun &r) { return r.undoneBy.isEmpty() && r.mode == JournalMode::Replace; });
        QCOMPARE(std::get<0>(batch({u"--undo-run"_s, oldestP->id})), 0);
        int restored = 0;
        for (int i = 0; i < 10; ++i)
            restored += ReadFile(path(u"p%1.txt"_s.arg(i))) == "hello\n";
        QCOMPARE(restored, 1);
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
