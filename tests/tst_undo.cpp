#include "commit/rewritejournal.h"
#include "commit/runjournal.h"
#include "commit/statefolder.h"
#include "engine/undorun.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "support/scenario.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;
using End = perrox::RunResult::End;

namespace {

const UndoSettings kJournal {true, 20, qint64(1) << 30};

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

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private:
    std::optional<Scene> m_scene;

    // hello>HI! over the rows: 'r' Replace, 'a' Replace As to out/ with the suffix "-new", overwriting ('k' keeping the
    // folders), 'o' Replace
    // without the journal, 'n' Replace of a find that is not there, 'l' Replace with the journal under these limits.
    // Undo restores files by new inodes: the scene's files are not compared by inode.
    RunResult replace(const QStringList &rows, char how = 'r', bool keepTimes = false, UndoSettings limits = kJournal)
    {
        m_scene->made.clear();
        ScriptedHost host(rows);
        host.undo = how == 'o' ? UndoSettings {false} : limits;
        host.keepTimes = keepTimes;
        return m_scene
            ->run(host, how == 'a' || how == 'k' ? RunMode::ReplaceAs : RunMode::Replace, how == 'n' ? "absent>x" : "hello>HI!",
                {.target = how == 'k' ? "out  -new keep" : "out  -new", .overwrite = true})
            .first;
    }
    // What Undo says, as the command line says it: why it did nothing, or how many files it restored and why it left
    // others alone; paths relative, the run as RUN.
    QStringList undo(const QString &id = {})
    {
        RecoverInterruptedRuns();
        const UndoOutcome outcome = UndoRun(id, kJournal);
        QStringList lines {UndoRefusalText(outcome, id)};
        if (lines.at(0).isEmpty())
            lines = QStringList {UndoSummaryText(outcome)} + outcome.leftAlone;
        for (QString &line : lines)
            line = m_scene->relative(outcome.run.id.isEmpty() ? line : line.replace(outcome.run.id, u"RUN"_s));
        return lines;
    }

private slots:
    void init()
    {
        m_scene.emplace();
        m_scene->roots.insert("RUNS", RunJournalFolder());
        m_scene->make("+private/|+out/");
    }
    // No run leaves a temporary file behind; a test that kills one removes what it left.
    void cleanup()
    {
        const QStringList left = TemporaryFilesIn(m_scene->temp());
        m_scene.reset();
        QCOMPARE(left, QStringList());
    }

    void roundTrip_data();
    void roundTrip();
    void undoAfterChanges_data();
    void undoAfterChanges();
    void hashForms();
    void retention_data();
    void retention();
    void unwritableJournal();
    void foreignStateFolder_data();
    void foreignStateFolder();
    void rewrittenInPlace();
    void batch();
};

void TestUndo::roundTrip_data()
{
    QTest::addColumn<QByteArray>("files");
    QTest::addColumn<char>("how");
    QTest::addColumn<int>("changed"); // files the run changed
    QTest::addColumn<bool>("keepTimes");
    const QByteArray a = "a.txt=hello world, hello\n", older = "|+out/a-new.txt=an older result\n", linked = "|+b.txt&a.txt",
                     owned = "|+a.txt:0751|+a.txt:nobody";
    QTest::newRow("symbolic link") << "+" + a + "|link.txt->a.txt" << 'r' << 1 << false;
    QTest::newRow("hard links") << a + linked << 'r' << 1 << false;
    QTest::newRow("mode 0751, another owner") << a + owned << 'r' << 1 << false;
    QTest::newRow("replace as: new target") << a << 'a' << 1 << false;
    QTest::newRow("replace as: overwritten target") << a + older << 'a' << 1 << false;
    QTest::newRow("replace as: two sources of one name, folders kept") << a + "|sub/a.txt=hello from sub\n|+out/sub/" << 'k' << 2 << false;
    QTest::newRow("several files, one without occurrences") << a + "|c.txt=nothing here\n|d.txt=hello again\n" << 'r' << 2 << false;
    QTest::newRow("hard links, times kept") << a + linked << 'r' << 1 << true;
    QTest::newRow("mode 0751, another owner, times kept") << a + owned << 'r' << 1 << true;
    QTest::newRow("replace as: overwritten target, times kept") << a + older << 'a' << 1 << true;
}

