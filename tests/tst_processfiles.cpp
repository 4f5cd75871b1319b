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
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;

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

// Sets an environment variable for one scope.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const char *name, const QByteArray *value)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvironmentGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

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
    void samePathTwice();
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
    void replaceAsTargets();
    void cancelDuringSecondOfThreeFiles();
    void engineFailureGoesOnWithNextRow();
    void readOnlyFileAsUnprivilegedUser();
    void writableFileInReadOnlyFolderAsUnprivilegedUser();
    void symbolicLinkStaysALink();
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
    void stickyFolderAsUnprivilegedUser();
    void tempFolder_data();
    void tempFolder();
    void adjustRight();

private:
    QString file(const QString &name, const QByteArray &content);

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
    const QByteArray temp = NativePath(m_temp->path());
    m_tempVariable = std::make_unique<EnvironmentGuard>("TEMP", &temp);
    m_state = std::make_unique<StateFolderGuard>();
}

void TestProcessFiles::cleanup()
{
    // No run may leave a temporary file behind, whatever way it ended.
    QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    // Nor a record of a rewrite in place, once the rewrite is done.
    QCOMPARE(m_state->records(), QStringList());
    m_state.reset();
    m_tempVariable.reset();
    m_temp.reset();
    m_dir.reset();
}

QString TestProcessFiles::file(const QString &name, const QByteArray &content)
{
    return WriteFileIn(m_dir->path(), name, content);
}

void TestProcessFiles::argumentChecks_data()
{
    QTest::addColumn<FindReplaceArguments>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addRow("no arguments") << FindReplaceArguments {}
                                  << QStringLiteral("Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again.");
    QTest::addRow("invalid find") << FindReplaceArguments {arg(QStringLiteral("1 300"), QString(), Decimal)}
                                  << QStringLiteral("An invalid value found in the decimal '1 300' argument.\r\n\r\n"
                                                    "Valid decimal values are between '0' and '255'.");
    QTest::addRow("find of separators only") << FindReplaceArguments {arg(QStringLiteral(" , "), QStringLiteral("x"), Decimal)}
                                             << QStringLiteral("Cannot find a valid value in the following 'Find what' field: \r\n , \r\n\r\n"
                                                               "Correct the find argument and try again.");
    QTest::addRow("invalid replace") << FindReplaceArguments {arg(QStringLiteral("a"), QStringLiteral("GG"), Characters, Hexadecimal)}
                                     << QStringLiteral("An invalid value found in the hexadecimal 'GG' argument.\r\n\r\n"
                                                       "Valid hexadecimal values are between '00' and 'FF'.");
    QTest::addRow("replace of separators only") << FindReplaceArguments {arg(QStringLiteral("a"), QStringLiteral(";"), Characters, Hexadecimal)}
                                                << QStringLiteral("Cannot find a valid value in the following 'Replace with' field.\r\n;\r\n\r\n"
                                                                  "Correct the replace argument and try again.");
    QTest::addRow("the first failing record ends the check")
        << FindReplaceArguments {arg(QStringLiteral("a"), QStringLiteral("b")), arg(QStringLiteral("999"), QString(), Decimal),
               arg(QStringLiteral("G"), QString(), Hexadecimal)}
        << QStringLiteral("An invalid value found in the decimal '999' argument.\r\n\r\nValid decimal values are between '0' and '255'.");
}

void TestProcessFiles::argumentChecks()
{
    QFETCH(FindReplaceArguments, arguments);
    QFETCH(QString, message);
    const QString path = file(QStringLiteral("a.txt"), "a , ; b");
    for (RunMode mode : {RunMode::Count, RunMode::Replace, RunMode::ReplaceAs}) {
        ScriptedHost host({path});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(mode, arguments, settings, state, host);
        QCOMPARE(r.end, RunResult::End::ArgumentError);
        QCOMPARE(host.sink.texts(), QStringList {message});
        QCOMPARE(host.sink.shown.at(0).title, QStringLiteral("Perrox"));
        QVERIFY(host.log.isEmpty()); // no Save As dialog, no progress window
        QCOMPARE(host.cells, QStringList {QString()});
    }
    QCOMPARE(ReadFile(path), QByteArray("a , ; b"));
}

void TestProcessFiles::emptyFileList()
{
    ScriptedHost host;
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::NothingToDo);
    QVERIFY(host.sink.shown.isEmpty());
    QVERIFY(host.log.isEmpty());
}

void TestProcessFiles::countThreeFiles()
{
    const QStringList paths {file(QStringLiteral("1.txt"), "aaa"), file(QStringLiteral("2.txt"), "b"), file(QStringLiteral("3.txt"), QByteArray(20000, 'a'))};
    ScriptedHost host(paths);
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Count, {arg(QStringLiteral("61"), QStringLiteral("x"), Hexadecimal)}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, 0);
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       3"), QStringLiteral("       0"), QStringLiteral("   20000")}));
    QCOMPARE(ReadFile(paths.at(0)), QByteArray("aaa"));
    QCOMPARE(ReadFile(paths.at(2)), QByteArray(20000, 'a'));
    QCOMPARE(host.log.first(), QStringLiteral("begin Counting... 20004"));
    QCOMPARE(host.log.at(1), QStringLiteral("file %1|").arg(paths.at(0)));
    QCOMPARE(host.log.last(), QStringLiteral("end"));
    QCOMPARE(host.statusTexts, (QStringList {QStringLiteral("Calculating the number of bytes to process."), QStringLiteral("3 files")}));
    QCOMPARE(host.sink.busyDepth, 0);
    QVERIFY(host.sink.busyOnCount >= 1);
    QCOMPARE(host.positions.last(), 20004.0);
    QVERIFY(host.sink.shown.isEmpty());
}

void TestProcessFiles::replaceRewritesOnlyFilesWithOccurrences()
{
    const QString with = file(QStringLiteral("with.txt"), "line\r\nline\r\n");
    const QString without = file(QStringLiteral("without.txt"), "nothing here");
    const ino_t inodeWithout = statOf(without).st_ino;
    ScriptedHost host({with, without});
    ReplaceAsSettings settings;
    EngineState state;
    bool tempSeen = false;
    host.cancelWhen = [&] {
        tempSeen = tempSeen || !TemporaryFilesIn(m_temp->path()).isEmpty();
        return false;
    };
    // An empty replacement deletes.
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("13 10"), QString(), Decimal)}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       2"), QStringLiteral("       0")}));
    QCOMPARE(ReadFile(with), QByteArray("lineline"));
    QCOMPARE(ReadFile(without), QByteArray("nothing here"));
    QCOMPARE(statOf(without).st_ino, inodeWithout); // not rewritten
    QVERIFY(tempSeen); // the work went through the TEMP folder
    QCOMPARE(host.log.first(), QStringLiteral("begin Replacing... 24"));
    QCOMPARE(host.log.at(1), QStringLiteral("file %1|").arg(with));
}

