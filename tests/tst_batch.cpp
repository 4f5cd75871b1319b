#include "arguments/argumentfile.h"
#include "batch/batchinput.h"
#include "batch/batchoptions.h"
#include "batch/terminalhost.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

struct Batch
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Command-line arguments separated by blanks.
QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

// What perrox-batch writes to stderr for a command line it refuses.
QString usage(const char *error)
{
    return u"perrox-batch: "_s + QString::fromUtf8(error) + u"\nTry 'perrox-batch --help' for more information.\n"_s;
}

const QString InvalidHex = u"An invalid value found in the hexadecimal 'GG' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n"_s;
const QString NoPair = u"Cannot find any Find&Replace arguments.\n\nEnter Find&Replace arguments and try again.\n"_s;

} // namespace

// perrox-batch end to end on real files: output lines, exit codes, messages.
class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void runs_data();
    void runs();
    void refusedRunTouchesNothing_data();
    void refusedRunTouchesNothing();
    void replaceAs();
    void helpAndVersion();
    void interruptLeavesFileAndNoTemporary();
    void parsesSides();
    void foldersWithMasks();
    void argumentFiles();
    void namesThatAreNoUtf8_data();
    void namesThatAreNoUtf8();
    void progressBarLine_data();
    void progressBarLine();
    void specialFilesNeverBlock_data();
    void specialFilesNeverBlock();
    void finishesAnInterruptedRewriteFirst();

private:
    Batch run(const QStringList &arguments, QProcess *started = nullptr);
    Batch runBytes(const QList<QByteArray> &arguments);
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
    env.insert(u"TEMP"_s, m_temp->path());
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
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

