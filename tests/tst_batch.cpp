#include "arguments/argumentfile.h"
#include "batch/batchinput.h"
#include "batch/batchoptions.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;

namespace {

struct Batch
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// perrox-batch end to end on real files: output lines, exit codes, messages.
class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countLines();
    void replaceWithEveryNotation();
    void failedFileExitsOne();
    void usageErrors_data();
    void usageErrors();
    void argumentErrorTouchesNothing();
    void overwriteQuestionWithoutTerminal();
    void prefixCannotLeaveTheFolder();
    void helpAndVersion();
    void interruptLeavesFileAndNoTemporary();
    void parsesSpecs();
    void foldersWithMasks();
    void argumentFilesInPairOrder();
    void saveArgumentsWithoutPath();
    void loadedPairIsChecked();
    void argumentFileFailures_data();
    void argumentFileFailures();
    void parsesArgumentFilesAndMasks();

private:
    Batch run(const QStringList &arguments, QProcess *started = nullptr);
    QString file(const QString &name, const QByteArray &content);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
};

void TestBatch::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_temp = std::make_unique<QTemporaryDir>();
}

void TestBatch::cleanup()
{
    QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
    m_temp.reset();
    m_dir.reset();
}

QString TestBatch::file(const QString &name, const QByteArray &content)
{
    return WriteFileIn(m_dir->path(), name, content);
}

Batch TestBatch::run(const QStringList &arguments, QProcess *started)
{
    QProcess own;
    QProcess &p = started ? *started : own;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TEMP"), m_temp->path());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(m_dir->path());
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral(PERROX_BATCH_BINARY), arguments);
    Batch b;
    if (started)
        return b;
    if (!p.waitForFinished(60000))
        return b;
    b.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    b.out = p.readAllStandardOutput();
    b.err = p.readAllStandardError();
    return b;
}

void TestBatch::countLines()
{
    file(QStringLiteral("a.txt"), "hello hello");
    file(QStringLiteral("b.txt"), "nothing");
    const Batch b = run(
        {QStringLiteral("--find"), QStringLiteral("hello"), QStringLiteral("--with"), QStringLiteral("bye"), QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray("       2  a.txt\n       0  b.txt\n"));
    QCOMPARE(b.err, QByteArray());
    QCOMPARE(ReadFile(m_dir->filePath(QStringLiteral("a.txt"))), QByteArray("hello hello"));
}

void TestBatch::replaceWithEveryNotation()
{
    const QString path = file(QStringLiteral("data.bin"), "AB\r\nAB\r\nx");
    const Batch b = run({QStringLiteral("--replace"), QStringLiteral("--find=hex:0d,0a"), QStringLiteral("--with"), QString(), QStringLiteral("--find"),
        QStringLiteral("dec:65 66"), QStringLiteral("--with"), QStringLiteral("asc:Z"), QStringLiteral("--find"), QStringLiteral("x"), QStringLiteral("--with"),
        QStringLiteral("hex:FF 00"), path});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray("       5  ") + QFile::encodeName(path) + '\n');
    QCOMPARE(ReadFile(path), QByteArray("ZZ\xff\x00", 4));
}

