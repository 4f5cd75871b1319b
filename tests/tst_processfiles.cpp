#include "arguments/notation.h"
#include "engine/processfiles.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/rewritejournal.h"
#include "files/safereplace.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;
using End = perrox::RunResult::End;

namespace {

FindReplaceArgument arg(const QString &find, const QString &replace, qint16 findNotation = 0, qint16 replaceNotation = 0)
{
    return {findNotation, find, replaceNotation, replace};
}

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::stat(NativePath(path).constData(), &st);
    return st;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(NativePath(path).constData(), mode) == 0;
}

bool hardLink(const QString &from, const QString &to)
{
    return ::link(NativePath(from).constData(), NativePath(to).constData()) == 0;
}

// Writes bytes into the file as it is, at its end or, with ReadWrite, over its start.
bool writeInto(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::Append)
{
    QFile f(path);
    return f.open(mode) && f.write(bytes) == bytes.size();
}

// What another program does to a file while a run works on it.
enum class Meddling
{
    Append,
    Truncate,
    Delete,
    RewriteSameSize,
    ReplaceByNewFile,
    SwapForLink,
    AnotherPerroxRun,
};

} // namespace

Q_DECLARE_METATYPE(Meddling)
Q_DECLARE_METATYPE(perrox::RunMode)

class TestProcessFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void argumentChecks_data();
    void argumentChecks();
    void emptyFileList();
    void countThreeFiles();
    void replaceRewritesOnlyFilesWithOccurrences();
    void swappedAfterTheTotal_data();
    void swappedAfterTheTotal();
    void sameFileUnderTwoRows_data();
    void sameFileUnderTwoRows();
    void batchEndsWhereEachFileAtOnceWould_data();
    void batchEndsWhereEachFileAtOnceWould();
    void resultsReachTheDiskBeforeTheirPlace();
    void messagesInRowOrder();
    void killedDuringABatch_data();
    void killedDuringABatch();
    void replaceAsAskingBeforeOverwriting();
    void replaceAsTargetNames();
    void cancelDuringSecondOfThreeFiles();
    void unprivilegedReplace_data();
    void unprivilegedReplace();
    void hardLinksAllSeeTheResult();
    void permissionsOfReplacedAndNewFiles();
    void resultFromAnotherFileSystem();
    void writeFailureMidFileLeavesSourceAlone();
    void changedBetweenReadAndCommit_data();
    void changedBetweenReadAndCommit();
    void replaceAsNeverWritesThroughTheTarget_data();
    void replaceAsNeverWritesThroughTheTarget();
    void interruptedRewriteInPlace_data();
    void interruptedRewriteInPlace();
    void specialFilesNeverBlock_data();
    void specialFilesNeverBlock();
    void tempFolderFilledByAnotherUser();
    void unwritableTempFolderTouchesNothing();
    void tempFolder_data();
    void tempFolder();
    void adjustRight();

private:
    QString file(const QString &name, const QByteArray &content) { return WriteFileIn(m_dir->path(), name, content); }
    QString folder(const QString &name) { return QDir().mkpath(m_dir->filePath(name)) ? m_dir->filePath(name) : QString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<EnvironmentGuard> m_tempVariable;
    std::unique_ptr<StateFolderGuard> m_state;
};

void TestProcessFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_temp->isValid());
    m_tempVariable = std::make_unique<EnvironmentGuard>("TEMP", NativePath(m_temp->path()));
    m_state = std::make_unique<StateFolderGuard>();
}

void TestProcessFiles::cleanup()
{
    // No run may leave a temporary file behind, whatever way it ended, nor a
    // record of a rewrite in place once the rewrite is done.
    QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    QCOMPARE(m_state->records(), QStringList());
    m_state.reset();
    m_tempVariable.reset();
    m_temp.reset();
    m_dir.reset();
}

void TestProcessFiles::argumentChecks_data()
{
    QTest::addColumn<FindReplaceArguments>("arguments");
    QTest::addColumn<QString>("message");
    const QString decimal = u"An invalid value found in the decimal '%1' argument.\r\n\r\nValid decimal values are between '0' and '255'."_s;
    QTest::newRow("no arguments") << FindReplaceArguments {} << u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s;
    QTest::newRow("invalid find") << FindReplaceArguments {arg(u"1 300"_s, QString(), Decimal)} << decimal.arg(u"1 300"_s);
    QTest::newRow("find of separators only") << FindReplaceArguments {arg(u" , "_s, u"x"_s,
        Decimal)} << u"Cannot find a valid value in the following 'Find what' field: \r\n , \r\n\r\nCorrect the find argument and try again."_s;
    QTest::newRow("invalid replace") << FindReplaceArguments {arg(u"a"_s, u"GG"_s, Characters,
        Hexadecimal)} << u"An invalid value found in the hexadecimal 'GG' argument.\r\n\r\nValid hexadecimal values are between '00' and 'FF'."_s;
    QTest::newRow("replace of separators only") << FindReplaceArguments {arg(u"a"_s, u";"_s, Characters,
        Hexadecimal)} << u"Cannot find a valid value in the following 'Replace with' field.\r\n;\r\n\r\nCorrect the replace argument and try again."_s;
    QTest::newRow("the first failing record ends the check")
        << FindReplaceArguments {arg(u"a"_s, u"b"_s), arg(u"999"_s, QString(), Decimal), arg(u"G"_s, QString(), Hexadecimal)} << decimal.arg(u"999"_s);
}

void TestProcessFiles::argumentChecks()
{
    QFETCH(FindReplaceArguments, arguments);
    QFETCH(QString, message);
    const QString path = file(u"a.txt"_s, "a , ; b");
    for (RunMode mode : {RunMode::Count, RunMode::Replace, RunMode::ReplaceAs}) {
        ScriptedHost host({path});
        QCOMPARE(host.run(mode, arguments).end, End::ArgumentError);
        QCOMPARE(host.sink.texts(), QStringList {message});
        QCOMPARE(host.sink.shown.at(0).title, u"Perrox"_s);
        QVERIFY(host.log.isEmpty()); // no Save As dialog, no progress window
        QCOMPARE(host.counts(), u"-"_s);
    }
    QCOMPARE(ReadFile(path), "a , ; b"_ba);
}

void TestProcessFiles::emptyFileList()
{
    ScriptedHost host; // no rows: not even the arguments are checked
    QCOMPARE(host.run(RunMode::Replace, {}).end, End::NothingToDo);
    QVERIFY(host.sink.shown.isEmpty() && host.log.isEmpty());
}

