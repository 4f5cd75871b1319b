#include "arguments/argumentfile.h"
#include "batch/batchinput.h"
#include "batch/batchoptions.h"
#include "batch/terminalhost.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
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

// Command-line arguments separated by blanks, or by "|" where one holds a blank.
QByteArrayList words(const char *text)
{
    return QByteArray(text).split(QByteArray(text).contains('|') ? '|' : ' ');
}

// What perrox-batch writes to stderr for a command line it refuses.
QByteArray usage(const char *error)
{
    return "perrox-batch: " + QByteArray(error) + "\nTry 'perrox-batch --help' for more information.\n";
}

QByteArray noFile(int error, const char *name)
{
    return NativePath(SystemErrorText(error)) + " - " + name + '\n';
}

const QByteArray InvalidHex = "An invalid value found in the hexadecimal 'GG' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n";
const QByteArray NoPair = "Cannot find any Find&Replace arguments.\n\nEnter Find&Replace arguments and try again.\n";
const QByteArray BadArgs = "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>GG</FIND><REPLACE TYPE=ASC>x</REPLACE>";

// The folder every run of the table starts from, names as bytes; a "shared/pipe" and a "shared/socket" and an
// empty folder "empty" come with it.
const std::pair<const char *, QByteArray> Fixture[] = {{"a.txt", "aGG"}, {"bad.args", BadArgs}, {"n.txt", "AB\r\nAB\r\nx"}, {"data.txt", "abcde"},
    {"one.args", "<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n"},
    {"two.args", "<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n"}, {"a\xff.args", "<FIND TYPE=ASC>cat</FIND><REPLACE TYPE=ASC>cow</REPLACE>\r\n"},
    {"dir/cafe.txt", "cat"}, {"dir/caf\xe9.txt", "cat"}, {"out\xe9/caf\xe9.txt", "keep"}, {"shared/a.txt", "a"}, {"tree/top.txt", "cat"},
    {"tree/.hidden.txt", "cat"}, {"tree/skip.bak", "cat"}, {"tree/single.bak", "cat cat"}, {"tree/Backup/old.txt", "cat"}, {"tree/src/a.txt", "cat"},
    {"tree/src/Backup/deep.txt", "cat"}, {"tree/src/lib/b.TXT", "cat"}};

// Every entry under root by the bytes of its name: a file with its content, anything else with a mark.
QMap<QByteArray, QByteArray> entriesUnder(const QString &root)
{
    namespace fs = std::filesystem;
    QMap<QByteArray, QByteArray> entries;
    const fs::path base(NativePath(root).toStdString());
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(base)) {
        const QByteArray name = QByteArray::fromStdString(e.path().lexically_relative(base).native());
        entries[name] = e.is_regular_file() ? ReadFile(root + u'/' + DecodeNativePath(name)) : QByteArray(e.is_directory() ? "<folder>" : "<other>");
    }
    return entries;
}

} // namespace

