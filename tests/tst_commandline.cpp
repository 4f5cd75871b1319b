// The window's command line: how the arguments are read, how they are shared with QApplication, and the built perrox
// answering --help, --version and an unknown option on the terminal.

#include "app/commandline.h"
#include "base/version.h"
#include "files/filesystem.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

namespace {

QStringList Decoded(const QByteArrayList &list)
{
    QStringList decoded;
    for (const QByteArray &bytes : list)
        decoded << DecodeNativePath(bytes);
    return decoded;
}

QByteArrayList Native(const QStringList &paths)
{
    QByteArrayList native;
    for (const QString &path : paths)
        native << NativePath(path);
    return native;
}

// "@" stands for the current folder.
QByteArrayList InCurrentFolder(QByteArrayList paths)
{
    for (QByteArray &path : paths)
        path.replace("@", NativePath(QDir::currentPath()));
    return paths;
}

const QByteArray Usage = "Usage: perrox [OPTION]... [FILE_OR_FOLDER]...\nReplace characters or any bytes in your files.\n";
const QByteArray Version = "perrox " PERROX_VERSION "\n";

QByteArray Unknown(const char *option)
{
    return "perrox: unknown option '" + QByteArray(option) + "'\nTry 'perrox --help' for more information.\n";
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArrayList>("paths"); // "@" stands for the current folder
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("relative made absolute") << QByteArrayList {"x.txt", "sub/../y", "./z/", "."} << QByteArrayList {"@/x.txt", "@/y", "@/z", "@"} << false
                                                << false << QByteArray();
        QTest::newRow("cleaned, links not resolved") << QByteArrayList {"/a//b/./c/../d/"} << QByteArrayList {"/a/b/d"} << false << false << QByteArray();
        QTest::newRow("-h, then -- ends the options") << QByteArrayList {"-h", "--", "-file", "--help", "--"} << QByteArrayList {"@/-file", "@/--help", "@/--"}
                                                      << true << false << QByteArray();
        QTest::newRow("- alone and empty arguments") << QByteArrayList {"", "-", ""} << QByteArrayList {"@/-"} << false << false << QByteArray();
        QTest::newRow("unknown options: the first; -v")
            << QByteArrayList {"a", "-x", "b", "--bogus", "-v"} << QByteArrayList {"@/a", "@/b"} << false << true << QByteArray("unknown option '-x'");
        QTest::newRow("no value, no bundling") << QByteArrayList {"--help=all", "-hv"} << QByteArrayList() << false << false
                                               << QByteArray("unknown option '--help=all'");
        QTest::newRow("names that are no UTF-8") << QByteArrayList {"caf\xe9.txt", "/t/\xff\xfe", "-\xe9"} << QByteArrayList {"@/caf\xe9.txt", "/t/\xff\xfe"}
                                                 << false << false << QByteArray("unknown option '-\xe9'");
    }
    void parse()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArrayList, paths);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(QByteArray, error);
        const CommandLine line = ParseCommandLine(Decoded(arguments));
        QCOMPARE(Native(line.paths), InCurrentFolder(paths));
        QCOMPARE(line.help, help);
        QCOMPARE(line.version, version);
        QCOMPARE(NativePath(line.error), error);
    }

    // QApplication sees only what stands before "--" and takes its options from that part of argv; the paths are
    // what it left, then "--" and what follows.
    void argumentsAroundQApplication_data()
    {
        QTest::addColumn<QByteArrayList>("argv");
        QTest::addColumn<int>("qtCount");
        QTest::addColumn<QByteArrayList>("left"); // what QApplication leaves of the first qtCount
        QTest::addColumn<QByteArrayList>("paths");
        QTest::newRow("no --") << QByteArrayList {"perrox", "-style", "X", "a"} << 4 << QByteArrayList {"perrox", "a"} << QByteArrayList {"@/a"};
        QTest::newRow("Qt's options after -- are files") << QByteArrayList {"perrox", "-platform", "offscreen", "--", "-style", "b", "--"} << 3
                                                         << QByteArrayList {"perrox"} << QByteArrayList {"@/-style", "@/b", "@/--"};
        QTest::newRow("-- first, then --help") << QByteArrayList {"perrox", "--", "--help", "-reverse"} << 1 << QByteArrayList {"perrox"}
                                               << QByteArrayList {"@/--help", "@/-reverse"};
        QTest::newRow("bytes kept") << QByteArrayList {"perrox", "caf\xe9", "--", "\xff"} << 2 << QByteArrayList {"perrox", "caf\xe9"}
                                    << QByteArrayList {"@/caf\xe9", "@/\xff"};
    }
    void argumentsAroundQApplication()
    {
        QFETCH(QByteArrayList, argv);
        QFETCH(int, qtCount);
        QFETCH(QByteArrayList, left);
        QFETCH(QByteArrayList, paths);
        std::vector<const char *> pointers;
        for (const QByteArray &argument : argv)
            pointers.push_back(argument.constData());
        pointers.push_back(nullptr);
        StartArguments arguments(int(argv.size()), pointers.data());
        QVERIFY(!arguments.answerWithoutWindow());
        QCOMPARE(arguments.qtArgumentCount(), qtCount);
        // As QApplication does: what it keeps moves to the front, a null after it.
        for (qsizetype i = 0; i < left.size(); ++i)
            pointers[size_t(i)] = left[i].constData();
        pointers[size_t(left.size())] = nullptr;
        arguments.qtArgumentCount() = int(left.size());
        QVERIFY(!arguments.readWhatQtLeft(pointers.data()));
        QCOMPARE(Native(arguments.paths()), InCurrentFolder(paths));
    }

    // The built program. No display at all: the X11 platform with no DISPLAY, where a QApplication would abort, so
    // an answer proves that none was made. Every case ends by itself: a window would wait for its user.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("--help") << QStringList {u"--help"_s} << 0 << Usage << QByteArray();
        QTest::newRow("--version") << QStringList {u"--version"_s} << 0 << Version << QByteArray();
        QTest::newRow("--version after Qt's -platform offscreen")
            << QStringList {u"-platform"_s, u"offscreen"_s, u"--version"_s} << 0 << Version << QByteArray();
        // Here QApplication is made, on the platform the command line names; Qt's options are no unknown ones.
        QTest::newRow("unknown option after Qt's options")
            << QStringList {u"-platform"_s, u"offscreen"_s, u"-style"_s, u"Fusion"_s, u"a.txt"_s, u"-x"_s, u"--bogus"_s} << 2 << QByteArray() << Unknown("-x");
    }
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QTemporaryDir runtime; // private to the user, as Qt wants it
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"XDG_RUNTIME_DIR"_s, runtime.path());
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        QProcess perrox;
        perrox.setProcessEnvironment(environment);
        perrox.start(QStringLiteral(PERROX_BINARY), arguments);
        QVERIFY(perrox.waitForFinished(60000));
        const QByteArray written = perrox.readAllStandardOutput();
        QCOMPARE(perrox.exitStatus(), QProcess::NormalExit);
        QCOMPARE(perrox.exitCode(), status);
        QCOMPARE(out == Usage ? written.left(Usage.size()) : written, out);
        QCOMPARE(perrox.readAllStandardError(), err);
        if (out == Usage) // the rest: the options and where the files go
            for (const char *line : {"\n  -h, --help ", "\n  -v, --version ", "Tools > Options"})
                QVERIFY2(written.contains(line), line);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
