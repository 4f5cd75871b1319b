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

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