// perrox-batch end to end on real files: output lines, exit codes, messages.
class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("LC_ALL", "C.UTF-8"); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_temp = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", NativePath(m_temp->path())); // for perrox-batch and for a rewrite in place here
    }

    void cleanup()
    {
        QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
        std::filesystem::remove_all(NativePath(m_dir->path()).toStdString()); // with the names that are no UTF-8
    }

    // Each run starts from Fixture; "changes" are the entries (name, then content) that differ afterwards, every
    // other entry stays as it was and no other entry appears.
    void runs_data()
    {
        QTest::addColumn<QByteArrayList>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArrayList>("changes");
        const auto row = [](const char *tag, const char *command, int exitCode, const QByteArray &out, const QByteArray &err, const QByteArrayList &changes) {
            QTest::newRow(tag) << words(command) << exitCode << out << err << changes;
        };
        // Refused command lines touch nothing.
        const auto refused = [&](const char *tag, const char *command, const QByteArray &err, int exitCode = 2) { row(tag, command, exitCode, {}, err, {}); };
        const QByteArray cafe = "       1  dir/caf\xe9.txt\n";
        row("count", "--find G --with x a.txt dir/cafe.txt", 0, "       2  a.txt\n       0  dir/cafe.txt\n", {}, {});
        row("every notation", "--replace|--find=hex:0d,0a|--with||--find|dec:65 66|--with|asc:Z|--find|x|--with|hex:FF 00|n.txt", 0, "       5  n.txt\n", {},
            {"n.txt", QByteArray("ZZ\xff\x00", 4)});
        row("a failed file exits 1", "--replace --find a --with b missing.txt a.txt", 1, "       0  missing.txt\n       1  a.txt\n",
            noFile(ENOENT, "missing.txt"), {"a.txt", "bGG"});
        refused("no pair", "a.txt", usage("no --find/--with pair given"));
        refused("find without with", "--find a a.txt", usage("--find 'a' is not followed by --with"));
        refused("with without find", "--with a a.txt", usage("--with must follow a --find"));
        refused("two modes", "--count --replace --find a --with b a.txt", usage("only one of --count, --replace and --replace-as may be given"));
        refused("no file", "--find a --with b", usage("no file given"));
        refused("unknown option", "--frobnicate a.txt", usage("unrecognized option '--frobnicate'"));
        refused("missing value", "a.txt --find", usage("option '--find' requires an argument"));
        refused("save twice", "--find a --with b --save-arguments x --save-arguments=y", usage("--save-arguments may be given only once"));
        refused("arguments inside a pair", "--find a --arguments f.txt --with b a.txt", usage("--find 'a' is not followed by --with"));
        refused("arguments without a name", "--arguments= a.txt", usage("--arguments needs a file name"));
        refused("not a folder", "--replace-as no\xe9 --find cat --with dog dir", usage("'no\xe9' is not a folder"));
        // Every pair is checked before any file is, "\r\n" becoming a line break, even when the paths hold no file.
        refused("invalid pair given", "--replace --find a --with b --find hex:GG --with x a.txt", InvalidHex);
        refused("invalid pair loaded", "--replace --arguments bad.args a.txt", InvalidHex);
        refused("missing argument file", "--arguments nope.args a.txt", noFile(ENOENT, "nope.args"));
        refused("no pair in the file", "--arguments a.txt a.txt", NoPair);
        refused("invalid pair, empty folder", "--find dec:256 --with x empty",
            "An invalid value found in the decimal '256' argument.\n\nValid decimal values are between '0' and '255'.\n");
        refused("invalid pair, masks take no file", "--replace --include-files *.none --find hex:GG --with x .", InvalidHex);
        refused("no pair in the file, empty folder", "--arguments a.txt empty", NoPair);
        // No argument file is written with a pair that cannot be used.
        refused("invalid pair not saved", "--find a --with b --find hex:GG --with x --save-arguments out.args", InvalidHex);
        refused("invalid pair not saved over a file", "--arguments bad.args --save-arguments bad.args a.txt", InvalidHex);
        refused("nothing to save", "--arguments a.txt --save-arguments out.args",
            "Cannot read Find&Replace arguments:\n" + NativePath(SystemErrorText(ERANGE)) + '\n');
        refused("save into a missing folder", "--find a --with b --save-arguments no/out.args a.txt", noFile(ENOENT, "no/out.args"), 1);
        // Without a path the arguments are only saved, over a longer file; with one they are saved before the run, in
        // pair order, with the notations as given.
        row("only saved", "--find a --with hex:48 --save-arguments bad.args", 0, {}, {},
            {"bad.args", "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=HEX>48</REPLACE>\r\n"});
        row("argument files",
            "--replace --find a --with 1 --arguments one.args --find=e --with=hex:35 --find=x --with= --arguments=two.args --save-arguments all.args data.txt",
            0, "       5  data.txt\n", {},
            {"data.txt", "12345", "all.args",
                "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>1</REPLACE>\r\n<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n"
                "<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n<FIND TYPE=ASC>e</FIND><REPLACE TYPE=HEX>35</REPLACE>\r\n"
                "<FIND TYPE=ASC>x</FIND><REPLACE TYPE=ASC></REPLACE>\r\n<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n"});
        // Every file under a folder, hidden ones included, a folder's own files before its subfolders; a file given
        // by name is taken whatever the masks; a folder without matching files is an empty list.
        row("folder", "--find cat --with dog --exclude-files *.bak tree tree/single.bak", 0,
            "       1  tree/.hidden.txt\n       1  tree/top.txt\n       1  tree/Backup/old.txt\n       1  tree/src/a.txt\n"
            "       1  tree/src/Backup/deep.txt\n       1  tree/src/lib/b.TXT\n       2  tree/single.bak\n",
            {}, {});
        row("folder masks", "--replace --find cat --with dog --exclude-folders=backup --include-files *.txt --include-folders src;lib tree/", 0,
            "       1  tree/.hidden.txt\n       1  tree/top.txt\n       1  tree/src/a.txt\n       1  tree/src/lib/b.TXT\n", {},
            {"tree/.hidden.txt", "dog", "tree/top.txt", "dog", "tree/src/a.txt", "dog", "tree/src/lib/b.TXT", "dog"});
        row("empty folder", "--find cat --with dog empty", 0, {}, {}, {});
        // Names that are no UTF-8 pass through as bytes.
        row("found in a folder", "--replace --find cat --with dog dir", 0, "       1  dir/cafe.txt\n" + cafe, {},
            {"dir/cafe.txt", "dog", "dir/caf\xe9.txt", "dog"});
        row("named", "--replace --find cat --with dog dir/caf\xe9.txt", 0, cafe, {}, {"dir/caf\xe9.txt", "dog"});
        row("missing", "--find cat --with dog miss\xe9", 1, "       0  miss\xe9\n", noFile(ENOENT, "miss\xe9"), {});
        row("file mask", "--include-files *\xe9.txt --find cat --with dog dir", 0, cafe, {}, {});
        row("argument file", "--replace --arguments a\xff.args dir/caf\xe9.txt", 0, cafe, {}, {"dir/caf\xe9.txt", "cow"});
        row("saved argument file", "--find cat --with dog --save-arguments s\xe9.args", 0, {}, {},
            {"s\xe9.args", "<FIND TYPE=ASC>cat</FIND><REPLACE TYPE=ASC>dog</REPLACE>\r\n"});
        // Replace As: a prefix or suffix cannot lead out of the folder; without a terminal the overwrite question is
        // answered No.
        row("replace as", "--replace-as out\xe9 --suffix _\xe9 --find cat --with dog dir/caf\xe9.txt", 0, cafe, {}, {"out\xe9/caf\xe9_\xe9.txt", "dog"});
        row("replace as, prefix", "--replace-as out\xe9 --prefix ../ --suffix -v:2 --find cat --with dog dir/cafe.txt", 0, "       1  dir/cafe.txt\n", {},
            {"out\xe9/..cafe-v2.txt", "dog"});
        row("overwrite question", "--replace-as out\xe9 --find cat --with dog dir/caf\xe9.txt", 3, {},
            "The file out\xe9/caf\xe9.txt already exists.\n\nDo you want to overwrite it? [y/N] n\n", {});
        row("overwrite", "--replace-as out\xe9 --overwrite --find cat --with dog dir/caf\xe9.txt", 0, cafe, {}, {"out\xe9/caf\xe9.txt", "dog"});
        // Pipes and sockets never block a run (one that does fails after a minute); the files of /proc report no
        // size but have bytes: counted, never rewritten.
        const QByteArray pipe = "Is a named pipe, not a regular file - shared/pipe\n";
        row("a scanned folder", "--replace --find a --with b shared", 1, "       1  shared/a.txt\n       0  shared/pipe\n       0  shared/socket\n",
            pipe + "Is a socket, not a regular file - shared/socket\n", {"shared/a.txt", "b"});
        row("a pipe named alone", "--replace --find a --with b shared/pipe shared/a.txt", 1, "       0  shared/pipe\n       1  shared/a.txt\n", pipe,
            {"shared/a.txt", "b"});
        row("a file of /proc", "--replace --find Name: --with x /proc/self/status", 1, "       1  /proc/self/status\n",
            "The file /proc/self/status does not report its size, as the files of /proc and /sys do; it was counted but left as it is.\n", {});
    }
    void runs()
    {
        QFETCH(QByteArrayList, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QByteArrayList, changes);
        const QString root = m_dir->path() + u'/';
        for (const auto &[name, content] : Fixture) {
            std::filesystem::create_directories(std::filesystem::path(NativePath(root).toStdString() + name).parent_path());
            QVERIFY(WriteFile(root + DecodeNativePath(name), content));
        }
        QVERIFY(QDir(root).mkdir(u"empty"_s) && ::mkfifo(NativePath(root + u"shared/pipe"_s).constData(), 0666) == 0);
        QVERIFY(MakeSocket(root + u"shared/socket"_s));
        QMap<QByteArray, QByteArray> expected = entriesUnder(root);
        for (qsizetype i = 0; i + 1 < changes.size(); i += 2)
            expected[changes.at(i)] = changes.at(i + 1);

        const Batch b = finish(start(command));
        QCOMPARE(b.exitCode, exitCode);
        QCOMPARE(b.out, out);
        QCOMPARE(b.err, err);
        const QMap<QByteArray, QByteArray> after = entriesUnder(root);
        QCOMPARE(after.keys(), expected.keys());
        QCOMPARE(after.values(), expected.values());
    }

    void helpAndVersion()
    {
        const Batch help = finish(start({"--help"})), version = finish(start({"--version"}));
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: perrox-batch "));
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("perrox-batch (Perrox) 1.2.0\n"));
    }

    void parsing()
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
        const BatchParse parse = ParseBatchArguments(QString(u"--find a --with dec: -- --odd-name -"_s).split(u' '));
        QVERIFY(parse.ok());
        QCOMPARE(parse.options.mode, RunMode::Count);
        QCOMPARE(parse.options.paths, (QStringList {u"--odd-name"_s, u"-"_s}));
        QCOMPARE(parse.options.arguments, (FindReplaceArguments {{0, u"a"_s, 1, QString()}}));
        // Mask lists lose their blanks as in the options dialog: blanks alone are no list.
        const FolderMasks masks
            = ParseBatchArguments({u"--find"_s, u"a"_s, u"--with"_s, u"b"_s, u"--include-files"_s, u"  "_s, u"--exclude-folders"_s, u" backup "_s, u"x"_s})
                  .options.masks;
        QCOMPARE(masks.includeFiles, QString());
        QCOMPARE(masks.excludeDirectories, u"backup"_s);
        QVERIFY(QDir(m_dir->path()).mkdir(u"empty"_s));
        QCOMPARE(ExpandPaths({m_dir->filePath(u"empty"_s), u"missing"_s}, {}), QStringList {u"missing"_s});
    }

    void progressBarLine_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("line");
        const QString half = u"[###############...............]  50%  "_s; // 39 characters: 10 left of 50 columns
        QTest::newRow("fits") << 50 << u"a.txt"_s << 80 << half + u"a.txt"_s;
        QTest::newRow("fits exactly") << 50 << u"0123456789"_s << 50 << half + u"0123456789"_s;
        QTest::newRow("cut at the front") << 50 << u"0123456789a"_s << 50 << half + u"...456789a"_s;
        QTest::newRow("a pair is not cut") << 50 << u"012345678\U0001F600abcdef"_s << 50 << half + u"...abcdef"_s;
        QTest::newRow("no room") << 0 << u"a"_s << 21 << u"[..............................]   0%  ..."_s;
        QTest::newRow("full") << 100 << u"x"_s << 80 << u"[##############################] 100%  x"_s;
    }
    void progressBarLine()
    {
        QFETCH(int, percent);
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(QString, line);
        QCOMPARE(ProgressBarLine(percent, file, width), line);
    }

    void interruptLeavesFileAndNoTemporary()
    {
        // A large sparse file keeps the run busy long enough to interrupt it.
        const QString path = WriteFileIn(m_dir->path(), u"big.bin"_s, "PRX");
        QVERIFY(::truncate(NativePath(path).constData(), qint64(8) << 30) == 0);
        struct stat before, after;
        QVERIFY(::stat(NativePath(path).constData(), &before) == 0);
        const pid_t pid = start({"--replace", "--find", "PRX", "--with", "x", NativePath(path)});
        QElapsedTimer timer;
        timer.start();
        while (TemporaryFilesIn(m_temp->path()).isEmpty() && timer.elapsed() < 20000)
            QTest::qWait(5);
        QVERIFY(!TemporaryFilesIn(m_temp->path()).isEmpty());
        ::kill(pid, SIGINT);
        const Batch b = finish(pid);
        QCOMPARE(b.exitCode, 130);
        QCOMPARE(b.out, QByteArray()); // the row was not finished
        QVERIFY(::stat(NativePath(path).constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
        QFile big(path);
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(big.read(3), QByteArray("PRX"));
    }

    void finishesAnInterruptedRewriteFirst()
    {
        StateFolderGuard state;
        const QByteArray original = RandomBytes(3, 3 * 4096 + 10, "ab");
        QByteArray expected = original;
        expected.replace('a', 'A');
        const QString path = WriteFileIn(m_dir->path(), u"linked.txt"_s, original);
        const QString other = m_dir->filePath(u"other.txt"_s);
        QVERIFY(::link(NativePath(path).constData(), NativePath(other).constData()) == 0);
        QVERIFY(InterruptRewriteInPlace(path, "a", "A", 4096));
        QVERIFY(ReadFile(path) != expected);
        for (const QString &name : TemporaryFilesIn(m_temp->path())) // what the killed run left
            QDir(m_temp->filePath(name)).removeRecursively();

        // Any run finishes it first and says so, then does its own work.
        WriteFileIn(m_dir->path(), u"c.txt"_s, "x");
        const QByteArrayList count {"--count", "--find", "x", "--with", "y", "c.txt"};
        const Batch b = finish(start(count));
        QCOMPARE(b.exitCode, 0);
        QCOMPARE(b.out, QByteArray("       1  c.txt\n"));
        QCOMPARE(QString::fromUtf8(b.err),
            u"Perrox was stopped while it rewrote the file "_s + QFileInfo(path).canonicalFilePath() + u" and has now finished it.\n"_s);
        QCOMPARE(ReadFile(path), expected);
        QCOMPARE(ReadFile(other), expected);
        QCOMPARE(state.records(), QStringList());
        QCOMPARE(finish(start(count)).err, QByteArray());
    }

private:
    // Starts perrox-batch in the test folder with this environment, each argument exactly these bytes, its output
    // going to files in the temporary folder.
    pid_t start(const QByteArrayList &arguments)
    {
        const QByteArray program(PERROX_BATCH_BINARY), folder = NativePath(m_dir->path()), out = NativePath(m_temp->filePath(u"batch.out"_s)),
                                                       err = NativePath(m_temp->filePath(u"batch.err"_s));
        std::vector<char *> argv {const_cast<char *>(program.constData())};
        for (const QByteArray &a : arguments)
            argv.push_back(const_cast<char *>(a.constData()));
        argv.push_back(nullptr);
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t pid = ::fork();
        if (pid == 0) { // only async-signal-safe calls until exec
            const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC), o = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
                      e = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(folder.constData()) != 0)
                ::_exit(126);
            ::execv(program.constData(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Waits for the run, a minute at most, and takes what it wrote.
    Batch finish(pid_t pid)
    {
        int status = 0;
        QElapsedTimer timer;
        timer.start();
        while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
            if (timer.elapsed() > 60000)
                ::kill(pid, SIGKILL);
            ::usleep(2000);
        }
        return {
            pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(m_temp->filePath(u"batch.out"_s)), ReadFile(m_temp->filePath(u"batch.err"_s))};
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