void TestProcessFiles::samePathTwice()
{
    const QString path = file(QStringLiteral("x.txt"), "xxx");
    ScriptedHost host({path, path});
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::Replace, {arg(QStringLiteral("xx"), QStringLiteral("x"))}, settings, state, host);
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       1"), QStringLiteral("       1")}));
    QCOMPARE(ReadFile(path), QByteArray("x"));
}

void TestProcessFiles::swappedAfterTheTotal_data()
{
    QTest::addColumn<QString>("swap");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QStringList>("messages");
    QTest::addRow("another regular file") << QStringLiteral("file") << QStringLiteral("       3") << QStringList();
    QTest::addRow("a named pipe") << QStringLiteral("pipe") << QStringLiteral("       0")
                                  << QStringList {QStringLiteral("Is a named pipe, not a regular file - %1")};
    QTest::addRow("a link to another file") << QStringLiteral("link") << QStringLiteral("       3") << QStringList();
}

// The look taken for the total only speeds up the open: whatever stands at
// the path when the run reaches it is what is opened, or refused.
void TestProcessFiles::swappedAfterTheTotal()
{
    QFETCH(QString, swap);
    QFETCH(QString, cell);
    QFETCH(QStringList, messages);
    const QString path = file(QStringLiteral("data.txt"), "x");
    const QString other = file(QStringLiteral("other.txt"), "xxx");
    const QString swapIn = m_dir->filePath(QStringLiteral("swap-in"));
    if (swap == QLatin1String("file"))
        QVERIFY(QFile::copy(other, swapIn));
    else if (swap == QLatin1String("pipe"))
        QVERIFY(::mkfifo(NativePath(swapIn).constData(), 0600) == 0);
    else
        QVERIFY(QFile::link(other, swapIn));
    ScriptedHost host({path});
    host.onPump = [&] {
        if (!host.log.isEmpty() && host.log.last().startsWith(QLatin1String("begin")) && QFile::exists(swapIn))
            QVERIFY(::rename(NativePath(swapIn).constData(), NativePath(path).constData()) == 0);
    };
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::Count, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
    QVERIFY(!QFile::exists(swapIn));
    QCOMPARE(host.cells, QStringList {cell});
    for (QString &m : messages)
        m = m.arg(path);
    QCOMPARE(host.sink.texts(), messages);
}

void TestProcessFiles::sameFileUnderTwoRows_data()
{
    QTest::addColumn<QString>("alias"); // how the second row names the file
    QTest::addColumn<int>("mode");
    QTest::addRow("the same path") << QString() << int(RunMode::Replace);
    QTest::addRow("a symbolic link") << QStringLiteral("link") << int(RunMode::Replace);
    QTest::addRow("a hard link") << QStringLiteral("hard") << int(RunMode::Replace);
    QTest::addRow("replace as, one target name") << QStringLiteral("other") << int(RunMode::ReplaceAs);
}