// Replace (or Replace As) and Undo give every file back exactly: bytes,
// mode, owner, modification time and links; Undo of the Undo gives the
// result back. With the times kept, every result has its source's
// modification time, and Undo still restores everything.
void TestUndo::roundTrip()
{
    QFETCH(QByteArray, files);
    QFETCH(char, how);
    QFETCH(int, changed);
    QFETCH(bool, keepTimes);
    const QString summary = u"%1 of %1 %2 restored."_s.arg(changed).arg(changed == 1 ? u"file was"_s : u"files were"_s);
    const QStringList rows = m_scene->make(files);
    const auto before = m_scene->entries(true);
    const RunResult run = replace(rows, how, keepTimes);
    QCOMPARE(run.end, End::Completed);
    const auto after = m_scene->entries(), status = m_scene->entries(true);
    QVERIFY(status != before);
    for (auto entry = status.begin(); keepTimes && entry != status.end(); ++entry) // every file has the time make() gave them all
        if (entry.value().startsWith('['))
            QCOMPARE(entry.value().split(' ').value(3), "1000000000.123456789"_ba);
    QCOMPARE(LastUndoableRun().value_or(JournalRun {}).id, run.journalRun);
    QCOMPARE(undo(), QStringList {summary});
    QCOMPARE(m_scene->entries(true), before);
    QCOMPARE(history(), QStringList({u"Undo"_s, u"Replace%1*"_s.arg(how == 'a' || how == 'k' ? u" As"_s : QString())}));
    // Undo of the Undo: the result again, byte for byte (times and modes are those of a new result).
    QCOMPARE(undo().size(), 1);
    QCOMPARE(m_scene->entries(), after);
    QCOMPARE(undo().size(), 1);
    QCOMPARE(m_scene->entries(true), before);
}