// Runs perrox-batch as run() does, each argument exactly these bytes (QProcess
// would pass its arguments through a text encoding).
Batch TestBatch::runBytes(const QList<QByteArray> &arguments)
{
    QTemporaryDir io;
    const QString outPath = io.filePath(u"out"_s);
    const QString errPath = io.filePath(u"err"_s);
    const QByteArray nativeOut = NativePath(outPath);
    const QByteArray nativeErr = NativePath(errPath);
    const QByteArray folder = NativePath(m_dir->path());
    const QByteArray program(PERROX_BATCH_BINARY);
    QList<QByteArray> environment {"TEMP=" + NativePath(m_temp->path()), "LC_ALL=C.UTF-8"};
    for (char **e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("TEMP=") && !QByteArray(*e).startsWith("LC_ALL="))
            environment.append(*e);
    std::vector<char *> argv {const_cast<char *>(program.constData())};
    for (const QByteArray &a : arguments)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const QByteArray &e : environment)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);

    Batch b;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return b;
    if (pid == 0) { // only async-signal-safe calls until exec
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out = ::open(nativeOut.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(nativeErr.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(folder.constData()) != 0)
            ::_exit(126);
        ::execve(program.constData(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    b.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    b.out = ReadFile(outPath);
    b.err = ReadFile(errPath);
    return b;
}

void TestBatch::runs_data()
{
    QTest::addColumn<QByteArray>("content"); // of a.txt; b.txt holds "nothing"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QByteArray>("after"); // a.txt
    QTest::addRow("count") << QByteArray("hello hello") << words("--find hello --with bye a.txt b.txt") << 0 << QByteArray("       2  a.txt\n       0  b.txt\n")
                           << QString() << QByteArray("hello hello");
    QTest::addRow("every notation") << QByteArray("AB\r\nAB\r\nx")
                                    << QStringList {u"--replace"_s, u"--find=hex:0d,0a"_s, u"--with"_s, QString(), u"--find"_s, u"dec:65 66"_s, u"--with"_s,
                                           u"asc:Z"_s, u"--find"_s, u"x"_s, u"--with"_s, u"hex:FF 00"_s, u"a.txt"_s}
                                    << 0 << QByteArray("       5  a.txt\n") << QString() << QByteArray("ZZ\xff\x00", 4);
    QTest::addRow("a failed file exits 1") << QByteArray("a") << words("--replace --find a --with b missing.txt a.txt") << 1
                                           << QByteArray("       0  missing.txt\n       1  a.txt\n") << SystemErrorText(ENOENT) + u" - missing.txt\n"_s
                                           << QByteArray("b");
}

void TestBatch::runs()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);
    QFETCH(QByteArray, after);
    const QString path = file(u"a.txt"_s, content);
    file(u"b.txt"_s, "nothing");
    const Batch b = run(arguments);
    QCOMPARE(b.exitCode, exitCode);
    QCOMPARE(b.out, out);
    QCOMPARE(QString::fromUtf8(b.err), err);
    QCOMPARE(ReadFile(path), after);
}

void TestBatch::refusedRunTouchesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addRow("no pair") << words("a.txt") << 2 << usage("no --find/--with pair given");
    QTest::addRow("find without with") << words("--find a a.txt") << 2 << usage("--find 'a' is not followed by --with");
    QTest::addRow("with without find") << words("--with a a.txt") << 2 << usage("--with must follow a --find");
    QTest::addRow("two modes") << words("--count --replace --find a --with b a.txt") << 2
                               << usage("only one of --count, --replace and --replace-as may be given");
    QTest::addRow("no file") << words("--find a --with b") << 2 << usage("no file given");
    QTest::addRow("unknown option") << words("--frobnicate a.txt") << 2 << usage("unrecognized option '--frobnicate'");
    QTest::addRow("missing value") << words("a.txt --find") << 2 << usage("option '--find' requires an argument");
    QTest::addRow("replace-as without a folder") << words("--replace-as nowhere --find a --with b a.txt") << 2 << usage("'nowhere' is not a folder");
    QTest::addRow("save twice") << words("--find a --with b --save-arguments x --save-arguments=y") << 2 << usage("--save-arguments may be given only once");
    QTest::addRow("arguments inside a pair") << words("--find a --arguments f.txt --with b a.txt") << 2 << usage("--find 'a' is not followed by --with");
    QTest::addRow("arguments without a name") << words("--arguments= a.txt") << 2 << usage("--arguments needs a file name");
    // Every pair is checked before any file is touched, "\r\n" becoming a line break.
    QTest::addRow("invalid pair given") << words("--replace --find a --with b --find hex:GG --with x a.txt") << 2 << InvalidHex;
    QTest::addRow("invalid pair loaded") << words("--replace --arguments bad.args a.txt") << 2 << InvalidHex;
    QTest::addRow("missing argument file") << words("--arguments nope.args a.txt") << 2 << SystemErrorText(ENOENT) + u" - nope.args\n"_s;
    QTest::addRow("no pair in the file") << words("--arguments a.txt a.txt") << 2 << NoPair;
    // The pairs are checked even when the paths hold no file.
    QTest::addRow("invalid pair, empty folder")
        << words("--find dec:256 --with x empty") << 2
        << u"An invalid value found in the decimal '256' argument.\n\nValid decimal values are between '0' and '255'.\n"_s;
    QTest::addRow("invalid pair, masks take no file") << words("--replace --include-files *.none --find hex:GG --with x .") << 2 << InvalidHex;
    QTest::addRow("no pair in the file, empty folder") << words("--arguments a.txt empty") << 2 << NoPair;
    // No argument file is written with a pair that cannot be used.
    QTest::addRow("invalid pair not saved") << words("--find a --with b --find hex:GG --with x --save-arguments out.args") << 2 << InvalidHex;
    QTest::addRow("invalid pair not saved over a file") << words("--arguments bad.args --save-arguments bad.args a.txt") << 2 << InvalidHex;
    QTest::addRow("nothing to save") << words("--arguments a.txt --save-arguments out.args") << 2
                                     << u"Cannot read Find&Replace arguments:\n"_s + SystemErrorText(ERANGE) + u'\n';
    QTest::addRow("save into a missing folder") << words("--find a --with b --save-arguments no/out.args a.txt") << 1
                                                << SystemErrorText(ENOENT) + u" - no/out.args\n"_s;
}