void TestBatch::failedFileExitsOne()
{
    const QString good = file(QStringLiteral("good.txt"), "a");
    const QString missing = m_dir->filePath(QStringLiteral("missing.txt"));
    const Batch b
        = run({QStringLiteral("--replace"), QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"), missing, good});
    QCOMPARE(b.exitCode, 1);
    QCOMPARE(b.out, QByteArray("       0  ") + QFile::encodeName(missing) + "\n       1  " + QFile::encodeName(good) + '\n');
    QCOMPARE(b.err, (SystemErrorText(ENOENT) + QLatin1String(" - ") + missing + QLatin1Char('\n')).toUtf8());
    QCOMPARE(ReadFile(good), QByteArray("b"));
}

void TestBatch::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::addRow("no pair") << QStringList {QStringLiteral("a.txt")} << QStringLiteral("no --find/--with pair given");
    QTest::addRow("find without with") << QStringList {QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("a.txt")}
                                       << QStringLiteral("--find 'a' is not followed by --with");
    QTest::addRow("with without find") << QStringList {QStringLiteral("--with"), QStringLiteral("a"), QStringLiteral("a.txt")}
                                       << QStringLiteral("--with must follow a --find");
    QTest::addRow("two modes") << QStringList {QStringLiteral("--count"), QStringLiteral("--replace"), QStringLiteral("--find"), QStringLiteral("a"),
        QStringLiteral("--with"), QStringLiteral("b"), QStringLiteral("a.txt")}
                               << QStringLiteral("only one of --count, --replace and --replace-as may be given");
    QTest::addRow("no file") << QStringList {QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b")}
                             << QStringLiteral("no file given");
    QTest::addRow("unknown option") << QStringList {QStringLiteral("--frobnicate"), QStringLiteral("a.txt")}
                                    << QStringLiteral("unrecognized option '--frobnicate'");
    QTest::addRow("missing value") << QStringList {QStringLiteral("a.txt"), QStringLiteral("--find")} << QStringLiteral("option '--find' requires an argument");
    QTest::addRow("replace-as without a folder") << QStringList {QStringLiteral("--replace-as"), QStringLiteral("nowhere"), QStringLiteral("--find"),
        QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"), QStringLiteral("a.txt")}
                                                 << QStringLiteral("'nowhere' is not a folder");
    QTest::addRow("save twice") << QStringList {QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"),
        QStringLiteral("--save-arguments"), QStringLiteral("x"), QStringLiteral("--save-arguments=y")}
                                << QStringLiteral("--save-arguments may be given only once");
    QTest::addRow("arguments inside a pair") << QStringList {QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--arguments"),
        QStringLiteral("f.txt"), QStringLiteral("--with"), QStringLiteral("b"), QStringLiteral("a.txt")}
                                             << QStringLiteral("--find 'a' is not followed by --with");
    QTest::addRow("arguments without a name") << QStringList {QStringLiteral("--arguments="), QStringLiteral("a.txt")}
                                              << QStringLiteral("--arguments needs a file name");
    QTest::addRow("masks without a pair") << QStringList {QStringLiteral("--include-files"), QStringLiteral("*.txt"), QStringLiteral("a.txt")}
                                          << QStringLiteral("no --find/--with pair given");
}

void TestBatch::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const QString path = file(QStringLiteral("a.txt"), "a");
    const Batch b = run(arguments);
    QCOMPARE(b.exitCode, 2);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, (QLatin1String("perrox-batch: ") + error + QLatin1String("\nTry 'perrox-batch --help' for more information.\n")).toUtf8());
    QCOMPARE(ReadFile(path), QByteArray("a"));
}

void TestBatch::argumentErrorTouchesNothing()
{
    const QString path = file(QStringLiteral("a.txt"), "aGG");
    const Batch b = run({QStringLiteral("--replace"), QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"),
        QStringLiteral("--find"), QStringLiteral("hex:GG"), QStringLiteral("--with"), QStringLiteral("x"), path});
    QCOMPARE(b.exitCode, 2);
    QCOMPARE(b.out, QByteArray());
    // "\r\n" becomes a line break.
    QCOMPARE(b.err, QByteArray("An invalid value found in the hexadecimal 'GG' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n"));
    QCOMPARE(ReadFile(path), QByteArray("aGG"));
}

void TestBatch::overwriteQuestionWithoutTerminal()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    const QString source = file(QStringLiteral("s.txt"), "a");
    WriteFile(out + QLatin1String("/s.txt"), "keep");
    const QStringList common {
        QStringLiteral("--replace-as"), out, QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"), source};
    Batch b = run(common);
    QCOMPARE(b.exitCode, 3);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, (QLatin1String("The file ") + out + QLatin1String("/s.txt already exists.\n\nDo you want to overwrite it? [y/N] n\n")).toUtf8());
    QCOMPARE(ReadFile(out + QLatin1String("/s.txt")), QByteArray("keep"));

    b = run(QStringList {QStringLiteral("--overwrite")} + common);
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.err, QByteArray());
    QCOMPARE(ReadFile(out + QLatin1String("/s.txt")), QByteArray("b"));
}