void TestProcessFiles::countThreeFiles()
{
    const QStringList paths {file(u"1.txt"_s, "aaa"), file(u"2.txt"_s, "b"), file(u"3.txt"_s, QByteArray(20000, 'a'))};
    ScriptedHost host(paths);
    const RunResult r = host.run(RunMode::Count, {arg(u"61"_s, u"x"_s, Hexadecimal)});
    QVERIFY(r.end == End::Completed && r.failedFiles == 0);
    QCOMPARE(host.cells, (QStringList {u"       3"_s, u"       0"_s, u"   20000"_s}));
    QCOMPARE(ReadFile(paths.at(0)), "aaa"_ba);
    QCOMPARE(ReadFile(paths.at(2)), QByteArray(20000, 'a'));
    QCOMPARE(host.log,
        (QStringList {
            u"begin Counting... 20004"_s, u"file "_s + paths.at(0) + u'|', u"file "_s + paths.at(1) + u'|', u"file "_s + paths.at(2) + u'|', u"end"_s}));
    QCOMPARE(host.statusTexts, (QStringList {u"Calculating the number of bytes to process."_s, u"3 files"_s}));
    QVERIFY(host.sink.busyDepth == 0 && host.sink.busyOnCount >= 1);
    QCOMPARE(host.positions.last(), 20004.0);
    QVERIFY(host.sink.shown.isEmpty());
}

void TestProcessFiles::replaceRewritesOnlyFilesWithOccurrences()
{
    const QString with = file(u"with.txt"_s, "line\r\nline\r\n");
    const QString without = file(u"without.txt"_s, "nothing here");
    const ino_t inodeWithout = statOf(without).st_ino;
    ScriptedHost host({with, without});
    bool tempSeen = false;
    host.cancelWhen = [&] {
        tempSeen = tempSeen || !TemporaryFilesIn(m_temp->path()).isEmpty();
        return false;
    };
    // An empty replacement deletes.
    QCOMPARE(host.run(RunMode::Replace, {arg(u"13 10"_s, QString(), Decimal)}).end, End::Completed);
    QCOMPARE(host.counts(), u"2 0"_s);
    QCOMPARE(ReadFile(with), "lineline"_ba);
    QCOMPARE(ReadFile(without), "nothing here"_ba);
    QCOMPARE(statOf(without).st_ino, inodeWithout); // not rewritten
    QVERIFY(tempSeen); // the work went through the TEMP folder
    QCOMPARE(host.log, (QStringList {u"begin Replacing... 24"_s, u"file "_s + with + u'|', u"file "_s + without + u'|', u"end"_s}));
}

void TestProcessFiles::swappedAfterTheTotal_data()
{
    QTest::addColumn<QString>("swap");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("message"); // %1 the path
    QTest::newRow("another regular file") << u"file"_s << u"3"_s << QString();
    QTest::newRow("a named pipe") << u"pipe"_s << u"0"_s << u"Is a named pipe, not a regular file - %1"_s;
    QTest::newRow("a link to another file") << u"link"_s << u"3"_s << QString();
}

// The look taken for the total only speeds up the open: whatever stands at
// the path when the run reaches it is what is opened, or refused.
void TestProcessFiles::swappedAfterTheTotal()
{
    QFETCH(QString, swap);
    QFETCH(QString, count);
    QFETCH(QString, message);
    const QString path = file(u"data.txt"_s, "x");
    const QString other = file(u"other.txt"_s, "xxx");
    const QString swapIn = m_dir->filePath(u"swap-in"_s);
    if (swap == u"file"_s)
        QVERIFY(QFile::copy(other, swapIn));
    else if (swap == u"pipe"_s)
        QVERIFY(::mkfifo(NativePath(swapIn).constData(), 0600) == 0);
    else
        QVERIFY(QFile::link(other, swapIn));
    ScriptedHost host({path});
    host.onPump = [&] {
        if (!host.log.isEmpty() && host.log.last().startsWith(u"begin"_s) && QFile::exists(swapIn))
            QVERIFY(::rename(NativePath(swapIn).constData(), NativePath(path).constData()) == 0);
    };
    host.run(RunMode::Count, u"x"_s, u"y"_s);
    QVERIFY(!QFile::exists(swapIn));
    QCOMPARE(host.counts(), count);
    QCOMPARE(host.sink.texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(path)});
}

void TestProcessFiles::sameFileUnderTwoRows_data()
{
    QTest::addColumn<QString>("alias"); // how the second row names the file
    QTest::addColumn<RunMode>("mode");
    QTest::newRow("the same path") << QString() << RunMode::Replace;
    QTest::newRow("a relative symbolic link, which stays a link") << u"link"_s << RunMode::Replace;
    QTest::newRow("a hard link") << u"hard"_s << RunMode::Replace;
    QTest::newRow("replace as, one target name") << u"other"_s << RunMode::ReplaceAs;
}

// A result still waiting to be put in place must not be missed by a later row
// that reads or writes the same file: each row sees what the rows before it
// did, as if each result had been put in place at once.
void TestProcessFiles::sameFileUnderTwoRows()
{
    QFETCH(QString, alias);
    QFETCH(RunMode, mode);
    const QString path = file(u"a.txt"_s, "a");
    const QString second = alias.isEmpty() ? path : alias == u"other"_s ? WriteFileIn(folder(u"sub"_s), u"a.txt"_s, "aaa") : m_dir->filePath(alias);
    if (alias == u"link"_s)
        QVERIFY(QFile::link(u"a.txt"_s, second));
    else if (alias == u"hard"_s)
        QVERIFY(hardLink(path, second));
    const QString out = folder(u"out"_s);
    ScriptedHost host({path, second});
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    host.sink.answers = {MessageSink::Answer::Yes};
    const RunResult r = host.run(mode, u"a"_s, u"aa"_s);
    QVERIFY(r.end == End::Completed && r.failedFiles == 0);
    if (mode == RunMode::Replace) {
        QCOMPARE(host.sink.texts(), QStringList());
        QCOMPARE(host.counts(), u"1 2"_s);
        QCOMPARE(ReadFile(path), "aaaa"_ba);
        if (alias == u"link"_s)
            QVERIFY(QFileInfo(second).isSymLink() && QFileInfo(second).symLinkTarget() == path);
    } else {
        // The second source goes to the name the first one has just taken.
        QCOMPARE(host.sink.texts(), QStringList {u"The file %1/a.txt already exists.\r\n\r\nDo you want to overwrite it?"_s.arg(out)});
        QCOMPARE(ReadFile(out + u"/a.txt"_s), "aaaaaa"_ba);
    }
}