void TestBatch::refusedRunTouchesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QByteArray badArgs("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>GG</FIND><REPLACE TYPE=ASC>x</REPLACE>");
    const QString bad = file(u"bad.args"_s, badArgs);
    const QString path = file(u"a.txt"_s, "aGG");
    QVERIFY(QDir(m_dir->path()).mkdir(u"empty"_s));
    const Batch b = run(arguments);
    QCOMPARE(b.exitCode, exitCode);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(QString::fromUtf8(b.err), error);
    QCOMPARE(ReadFile(path), QByteArray("aGG"));
    QCOMPARE(ReadFile(bad), badArgs);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList({u"a.txt"_s, u"bad.args"_s, u"empty"_s}));
}

void TestBatch::replaceAs()
{
    const QString out = m_dir->filePath(u"out"_s);
    QVERIFY(QDir().mkpath(out));
    file(u"s.txt"_s, "a");
    const QStringList replaceAs {u"--replace-as"_s, out};
    // A prefix or suffix cannot lead out of the folder.
    Batch b = run(replaceAs + words("--prefix ../ --suffix -v:2 --find a --with b s.txt"));
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(ReadFile(out + u"/..s-v2.txt"_s), QByteArray("b"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {u"s.txt"_s});

    // Without a terminal the overwrite question is answered No.
    WriteFile(out + u"/s.txt"_s, "keep");
    b = run(replaceAs + words("--find a --with b s.txt"));
    QCOMPARE(b.exitCode, 3);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, (u"The file "_s + out + u"/s.txt already exists.\n\nDo you want to overwrite it? [y/N] n\n"_s).toUtf8());
    QCOMPARE(ReadFile(out + u"/s.txt"_s), QByteArray("keep"));

    b = run(replaceAs + words("--overwrite --find a --with b s.txt"));
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.err, QByteArray());
    QCOMPARE(ReadFile(out + u"/s.txt"_s), QByteArray("b"));
}

void TestBatch::helpAndVersion()
{
    Batch b = run({u"--help"_s});
    QCOMPARE(b.exitCode, 0);
    QVERIFY(b.out.startsWith("Usage: perrox-batch "));
    b = run({u"--version"_s});
    QCOMPARE(b.exitCode, 0);
    QVERIFY(b.out.startsWith("perrox-batch (Perrox) 1.2.0\n"));
}