void TestBatch::prefixCannotLeaveTheFolder()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    const QString source = file(QStringLiteral("s.txt"), "a");
    const Batch b = run({QStringLiteral("--replace-as"), out, QStringLiteral("--prefix"), QStringLiteral("../"), QStringLiteral("--suffix"),
        QStringLiteral("-v:2"), QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("b"), source});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(ReadFile(out + QLatin1String("/..s-v2.txt")), QByteArray("b"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {QStringLiteral("s.txt")});
}

void TestBatch::helpAndVersion()
{
    Batch b = run({QStringLiteral("--help")});
    QCOMPARE(b.exitCode, 0);
    QVERIFY(b.out.startsWith("Usage: perrox-batch "));
    for (const char *option : {"--arguments FILE", "--save-arguments FILE", "--include-folders MASKS", "--exclude-folders MASKS", "--include-files MASKS",
             "--exclude-files MASKS"})
        QVERIFY2(b.out.contains(QByteArray("\n  ") + option), option);
    b = run({QStringLiteral("--version")});
    QCOMPARE(b.exitCode, 0);
    QVERIFY(b.out.startsWith("perrox-batch (Perrox) 1.2.0\n"));
}

void TestBatch::interruptLeavesFileAndNoTemporary()
{
    // A large sparse file keeps the run busy long enough to interrupt it.
    const QString path = m_dir->filePath(QStringLiteral("big.bin"));
    {
        const int fd = ::open(NativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "PRX", 3), 3);
        QVERIFY(::ftruncate(fd, qint64(8) << 30) == 0);
        ::close(fd);
    }
    struct stat before;
    QVERIFY(::stat(NativePath(path).constData(), &before) == 0);

    QProcess p;
    run({QStringLiteral("--replace"), QStringLiteral("--find"), QStringLiteral("PRX"), QStringLiteral("--with"), QStringLiteral("x"), path}, &p);
    QVERIFY(p.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (TemporaryFilesIn(m_temp->path()).isEmpty() && timer.elapsed() < 20000 && p.state() == QProcess::Running)
        QTest::qWait(5);
    QVERIFY(!TemporaryFilesIn(m_temp->path()).isEmpty());
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    QCOMPARE(p.readAllStandardOutput(), QByteArray()); // the row was not finished
    struct stat after;
    QVERIFY(::stat(NativePath(path).constData(), &after) == 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_size, before.st_size);
    QFile big(path);
    QVERIFY(big.open(QIODevice::ReadOnly));
    QCOMPARE(big.read(3), QByteArray("PRX"));
}

void TestBatch::parsesSpecs()
{
    qint16 notation = -1;
    QString text;
    ParseSide(QStringLiteral("HEX:0a"), notation, text);
    QCOMPARE(notation, qint16(2));
    QCOMPARE(text, QStringLiteral("0a"));
    ParseSide(QStringLiteral("asc:dec:1"), notation, text);
    QCOMPARE(notation, qint16(0));
    QCOMPARE(text, QStringLiteral("dec:1"));
    ParseSide(QStringLiteral("plain:text"), notation, text);
    QCOMPARE(notation, qint16(0));
    QCOMPARE(text, QStringLiteral("plain:text"));
    const BatchParse parse = ParseBatchArguments({QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("dec:"),
        QStringLiteral("--"), QStringLiteral("--odd-name"), QStringLiteral("-")});
    QVERIFY(parse.ok());
    QCOMPARE(parse.options.mode, RunMode::Count);
    QCOMPARE(parse.options.paths, (QStringList {QStringLiteral("--odd-name"), QStringLiteral("-")}));
    QCOMPARE(parse.options.arguments, (FindReplaceArguments {{0, QStringLiteral("a"), 1, QString()}}));
}