void TestProcessFiles::batchEndsWhereEachFileAtOnceWould_data()
{
    QTest::addColumn<QString>("stop");
    QTest::newRow("cancel") << u"cancel"_s;
    QTest::newRow("no to the overwrite question") << u"no"_s;
    QTest::newRow("a result that cannot be put in place") << u"failed"_s;
}

// Results wait to be flushed together, but a run that ends at a row leaves
// exactly the files before it replaced, with the cells and messages of a run
// that put every result in place at once.
void TestProcessFiles::batchEndsWhereEachFileAtOnceWould()
{
    QFETCH(QString, stop);
    QStringList paths {file(u"f0.txt"_s, "x x"), file(u"f1.txt"_s, "none"), file(u"f2.txt"_s, "x"), m_dir->filePath(u"f3.txt"_s)};
    // Row 3: where the run ends. A running program cannot be written (ETXTBSY), even by root.
    QProcess busy;
    if (stop == u"failed"_s) {
        QVERIFY(QFile::copy(u"/bin/sleep"_s, paths.at(3)) && setMode(paths.at(3), 0700));
        busy.start(paths.at(3), {u"30"_s});
        QVERIFY(busy.waitForStarted());
    } else {
        QVERIFY(WriteFile(paths.at(3), "x"));
    }
    paths << file(u"f4.txt"_s, "x") << file(u"f5.txt"_s, "x");
    const QByteArray stopContent = ReadFile(paths.at(3));
    const QString out = folder(u"out"_s);
    QVERIFY(WriteFile(out + u"/f3.txt"_s, "theirs"));

    ScriptedHost host(paths);
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    if (stop == u"cancel"_s)
        host.cancelWhen = [&] { return !host.log.isEmpty() && host.log.last().contains(u"f3.txt"_s); };
    const RunMode mode = stop == u"no"_s ? RunMode::ReplaceAs : RunMode::Replace;
    const RunResult r = host.run(mode, u"x"_s, u"y"_s);
    busy.kill();
    busy.waitForFinished();

    // Where a result cannot be put in place, its count is shown.
    QCOMPARE(host.counts(), u"2 0 1 %1 - -"_s.arg(stop == u"failed"_s ? host.cells.at(3).trimmed() : u"-"_s));
    const auto result = [&](int row) { return ReadFile(mode == RunMode::Replace ? paths.at(row) : out + u"/f%1.txt"_s.arg(row)); };
    QCOMPARE(result(0), "y y"_ba);
    QCOMPARE(result(2), "y"_ba);
    QCOMPARE(ReadFile(paths.at(3)), stopContent);
    QCOMPARE(ReadFile(paths.at(4)) + ReadFile(paths.at(5)), "xx"_ba);
    if (stop == u"cancel"_s) {
        QCOMPARE(r.end, End::Cancelled);
        QCOMPARE(host.sink.texts(), QStringList());
    } else if (stop == u"no"_s) {
        QCOMPARE(r.end, End::StoppedAtNo);
        QCOMPARE(ReadFile(out + u"/f3.txt"_s), "theirs"_ba);
        QVERIFY(!QFile::exists(out + u"/f4.txt"_s));
    } else {
        QCOMPARE(r.end, End::CopyFailed);
        QCOMPARE(host.sink.texts(), QStringList {FileErrorMessage(ETXTBSY, paths.at(3))});
    }
}

// The order that makes a result safe at a crash or power loss: its data is
// on the disk before its name takes the old file's place.
void TestProcessFiles::resultsReachTheDiskBeforeTheirPlace()
{
    QStringList paths;
    QList<int> withOccurrences;
    for (int i = 0; i < 40; ++i) {
        paths << file(u"%1.txt"_s.arg(i), i % 3 ? "x" : "none");
        if (i % 3)
            withOccurrences << i;
    }
    ScriptedHost host(paths);
    QList<int> flushed;
    QList<int> committed;
    QStringList replacedTooEarly;
    host.onResultsFlushed = [&](const std::vector<int> &rows) {
        for (int row : rows) {
            if (ReadFile(paths.at(row)) != "x")
                replacedTooEarly << paths.at(row);
            flushed << row;
        }
    };
    host.onBeforeCommit = [&](int row) {
        QVERIFY(flushed.contains(row));
        committed << row;
    };
    QCOMPARE(host.run(RunMode::Replace, u"x"_s, u"y"_s).end, End::Completed);
    QCOMPARE(replacedTooEarly, QStringList());
    for (int i : withOccurrences)
        QCOMPARE(ReadFile(paths.at(i)), "y"_ba);
    QCOMPARE(committed, withOccurrences); // in row order
    QCOMPARE(flushed, withOccurrences);
}

// A message of a later row, from the run or from the engine, waits for the
// results before it, and theirs; a row that fails gives 0 and the run goes on.
void TestProcessFiles::messagesInRowOrder()
{
    const QString changed = file(u"changed.txt"_s, "x");
    QVERIFY(AgeFile(changed));
    const QString sub = folder(u"folder"_s);
    const QString missing = m_dir->filePath(u"gone.txt"_s);
    const QString first = file(u"first.txt"_s, "xx");
    const QString last = file(u"last.txt"_s, "x");
    ScriptedHost host({changed, sub, first, missing, last});
    host.cells = {u"old"_s, u"old"_s, u"old"_s, u"old"_s, u"old"_s};
    host.onBeforeCommit = [&](int row) {
        if (row == 0)
            QVERIFY(WriteFile(changed, "x, and more"));
    };
    QStringList seen; // the cells and first.txt as each message is shown
    host.sink.onShow = [&] { seen << host.counts() + u' ' + QString::fromLatin1(ReadFile(first)); };
    const RunResult r = host.run(RunMode::Replace, u"x"_s, u"y"_s);
    QVERIFY(r.end == End::Completed && r.failedFiles == 3);
    QCOMPARE(host.sink.texts(), (QStringList {ChangedByAnotherProgramMessage(changed), FileErrorMessage(EISDIR, sub), FileErrorMessage(ENOENT, missing)}));
    QCOMPARE(seen, (QStringList {u"1 old old old old xx"_s, u"1 old old old old xx"_s, u"1 0 2 old old yy"_s}));
    QCOMPARE(host.counts(), u"1 0 2 0 1"_s);
    QCOMPARE(ReadFile(changed), "x, and more"_ba);
    QCOMPARE(ReadFile(last), "y"_ba);
}