void TestBatch::interruptLeavesFileAndNoTemporary()
{
    // A large sparse file keeps the run busy long enough to interrupt it.
    const QString path = m_dir->filePath(u"big.bin"_s);
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
    run(words("--replace --find PRX --with x") + QStringList {path}, &p);
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

void TestBatch::parsesSides()
{
    const auto side = [](const QString &text) {
        std::pair<qint16, QString> parsed {-1, QString()};
        ParseSide(text, parsed.first, parsed.second);
        return parsed;
    };
    // The prefix in any case, only the first one taken; without one, characters.
    QCOMPARE(side(u"HEX:0a"_s), std::make_pair(qint16(2), u"0a"_s));
    QCOMPARE(side(u"asc:dec:1"_s), std::make_pair(qint16(0), u"dec:1"_s));
    QCOMPARE(side(u"plain:text"_s), std::make_pair(qint16(0), u"plain:text"_s));
    // After "--" every argument is a path; "-" always is.
    const BatchParse parse = ParseBatchArguments(words("--find a --with dec: -- --odd-name -"));
    QVERIFY(parse.ok());
    QCOMPARE(parse.options.mode, RunMode::Count);
    QCOMPARE(parse.options.paths, (QStringList {u"--odd-name"_s, u"-"_s}));
    QCOMPARE(parse.options.arguments, (FindReplaceArguments {{0, u"a"_s, 1, QString()}}));
}

void TestBatch::foldersWithMasks()
{
    for (const QString &name : words("top.txt .hidden.txt skip.bak Backup/old.txt src/a.txt src/Backup/deep.txt src/lib/b.TXT")) {
        QVERIFY(QDir(m_dir->path()).mkpath(QFileInfo(m_dir->filePath(name)).path()));
        file(name, "cat");
    }
    const QString single = file(u"single.bak"_s, "cat cat");
    mkdir(NativePath(m_dir->filePath(u"empty"_s)).constData(), 0755);
    const QStringList pair = words("--find cat --with dog");

    // Every file under the folder, hidden ones included, a folder's own files
    // before its subfolders; a file given by name is taken whatever the masks.
    Batch b = run(pair + words("--exclude-files *.bak . single.bak"));
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out,
        QByteArray("       1  ./.hidden.txt\n       1  ./top.txt\n       1  ./Backup/old.txt\n       1  ./src/a.txt\n"
                   "       1  ./src/Backup/deep.txt\n       1  ./src/lib/b.TXT\n       2  single.bak\n"));

    b = run(pair + words("--replace --exclude-folders=backup --include-files *.txt --include-folders src;lib") + QStringList {m_dir->path() + u'/'});
    QCOMPARE(b.exitCode, 0);
    const QString root = m_dir->path() + u'/';
    QCOMPARE(QString::fromUtf8(b.out),
        u"       1  "_s + root + u".hidden.txt\n       1  "_s + root + u"top.txt\n       1  "_s + root + u"src/a.txt\n       1  "_s + root
            + u"src/lib/b.TXT\n"_s);
    QCOMPARE(ReadFile(root + u"src/lib/b.TXT"_s), QByteArray("dog"));
    QCOMPARE(ReadFile(root + u"src/Backup/deep.txt"_s), QByteArray("cat"));
    QCOMPARE(ReadFile(root + u"skip.bak"_s), QByteArray("cat"));

    // A folder without matching files is an empty list: nothing to do.
    b = run(pair + words("empty"));
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(ExpandPaths({m_dir->filePath(u"empty"_s), u"missing"_s}, {}), QStringList {u"missing"_s});

    // Mask lists lose their blanks as in the options dialog: blanks alone are no list.
    const FolderMasks masks
        = ParseBatchArguments(pair + QStringList {u"--include-files"_s, u"  "_s, u"--exclude-folders"_s, u" backup "_s, u"x"_s}).options.masks;
    QCOMPARE(masks.includeFiles, QString());
    QCOMPARE(masks.excludeDirectories, u"backup"_s);
}

void TestBatch::argumentFiles()
{
    // Without a path the arguments are only saved, over a longer file.
    const QString saved = file(u"saved.args"_s, QByteArray(500, 'o'));
    Batch b = run(
        {u"--find"_s, u"hello"_s, u"--with"_s, u"hex:48 49"_s, u"--find"_s, u"dec:13,10"_s, u"--with"_s, QString(), u"--save-arguments"_s, u"saved.args"_s});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray());
    QCOMPARE(b.err, QByteArray());
    QCOMPARE(ReadFile(saved).size(), 119);
    QCOMPARE(ReadFile(saved), ArgumentFileContent({{0, u"hello"_s, 2, u"48 49"_s}, {1, u"13,10"_s, 0, QString()}}, ArgumentTags::defaults()));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList {u"saved.args"_s});

    file(u"one.args"_s, "<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n");
    file(u"two.args"_s, "<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n");
    const QString data = file(u"data.txt"_s, "abcde");
    b = run(words("--replace --find a --with 1 --arguments one.args --find=e --with=hex:35 --arguments=two.args --save-arguments all.args data.txt"));
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray("       5  data.txt\n"));
    QCOMPARE(ReadFile(data), QByteArray("12345"));
    // Saved before the run, in pair order, with the notations as given.
    QCOMPARE(ReadFile(m_dir->filePath(u"all.args"_s)),
        QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>1</REPLACE>\r\n"
                   "<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n"
                   "<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n"
                   "<FIND TYPE=ASC>e</FIND><REPLACE TYPE=HEX>35</REPLACE>\r\n"
                   "<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n"));
}