void TestUndo::undoAfterChanges_data()
{
    QTest::addColumn<char>("how");
    QTest::addColumn<QByteArray>("meanwhile"); // a layout made after the run (JOURNAL its folder in the journal)
    QTest::addColumn<QString>("said"); // by the Undo, joined by '\n'
    QTest::addColumn<QByteArray>("after"); // a layout of what stands afterwards
    const QByteArray victim = "private/victim=HI! a\n|private/victim:0600|private/victim:nobody|";
    const QString changed = u"1 of 2 files were restored.\nThe file %1 was changed after the run; it was left as it is."_s;
    const QString copy = u"1 of 2 files were restored.\nThe copy kept of a.txt %1; the file was left as it is."_s;
    const QString lines = u"1 of 1 file was restored.\nThe record of the run RUN cannot be read at lines 4, 6; what it names there was left as it is."_s;
    // A file that is not as the run left it is never overwritten: it is reported and the others are restored.
    QTest::newRow("deleted") << 'r' << "a.txt!"_ba << u"1 of 2 files were restored.\nThe file a.txt is no longer there; nothing was restored."_s
                             << "a.txt!|b.txt=hello b\n"_ba;
    QTest::newRow("same size, other bytes") << 'r' << "a.txt=HI? a\n"_ba << changed.arg(u"a.txt"_s) << "a.txt=HI? a\n|b.txt=hello b\n"_ba;
    QTest::newRow("replace as target changed") << 'a' << "out/a-new.txt=edited\n"_ba << changed.arg(u"out/a-new.txt"_s)
                                               << "out/a-new.txt=edited\n|out/b-new.txt!"_ba;
    // Another user puts a link where the run's file stood, to a file of root's that holds exactly what the run wrote:
    // Undo follows no such link, neither to write nor to delete nor to give away an owner.
    QTest::newRow("link planted after a replace") << 'r' << victim + "a.txt!|a.txt->private/victim" << changed.arg(u"a.txt"_s)
                                                  << victim + "a.txt->private/victim|b.txt=hello b\n";
    QTest::newRow("link planted after a replace as") << 'a' << victim + "out/a-new.txt!|out/a-new.txt->../private/victim" << changed.arg(u"out/a-new.txt"_s)
                                                     << victim + "out/a-new.txt->../private/victim|out/b-new.txt!";
    // Older versions recorded no identity of what the run left.
    QTest::newRow("link planted, record of an older version") << 'r' << victim + "JOURNAL/record%^done (\\d+) \\d+ \\d+$%done \\1|a.txt!|a.txt->private/victim"
                                                              << changed.arg(u"a.txt"_s) << victim + "a.txt->private/victim|b.txt=hello b\n";
    // A journal is read as if it could hold anything: a damaged line, or a kept copy that is no longer what was kept,
    // leaves its file alone with a message; nothing hangs, overflows or reaches another file.
    QTest::newRow("kept copy became a named pipe") << 'r' << "JOURNAL/k1!|JOURNAL/k1:pipe"_ba << copy.arg(u"is not what the run kept"_s) << QByteArray();
    QTest::newRow("kept copy cut short") << 'r' << "JOURNAL/k1=hel"_ba << copy.arg(u"is not what the run kept"_s) << QByteArray();
    // A program that still had the old file open wrote into it after the run: the kept copy is that file, by a hard link.
    QTest::newRow("kept copy written since") << 'r' << "JOURNAL/k1=Jello a\n"_ba << copy.arg(u"is not what the run kept"_s) << QByteArray();
    QTest::newRow("kept copy became a link") << 'r' << "JOURNAL/elsewhere<JOURNAL/k1|JOURNAL/k1->elsewhere"_ba
                                             << copy.arg(u"cannot be read (Too many levels of symbolic links)"_s) << QByteArray();
    QTest::newRow("size beyond any file") << 'r' << "JOURNAL/record%entry 1 R k1 \\S+ \\K\\d+%9223372036854775807"_ba << lines << QByteArray();
    QTest::newRow("kept bytes beyond any file") << 'r' << "JOURNAL/record%entry 1 R(?: \\S+){10} \\K\\d+%9223372036854775807"_ba << lines << QByteArray();
    QTest::newRow("negative size") << 'r' << "JOURNAL/record%entry 1 R k1 \\S+ \\K\\d+%-8"_ba << lines << QByteArray();
    QTest::newRow("blank after a number") << 'r' << "JOURNAL/record%entry 1 R k1 \\S+ \\K(\\d+)%\\1\t"_ba << lines << QByteArray();
    QTest::newRow("nanoseconds out of range") << 'r' << "JOURNAL/record%entry 1 R(?: \\S+){7} \\K\\d+%1000000000"_ba << lines << QByteArray();
    QTest::newRow("path ends in a carriage return") << 'r' << "JOURNAL/record%(entry 1 .*)$%\\1\r"_ba << lines << QByteArray();
    QTest::newRow("path cut by a NUL") << 'r' << "JOURNAL/record%(entry 1 .*)a.txt$%\\1%00a.txt"_ba << lines << QByteArray();
    QTest::newRow("kept copy named outside") << 'r' << "JOURNAL/record%entry 1 R \\Kk1%../k1"_ba << lines << QByteArray();
    // Entries without the hash of the kept content, done lines without the file's identity.
    QTest::newRow("a record of the version before, intact")
        << 'r' << "JOURNAL/record%^(entry(?: \\S+){13}) \\S+ (\\S+)$%\\1 \\2|JOURNAL/record%^done (\\d+) \\d+ \\d+$%done \\1"_ba
        << u"2 of 2 files were restored."_s << "a.txt=hello a\n"_ba;
    // Records of versions that hashed with SHA-256 still undo, and still tell a changed file.
    const QByteArray sha256 = "JOURNAL/record%entry 1 R k1 \\K\\S+%7a9cf3cbc356fc9d408c658c4191668b03c37f2659ca9fd320697ed6aeb404e8|JOURNAL/record%(entry 1(?: "
                              "\\S+){12}) \\S+%\\1 448a19594af45f888493a4cb8b6e12ed42fc773dab6db35a299370ebfc805270|"
                              "JOURNAL/record%(entry 2(?: \\S+){12}) \\S+%\\1 "
                              "bc94fa295f07f57f08244bd77df8c1cc69b7b9d7eedbaed714d0c696ab07c394|JOURNAL/record%entry 2 R k2 \\K\\S+%";
    QTest::newRow("a record of SHA-256 hashes") << 'r' << sha256 + "0349734887a5d6d8b6502541941d4769e03bf1aa6346555ff4ef6bd3d99dc1cf"
                                                << u"2 of 2 files were restored."_s << "a.txt=hello a\n|b.txt=hello b\n"_ba;
    QTest::newRow("a record of SHA-256 hashes, a file changed since")
        << 'r' << sha256 + "bc94fa295f07f57f08244bd77df8c1cc69b7b9d7eedbaed714d0c696ab07c394" << changed.arg(u"b.txt"_s) << "a.txt=hello a\n|b.txt=HI! b\n"_ba;
    QTest::newRow("unknown entry done")
        << 'r' << "JOURNAL/record%^done \\K2%7"_ba
        << u"2 of 2 files were restored.\nThe record of the run RUN cannot be read at line 7; what it names there was left as it is."_s << "a.txt=hello a\n"_ba;
    // A crash that lost the "done" lines and the end of the record, before b.txt was replaced, while a copy was made
    // and a run's folder was new: each entry is judged by what its file holds, and what the crash left goes.
    QTest::newRow("done lines lost") << 'r'
                                     << "JOURNAL/record%^done .*\\n%|JOURNAL/record%^end$\\n?%|JOURNAL/record%\\z%entry 3 R k3 00 1 644 0 0 0 0 0 0 1 "
                                        "/no/such/fi|b.txt=hello b\n|JOURNAL/k3=half a copy|"
                                        "JOURNAL/k1.part=half a copy|RUNS/20200101-000000-000/"_ba
                                     << u"1 of 1 file was restored."_s
                                     << "a.txt=hello a\n|JOURNAL#2|JOURNAL/k3!|JOURNAL/k1.part!|RUNS#2|RUNS/20200101-000000-000!"_ba;
    // Nothing is recorded where nothing changed, or without the journal.
    QTest::newRow("no occurrence") << 'n' << QByteArray() << u"There is nothing to undo."_s << "a.txt=hello a\n|RUNS#0"_ba;
    QTest::newRow("journal off") << 'o' << QByteArray() << u"There is nothing to undo."_s << "a.txt=HI! a\n|RUNS#0"_ba;
}