// A result still waiting to be put in place must not be missed by a later row
// that reads or writes the same file: each row sees what the rows before it
// did, as if each result had been put in place at once.
void TestProcessFiles::sameFileUnderTwoRows()
{
    QFETCH(QString, alias);
    QFETCH(int, mode);
    const QString path = file(QStringLiteral("a.txt"), "a");
    QString second = path;
    if (alias == QLatin1String("link"))
        QVERIFY(QFile::link(path, second = m_dir->filePath(QStringLiteral("link.txt"))));
    else if (alias == QLatin1String("hard"))
        QVERIFY(::link(NativePath(path).constData(), NativePath(second = m_dir->filePath(QStringLiteral("hard.txt"))).constData()) == 0);
    else if (alias == QLatin1String("other"))
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("sub")))
            && !(second = WriteFileIn(m_dir->filePath(QStringLiteral("sub")), QStringLiteral("a.txt"), "aaa")).isEmpty());
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));

    ScriptedHost host({path, second});
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    host.sink.answers = {MessageSink::Answer::Yes};
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode(mode), {arg(QStringLiteral("a"), QStringLiteral("aa"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, 0);
    if (RunMode(mode) == RunMode::Replace) {
        QCOMPARE(host.sink.texts(), QStringList());
        QCOMPARE(host.cells, (QStringList {QStringLiteral("       1"), QStringLiteral("       2")}));
        QCOMPARE(ReadFile(path), QByteArray("aaaa"));
    } else {
        // The second source goes to the name the first one has just taken.
        QCOMPARE(host.sink.texts().size(), 1);
        QVERIFY(host.sink.texts().at(0).contains(QLatin1String("already exists")));
        QCOMPARE(ReadFile(out + QLatin1String("/a.txt")), QByteArray("aaaaaa"));
    }
}

void TestProcessFiles::batchEndsWhereEachFileAtOnceWould_data()
{
    QTest::addColumn<QString>("stop");
    QTest::addRow("cancel") << QStringLiteral("cancel");
    QTest::addRow("no to the overwrite question") << QStringLiteral("no");
    QTest::addRow("a result that cannot be put in place") << QStringLiteral("failed");
}

// Results wait to be flushed together, but a run that ends at a row leaves
// exactly the files before it replaced, with the cells and messages of a run
// that put every result in place at once.
void TestProcessFiles::batchEndsWhereEachFileAtOnceWould()
{
    QFETCH(QString, stop);
    QStringList paths;
    for (const char *content : {"x x", "none", "x"})
        paths << file(QStringLiteral("f%1.txt").arg(paths.size()), content);
    // Row 3: where the run ends. A running program cannot be written (ETXTBSY),
    // even by root.
    QProcess busy;
    if (stop == QLatin1String("failed")) {
        const QString program = m_dir->filePath(QStringLiteral("f3.txt"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        busy.start(program, {QStringLiteral("30")});
        QVERIFY(busy.waitForStarted());
        paths << program;
    } else {
        paths << file(QStringLiteral("f3.txt"), "x");
    }
    paths << file(QStringLiteral("f4.txt"), "x") << file(QStringLiteral("f5.txt"), "x");
    const QByteArray stopContent = ReadFile(paths.at(3));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QVERIFY(WriteFile(out + QLatin1String("/f3.txt"), "theirs"));

    ScriptedHost host(paths);
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    host.sink.answers = {MessageSink::Answer::No};
    if (stop == QLatin1String("cancel"))
        host.cancelWhen = [&] { return !host.log.isEmpty() && host.log.last().contains(QLatin1String("f3.txt")); };
    const RunMode mode = stop == QLatin1String("no") ? RunMode::ReplaceAs : RunMode::Replace;
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(mode, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
    busy.kill();
    busy.waitForFinished();

    const QString shown = stop == QLatin1String("failed") ? host.cells.at(3) : QString();
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       2"), QStringLiteral("       0"), QStringLiteral("       1"), shown, QString(), QString()}));
    const auto result = [&](int row) { return ReadFile(mode == RunMode::Replace ? paths.at(row) : out + QStringLiteral("/f%1.txt").arg(row)); };
    QCOMPARE(result(0), QByteArray("y y"));
    QCOMPARE(result(2), QByteArray("y"));
    QCOMPARE(ReadFile(paths.at(3)), stopContent);
    QCOMPARE(ReadFile(paths.at(4)), QByteArray("x"));
    QCOMPARE(ReadFile(paths.at(5)), QByteArray("x"));
    if (stop == QLatin1String("cancel")) {
        QCOMPARE(r.end, RunResult::End::Cancelled);
        QCOMPARE(host.sink.texts(), QStringList());
    } else if (stop == QLatin1String("no")) {
        QCOMPARE(r.end, RunResult::End::StoppedAtNo);
        QCOMPARE(ReadFile(out + QLatin1String("/f3.txt")), QByteArray("theirs"));
        QVERIFY(!QFile::exists(out + QLatin1String("/f4.txt")));
    } else {
        QCOMPARE(r.end, RunResult::End::CopyFailed);
        QCOMPARE(host.sink.texts(), QStringList {FileErrorMessage(ETXTBSY, paths.at(3))});
    }
}

// The order that makes a result safe at a crash or power loss: its data is
// on the disk before its name takes the old file's place.
void TestProcessFiles::resultsReachTheDiskBeforeTheirPlace()
{
    QStringList paths;
    for (int i = 0; i < 40; ++i)
        paths << file(QStringLiteral("%1.txt").arg(i), i % 3 ? "x" : "none");
    ScriptedHost host(paths);
    std::vector<int> flushed;
    QStringList replacedTooEarly;
    host.onResultsFlushed = [&](const std::vector<int> &rows) {
        for (int row : rows) {
            if (ReadFile(paths.at(row)) != "x")
                replacedTooEarly << paths.at(row);
        }
        flushed.insert(flushed.end(), rows.begin(), rows.end());
    };
    QList<int> committed;
    host.onBeforeCommit = [&](int row) {
        QVERIFY(std::find(flushed.begin(), flushed.end(), row) != flushed.end());
        committed << row;
    };
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(replacedTooEarly, QStringList());
    QList<int> withOccurrences;
    for (int i = 0; i < 40; ++i) {
        if (i % 3) {
            withOccurrences << i;
            QCOMPARE(ReadFile(paths.at(i)), QByteArray("y"));
        }
    }
    QCOMPARE(committed, withOccurrences); // in row order
    QCOMPARE(QList<int>(flushed.begin(), flushed.end()), withOccurrences);
}

// A message of a later row waits for the results before it, and theirs.
void TestProcessFiles::messagesInRowOrder()
{
    const QString changed = file(QStringLiteral("changed.txt"), "x");
    QVERIFY(AgeFile(changed));
    const QString folder = m_dir->filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    const QString last = file(QStringLiteral("last.txt"), "x");
    ScriptedHost host({changed, folder, last});
    host.onBeforeCommit = [&](int row) {
        if (row == 0)
            QVERIFY(WriteFile(changed, "x, and more"));
    };
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, 2);
    QCOMPARE(host.sink.texts(), (QStringList {ChangedByAnotherProgramMessage(changed), FileErrorMessage(EISDIR, folder)}));
    QCOMPARE(ReadFile(changed), QByteArray("x, and more"));
    QCOMPARE(ReadFile(last), QByteArray("y"));
}

void TestProcessFiles::killedDuringABatch_data()
{
    QTest::addColumn<QString>("when");
    QTest::addRow("reading a later file") << QStringLiteral("reading");
    QTest::addRow("right after the flush") << QStringLiteral("flushed");
    QTest::addRow("halfway through putting results in place") << QStringLiteral("placing");
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
        paths << file(QStringLiteral("%1.txt").arg(i), before);
    const int rc = RunInChild([&]() -> int {
        ScriptedHost host(paths);
        int placed = 0;
        host.onPump = [&] {
            if (when == QLatin1String("reading") && !host.log.isEmpty() && host.log.last().contains(QLatin1String("/20.txt")))
                ::raise(SIGKILL);
        };
        host.onResultsFlushed = [&](const std::vector<int> &) {
            if (when == QLatin1String("flushed"))
                ::raise(SIGKILL);
        };
        host.onBeforeCommit = [&](int) {
            if (when == QLatin1String("placing") && ++placed == 10)
                ::raise(SIGKILL);
        };
        ReplaceAsSettings settings;
        EngineState state;
        ProcessFiles(RunMode::Replace, {arg(QStringLiteral("x"), QStringLiteral("yy"))}, settings, state, host);
        return 0;
    });
    QCOMPARE(rc, -1);
    for (const QString &path : paths) {
        const QByteArray now = ReadFile(path);
        QVERIFY2(now == before || now == after, qPrintable(path));
    }
    // What the killed run left is in its own folder only ...
    const QStringList left = TemporaryFilesIn(m_temp->path());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    QVERIFY(!left.isEmpty() && left.at(0).startsWith(QLatin1String("perrox-")));
    // ... and the next run finishes the work.
    ScriptedHost host(paths);
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("x"), QStringLiteral("yy"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(host.sink.texts(), QStringList());
    for (const QString &path : paths)
        QCOMPARE(ReadFile(path), after);
    QVERIFY(QDir(m_temp->filePath(left.at(0))).removeRecursively());
}

void TestProcessFiles::replaceAsAskingBeforeOverwriting()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    const QStringList paths {file(QStringLiteral("a.txt"), "a"), file(QStringLiteral("b.txt"), "a"), file(QStringLiteral("c.txt"), "a")};
    WriteFile(out + QLatin1String("/b.txt"), "old b");
    WriteFile(out + QLatin1String("/c.txt"), "old c");

    ScriptedHost host(paths);
    host.cells = {QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x")};
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    ReplaceAsSettings settings;
    EngineState state;
    RunResult r = ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("a"), QStringLiteral("A"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::StoppedAtNo);
    QCOMPARE(settings.outpath, out);
    const QString target = out + QLatin1String("/b.txt");
    QCOMPARE(host.sink.texts(), QStringList {QStringLiteral("The file %1 already exists.\r\n\r\nDo you want to overwrite it?").arg(target)});
    QCOMPARE(host.sink.shown.at(0).buttons, MessageSink::Buttons::YesNo);
    QCOMPARE(host.sink.shown.at(0).icon, MessageSink::Icon::Exclamation);
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       1"), QStringLiteral("x"), QStringLiteral("x")}));
    QCOMPARE(ReadFile(out + QLatin1String("/a.txt")), QByteArray("A"));
    QCOMPARE(ReadFile(target), QByteArray("old b"));
    QCOMPARE(host.log.at(0), QStringLiteral("save dialog"));
    QVERIFY(host.log.contains(QStringLiteral("file %1|to %2").arg(paths.at(1), target)));
    QCOMPARE(host.log.last(), QStringLiteral("end"));

    // Yes overwrites; overwrite switched on asks nothing.
    ScriptedHost yes(paths);
    yes.sink.answers = {MessageSink::Answer::Yes, MessageSink::Answer::Yes, MessageSink::Answer::Yes};
    r = ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("a"), QStringLiteral("B"))}, settings, state, yes);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(yes.sink.shown.size(), 3); // a.txt exists now too
    QCOMPARE(ReadFile(target), QByteArray("B"));
    ScriptedHost silent(paths);
    silent.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 1};
    r = ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("a"), QStringLiteral("C"))}, settings, state, silent);
    QCOMPARE(r.end, RunResult::End::Completed);
    QVERIFY(silent.sink.shown.isEmpty());
    QCOMPARE(ReadFile(out + QLatin1String("/c.txt")), QByteArray("C"));

    // A cancelled Save As dialog ends the command before anything else.
    ScriptedHost cancelled(paths);
    cancelled.targetChosen = false;
    r = ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("a"), QStringLiteral("D"))}, settings, state, cancelled);
    QCOMPARE(r.end, RunResult::End::TargetCancelled);
    QCOMPARE(cancelled.log, QStringList {QStringLiteral("save dialog")});
    QCOMPARE(ReadFile(out + QLatin1String("/c.txt")), QByteArray("C"));
}