void TestProcessFiles::killedDuringABatch_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("reading a later file") << u"reading"_s;
    QTest::newRow("right after the flush") << u"flushed"_s;
    QTest::newRow("halfway through putting results in place") << u"placing"_s;
}

// A kill -9 at any point leaves each file wholly old or wholly new, and
// nothing that stops the next run from finishing the work.
void TestProcessFiles::killedDuringABatch()
{
    QFETCH(QString, when);
    const QByteArray before(5000, 'x');
    const QByteArray after(10000, 'y');
    QStringList paths;
    for (int i = 0; i < 30; ++i)
        paths << file(u"%1.txt"_s.arg(i), before);
    const int rc = RunInChild([&]() -> int {
        ScriptedHost host(paths);
        int placed = 0;
        host.onPump = [&] {
            if (when == u"reading"_s && !host.log.isEmpty() && host.log.last().contains(u"/20.txt"_s))
                ::raise(SIGKILL);
        };
        host.onResultsFlushed = [&](const std::vector<int> &) {
            if (when == u"flushed"_s)
                ::raise(SIGKILL);
        };
        host.onBeforeCommit = [&](int) {
            if (when == u"placing"_s && ++placed == 10)
                ::raise(SIGKILL);
        };
        host.run(RunMode::Replace, u"x"_s, u"yy"_s);
        return 0;
    });
    QCOMPARE(rc, -1);
    for (const QString &path : paths)
        QVERIFY2(ReadFile(path) == before || ReadFile(path) == after, qPrintable(path));
    // What the killed run left is in its own folder only ...
    const QStringList left = TemporaryFilesIn(m_temp->path());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    QVERIFY(!left.isEmpty() && left.at(0).startsWith(u"perrox-"_s));
    // ... and the next run finishes the work.
    ScriptedHost host(paths);
    QCOMPARE(host.run(RunMode::Replace, u"x"_s, u"yy"_s).end, End::Completed);
    QCOMPARE(host.sink.texts(), QStringList());
    for (const QString &path : paths)
        QCOMPARE(ReadFile(path), after);
    QVERIFY(QDir(m_temp->filePath(left.at(0))).removeRecursively());
}

void TestProcessFiles::replaceAsAskingBeforeOverwriting()
{
    const QString out = folder(u"out"_s);
    const QStringList paths {file(u"a.txt"_s, "a"), file(u"b.txt"_s, "a"), file(u"c.txt"_s, "a")};
    const QString target = out + u"/b.txt"_s;
    QVERIFY(WriteFile(target, "old b") && WriteFile(out + u"/c.txt"_s, "old c"));

    ScriptedHost host(paths);
    host.cells = {u"x"_s, u"x"_s, u"x"_s};
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    QCOMPARE(host.run(RunMode::ReplaceAs, u"a"_s, u"A"_s).end, End::StoppedAtNo);
    QCOMPARE(host.settings.outpath, out);
    QCOMPARE(host.sink.texts(), QStringList {u"The file %1 already exists.\r\n\r\nDo you want to overwrite it?"_s.arg(target)});
    QVERIFY(host.sink.shown.at(0).buttons == MessageSink::Buttons::YesNo && host.sink.shown.at(0).icon == MessageSink::Icon::Exclamation);
    QCOMPARE(host.counts(), u"1 x x"_s);
    QCOMPARE(ReadFile(out + u"/a.txt"_s), "A"_ba);
    QCOMPARE(ReadFile(target), "old b"_ba);
    QCOMPARE(host.log.at(0), u"save dialog"_s);
    QVERIFY(host.log.contains(u"file %1|to %2"_s.arg(paths.at(1), target)));
    QCOMPARE(host.log.last(), u"end"_s);

    // Yes overwrites; overwrite switched on asks nothing.
    ScriptedHost yes(paths);
    yes.chosenSettings = host.chosenSettings;
    yes.sink.answers = {MessageSink::Answer::Yes, MessageSink::Answer::Yes, MessageSink::Answer::Yes};
    QCOMPARE(yes.run(RunMode::ReplaceAs, u"a"_s, u"B"_s).end, End::Completed);
    QCOMPARE(yes.sink.shown.size(), 3); // a.txt exists now too
    QCOMPARE(ReadFile(target), "B"_ba);
    ScriptedHost silent(paths);
    silent.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 1};
    QCOMPARE(silent.run(RunMode::ReplaceAs, u"a"_s, u"C"_s).end, End::Completed);
    QVERIFY(silent.sink.shown.isEmpty());
    QCOMPARE(ReadFile(out + u"/c.txt"_s), "C"_ba);

    // A cancelled Save As dialog ends the command before anything else.
    ScriptedHost cancelled(paths);
    cancelled.targetChosen = false;
    QCOMPARE(cancelled.run(RunMode::ReplaceAs, u"a"_s, u"D"_s).end, End::TargetCancelled);
    QCOMPARE(cancelled.log, QStringList {u"save dialog"_s});
    QCOMPARE(ReadFile(out + u"/c.txt"_s), "C"_ba);
}

void TestProcessFiles::replaceAsTargetNames()
{
    const QString out = folder(u"out"_s);
    const QString report = file(u"report.txt"_s, "v1");
    ScriptedHost host({report, file(u"README"_s, "v1"), file(u"none.txt"_s, "nothing")});
    host.chosenSettings = ReplaceAsSettings {out + u'/', u"new_"_s, u"_v2"_s, 0};
    host.run(RunMode::ReplaceAs, u"v1"_s, u"v2"_s);
    QCOMPARE(ReadFile(out + u"/new_report_v2.txt"_s), "v2"_ba);
    QCOMPARE(ReadFile(out + u"/new_README_v2"_s), "v2"_ba);
    QCOMPARE(ReadFile(report), "v1"_ba);
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), 2); // no occurrences, no target
}