// Every row starts from dir/cafe.txt and dir/caf\xe9.txt holding "cat", the
// argument file a\xff.args (cat -> cow), and out\xe9/caf\xe9.txt holding "keep";
// a command is split at blanks, and "file" must then hold "content".
void TestBatch::namesThatAreNoUtf8_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("content");
    const QByteArray latin = "dir/caf\xe9.txt";
    const QByteArray line = "       1  dir/caf\xe9.txt\n";
    QTest::addRow("found in a folder") << QByteArray("--replace --find cat --with dog dir") << 0 << "       1  dir/cafe.txt\n" + line << QByteArray() << latin
                                       << QByteArray("dog");
    QTest::addRow("named") << "--replace --find cat --with dog " + latin << 0 << line << QByteArray() << latin << QByteArray("dog");
    QTest::addRow("missing") << QByteArray("--find cat --with dog miss\xe9") << 1 << QByteArray("       0  miss\xe9\n")
                             << NativePath(SystemErrorText(ENOENT)) + " - miss\xe9\n"
                             << latin << QByteArray("cat");
    QTest::addRow("file mask") << QByteArray("--include-files *\xe9.txt --find cat --with dog dir") << 0 << line << QByteArray() << latin << QByteArray("cat");
    QTest::addRow("argument file") << "--replace --arguments a\xff.args " + latin << 0 << line << QByteArray() << latin << QByteArray("cow");
    QTest::addRow("saved argument file") << QByteArray("--find cat --with dog --save-arguments s\xe9.args") << 0 << QByteArray() << QByteArray()
                                         << QByteArray("s\xe9.args") << ArgumentFileContent({{0, u"cat"_s, 0, u"dog"_s}}, ArgumentTags::defaults());
    QTest::addRow("replace as") << "--replace-as out\xe9 --suffix _\xe9 --find cat --with dog " + latin << 0 << line << QByteArray()
                                << QByteArray("out\xe9/caf\xe9_\xe9.txt") << QByteArray("dog");
    QTest::addRow("overwrite question") << "--replace-as out\xe9 --find cat --with dog " + latin << 3 << QByteArray()
                                        << QByteArray("The file out\xe9/caf\xe9.txt already exists.\n\nDo you want to overwrite it? [y/N] n\n")
                                        << QByteArray("out\xe9/caf\xe9.txt") << QByteArray("keep");
    QTest::addRow("not a folder") << QByteArray("--replace-as no\xe9 --find cat --with dog dir") << 2 << QByteArray()
                                  << QByteArray("perrox-batch: 'no\xe9' is not a folder\nTry 'perrox-batch --help' for more information.\n") << latin
                                  << QByteArray("cat");
}

void TestBatch::namesThatAreNoUtf8()
{
    QFETCH(QByteArray, command);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, content);
    const QString root = m_dir->path() + u'/';
    QVERIFY(QDir(root).mkpath(u"dir"_s));
    QVERIFY(::mkdir(NativePath(root + DecodeNativePath("out\xe9")).constData(), 0755) == 0);
    for (const char *name : {"dir/cafe.txt", "dir/caf\xe9.txt"})
        QVERIFY(WriteFile(root + DecodeNativePath(name), "cat"));
    QVERIFY(WriteFile(root + DecodeNativePath("out\xe9/caf\xe9.txt"), "keep"));
    QVERIFY(WriteFile(root + DecodeNativePath("a\xff.args"), "<FIND TYPE=ASC>cat</FIND><REPLACE TYPE=ASC>cow</REPLACE>\r\n"));

    const Batch b = runBytes(command.split(' '));
    QCOMPARE(b.exitCode, exitCode);
    QCOMPARE(b.out, out);
    QCOMPARE(b.err, err);
    QCOMPARE(ReadFile(root + DecodeNativePath(file)), content);
}

void TestBatch::progressBarLine_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("line");
    const QString half = u"[###############...............]  50%  "_s; // 39 characters: 10 left of 50 columns
    QTest::addRow("fits") << 50 << u"a.txt"_s << 80 << half + u"a.txt"_s;
    QTest::addRow("fits exactly") << 50 << u"0123456789"_s << 50 << half + u"0123456789"_s;
    QTest::addRow("cut at the front") << 50 << u"0123456789a"_s << 50 << half + u"...456789a"_s;
    QTest::addRow("a pair is not cut") << 50 << u"012345678\U0001F600abcdef"_s << 50 << half + u"...abcdef"_s;
    QTest::addRow("no room") << 0 << u"a"_s << 21 << u"[..............................]   0%  ..."_s;
    QTest::addRow("full") << 100 << u"x"_s << 80 << u"[##############################] 100%  x"_s;
}