void TestProcessFiles::replaceAsTargets()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    const QString report = file(QStringLiteral("report.txt"), "v1");
    const QString readme = file(QStringLiteral("README"), "v1");
    const QString none = file(QStringLiteral("none.txt"), "nothing");
    ScriptedHost host({report, readme, none});
    host.chosenSettings = ReplaceAsSettings {out + QLatin1Char('/'), QStringLiteral("new_"), QStringLiteral("_v2"), 0};
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("v1"), QStringLiteral("v2"))}, settings, state, host);
    QCOMPARE(ReadFile(out + QLatin1String("/new_report_v2.txt")), QByteArray("v2"));
    QCOMPARE(ReadFile(out + QLatin1String("/new_README_v2")), QByteArray("v2"));
    QCOMPARE(ReadFile(report), QByteArray("v1"));
    QVERIFY(!FileExists(out + QLatin1String("/new_none_v2.txt"))); // no occurrences, no target
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), 2);
}

void TestProcessFiles::cancelDuringSecondOfThreeFiles()
{
    const QStringList paths {file(QStringLiteral("1.bin"), QByteArray(10000, 'a')), file(QStringLiteral("2.bin"), QByteArray(10000, 'a')),
        file(QStringLiteral("3.bin"), QByteArray(10000, 'a'))};
    ScriptedHost host(paths);
    host.cells = {QStringLiteral("old"), QStringLiteral("old"), QStringLiteral("old")};
    // Cancelled once the first block of the second file has been reported.
    host.cancelWhen = [&] { return !host.positions.isEmpty() && host.positions.last() > 10000; };
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("b"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Cancelled);
    QCOMPARE(host.cells, (QStringList {QStringLiteral("   10000"), QStringLiteral("old"), QStringLiteral("old")}));
    QCOMPARE(ReadFile(paths.at(0)), QByteArray(10000, 'b'));
    QCOMPARE(ReadFile(paths.at(1)), QByteArray(10000, 'a'));
    QCOMPARE(ReadFile(paths.at(2)), QByteArray(10000, 'a'));
    QCOMPARE(host.positions.last(), 14096.0);
    QCOMPARE(host.log.last(), QStringLiteral("end"));
}

void TestProcessFiles::engineFailureGoesOnWithNextRow()
{
    const QString missing = m_dir->filePath(QStringLiteral("gone.txt"));
    const QString present = file(QStringLiteral("here.txt"), "aa");
    ScriptedHost host({missing, present});
    host.cells = {QStringLiteral("old"), QStringLiteral("old")};
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("b"))}, settings, state, host);
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, 1);
    QCOMPARE(host.sink.texts(), QStringList {SystemErrorText(ENOENT) + QLatin1String(" - ") + missing});
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       0"), QStringLiteral("       2")}));
    QCOMPARE(ReadFile(present), QByteArray("bb"));
}

void TestProcessFiles::readOnlyFileAsUnprivilegedUser()
{
    QVERIFY(::chmod(NativePath(m_dir->path()).constData(), 0777) == 0);
    QVERIFY(::chmod(NativePath(m_temp->path()).constData(), 0777) == 0);
    const QString path = file(QStringLiteral("locked.txt"), "secret a");
    QVERIFY(::chmod(NativePath(path).constData(), 0444) == 0);
    const QString tempFolder = m_temp->path();
    const int rc = RunUnprivileged([&]() -> int {
        ScriptedHost host({path});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("b"))}, settings, state, host);
        CHILD_CHECK(r.end == RunResult::End::CopyFailed);
        CHILD_CHECK(host.sink.texts() == QStringList {SystemErrorText(EACCES) + QLatin1String(" - ") + path});
        CHILD_CHECK(host.cells == QStringList {QStringLiteral("       1")});
        CHILD_CHECK(TemporaryFilesIn(tempFolder).isEmpty());
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), QByteArray("secret a"));
    QCOMPARE(statOf(path).st_mode & 07777, 0444u);
}

void TestProcessFiles::writableFileInReadOnlyFolderAsUnprivilegedUser()
{
    QVERIFY(::chmod(NativePath(m_temp->path()).constData(), 0777) == 0);
    const QString folder = m_dir->filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QLatin1String("/open.txt");
    WriteFile(path, "a a a");
    QVERIFY(::chmod(NativePath(path).constData(), 0666) == 0);
    QVERIFY(::chmod(NativePath(folder).constData(), 0555) == 0);
    QVERIFY(::chmod(NativePath(m_dir->path()).constData(), 0755) == 0);
    const int rc = RunUnprivileged([&]() -> int {
        ScriptedHost host({path});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("bb"))}, settings, state, host);
        CHILD_CHECK(r.end == RunResult::End::Completed);
        CHILD_CHECK(host.sink.shown.isEmpty());
        return 0;
    });
    ::chmod(NativePath(folder).constData(), 0755);
    QCOMPARE(rc, 0);
    // The folder takes no new file, so the file was rewritten where it is.
    QCOMPARE(ReadFile(path), QByteArray("bb bb bb"));
}