void TestProcessFiles::cancelDuringSecondOfThreeFiles()
{
    const QStringList paths {file(u"1.bin"_s, QByteArray(10000, 'a')), file(u"2.bin"_s, QByteArray(10000, 'a')), file(u"3.bin"_s, QByteArray(10000, 'a'))};
    ScriptedHost host(paths);
    host.cells = {u"old"_s, u"old"_s, u"old"_s};
    // Cancelled once the first block of the second file has been reported.
    host.cancelWhen = [&] { return !host.positions.isEmpty() && host.positions.last() > 10000; };
    QCOMPARE(host.run(RunMode::Replace, u"a"_s, u"b"_s).end, End::Cancelled);
    QCOMPARE(host.counts(), u"10000 old old"_s);
    QCOMPARE(ReadFile(paths.at(0)), QByteArray(10000, 'b'));
    QCOMPARE(ReadFile(paths.at(1)) + ReadFile(paths.at(2)), QByteArray(20000, 'a'));
    QCOMPARE(host.positions.last(), 14096.0);
    QCOMPARE(host.log.last(), u"end"_s);
}

void TestProcessFiles::unprivilegedReplace_data()
{
    QTest::addColumn<int>("folderMode"); // of the folder holding the file, root's
    QTest::addColumn<int>("fileMode"); // of the file, root's
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<bool>("denied");
    QTest::newRow("read-only file") << 0777 << 0444 << "a a a"_ba << true;
    // The folder takes no new file, so the file is rewritten where it is.
    QTest::newRow("writable file in a read-only folder") << 0555 << 0666 << "bb bb bb"_ba << false;
    QTest::newRow("writable file in a sticky folder like /tmp") << 01777 << 0666 << "bb bb bb"_ba << false;
}

// What a user sees who may not replace the file, or may only write into it:
// the file is rewritten in place, still root's, same inode and mode.
void TestProcessFiles::unprivilegedReplace()
{
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QFETCH(QByteArray, result);
    QFETCH(bool, denied);
    QVERIFY(setMode(m_temp->path(), 0777) && setMode(m_dir->path(), 0755));
    const QString path = WriteFileIn(folder(u"shared"_s), u"file.txt"_s, "a a a");
    QVERIFY(setMode(path, mode_t(fileMode)) && setMode(m_dir->filePath(u"shared"_s), mode_t(folderMode)));
    const ino_t inode = statOf(path).st_ino;
    const int rc = RunUnprivileged([&]() -> int {
        ScriptedHost host({path});
        const RunResult r = host.run(RunMode::Replace, u"a"_s, u"bb"_s);
        CHILD_CHECK(r.end == (denied ? End::CopyFailed : End::Completed));
        CHILD_CHECK(host.sink.texts() == (denied ? QStringList {FileErrorMessage(EACCES, path)} : QStringList()));
        CHILD_CHECK(host.counts() == u"3"_s);
        return 0;
    });
    setMode(m_dir->filePath(u"shared"_s), 0755);
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), result);
    QVERIFY(statOf(path).st_ino == inode && statOf(path).st_uid == 0u && (statOf(path).st_mode & 07777) == mode_t(fileMode));
}

void TestProcessFiles::hardLinksAllSeeTheResult()
{
    const QString first = file(u"first.txt"_s, "abc abc abc");
    const QString second = m_dir->filePath(u"second.txt"_s);
    QVERIFY(hardLink(first, second));
    const ino_t inode = statOf(first).st_ino;
    for (const QByteArray &replacement : {"a much longer text"_ba, QByteArray()}) {
        ScriptedHost host({first});
        host.run(RunMode::Replace, u"abc"_s, QString::fromLatin1(replacement));
        QVERIFY(host.sink.shown.isEmpty());
        const QByteArray expected = replacement + ' ' + replacement + ' ' + replacement;
        QCOMPARE(ReadFile(first), expected);
        QCOMPARE(ReadFile(second), expected);
        QVERIFY(statOf(first).st_ino == inode && statOf(first).st_size == expected.size());
        QVERIFY(WriteFile(first, "abc abc abc"));
    }
}

void TestProcessFiles::permissionsOfReplacedAndNewFiles()
{
    const QString path = file(u"mode.txt"_s, "a");
    QVERIFY(setMode(path, 0751));
    const mode_t oldMask = ::umask(027);
    ScriptedHost host({path});
    host.run(RunMode::Replace, u"a"_s, u"b"_s);
    QCOMPARE(ReadFile(path), "b"_ba);
    QCOMPARE(statOf(path).st_mode & 07777, 0751u);
    const QString out = folder(u"out"_s);
    ScriptedHost as({path});
    as.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    as.run(RunMode::ReplaceAs, u"b"_s, u"c"_s);
    ::umask(oldMask);
    QCOMPARE(ReadFile(out + u"/mode.txt"_s), "c"_ba);
    QCOMPARE(statOf(out + u"/mode.txt"_s).st_mode & 07777, 0640u); // 0666 less the umask
}

void TestProcessFiles::resultFromAnotherFileSystem()
{
    // /dev/shm is a memory file system on a device of its own on most systems.
    if (!FolderExists(u"/dev/shm"_s) || statOf(u"/dev/shm"_s).st_dev == statOf(m_dir->path()).st_dev)
        QSKIP("no second file system for temporary files here");
    QTemporaryDir temp(u"/dev/shm/perrox-test-XXXXXX"_s);
    QVERIFY(temp.isValid());
    EnvironmentGuard guard("TEMP", NativePath(temp.path()));
    const QString path = file(u"far.txt"_s, "far far");
    QVERIFY(setMode(path, 0604));
    ScriptedHost host({path});
    host.run(RunMode::Replace, u"far"_s, u"near"_s);
    QVERIFY(host.sink.shown.isEmpty());
    QCOMPARE(ReadFile(path), "near near"_ba);
    QCOMPARE(statOf(path).st_mode & 07777, 0604u);
    QCOMPARE(TemporaryFilesIn(temp.path()), QStringList());
}

// The engine's message comes after the result of the row before it is in place.
void TestProcessFiles::writeFailureMidFileLeavesSourceAlone()
{
    const QString before = file(u"before.bin"_s, "a");
    const QString path = file(u"grow.bin"_s, QByteArray(60000, 'a'));
    const QString after = file(u"after.bin"_s, "a");
    const QString tempFolder = m_temp->path();
    const int rc = RunInChild([&]() -> int {
        // Writing past 100000 bytes fails with "File too large".
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100000, 100000};
        CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        ScriptedHost host({before, path, after});
        QString seen;
        host.sink.onShow = [&] { seen = host.counts() + u' ' + QString::fromLatin1(ReadFile(before)); };
        const RunResult r = host.run(RunMode::Replace, u"a"_s, u"aaaa"_s);
        CHILD_CHECK(r.end == End::Completed && r.failedFiles == 1);
        CHILD_CHECK(host.sink.shown.size() == 1 && seen == u"1 - - aaaa"_s);
        CHILD_CHECK(host.sink.shown.at(0).text.startsWith(FileErrorMessage(EFBIG, tempFolder) + u"/perrox-"_s));
        CHILD_CHECK(host.sink.shown.at(0).text.contains(u"/~PX"_s));
        CHILD_CHECK(host.counts() == u"1 0 1"_s);
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), QByteArray(60000, 'a'));
    QCOMPARE(ReadFile(after), "aaaa"_ba);
}