void TestBatch::progressBarLine()
{
    QFETCH(int, percent);
    QFETCH(QString, file);
    QFETCH(int, width);
    QFETCH(QString, line);
    QCOMPARE(ProgressBarLine(percent, file, width), line);
}

void TestBatch::specialFilesNeverBlock_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QString>("err");
    const QString pipe = u"Is a named pipe, not a regular file - "_s;
    const QString socket = u"Is a socket, not a regular file - "_s;
    QTest::addRow("a scanned folder, replace") << words("--replace --find a --with b shared") << 1
                                               << QByteArray("       1  shared/a.txt\n       0  shared/pipe\n       0  shared/socket\n")
                                               << pipe + u"shared/pipe\n"_s + socket + u"shared/socket\n"_s;
    QTest::addRow("a pipe named alone") << words("--replace --find a --with b shared/pipe shared/a.txt") << 1
                                        << QByteArray("       0  shared/pipe\n       1  shared/a.txt\n") << pipe + u"shared/pipe\n"_s;
    // The files of /proc report no size but have bytes: counted, never rewritten.
    QTest::addRow("a file of /proc, replace")
        << words("--replace --find Name: --with x /proc/self/status") << 1 << QByteArray("       1  /proc/self/status\n")
        << u"The file /proc/self/status does not report its size, as the files of /proc and /sys do; it was counted but left as it is.\n"_s;
}

void TestBatch::specialFilesNeverBlock()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);
    const QString shared = m_dir->filePath(u"shared"_s);
    QVERIFY(QDir().mkpath(shared));
    const QString a = WriteFileIn(shared, u"a.txt"_s, "a");
    QVERIFY(::mkfifo(NativePath(shared + u"/pipe"_s).constData(), 0666) == 0);
    QVERIFY(MakeSocket(shared + u"/socket"_s));

    const Batch b = run(arguments); // a run that blocks fails here after a minute
    QCOMPARE(b.exitCode, exitCode);
    QCOMPARE(b.out, out);
    QCOMPARE(QString::fromUtf8(b.err), err);
    QCOMPARE(ReadFile(a), arguments.contains(u"/proc/self/status"_s) ? QByteArray("a") : QByteArray("b")); // the run went on past the pipe
}

void TestBatch::finishesAnInterruptedRewriteFirst()
{
    StateFolderGuard state;
    const QByteArray tempPath = NativePath(m_temp->path());
    qputenv("TEMP", tempPath);
    const QByteArray original = RandomBytes(3, 3 * 4096 + 10, "ab");
    QByteArray expected = original;
    expected.replace('a', 'A');
    const QString path = file(u"linked.txt"_s, original);
    const QString other = m_dir->filePath(u"other.txt"_s);
    QVERIFY(::link(NativePath(path).constData(), NativePath(other).constData()) == 0);
    QVERIFY(InterruptRewriteInPlace(path, "a", "A", 4096));
    qunsetenv("TEMP");
    QVERIFY(ReadFile(path) != expected);
    for (const QString &name : TemporaryFilesIn(m_temp->path())) // what the killed run left
        QDir(m_temp->filePath(name)).removeRecursively();

    // Any run finishes it first and says so, then does its own work.
    const QString c = file(u"c.txt"_s, "x");
    const Batch b = run({u"--count"_s, u"--find"_s, u"x"_s, u"--with"_s, u"y"_s, u"c.txt"_s});
    QCOMPARE(b.exitCode, 0);
    QCOMPARE(b.out, QByteArray("       1  c.txt\n"));
    QCOMPARE(
        QString::fromUtf8(b.err), u"Perrox was stopped while it rewrote the file "_s + QFileInfo(path).canonicalFilePath() + u" and has now finished it.\n"_s);
    QCOMPARE(ReadFile(path), expected);
    QCOMPARE(ReadFile(other), expected);
    QCOMPARE(state.records(), QStringList());
    QCOMPARE(run({u"--count"_s, u"--find"_s, u"x"_s, u"--with"_s, u"y"_s, u"c.txt"_s}).err, QByteArray());
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