void TestProcessFiles::symbolicLinkStaysALink()
{
    const QString real = file(QStringLiteral("real.txt"), "old old");
    const QString link = m_dir->filePath(QStringLiteral("link.txt"));
    QVERIFY(QFile::link(QStringLiteral("real.txt"), link)); // a relative link
    ScriptedHost host({link});
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::Replace, {arg(QStringLiteral("old"), QStringLiteral("new"))}, settings, state, host);
    QCOMPARE(host.cells, QStringList {QStringLiteral("       2")});
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), real);
    QCOMPARE(ReadFile(real), QByteArray("new new"));
}

void TestProcessFiles::hardLinksAllSeeTheResult()
{
    const QString first = file(QStringLiteral("first.txt"), "abc abc abc");
    const QString second = m_dir->filePath(QStringLiteral("second.txt"));
    QVERIFY(::link(NativePath(first).constData(), NativePath(second).constData()) == 0);
    const ino_t inode = statOf(first).st_ino;
    for (const QByteArray &replacement : {QByteArray("a much longer text"), QByteArray("")}) {
        ScriptedHost host({first});
        ReplaceAsSettings settings;
        EngineState state;
        ProcessFiles(RunMode::Replace, {arg(QStringLiteral("abc"), QString::fromLatin1(replacement))}, settings, state, host);
        QVERIFY(host.sink.shown.isEmpty());
        const QByteArray expected = replacement + ' ' + replacement + ' ' + replacement;
        QCOMPARE(ReadFile(first), expected);
        QCOMPARE(ReadFile(second), expected);
        QCOMPARE(statOf(first).st_ino, inode);
        QCOMPARE(qint64(statOf(first).st_size), qint64(expected.size()));
        WriteFile(first, "abc abc abc");
    }
}

void TestProcessFiles::permissionsOfReplacedAndNewFiles()
{
    const QString path = file(QStringLiteral("mode.txt"), "a");
    QVERIFY(::chmod(NativePath(path).constData(), 0751) == 0);
    const mode_t oldMask = ::umask(027);
    ScriptedHost host({path});
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("b"))}, settings, state, host);
    QCOMPARE(ReadFile(path), QByteArray("b"));
    QCOMPARE(statOf(path).st_mode & 07777, 0751u);

    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    ScriptedHost as({path});
    as.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 0};
    ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("b"), QStringLiteral("c"))}, settings, state, as);
    ::umask(oldMask);
    QCOMPARE(ReadFile(out + QLatin1String("/mode.txt")), QByteArray("c"));
    QCOMPARE(statOf(out + QLatin1String("/mode.txt")).st_mode & 07777, 0640u); // 0666 less the umask
}

void TestProcessFiles::resultFromAnotherFileSystem()
{
    // /dev/shm is a memory file system on a device of its own on most systems.
    const QString shm = QStringLiteral("/dev/shm");
    if (!FolderExists(shm) || statOf(shm).st_dev == statOf(m_dir->path()).st_dev)
        QSKIP("no second file system for temporary files here");
    QTemporaryDir temp(shm + QLatin1String("/perrox-test-XXXXXX"));
    QVERIFY(temp.isValid());
    const QByteArray tempPath = NativePath(temp.path());
    EnvironmentGuard guard("TEMP", &tempPath);
    const QString path = file(QStringLiteral("far.txt"), "far far");
    QVERIFY(::chmod(NativePath(path).constData(), 0604) == 0);
    ScriptedHost host({path});
    ReplaceAsSettings settings;
    EngineState state;
    ProcessFiles(RunMode::Replace, {arg(QStringLiteral("far"), QStringLiteral("near"))}, settings, state, host);
    QVERIFY(host.sink.shown.isEmpty());
    QCOMPARE(ReadFile(path), QByteArray("near near"));
    QCOMPARE(statOf(path).st_mode & 07777, 0604u);
    QCOMPARE(TemporaryFilesIn(temp.path()), QStringList());
}

void TestProcessFiles::writeFailureMidFileLeavesSourceAlone()
{
    const QString path = file(QStringLiteral("grow.bin"), QByteArray(60000, 'a'));
    const QString other = file(QStringLiteral("small.bin"), "a");
    const QString tempFolder = m_temp->path();
    const int rc = RunInChild([&]() -> int {
        // Writing past 100000 bytes fails with "File too large".
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100000, 100000};
        CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        ScriptedHost host({path, other});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("aaaa"))}, settings, state, host);
        CHILD_CHECK(r.end == RunResult::End::Completed);
        CHILD_CHECK(r.failedFiles == 1);
        CHILD_CHECK(host.sink.shown.size() == 1);
        CHILD_CHECK(host.sink.shown.at(0).text.startsWith(SystemErrorText(EFBIG) + QLatin1String(" - ") + tempFolder + QLatin1String("/perrox-")));
        CHILD_CHECK(host.sink.shown.at(0).text.contains(QLatin1String("/~PX")));
        CHILD_CHECK(host.cells == (QStringList {QStringLiteral("       0"), QStringLiteral("       1")}));
        CHILD_CHECK(TemporaryFilesIn(tempFolder).isEmpty());
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), QByteArray(60000, 'a'));
    QCOMPARE(ReadFile(other), QByteArray("aaaa"));
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
        QTest::addRow("replaced by a new file%s", how) << Meddling::ReplaceByNewFile << linked << QByteArray("theirs");
        QTest::addRow("swapped for a link to a private file%s", how) << Meddling::SwapForLink << linked << QByteArray("top secret");
        QTest::addRow("another Perrox run%s", how) << Meddling::AnotherPerroxRun << linked << QByteArray("1 two 1 two");
    }
}