void TestProcessFiles::changedBetweenReadAndCommit_data()
{
    QTest::addColumn<Meddling>("meddling");
    QTest::addColumn<bool>("hardLinked"); // rewritten in place instead of renamed
    QTest::addColumn<QByteArray>("left"); // what the other program left; empty: no file
    const QByteArray content = "one two one two";
    for (const bool linked : {false, true}) {
        const char *how = linked ? ", hard-linked" : "";
        QTest::addRow("append%s", how) << Meddling::Append << linked << content + " tail";
        QTest::addRow("truncate%s", how) << Meddling::Truncate << linked << content.left(5);
        QTest::addRow("delete%s", how) << Meddling::Delete << linked << QByteArray();
        QTest::addRow("rewrite of the same size%s", how) << Meddling::RewriteSameSize << linked << QByteArray(content.size(), 'z');
        QTest::addRow("replaced by a new file%s", how) << Meddling::ReplaceByNewFile << linked << "theirs"_ba;
        QTest::addRow("swapped for a link to a private file%s", how) << Meddling::SwapForLink << linked << "top secret"_ba;
        QTest::addRow("another Perrox run%s", how) << Meddling::AnotherPerroxRun << linked << "1 two 1 two"_ba;
    }
}

void TestProcessFiles::changedBetweenReadAndCommit()
{
    QFETCH(Meddling, meddling);
    QFETCH(bool, hardLinked);
    QFETCH(QByteArray, left);
    const QByteArray content = "one two one two";
    const QString shared = folder(u"shared"_s);
    const QString privateFolder = folder(u"private"_s);
    const QString secret = WriteFileIn(privateFolder, u"secret.txt"_s, "top secret");
    QVERIFY(setMode(privateFolder, 0700) && setMode(secret, 0600));
    const QString path = WriteFileIn(shared, u"data.txt"_s, content);
    const QString moved = shared + u"/data.moved"_s;
    QVERIFY(!hardLinked || hardLink(path, shared + u"/data.link"_s));
    QVERIFY(AgeFile(path));
    const QString next = file(u"next.txt"_s, "one");

    ScriptedHost host({path, next});
    host.onBeforeCommit = [&](int row) {
        const QByteArray native = NativePath(path);
        if (row != 0)
            return;
        if (meddling == Meddling::Append)
            QVERIFY(writeInto(path, " tail"));
        else if (meddling == Meddling::Truncate)
            QVERIFY(::truncate(native.constData(), 5) == 0);
        else if (meddling == Meddling::Delete)
            QVERIFY(QFile::remove(path));
        else if (meddling == Meddling::RewriteSameSize)
            QVERIFY(writeInto(path, QByteArray(content.size(), 'z'), QIODevice::ReadWrite));
        else if (meddling == Meddling::ReplaceByNewFile)
            QVERIFY(WriteFile(moved, "theirs") && ::rename(NativePath(moved).constData(), native.constData()) == 0);
        else if (meddling == Meddling::SwapForLink)
            QVERIFY(::rename(native.constData(), NativePath(moved).constData()) == 0 && QFile::link(secret, path));
        else {
            ScriptedHost other({path});
            QCOMPARE(other.run(RunMode::Replace, u"one"_s, u"1"_s).end, End::Completed);
            QVERIFY(other.sink.shown.isEmpty());
        }
    };
    const RunResult r = host.run(RunMode::Replace, u"one"_s, u"ONE"_s);

    // Reported, counted as a failed file, and the run went on.
    QVERIFY(r.end == End::Completed && r.failedFiles == 1);
    QCOMPARE(host.sink.texts(), QStringList {ChangedByAnotherProgramMessage(path)});
    QCOMPARE(host.counts(), u"2 1"_s);
    QCOMPARE(ReadFile(next), "ONE"_ba);
    // Left exactly as the other program left it; nothing written elsewhere.
    QCOMPARE(QFileInfo::exists(path), !left.isEmpty());
    QCOMPARE(ReadFile(path), left);
    QCOMPARE(ReadFile(secret), "top secret"_ba);
    QCOMPARE(statOf(secret).st_mode & 07777, 0600u);
    if (meddling == Meddling::SwapForLink)
        QVERIFY(QFileInfo(path).isSymLink() && ReadFile(moved) == content);
    if (hardLinked && meddling != Meddling::ReplaceByNewFile && meddling != Meddling::SwapForLink && meddling != Meddling::Delete)
        QCOMPARE(ReadFile(shared + u"/data.link"_s), left);
}

void TestProcessFiles::replaceAsNeverWritesThroughTheTarget_data()
{
    QTest::addColumn<QString>("plant"); // what stands at out/a.txt: "dangling link", "link", "hard link", "pipe", "folder", "file"
    QTest::addColumn<bool>("atCommit"); // planted between the question and the commit
    QTest::addColumn<qint16>("overwrite");
    QTest::addColumn<QString>("message"); // %1: the target; empty: no message
    const QString link = u"Cannot write the result to %1: it is a symbolic link, and Perrox never writes through a link. It was left as it is."_s;
    QTest::newRow("dangling link") << u"dangling link"_s << false << qint16(0) << link;
    QTest::newRow("link to a file outside, overwrite on") << u"link"_s << false << qint16(1) << link;
    QTest::newRow("link to a file outside, asking") << u"link"_s << false << qint16(0) << link;
    QTest::newRow("pipe") << u"pipe"_s << false << qint16(1) << u"Cannot write the result to %1: is a named pipe, not a regular file. It was left as it is."_s;
    QTest::newRow("folder") << u"folder"_s << false << qint16(1)
                            << u"Cannot write the result to %1: "_s + SystemErrorText(EISDIR).toLower() + u". It was left as it is."_s;
    QTest::newRow("link planted after the look") << u"dangling link"_s << true << qint16(0) << link;
    QTest::newRow("file planted after the look") << u"file"_s << true << qint16(1)
                                                 << u"The file %1 was changed by another program while Perrox was working on it; it was left as it is."_s;
    // The name in the folder is replaced; the other name keeps its content.
    QTest::newRow("hard link to a file outside") << u"hard link"_s << false << qint16(1) << QString();
}