void TestBatch::foldersWithMasks()
{
    for (const char *name : {"top.txt", ".hidden.txt", "skip.bak", "Backup/old.txt", "src/a.txt", "src/Backup/deep.txt", "src/lib/b.TXT"}) {
        QVERIFY(QDir(m_dir->path()).mkpath(QFileInfo(m_dir->filePath(QString::fromUtf8(name))).path()));
        file(QString::fromUtf8(name), "cat");
    }
    const QString single = file(QStringLiteral("single.bak"), "cat cat");
    mkdir(QFile::encodeName(m_dir->filePath(QStringLiteral("empty"))).constData(), 0755);
    const QStringList pair {QStringLiteral("--find"), QStringLiteral("cat"), QStringLiteral("--with"), QStringLiteral("dog")};

    // Every file under the folder, hidden ones included, a folder's own files
    // before its subfolders; a file given by name is taken whatever the masks.
    Batch b = run(pair + QStringList {QStringLiteral("--exclude-files"), QStringLiteral("*.bak"), QStringLiteral("."), QStringLiteral("single.bak")});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out,
        QByteArray("       1  ./.hidden.txt\n       1  ./top.txt\n       1  ./Backup/old.txt\n       1  ./src/a.txt\n"
                   "       1  ./src/Backup/deep.txt\n       1  ./src/lib/b.TXT\n       2  single.bak\n"));

    b = run(pair
        + QStringList {QStringLiteral("--replace"), QStringLiteral("--exclude-folders=backup"), QStringLiteral("--include-files"), QStringLiteral("*.txt"),
            QStringLiteral("--include-folders"), QStringLiteral("src;lib"), m_dir->path() + QLatin1Char('/')});
    QCOMPARE(b.exitCode, 0);
    const QString root = m_dir->path() + QLatin1Char('/');
    QCOMPARE(QString::fromUtf8(b.out),
        QLatin1String("       1  ") + root + QLatin1String(".hidden.txt\n       1  ") + root + QLatin1String("top.txt\n       1  ") + root
            + QLatin1String("src/a.txt\n       1  ") + root + QLatin1String("src/lib/b.TXT\n"));
    QCOMPARE(ReadFile(root + QLatin1String("src/lib/b.TXT")), QByteArray("dog"));
    QCOMPARE(ReadFile(root + QLatin1String("src/Backup/deep.txt")), QByteArray("cat"));
    QCOMPARE(ReadFile(root + QLatin1String("skip.bak")), QByteArray("cat"));

    // A folder without matching files is an empty list: nothing to do.
    b = run(pair + QStringList {QStringLiteral("empty")});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(ExpandPaths({m_dir->filePath(QStringLiteral("empty")), QStringLiteral("missing")}, {}), QStringList {QStringLiteral("missing")});
}

void TestBatch::argumentFilesInPairOrder()
{
    file(QStringLiteral("one.args"), "<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n");
    file(QStringLiteral("two.args"), "<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n");
    const QString data = file(QStringLiteral("data.txt"), "abcde");
    const Batch b = run({QStringLiteral("--replace"), QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"), QStringLiteral("1"),
        QStringLiteral("--arguments"), QStringLiteral("one.args"), QStringLiteral("--find=e"), QStringLiteral("--with=hex:35"),
        QStringLiteral("--arguments=two.args"), QStringLiteral("--save-arguments"), QStringLiteral("all.args"), QStringLiteral("data.txt")});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray("       5  data.txt\n"));
    QCOMPARE(ReadFile(data), QByteArray("12345"));
    // Saved before the run, in pair order, with the notations as given.
    QCOMPARE(ReadFile(m_dir->filePath(QStringLiteral("all.args"))),
        QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>1</REPLACE>\r\n"
                   "<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n"
                   "<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n"
                   "<FIND TYPE=ASC>e</FIND><REPLACE TYPE=HEX>35</REPLACE>\r\n"
                   "<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n"));
}