void TestProcessFiles::changedBetweenReadAndCommit()
{
    QFETCH(Meddling, meddling);
    QFETCH(bool, hardLinked);
    QFETCH(QByteArray, left);
    const QByteArray content = "one two one two";
    const QString shared = m_dir->filePath(QStringLiteral("shared"));
    const QString privateFolder = m_dir->filePath(QStringLiteral("private"));
    QVERIFY(QDir().mkpath(shared) && QDir().mkpath(privateFolder));
    QVERIFY(::chmod(NativePath(privateFolder).constData(), 0700) == 0);
    const QString secret = WriteFileIn(privateFolder, QStringLiteral("secret.txt"), "top secret");
    QVERIFY(::chmod(NativePath(secret).constData(), 0600) == 0);
    const QString path = WriteFileIn(shared, QStringLiteral("data.txt"), content);
    const QString moved = shared + QLatin1String("/data.moved");
    if (hardLinked)
        QVERIFY(::link(NativePath(path).constData(), NativePath(shared + QLatin1String("/data.link")).constData()) == 0);
    QVERIFY(AgeFile(path));
    const QString next = file(QStringLiteral("next.txt"), "one");

    ScriptedHost host({path, next});
    host.onBeforeCommit = [&](int row) {
        if (row != 0)
            return;
        switch (meddling) {
        case Meddling::Append: {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append) && f.write(" tail") == 5);
            break;
        }
        case Meddling::Truncate:
            QVERIFY(::truncate(NativePath(path).constData(), 5) == 0);
            break;
        case Meddling::Delete:
            QVERIFY(QFile::remove(path));
            break;
        case Meddling::RewriteSameSize: {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.write(QByteArray(content.size(), 'z')) == content.size());
            break;
        }
        case Meddling::ReplaceByNewFile:
            QVERIFY(WriteFile(moved, "theirs") && ::rename(NativePath(moved).constData(), NativePath(path).constData()) == 0);
            break;
        case Meddling::SwapForLink:
            QVERIFY(::rename(NativePath(path).constData(), NativePath(moved).constData()) == 0);
            QVERIFY(QFile::link(secret, path));
            break;
        case Meddling::AnotherPerroxRun: {
            ScriptedHost other({path});
            ReplaceAsSettings otherSettings;
            EngineState otherState;
            QCOMPARE(ProcessFiles(RunMode::Replace, {arg(QStringLiteral("one"), QStringLiteral("1"))}, otherSettings, otherState, other).end,
                RunResult::End::Completed);
            QVERIFY(other.sink.shown.isEmpty());
            break;
        }
        }
    };
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("one"), QStringLiteral("ONE"))}, settings, state, host);

    // Reported, counted as a failed file, and the run went on.
    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, 1);
    QCOMPARE(host.sink.texts(), QStringList {ChangedByAnotherProgramMessage(path)});
    QCOMPARE(host.cells, (QStringList {QStringLiteral("       2"), QStringLiteral("       1")}));
    QCOMPARE(ReadFile(next), QByteArray("ONE"));
    // Left exactly as the other program left it; nothing written elsewhere.
    if (left.isEmpty())
        QVERIFY(!QFileInfo::exists(path));
    else
        QCOMPARE(ReadFile(path), left);
    QCOMPARE(ReadFile(secret), QByteArray("top secret"));
    QCOMPARE(statOf(secret).st_mode & 07777, 0600u);
    if (meddling == Meddling::SwapForLink) {
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(ReadFile(moved), content);
    }
    if (hardLinked && meddling != Meddling::ReplaceByNewFile && meddling != Meddling::SwapForLink && meddling != Meddling::Delete)
        QCOMPARE(ReadFile(shared + QLatin1String("/data.link")), left);
}

void TestProcessFiles::replaceAsNeverWritesThroughTheTarget_data()
{
    QTest::addColumn<QString>("plant"); // what stands at out/a.txt: "dangling link", "link", "hard link", "pipe", "folder"
    QTest::addColumn<bool>("atCommit"); // planted between the question and the commit
    QTest::addColumn<qint16>("overwrite");
    QTest::addColumn<QString>("message"); // %1: the target; empty: no message
    const QString link = QStringLiteral("Cannot write the result to %1: it is a symbolic link, and Perrox never writes through a link. It was left as it is.");
    QTest::addRow("dangling link") << QStringLiteral("dangling link") << false << qint16(0) << link;
    QTest::addRow("link to a file outside, overwrite on") << QStringLiteral("link") << false << qint16(1) << link;
    QTest::addRow("link to a file outside, asking") << QStringLiteral("link") << false << qint16(0) << link;
    QTest::addRow("pipe") << QStringLiteral("pipe") << false << qint16(1)
                          << QStringLiteral("Cannot write the result to %1: is a named pipe, not a regular file. It was left as it is.");
    QTest::addRow("folder") << QStringLiteral("folder") << false << qint16(1)
                            << QStringLiteral("Cannot write the result to %1: ") + SystemErrorText(EISDIR).toLower()
            + QStringLiteral(". It was left as it is.");
    QTest::addRow("link planted after the look") << QStringLiteral("dangling link") << true << qint16(0) << link;
    QTest::addRow("file planted after the look") << QStringLiteral(
        "file") << true << qint16(1) << QStringLiteral("The file %1 was changed by another program while Perrox was working on it; it was left as it is.");
    // The name in the folder is replaced; the other name keeps its content.
    QTest::addRow("hard link to a file outside") << QStringLiteral("hard link") << false << qint16(1) << QString();
}

void TestProcessFiles::replaceAsNeverWritesThroughTheTarget()
{
    QFETCH(QString, plant);
    QFETCH(bool, atCommit);
    QFETCH(qint16, overwrite);
    QFETCH(QString, message);
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(elsewhere));
    const QString outside = elsewhere + QLatin1String("/x");
    const QString target = out + QLatin1String("/a.txt");
    if (plant != QLatin1String("dangling link"))
        QVERIFY(WriteFile(outside, "outside"));
    const auto doPlant = [&] {
        if (plant.endsWith(QLatin1String("link")) && !plant.startsWith(QLatin1String("hard")))
            QVERIFY(QFile::link(outside, target));
        else if (plant == QLatin1String("hard link"))
            QVERIFY(::link(NativePath(outside).constData(), NativePath(target).constData()) == 0);
        else if (plant == QLatin1String("pipe"))
            QVERIFY(::mkfifo(NativePath(target).constData(), 0600) == 0);
        else if (plant == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(target));
        else
            QVERIFY(WriteFile(target, "planted"));
    };
    if (!atCommit)
        doPlant();
    const QStringList sources {file(QStringLiteral("a.txt"), "a"), file(QStringLiteral("b.txt"), "a")};

    ScriptedHost host(sources);
    host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), overwrite};
    host.onBeforeCommit = [&](int row) {
        if (row == 0 && atCommit)
            doPlant();
    };
    ReplaceAsSettings settings;
    EngineState state;
    const RunResult r = ProcessFiles(RunMode::ReplaceAs, {arg(QStringLiteral("a"), QStringLiteral("A"))}, settings, state, host);

    QCOMPARE(r.end, RunResult::End::Completed);
    QCOMPARE(r.failedFiles, message.isEmpty() ? 0 : 1);
    // No question for what is no regular file; the message instead.
    QCOMPARE(host.sink.texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(target)});
    QCOMPARE(ReadFile(out + QLatin1String("/b.txt")), QByteArray("A"));
    if (plant == QLatin1String("dangling link"))
        QVERIFY(!QFileInfo::exists(outside));
    else
        QCOMPARE(ReadFile(outside), QByteArray("outside"));
    if (plant == QLatin1String("hard link"))
        QCOMPARE(ReadFile(target), QByteArray("A"));
    else if (plant == QLatin1String("file"))
        QCOMPARE(ReadFile(target), QByteArray("planted"));
    if (plant.contains(QLatin1String("link")) && !plant.startsWith(QLatin1String("hard")))
        QVERIFY(QFileInfo(target).isSymLink());
}