void TestProcessFiles::replaceAsNeverWritesThroughTheTarget()
{
    QFETCH(QString, plant);
    QFETCH(bool, atCommit);
    QFETCH(qint16, overwrite);
    QFETCH(QString, message);
    const QString out = folder(u"out"_s);
    const QString outside = folder(u"elsewhere"_s) + u"/x"_s;
    const QString target = out + u"/a.txt"_s;
    QVERIFY(plant == u"dangling link"_s || WriteFile(outside, "outside"));
    const auto doPlant = [&] {
        if (plant == u"link"_s || plant == u"dangling link"_s)
            QVERIFY(QFile::link(outside, target));
        else if (plant == u"hard link"_s)
            QVERIFY(hardLink(outside, target));
        else if (plant == u"pipe"_s)
            QVERIFY(::mkfifo(NativePath(target).constData(), 0600) == 0);
        else
            QVERIFY(plant == u"folder"_s ? QDir().mkdir(target) : WriteFile(target, "planted"));
    };
    if (!atCommit)
        doPlant();
    ScriptedHost host({file(u"a.txt"_s, "a"), file(u"b.txt"_s, "a")});
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), overwrite};
    host.onBeforeCommit = [&](int row) {
        if (row == 0 && atCommit)
            doPlant();
    };
    const RunResult r = host.run(RunMode::ReplaceAs, u"a"_s, u"A"_s);
    QVERIFY(r.end == End::Completed && r.failedFiles == (message.isEmpty() ? 0 : 1));
    // No question for what is no regular file; the message instead.
    QCOMPARE(host.sink.texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(target)});
    QCOMPARE(ReadFile(out + u"/b.txt"_s), "A"_ba);
    QCOMPARE(ReadFile(outside), plant == u"dangling link"_s ? QByteArray() : "outside"_ba);
    QVERIFY(plant != u"dangling link"_s || !QFileInfo::exists(outside));
    if (plant == u"hard link"_s || plant == u"file"_s)
        QCOMPARE(ReadFile(target), plant == u"file"_s ? "planted"_ba : "A"_ba);
    QCOMPARE(QFileInfo(target).isSymLink(), plant.endsWith(u"link"_s) && plant != u"hard link"_s);
}

void TestProcessFiles::interruptedRewriteInPlace_data()
{
    QTest::addColumn<QString>("meanwhile"); // what happens between the kill and the next start
    QTest::addColumn<QString>("message"); // %1 the file, %2 the kept result; empty: not finished
    const QString stopped = u"Perrox was stopped while it rewrote the file %1"_s;
    const QString kept = u"; it was left as it is. The complete result of that run is kept in %2."_s;
    QTest::newRow("nothing") << QString() << stopped + u" and has now finished it."_s;
    QTest::newRow("another program appended") << u"append"_s << stopped + u", but another program has changed the file since"_s + kept;
    QTest::newRow("the file was deleted") << u"delete"_s << stopped + u", but the file is no longer there or is another file now"_s + kept;
    QTest::newRow("the record is in use by a running Perrox") << u"lock"_s << stopped + u" and has now finished it."_s;
}

void TestProcessFiles::interruptedRewriteInPlace()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, message);
    const bool finished = message.endsWith(u"finished it."_s);
    // Four chunks of 4096 bytes and a few more; the result is longer.
    const QByteArray original = RandomBytes(7, 4 * 4096 + 100, "abc");
    const QByteArray expected = QByteArray(original).replace("a", "AA");
    const QString path = file(u"linked.txt"_s, original);
    const QString other = m_dir->filePath(u"other-name.txt"_s);
    QVERIFY(hardLink(path, other));

    // The run is killed after the first chunk of the rewrite in place.
    QVERIFY(InterruptRewriteInPlace(path, "a", "AA", 4096));
    const QByteArray half = ReadFile(path);
    QCOMPARE(half, expected.left(4096) + original.mid(4096));
    QCOMPARE(m_state->records().size(), 2); // the record and the kept result
    const auto recordPath = [&](const QString &suffix) { return m_state->recordFolder() + u'/' + m_state->records().filter(suffix).value(0); };
    const QString kept = recordPath(u".result"_s);
    QCOMPARE(ReadFile(kept), expected);
    // The run's own folder stays behind after a kill; it is nobody else's.
    for (const QString &name : TemporaryFilesIn(m_temp->path()))
        QDir(m_temp->filePath(name)).removeRecursively() || QFile::remove(m_temp->filePath(name));

    if (meanwhile == u"append"_s) {
        QVERIFY(writeInto(path, "!"));
    } else if (meanwhile == u"delete"_s) {
        QVERIFY(QFile::remove(path));
    } else if (meanwhile == u"lock"_s) {
        const int fd = ::open(NativePath(recordPath(u".record"_s)).constData(), O_RDONLY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        QCOMPARE(RecoverInterruptedRewrites(), QString()); // somebody else's: left alone
        QCOMPARE(ReadFile(path), half);
        ::close(fd);
    }
    const QByteArray before = ReadFile(path);

    QCOMPARE(RecoverInterruptedRewrites(), QString(message).replace(u"%1"_s, path).replace(u"%2"_s, kept));
    if (finished) {
        QCOMPARE(ReadFile(path), expected);
        QCOMPARE(ReadFile(other), expected);
        QCOMPARE(m_state->records(), QStringList());
    } else {
        QCOMPARE(ReadFile(path), before);
        // The record is gone, the result stays where the message says.
        QCOMPARE(m_state->records(), QStringList {GetFileName(kept)});
        QCOMPARE(ReadFile(kept), expected);
        QVERIFY(QFile::remove(kept));
    }
    QCOMPARE(RecoverInterruptedRewrites(), QString()); // once only
}

void TestProcessFiles::specialFilesNeverBlock_data()
{
    QTest::addColumn<RunMode>("mode");
    QTest::newRow("count") << RunMode::Count;
    QTest::newRow("replace") << RunMode::Replace;
    QTest::newRow("replace as") << RunMode::ReplaceAs;
}