void TestUndo::undoAfterChanges()
{
    QFETCH(char, how);
    QFETCH(QByteArray, meanwhile);
    QFETCH(QString, said);
    QFETCH(QByteArray, after);
    const RunResult run = replace(m_scene->make("a.txt=hello a\n|b.txt=hello b\n"), how);
    QCOMPARE(run.end, End::Completed);
    m_scene->roots.insert("JOURNAL", RunJournalFolder() + u'/' + run.journalRun);
    m_scene->make(meanwhile, false);
    ::alarm(20); // a hang ends the test
    QCOMPARE(undo(), said.split(u'\n'));
    ::alarm(0);
    m_scene->check(after.isEmpty() ? "a.txt=HI! a\n|b.txt=hello b\n" : after);
}

// A hash is made the way the one it is compared with was made; records and plans of earlier versions hold SHA-256.
void TestUndo::hashForms()
{
    const QString path = m_scene->make("a.txt=hello a\n").at(0);
    const FileDescriptor fd(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    const QByteArray sha = "448a19594af45f888493a4cb8b6e12ed42fc773dab6db35a299370ebfc805270", now = HashContents(fd.get());
    qint64 size = 0;
    const std::pair<QByteArray, QByteArray> forms[] = {{{}, now}, {now, now}, {sha, sha}, {"sha256:" + sha, "sha256:" + sha}, {"md5:00", now}};
    for (const auto &[recorded, made] : forms) {
        const QByteArray hash = HashLike(fd.get(), recorded, &size);
        QCOMPARE(hash + ' ' + QByteArray::number(size), made + " 8");
    }
    QCOMPARE(now, "xxh3-128:f9f82ed80cd64c83188280e1fd8d2004"_ba);
    const std::pair<QByteArray, bool> fields[] = {{now, true}, {sha, true}, {"sha256:" + sha, false}, {now.chopped(1), false}, {sha.toUpper(), false}};
    for (const auto &[field, valid] : fields)
        QVERIFY2(IsContentHash(field) == valid, field.constData());
}

void TestUndo::retention_data()
{
    QTest::addColumn<int>("maxRuns");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<int>("left");
    QTest::newRow("runs") << 3 << (qint64(1) << 30) << 3;
    QTest::newRow("bytes") << 20 << qint64(250) << 2;
    QTest::newRow("one run too big") << 20 << qint64(50) << 1;
    QTest::newRow("within both") << 20 << (qint64(1) << 30) << 5;
}

// Runs go oldest first beyond either limit, never the run just made.
void TestUndo::retention()
{
    QFETCH(int, maxRuns);
    QFETCH(qint64, maxBytes);
    QFETCH(int, left);
    QStringList ids;
    for (int i = 0; i < 5; ++i) // 100 bytes kept per run
        ids.prepend(replace(m_scene->make("a.txt=hello " + QByteArray(94, char('0' + i))), 'l', false, {true, maxRuns, maxBytes}).journalRun);
    QStringList kept;
    for (const JournalRun &run : ListRuns())
        kept.append(run.id);
    QCOMPARE(kept, ids.mid(0, left));
    m_scene->check("RUNS#" + QByteArray::number(left));
}

// A user who cannot write the journal's folder: the file is not touched
// and the run ends with one message.
void TestUndo::unwritableJournal()
{
    const QString a = m_scene->make("a.txt=hello\n|+a.txt:0666|+.:0777|+TEMP:0777|+RUNS/|+RUNS:0755").value(0); // root's, not nobody's
    const int code = RunUnprivileged([&]() -> int {
        ScriptedHost host({a});
        host.undo = kJournal;
        const RunResult run = host.run(RunMode::Replace, u"hello"_s, u"HI"_s);
        CHILD_CHECK(run.end == End::CopyFailed);
        CHILD_CHECK(run.journalRun.isEmpty());
        CHILD_CHECK(host.sink.texts()
            == QStringList {u"Cannot keep a copy for Undo: Belongs to another user - %1\r\n\r\nThe file %2 was left as it is."_s.arg(StateFolder(), a)});
        return 0;
    });
    QCOMPARE(code, 0);
    m_scene->check("a.txt=hello\n");
    QCOMPARE(TemporaryFilesIn(m_scene->path()), QStringList());
}

void TestUndo::foreignStateFolder_data()
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

// Perrox's own folders are used only while they are the user's alone:
// records another user could have put there are never run, neither by
// Undo nor at a start, and no Replace keeps a copy there.
void TestUndo::foreignStateFolder()
{
    QFETCH(QString, how);
    QFETCH(QString, reason);
    QFETCH(QString, folder);
    const QStringList files = m_scene->make("a.txt=hello\n|linked.txt=old content|+other.txt&linked.txt|b.txt=hello b\n");
    QVERIFY(!replace({files.at(0)}).journalRun.isEmpty());
    QVERIFY(LeaveInterruptedRewrite(files.at(1), "new"));
    const QString state = StateFolder();
    const QByteArray native = NativePath(state);
    if (how == u"nobody"_s) {
        QCOMPARE(std::system(("chown -R nobody " + native).constData()), 0);
    } else if (how == u"0777"_s || how == u"runs"_s) {
        QCOMPARE(::chmod(how == u"runs"_s ? NativePath(RunJournalFolder()).constData() : native.constData(), 0777), 0);
    } else {
        QVERIFY(QFile::rename(state, state + u"-moved"_s));
        QCOMPARE(std::system(("chown -R nobody " + native + "-moved").constData()), 0);
        QVERIFY(QFile::link(state + u"-moved"_s, state));
    }
    const QString refused = FileErrorMessage(reason, QFileInfo(state).path() + u'/' + folder);
    const bool rewrites = how == u"runs"_s;
    const QString finished
        = u"Perrox was stopped while it rewrote the file %1 and has now finished it.\r\n\r\n"_s.arg(QFileInfo(files.at(1)).canonicalFilePath());
    QCOMPARE(FinishStoppedRuns(),
        (rewrites ? finished : QString()) + u"Perrox does not use its folder of records and Undo copies: "_s + refused
            + u". Nothing is kept there and nothing is undone from it until it is a folder of yours alone (mode 0700)."_s);
    m_scene->check(rewrites ? "linked.txt=new|a.txt=HI!\n" : "linked.txt=old content|a.txt=HI!\n");
    QCOMPARE(undo(), QStringList {u"There is nothing to undo."_s});
    // A Replace keeps no copy there, so it replaces nothing; without Undo it may.
    ScriptedHost host({files.at(2)});
    host.undo = kJournal;
    host.run(RunMode::Replace, u"hello"_s, u"HI!"_s);
    QCOMPARE(host.sink.texts(), QStringList {u"Cannot keep a copy for Undo: %1\r\n\r\nThe file %2 was left as it is."_s.arg(refused, files.at(2))});
    m_scene->check("b.txt=hello b\n");
    QCOMPARE(replace({files.at(2)}, 'o').end, End::Completed);
    m_scene->check("b.txt=HI! b\n");
    if (how == u"link"_s) {
        QVERIFY(QFile::remove(state));
        QVERIFY(QDir(state + u"-moved"_s).removeRecursively());
    }
}

// A folder that takes no new name (nobody's file in root's folder): the
// file is rewritten in place, so the hard link first made to keep it
// gives way to a copy; Undo rewrites it back the same way.
void TestUndo::rewrittenInPlace()
{
    const QString a = m_scene->make("a.txt=hello world\n|+a.txt:nobody|+.:0755|+TEMP:0777").value(0);
    const int code = RunUnprivileged([&]() -> int {
        ScriptedHost host({a});
        host.undo = kJournal;
        CHILD_CHECK(host.run(RunMode::Replace, u"hello"_s, u"HI"_s).end == End::Completed);
        CHILD_CHECK(host.sink.texts().isEmpty());
        CHILD_CHECK(ReadFile(a) == "HI world\n");
        CHILD_CHECK(keptFiles() == 1);
        CHILD_CHECK(StatOf(a).st_nlink == 1);
        CHILD_CHECK(UndoRun(QString(), kJournal).complete());
        CHILD_CHECK(ReadFile(a) == "hello world\n");
        return 0;
    });
    QCOMPARE(code, 0);
}

// The command line: --undo, --undo-run, --history and --no-undo, with
// their exit codes; two processes writing runs at once.
void TestUndo::batch()
{
    const QStringList files = m_scene->make("a.txt=hello a\n|b.txt=hello b\n|c.txt=hello c\n");
    m_scene->batchProgram = PERROX_BATCH_BINARY;
    const QByteArrayList replace {"--replace", "--find", "hello", "--with", "HI"};
    const QByteArray nothing = "There is nothing to undo.\n";
    QCOMPARE(m_scene->batch({"--undo"}), Batch(2, {}, nothing));
    QCOMPARE(m_scene->batch({"--undo-run", "20200101-000000-000"}), Batch(2, {}, "There is no run 20200101-000000-000 in the journal.\n"));
    QCOMPARE(std::get<0>(m_scene->batch({"--undo", "--replace"})), 2);
    QCOMPARE(std::get<0>(m_scene->batch({"--undo-max-runs", "0", "--find", "x", "--with", "y", "a.txt"})), 2);
    QCOMPARE(m_scene->batch(replace + QByteArrayList {"--no-undo", "a.txt"}), Batch(0, "       1  a.txt\n", {}));
    QCOMPARE(m_scene->batch({"--history"}), Batch(0, {}, {}));
    // A run of the core, as the window makes it, undone from the command line.
    QVERIFY(!this->replace({files.at(2)}).journalRun.isEmpty());
    QCOMPARE(m_scene->batch({"--undo"}), Batch(0, "1 of 1 file was restored.\n", {}));
    m_scene->check("c.txt=hello c\n");
    QCOMPARE(LastUndoableRun()->mode, JournalMode::Undo);
    QCOMPARE(undo(), QStringList {u"1 of 1 file was restored."_s});
    m_scene->check("c.txt=HI! c\n");

    // Ten processes at once: ten runs, none lost.
    std::vector<pid_t> running;
    for (int i = 0; i < 10; ++i)
        running.push_back(m_scene->start(replace + QByteArrayList {m_scene->make("p" + QByteArray::number(i) + ".txt=hello\n").value(0).toUtf8()}));
    for (pid_t pid : running)
        QCOMPARE(std::get<0>(m_scene->finish(pid)), 0);
    QCOMPARE(ListRuns().size(), size_t(13));

    QCOMPARE(std::get<0>(m_scene->batch(replace + QByteArrayList {"b.txt"})), 0);
    const QString id = ListRuns().front().id;
    const auto [code, out, err] = m_scene->batch({"--history"});
    QCOMPARE(code, 0);
    QCOMPARE(out.count('\n'), 14);
    const QRegularExpression line(u"^%1 +\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Replace +1 file +8 bytes kept\n"_s.arg(QRegularExpression::escape(id)));
    QVERIFY2(line.match(QString::fromUtf8(out)).hasMatch(), out.constData());
    m_scene->make("b.txt=changed\n", false);
    QCOMPARE(m_scene->batch({"--undo"}),
        Batch(1, "0 of 1 file was restored.\n", "The file " + files.at(1).toUtf8() + " was changed after the run; it was left as it is.\n"));
    QCOMPARE(m_scene->batch({"--undo-run", id.toUtf8()}), Batch(2, {}, "The run " + id.toUtf8() + " was undone already.\n"));
    const std::vector<JournalRun> runs = ListRuns();
    const auto oldestP = std::find_if(runs.rbegin(), runs.rend(), [](const JournalRun &r) { return r.undoneBy.isEmpty() && r.mode == JournalMode::Replace; });
    QCOMPARE(std::get<0>(m_scene->batch({"--undo-run", oldestP->id.toUtf8()})), 0);
    int restored = 0;
    for (int i = 0; i < 10; ++i)
        restored += ReadFile(m_scene->at("p" + QByteArray::number(i) + ".txt")) == "hello\n";
    QCOMPARE(restored, 1);
}

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