void TestProcessFiles::interruptedRewriteInPlace_data()
{
    QTest::addColumn<QString>("meanwhile"); // what happens between the kill and the next start
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("message"); // %1 the file, %2 the kept result
    const QString stopped = QStringLiteral("Perrox was stopped while it rewrote the file %1");
    QTest::addRow("nothing") << QString() << true << stopped + QStringLiteral(" and has now finished it.");
    QTest::addRow("another program appended") << QStringLiteral("append") << false
                                              << stopped
            + QStringLiteral(", but another program has changed the file since; it was left as it is. The complete result of that run is kept in %2.");
    QTest::addRow("the file was deleted") << QStringLiteral("delete") << false
                                          << stopped
            + QStringLiteral(", but the file is no longer there or is another file now; it was left as it is. The complete result of that run is kept in %2.");
    QTest::addRow("the record is in use by a running Perrox") << QStringLiteral("lock") << true << stopped + QStringLiteral(" and has now finished it.");
}

void TestProcessFiles::interruptedRewriteInPlace()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, finished);
    QFETCH(QString, message);
    // Four chunks of 4096 bytes and a few more; the result is longer.
    const QByteArray original = RandomBytes(7, 4 * 4096 + 100, "abc");
    QByteArray expected = original;
    expected.replace("a", "AA");
    const QString path = file(QStringLiteral("linked.txt"), original);
    const QString other = m_dir->filePath(QStringLiteral("other-name.txt"));
    QVERIFY(::link(NativePath(path).constData(), NativePath(other).constData()) == 0);

    // The run is killed after the first chunk of the rewrite in place.
    QVERIFY(InterruptRewriteInPlace(path, "a", "AA", 4096));
    const QByteArray half = ReadFile(path);
    QCOMPARE(half.left(4096), expected.left(4096));
    QCOMPARE(half.mid(4096), original.mid(4096));
    QCOMPARE(m_state->records().size(), 2); // the record and the kept result
    const QString kept = m_state->recordFolder() + QLatin1Char('/') + m_state->records().filter(QStringLiteral(".result")).value(0);
    QCOMPARE(ReadFile(kept), expected);
    // The run's own folder stays behind after a kill; it is nobody else's.
    for (const QString &name : TemporaryFilesIn(m_temp->path()))
        QDir(m_temp->filePath(name)).removeRecursively() || QFile::remove(m_temp->filePath(name));

    if (meanwhile == QLatin1String("append")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append) && f.write("!") == 1);
    } else if (meanwhile == QLatin1String("delete")) {
        QVERIFY(QFile::remove(path));
    } else if (meanwhile == QLatin1String("lock")) {
        const QString record = m_state->recordFolder() + QLatin1Char('/') + m_state->records().filter(QStringLiteral(".record")).value(0);
        const int fd = ::open(NativePath(record).constData(), O_RDONLY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        QCOMPARE(RecoverInterruptedRewrites(), QString()); // somebody else's: left alone
        QCOMPARE(ReadFile(path), half);
        ::close(fd);
    }
    const QByteArray before = QFileInfo::exists(path) ? ReadFile(path) : QByteArray();

    QCOMPARE(RecoverInterruptedRewrites(), message.arg(path, kept));
    if (finished) {
        QCOMPARE(ReadFile(path), expected);
        QCOMPARE(ReadFile(other), expected);
        QCOMPARE(m_state->records(), QStringList());
    } else {
        if (QFileInfo::exists(path))
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
    QTest::addRow("count") << RunMode::Count;
    QTest::addRow("replace") << RunMode::Replace;
    QTest::addRow("replace as") << RunMode::ReplaceAs;
}

void TestProcessFiles::specialFilesNeverBlock()
{
    QFETCH(RunMode, mode);
    const QString pipe = m_dir->filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(NativePath(pipe).constData(), 0600) == 0);
    const QString socketPath = m_dir->filePath(QStringLiteral("socket"));
    QVERIFY(MakeSocket(socketPath));
    // A file of the kernel: no size, yet bytes ("Name:" once).
    const QString kernel = QStringLiteral("/proc/self/status");
    const QString plain = file(QStringLiteral("plain.txt"), "Name: Name:");
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));

    const int rc = RunInChild([&]() -> int {
        ::alarm(20); // a run that blocks ends the child, and the test fails
        ScriptedHost host({pipe, socketPath, kernel, plain});
        host.chosenSettings = ReplaceAsSettings {out, QString(), QString(), 1};
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(mode, {arg(QStringLiteral("Name:"), QStringLiteral("N:"))}, settings, state, host);
        CHILD_CHECK(r.end == RunResult::End::Completed);
        QStringList expected {
            QStringLiteral("Is a named pipe, not a regular file - ") + pipe, QStringLiteral("Is a socket, not a regular file - ") + socketPath};
        if (mode == RunMode::Replace)
            expected.append(
                QStringLiteral("The file /proc/self/status does not report its size, as the files of /proc and /sys do; it was counted but left as it "
                               "is."));
        CHILD_CHECK(host.sink.texts() == expected);
        CHILD_CHECK(r.failedFiles == int(expected.size()));
        CHILD_CHECK(host.cells.at(0) == QStringLiteral("       0") && host.cells.at(1) == QStringLiteral("       0"));
        CHILD_CHECK(host.cells.at(2) == QStringLiteral("       1"));
        CHILD_CHECK(host.cells.at(3) == QStringLiteral("       2"));
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(plain), mode == RunMode::Replace ? QByteArray("N: N:") : QByteArray("Name: Name:"));
    if (mode == RunMode::ReplaceAs)
        QVERIFY(ReadFile(out + QLatin1String("/status")).startsWith("N:"));
}