void TestProcessFiles::specialFilesNeverBlock()
{
    QFETCH(RunMode, mode);
    const QString pipe = m_dir->filePath(u"pipe"_s);
    QVERIFY(::mkfifo(NativePath(pipe).constData(), 0600) == 0);
    const QString socketPath = m_dir->filePath(u"socket"_s);
    QVERIFY(MakeSocket(socketPath));
    // A file of the kernel: no size, yet bytes ("Name:" once).
    const QString plain = file(u"plain.txt"_s, "Name: Name:");
    const QString out = folder(u"out"_s);
    const int rc = RunInChild([&]() -> int {
        ::alarm(20); // a run that blocks ends the child, and the test fails
        ScriptedHost host({pipe, socketPath, u"/proc/self/status"_s, plain});
        host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 1};
        const RunResult r = host.run(mode, u"Name:"_s, u"N:"_s);
        CHILD_CHECK(r.end == End::Completed);
        QStringList expected {u"Is a named pipe, not a regular file - "_s + pipe, u"Is a socket, not a regular file - "_s + socketPath};
        if (mode == RunMode::Replace)
            expected << u"The file /proc/self/status does not report its size, as the files of /proc and /sys do; it was counted but left as it is."_s;
        CHILD_CHECK(host.sink.texts() == expected);
        CHILD_CHECK(r.failedFiles == int(expected.size()));
        CHILD_CHECK(host.counts() == u"0 0 1 2"_s);
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(plain), mode == RunMode::Replace ? "N: N:"_ba : "Name: Name:"_ba);
    QVERIFY(mode != RunMode::ReplaceAs || ReadFile(out + u"/status"_s).startsWith("N:"));
}

void TestProcessFiles::tempFolderFilledByAnotherUser()
{
    // Another user takes every temporary name there is in a shared TEMP.
    const QString tempFolder = m_temp->path();
    QVERIFY(setMode(tempFolder, 01777));
    const int filled = RunUnprivileged([&]() -> int {
        for (int n = 10000; n <= 99999; ++n) {
            const int fd = ::open(NativePath(TemporaryFileName(tempFolder, n)).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            CHILD_CHECK(fd >= 0);
            ::close(fd);
        }
        return 0;
    });
    QCOMPARE(filled, 0);
    const QString path = file(u"x.txt"_s, "x x");
    for (RunMode mode : {RunMode::Count, RunMode::Replace}) {
        ScriptedHost host({path});
        QCOMPARE(host.run(mode, u"x"_s, u"y"_s).end, End::Completed);
        QVERIFY(host.sink.shown.isEmpty());
        QCOMPARE(host.counts(), u"2"_s);
    }
    QCOMPARE(ReadFile(path), "y y"_ba);
    // Nothing of theirs was touched, and nothing of ours is left.
    const QStringList left = TemporaryFilesIn(tempFolder);
    QCOMPARE(left.size(), 90000);
    QVERIFY(!left.join(u' ').contains(u"perrox-"_s));
    for (const QString &name : left)
        QFile::remove(m_temp->filePath(name));
}

void TestProcessFiles::unwritableTempFolderTouchesNothing()
{
    QVERIFY(setMode(m_temp->path(), 0755) && setMode(m_dir->path(), 0777));
    const QString none = file(u"none.txt"_s, "n");
    const QString path = file(u"x.txt"_s, "x");
    QVERIFY(setMode(path, 0666));
    const QString tempFolder = m_temp->path();
    const int rc = RunUnprivileged([&]() -> int {
        // Reading needs no temporary file: Count, and a file without
        // occurrences, work without a writable TEMP ...
        ScriptedHost count({none, path});
        CHILD_CHECK(count.run(RunMode::Count, u"x"_s, u"y"_s).end == End::Completed && count.sink.shown.isEmpty());
        CHILD_CHECK(count.counts() == u"0 1"_s);
        // ... and the first occurrence of a Replace ends the run, touching nothing.
        ScriptedHost host({none, path});
        CHILD_CHECK(host.run(RunMode::Replace, u"x"_s, u"y"_s).end == End::SetupFailed);
        CHILD_CHECK(host.sink.shown.size() == 1);
        CHILD_CHECK(host.sink.shown.at(0).text.startsWith(FileErrorMessage(EACCES, tempFolder) + u"/perrox-"_s));
        CHILD_CHECK(host.counts() == u"0 -"_s);
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), "x"_ba);
}

void TestProcessFiles::tempFolder_data()
{
    QTest::addColumn<QString>("temp"); // "<unset>" for no TEMP
    QTest::addColumn<QString>("tmpdir"); // empty for no TMPDIR
    QTest::addColumn<QString>("expected");
    const QString a = QDir::tempPath() + u"/perrox-a"_s;
    const QString b = QDir::tempPath() + u"/perrox-b"_s;
    QTest::newRow("two folders, the first with a final slash") << a + u"/;"_s + b << QString() << a;
    QTest::newRow("blanks around the first entry") << u"  "_s + a + u"  ;x"_s << QString() << a;
    QTest::newRow("TEMP unset, TMPDIR used") << u"<unset>"_s << b << b;
    QTest::newRow("TEMP set wins over TMPDIR") << a << b << a;
    QTest::newRow("at most 2 characters") << u"/x"_s << b << u"/tmp"_s;
    QTest::newRow("missing folder") << QDir::tempPath() + u"/perrox-missing"_s << QString() << u"/tmp"_s;
    QTest::newRow("TEMP and TMPDIR unset") << u"<unset>"_s << QString() << u"/tmp"_s;
}

void TestProcessFiles::tempFolder()
{
    QFETCH(QString, temp);
    QFETCH(QString, tmpdir);
    QFETCH(QString, expected);
    QDir().mkpath(QDir::tempPath() + u"/perrox-a"_s);
    QDir().mkpath(QDir::tempPath() + u"/perrox-b"_s);
    {
        EnvironmentGuard t("TEMP", temp == u"<unset>"_s ? std::nullopt : std::optional(NativePath(temp)));
        EnvironmentGuard d("TMPDIR", tmpdir.isEmpty() ? std::nullopt : std::optional(NativePath(tmpdir)));
        QCOMPARE(GetTempFolder(), expected);
    }
    QDir().rmdir(QDir::tempPath() + u"/perrox-a"_s);
    QDir().rmdir(QDir::tempPath() + u"/perrox-b"_s);
}

void TestProcessFiles::adjustRight()
{
    QCOMPARE(AdjustRight(5, 8), u"       5"_s);
    QCOMPARE(AdjustRight(-12, 8), u"     -12"_s);
    QCOMPARE(AdjustRight(123456789012LL, 8), u"123456789012"_s);
    QCOMPARE(AdjustRight(0, 0), u"0"_s);
}

QTEST_APPLESS_MAIN(TestProcessFiles)
#include "tst_processfiles.moc"