void TestBatch::saveArgumentsWithoutPath()
{
    const QString saved = file(QStringLiteral("saved.args"), QByteArray(500, 'o'));
    const Batch b = run({QStringLiteral("--find"), QStringLiteral("hello"), QStringLiteral("--with"), QStringLiteral("hex:48 49"), QStringLiteral("--find"),
        QStringLiteral("dec:13,10"), QStringLiteral("--with"), QString(), QStringLiteral("--save-arguments"), QStringLiteral("saved.args")});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, QByteArray());
    QCOMPARE(ReadFile(saved).size(), 119);
    QCOMPARE(ReadFile(saved), ArgumentFileContent({{0, QStringLiteral("hello"), 2, QStringLiteral("48 49")}, {1, QStringLiteral("13,10"), 0, QString()}},
        ArgumentTags::defaults()));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("saved.args")});
}

void TestBatch::loadedPairIsChecked()
{
    file(QStringLiteral("bad.args"), "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>GG</FIND><REPLACE TYPE=ASC>x</REPLACE>");
    const QString path = file(QStringLiteral("a.txt"), "aGG");
    const Batch b = run({QStringLiteral("--replace"), QStringLiteral("--arguments"), QStringLiteral("bad.args"), path});
    QCOMPARE(b.exitCode, 2);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, QByteArray("An invalid value found in the hexadecimal 'GG' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n"));
    QCOMPARE(ReadFile(path), QByteArray("aGG"));
}

void TestBatch::argumentFileFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // %1 is the folder of the run
    QTest::addRow("missing file") << QStringList {QStringLiteral("--arguments"), QStringLiteral("nope.args"), QStringLiteral("a.txt")} << 2
                                  << SystemErrorText(ENOENT) + QLatin1String(" - nope.args\n");
    QTest::addRow("no pair in the file") << QStringList {QStringLiteral("--arguments"), QStringLiteral("a.txt"), QStringLiteral("a.txt")} << 2
                                         << QStringLiteral("Cannot find any Find&Replace arguments.\n\nEnter Find&Replace arguments and try again.\n");
    QTest::addRow("nothing to save") << QStringList {QStringLiteral("--arguments"), QStringLiteral("a.txt"), QStringLiteral("--save-arguments"),
        QStringLiteral("out.args")} << 2
                                     << QLatin1String("Cannot read Find&Replace arguments:\n") + SystemErrorText(ERANGE) + QLatin1Char('\n');
    QTest::addRow("save into a missing folder") << QStringList {QStringLiteral("--find"), QStringLiteral("a"), QStringLiteral("--with"),
        QStringLiteral("b"), QStringLiteral("--save-arguments"), QStringLiteral("no/out.args"), QStringLiteral("a.txt")} << 1
                                                << SystemErrorText(ENOENT) + QLatin1String(" - no/out.args\n");
}

void TestBatch::argumentFileFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QString path = file(QStringLiteral("a.txt"), "a");
    const Batch b = run(arguments);
    QCOMPARE(b.exitCode, exitCode);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(QString::fromUtf8(b.err), error);
    QCOMPARE(ReadFile(path), QByteArray("a"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList {QStringLiteral("a.txt")});
}

void TestBatch::parsesArgumentFilesAndMasks()
{
    const BatchParse parse = ParseBatchArguments({QStringLiteral("--arguments"), QStringLiteral("first"), QStringLiteral("--find"), QStringLiteral("a"),
        QStringLiteral("--with"), QStringLiteral("b"), QStringLiteral("--arguments=second"), QStringLiteral("--include-folders"), QStringLiteral("src"),
        QStringLiteral("--exclude-folders=.git"), QStringLiteral("--include-files"), QStringLiteral("*.c;*.h"), QStringLiteral("--exclude-files"),
        QStringLiteral("*~"), QStringLiteral("--save-arguments"), QStringLiteral("out")});
    QVERIFY2(parse.ok(), qPrintable(parse.error));
    const BatchOptions &o = parse.options;
    QCOMPARE(o.argumentFiles, (QList<BatchOptions::ArgumentFile> {{0, QStringLiteral("first")}, {1, QStringLiteral("second")}}));
    QCOMPARE(o.masks, (FolderMasks {QStringLiteral("src"), QStringLiteral(".git"), QStringLiteral("*.c;*.h"), QStringLiteral("*~")}));
    QCOMPARE(o.saveArguments, QStringLiteral("out"));
    QVERIFY(o.paths.isEmpty());
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