void TestProcessFiles::tempFolderFilledByAnotherUser()
{
    // Another user takes every temporary name there is in a shared TEMP.
    QVERIFY(::chmod(NativePath(m_temp->path()).constData(), 01777) == 0);
    const QString tempFolder = m_temp->path();
    const int filled = RunUnprivileged([&]() -> int {
        for (int n = 10000; n <= 99999; ++n) {
            const int fd = ::open(NativePath(TemporaryFileName(tempFolder, n)).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            CHILD_CHECK(fd >= 0);
            ::close(fd);
        }
        return 0;
    });
    QCOMPARE(filled, 0);

    const QString path = file(QStringLiteral("x.txt"), "x x");
    for (RunMode mode : {RunMode::Count, RunMode::Replace}) {
        ScriptedHost host({path});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(mode, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
        QCOMPARE(r.end, RunResult::End::Completed);
        QVERIFY(host.sink.shown.isEmpty());
        QCOMPARE(host.cells, QStringList {QStringLiteral("       2")});
    }
    QCOMPARE(ReadFile(path), QByteArray("y y"));
    // Nothing of theirs was touched, and nothing of ours is left.
    const QStringList left = TemporaryFilesIn(tempFolder);
    QCOMPARE(left.size(), 90000);
    QVERIFY(!left.join(QLatin1Char(' ')).contains(QLatin1String("perrox-")));
    for (const QString &name : left)
        QFile::remove(m_temp->filePath(name));
}

void TestProcessFiles::unwritableTempFolderTouchesNothing()
{
    QVERIFY(::chmod(NativePath(m_temp->path()).constData(), 0755) == 0);
    QVERIFY(::chmod(NativePath(m_dir->path()).constData(), 0777) == 0);
    const QString none = file(QStringLiteral("none.txt"), "n");
    const QString path = file(QStringLiteral("x.txt"), "x");
    QVERIFY(::chmod(NativePath(path).constData(), 0666) == 0);
    const QString tempFolder = m_temp->path();
    const int rc = RunUnprivileged([&]() -> int {
        // Reading needs no temporary file: Count, and a file without
        // occurrences, work without a writable TEMP ...
        ScriptedHost count({none, path});
        ReplaceAsSettings settings;
        EngineState state;
        RunResult r = ProcessFiles(RunMode::Count, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, count);
        CHILD_CHECK(r.end == RunResult::End::Completed && count.sink.shown.isEmpty());
        CHILD_CHECK(count.cells == (QStringList {QStringLiteral("       0"), QStringLiteral("       1")}));
        // ... and the first occurrence of a Replace ends the run, touching nothing.
        ScriptedHost host({none, path});
        r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("x"), QStringLiteral("y"))}, settings, state, host);
        CHILD_CHECK(r.end == RunResult::End::SetupFailed);
        CHILD_CHECK(host.sink.shown.size() == 1);
        CHILD_CHECK(host.sink.shown.at(0).text.startsWith(SystemErrorText(EACCES) + QLatin1String(" - ") + tempFolder + QLatin1String("/perrox-")));
        CHILD_CHECK(host.cells == (QStringList {QStringLiteral("       0"), QString()}));
        return 0;
    });
    QCOMPARE(rc, 0);
    QCOMPARE(ReadFile(path), QByteArray("x"));
}

void TestProcessFiles::stickyFolderAsUnprivilegedUser()
{
    QVERIFY(::chmod(NativePath(m_temp->path()).constData(), 0777) == 0);
    QVERIFY(::chmod(NativePath(m_dir->path()).constData(), 0755) == 0);
    // A shared folder like /tmp, and a file of root's that everybody may write.
    const QString sticky = m_dir->filePath(QStringLiteral("sticky"));
    QVERIFY(QDir().mkpath(sticky) && ::chmod(NativePath(sticky).constData(), 01777) == 0);
    const QString path = WriteFileIn(sticky, QStringLiteral("shared.txt"), "a a a");
    QVERIFY(::chmod(NativePath(path).constData(), 0666) == 0);
    const ino_t inode = statOf(path).st_ino;
    const int rc = RunUnprivileged([&]() -> int {
        ScriptedHost host({path});
        ReplaceAsSettings settings;
        EngineState state;
        const RunResult r = ProcessFiles(RunMode::Replace, {arg(QStringLiteral("a"), QStringLiteral("bb"))}, settings, state, host);
        CHILD_CHECK(host.sink.texts() == QStringList());
        CHILD_CHECK(r.end == RunResult::End::Completed);
        return 0;
    });
    QCOMPARE(rc, 0);
    // Rewritten where it is: still root's file, same inode, same mode.
    QCOMPARE(ReadFile(path), QByteArray("bb bb bb"));
    QCOMPARE(statOf(path).st_ino, inode);
    QCOMPARE(statOf(path).st_uid, 0u);
    QCOMPARE(statOf(path).st_mode & 07777, 0666u);
}

void TestProcessFiles::tempFolder_data()
{
    QTest::addColumn<QString>("temp"); // "<unset>" for no TEMP
    QTest::addColumn<QString>("tmpdir");
    QTest::addColumn<QString>("expected");
    const QString a = QDir::tempPath() + QLatin1String("/perrox-a");
    const QString b = QDir::tempPath() + QLatin1String("/perrox-b");
    QTest::addRow("two folders, the first with a final slash") << a + QLatin1String("/;") + b << QString() << a;
    QTest::addRow("blanks around the first entry") << QLatin1String("  ") + a + QLatin1String("  ;x") << QString() << a;
    QTest::addRow("TEMP unset, TMPDIR used") << QStringLiteral("<unset>") << b << b;
    QTest::addRow("TEMP set wins over TMPDIR") << a << b << a;
    QTest::addRow("at most 2 characters") << QStringLiteral("/x") << b << QStringLiteral("/tmp");
    QTest::addRow("missing folder") << QDir::tempPath() + QLatin1String("/perrox-missing") << QString() << QStringLiteral("/tmp");
    QTest::addRow("TEMP and TMPDIR unset") << QStringLiteral("<unset>") << QString() << QStringLiteral("/tmp");
}

void TestProcessFiles::tempFolder()
{
    QFETCH(QString, temp);
    QFETCH(QString, tmpdir);
    QFETCH(QString, expected);
    QDir().mkpath(QDir::tempPath() + QLatin1String("/perrox-a"));
    QDir().mkpath(QDir::tempPath() + QLatin1String("/perrox-b"));
    const QByteArray tempValue = NativePath(temp);
    const QByteArray tmpdirValue = NativePath(tmpdir);
    {
        EnvironmentGuard t("TEMP", temp == QLatin1String("<unset>") ? nullptr : &tempValue);
        EnvironmentGuard d("TMPDIR", tmpdir.isEmpty() ? nullptr : &tmpdirValue);
        QCOMPARE(GetTempFolder(), expected);
    }
    QDir().rmdir(QDir::tempPath() + QLatin1String("/perrox-a"));
    QDir().rmdir(QDir::tempPath() + QLatin1String("/perrox-b"));
}

void TestProcessFiles::adjustRight()
{
    QCOMPARE(AdjustRight(5, 8), QStringLiteral("       5"));
    QCOMPARE(AdjustRight(-12, 8), QStringLiteral("     -12"));
    QCOMPARE(AdjustRight(123456789012LL, 8), QStringLiteral("123456789012"));
    QCOMPARE(AdjustRight(0, 0), QStringLiteral("0"));
}

QTEST_APPLESS_MAIN(TestProcessFiles)
#include "tst_processfiles.moc"
