#include "files/folderscan.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;

namespace {

// Records what a scan reports; stops after stopAfter files when it is set.
class Recorder : public FolderScanObserver
{
public:
    bool fileFound(const QString &path) override
    {
        files.append(path);
        return stopAfter < 0 || files.size() < stopAfter;
    }
    void pumpEvents() override { ++pumps; }
    bool stopRequested() override { return stopAtPump > 0 && pumps >= stopAtPump; }

    QStringList files;
    int pumps = 0;
    int stopAfter = -1;
    int stopAtPump = 0;
};

// Creates every path of the list under root: a trailing "/" makes a folder,
// anything else a file holding its own name.
void makeTree(const QString &root, const QStringList &paths)
{
    for (const QString &p : paths) {
        if (p.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(root).mkpath(p));
        else
            QVERIFY(WriteFile(root + QLatin1Char('/') + p, p.toUtf8()));
    }
}

// The reported paths relative to root ("a/b.txt").
QStringList relative(const QString &root, const QStringList &files)
{
    QStringList out;
    for (const QString &f : files) {
        if (!f.startsWith(root + QLatin1Char('/')))
            return {QStringLiteral("outside: ") + f};
        out.append(f.mid(root.size() + 1));
    }
    return out;
}

QStringList scan(const QString &root, const FolderMasks &masks = {})
{
    Recorder r;
    ScanFolder(root, masks, r);
    return relative(root, r.files);
}

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void matchesMask_data();
    void matchesMask();
    void passesMasks_data();
    void passesMasks();
    void everyFileInListingOrder();
    void masks_data();
    void masks();
    void trailingSlashAndEmptyPath();
    void linksAreFollowedOnce();
    void unreadableFolderAddsNothing();
    void callerCanStop();
};

void TestFolderScan::matchesMask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("masks");
    QTest::addColumn<bool>("matches");
    QTest::addRow("suffix, blanks around a mask") << QStringLiteral("a.txt") << QStringLiteral("*.txt; *.DOC") << true;
    QTest::addRow("suffix, other case") << QStringLiteral("B.doc") << QStringLiteral("*.txt; *.DOC") << true;
    QTest::addRow("suffix must end the name") << QStringLiteral("notes.txt.bak") << QStringLiteral("*.txt; *.DOC") << false;
    QTest::addRow("contains") << QStringLiteral("notes.txt.bak") << QStringLiteral("*.txt*") << true;
    QTest::addRow("contains, other case") << QStringLiteral("my.TMP.x") << QStringLiteral("*tmp*") << true;
    QTest::addRow("contains needs the text") << QStringLiteral("a") << QStringLiteral("*ab*") << false;
    QTest::addRow("prefix") << QStringLiteral("Data1.bin") << QStringLiteral("data*") << true;
    QTest::addRow("prefix must start the name") << QStringLiteral("mydata.bin") << QStringLiteral("data*") << false;
    QTest::addRow("question mark is literal") << QStringLiteral("?.bin") << QStringLiteral("?.bin") << true;
    QTest::addRow("question mark is no wildcard") << QStringLiteral("a.bin") << QStringLiteral("?.bin") << false;
    QTest::addRow("inner star is literal") << QStringLiteral("a*b") << QStringLiteral("a*b") << true;
    QTest::addRow("inner star is no wildcard") << QStringLiteral("axb") << QStringLiteral("a*b") << false;
    QTest::addRow("single star") << QStringLiteral("anything.at.all") << QStringLiteral("*") << true;
    QTest::addRow("double star") << QStringLiteral("x") << QStringLiteral("**") << true;
    QTest::addRow("star among blanks") << QStringLiteral("x") << QStringLiteral("  *  ") << true;
    QTest::addRow("exact, other case") << QStringLiteral("README") << QStringLiteral("readme") << true;
    QTest::addRow("exact is whole name") << QStringLiteral("readme.md") << QStringLiteral("readme") << false;
    QTest::addRow("trailing semicolon") << QStringLiteral("a.txt") << QStringLiteral("*.txt;") << true;
    QTest::addRow("trailing semicolon adds no match") << QStringLiteral("a.c") << QStringLiteral("*.txt;") << false;
    QTest::addRow("empty entries never match") << QStringLiteral("a") << QStringLiteral(";; ;") << false;
    QTest::addRow("empty list") << QStringLiteral("a") << QString() << false;
    QTest::addRow("a later entry matches") << QStringLiteral("m.c") << QStringLiteral("x;y;*.c") << true;
    QTest::addRow("only blanks are trimmed") << QStringLiteral("m.c") << QStringLiteral("\t*.c") << false;
    QTest::addRow("non-ASCII case") << QStringLiteral("ÄRGER.TXT") << QStringLiteral("ärger*") << true;
}

void TestFolderScan::matchesMask()
{
    QFETCH(QString, name);
    QFETCH(QString, masks);
    QFETCH(bool, matches);
    QCOMPARE(MatchesMask(name, masks), matches);
}

void TestFolderScan::passesMasks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("include");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<bool>("passes");
    QTest::addRow("both empty") << QStringLiteral("x") << QString() << QString() << true;
    QTest::addRow("exclude only, excluded") << QStringLiteral("x.bak") << QString() << QStringLiteral("*.bak") << false;
    QTest::addRow("exclude only, kept") << QStringLiteral("x.txt") << QString() << QStringLiteral("*.bak") << true;
    QTest::addRow("include only, not included") << QStringLiteral("x.c") << QStringLiteral("*.txt") << QString() << false;
    QTest::addRow("included and excluded") << QStringLiteral("secret.txt") << QStringLiteral("*.txt") << QStringLiteral("secret*") << false;
    QTest::addRow("included, not excluded") << QStringLiteral("notes.txt") << QStringLiteral("*.txt") << QStringLiteral("secret*") << true;
    // A list of blanks is not empty: it takes part and matches nothing.
    QTest::addRow("include of blanks") << QStringLiteral("x") << QStringLiteral(" ") << QString() << false;
}

void TestFolderScan::passesMasks()
{
    QFETCH(QString, name);
    QFETCH(QString, include);
    QFETCH(QString, exclude);
    QFETCH(bool, passes);
    QCOMPARE(PassesMasks(name, include, exclude), passes);
}

void TestFolderScan::everyFileInListingOrder()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {QStringLiteral("b.txt"), QStringLiteral("B.txt"), QStringLiteral(".hidden"), QStringLiteral("sub/"), QStringLiteral("sub/deep/"),
        QStringLiteral("sub/deep/z"), QStringLiteral("sub/y"), QStringLiteral("Alpha/"), QStringLiteral("Alpha/.cfg"), QStringLiteral("empty/")});
    // Names sort by code unit: "." < upper case < lower case. A folder's own
    // files come first, then its subfolders in that order, each one whole.
    QCOMPARE(scan(root),
        QStringList({QStringLiteral(".hidden"), QStringLiteral("B.txt"), QStringLiteral("b.txt"), QStringLiteral("Alpha/.cfg"), QStringLiteral("sub/y"),
            QStringLiteral("sub/deep/z")}));

    Recorder r;
    ScanFolder(root, {}, r);
    QCOMPARE(r.pumps, 10); // once per entry of every listing, folders included
}

void TestFolderScan::masks_data()
{
    QTest::addColumn<FolderMasks>("masks");
    QTest::addColumn<QStringList>("expected");
    const auto list = [](std::initializer_list<const char *> names) {
        QStringList l;
        for (const char *n : names)
            l.append(QString::fromUtf8(n));
        return l;
    };
    QTest::addRow("files include") << FolderMasks {QString(), QString(), QStringLiteral("*.txt; *.DOC"), QString()}
                                   << list({"B.doc", "a.txt", "src/s.txt", "src/Backup/k.txt", "src/lib/l.txt", "src/src/t.txt", "x.dir/d.txt"});
    QTest::addRow("files exclude") << FolderMasks {QString(), QString(), QString(), QStringLiteral("*.bak")}
                                   << list({"B.doc", "a.txt", "src/s.txt", "src/Backup/k.txt", "src/lib/l.txt", "src/src/t.txt", "x.dir/d.txt"});
    QTest::addRow("folder exclude at any depth") << FolderMasks {QString(), QStringLiteral("backup"), QString(), QString()}
                                                 << list({"B.doc", "a.txt", "notes.txt.bak", "src/s.txt", "src/lib/l.txt", "src/src/t.txt", "x.dir/d.txt"});
    // src/lib is not entered, src/src is: the include list applies at every level.
    QTest::addRow("folder include") << FolderMasks {QStringLiteral("SRC"), QString(), QString(), QString()}
                                    << list({"B.doc", "a.txt", "notes.txt.bak", "src/s.txt", "src/src/t.txt"});
    QTest::addRow("file masks leave folders alone") << FolderMasks {QString(), QString(), QStringLiteral("*.dir"), QString()} << list({});
}

void TestFolderScan::masks()
{
    QFETCH(FolderMasks, masks);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {QStringLiteral("a.txt"), QStringLiteral("B.doc"), QStringLiteral("notes.txt.bak"), QStringLiteral("src/"), QStringLiteral("src/s.txt"),
        QStringLiteral("src/Backup/"), QStringLiteral("src/Backup/k.txt"), QStringLiteral("src/lib/"), QStringLiteral("src/lib/l.txt"),
        QStringLiteral("src/src/"), QStringLiteral("src/src/t.txt"), QStringLiteral("x.dir/"), QStringLiteral("x.dir/d.txt")});
    QCOMPARE(scan(root, masks), expected);

    // The folder given is scanned whatever its own name.
    if (!masks.excludeDirectories.isEmpty())
        QCOMPARE(scan(root + QLatin1String("/src/Backup"), masks), QStringList {QStringLiteral("k.txt")});
}

void TestFolderScan::trailingSlashAndEmptyPath()
{
    QTemporaryDir dir;
    makeTree(dir.path(), {QStringLiteral("a"), QStringLiteral("s/"), QStringLiteral("s/b")});
    Recorder r;
    ScanFolder(dir.path() + QLatin1Char('/'), {}, r);
    QCOMPARE(r.files, QStringList({dir.filePath(QStringLiteral("a")), dir.filePath(QStringLiteral("s/b"))}));

    Recorder none;
    const FolderScanResult result = ScanFolder(QString(), {}, none);
    QCOMPARE(result.filesFound, 0);
    QCOMPARE(none.pumps, 0);
    QCOMPARE(ScanFolder(dir.filePath(QStringLiteral("missing")), {}, none).filesFound, 0);
    // A file given as the folder lists nothing.
    QCOMPARE(ScanFolder(dir.filePath(QStringLiteral("a")), {}, none).filesFound, 0);
}

void TestFolderScan::linksAreFollowedOnce()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {QStringLiteral("a/"), QStringLiteral("a/f.txt"), QStringLiteral("b/"), QStringLiteral("b/g.txt")});
    QVERIFY(QFile::link(root, root + QLatin1String("/a/up"))); // back to the top: a loop
    QVERIFY(QFile::link(QStringLiteral("."), root + QLatin1String("/a/self")));
    QVERIFY(QFile::link(root + QLatin1String("/b"), root + QLatin1String("/c"))); // a second way into b
    QVERIFY(QFile::link(QStringLiteral("a/f.txt"), root + QLatin1String("/file-link")));
    QVERIFY(QFile::link(QStringLiteral("nowhere"), root + QLatin1String("/broken")));

    // b is reached first as b, so c (the same folder) is not entered again;
    // a link to a file and a broken link are files.
    QCOMPARE(scan(root),
        QStringList({QStringLiteral("broken"), QStringLiteral("file-link"), QStringLiteral("a/f.txt"), QStringLiteral("b/g.txt")}));

    // A link given as the folder is scanned like the folder itself.
    QCOMPARE(scan(root + QLatin1String("/c")), QStringList {QStringLiteral("g.txt")});
}

void TestFolderScan::unreadableFolderAddsNothing()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {QStringLiteral("a.txt"), QStringLiteral("locked/"), QStringLiteral("locked/secret"), QStringLiteral("open/"), QStringLiteral("open/o")});
    QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(root + QLatin1String("/locked")).constData(), 0) == 0);

    const int rc = RunUnprivileged([&] {
        Recorder r;
        const FolderScanResult result = ScanFolder(root, {}, r);
        CHILD_CHECK(!result.stopped);
        CHILD_CHECK(relative(root, r.files) == QStringList({QStringLiteral("a.txt"), QStringLiteral("open/o")}));
        return 0;
    });
    QVERIFY(::chmod(QFile::encodeName(root + QLatin1String("/locked")).constData(), 0755) == 0);
    QCOMPARE(rc, 0);
}

void TestFolderScan::callerCanStop()
{
    QTemporaryDir dir;
    makeTree(dir.path(), {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("s/"), QStringLiteral("s/4")});

    Recorder byFile;
    byFile.stopAfter = 2;
    FolderScanResult result = ScanFolder(dir.path(), {}, byFile);
    QVERIFY(result.stopped);
    QCOMPARE(result.filesFound, 2);
    QCOMPARE(byFile.files.size(), 2);

    Recorder byFlag;
    byFlag.stopAtPump = 1;
    result = ScanFolder(dir.path(), {}, byFlag);
    QVERIFY(result.stopped);
    QCOMPARE(byFlag.files.size(), 1);

    QStringList collected;
    result = ScanFolder(dir.path(), {}, [&](const QString &path) {
        collected.append(path);
        return true;
    });
    QVERIFY(!result.stopped);
    QCOMPARE(result.filesFound, 4);
    QCOMPARE(collected.size(), 4);
}

QTEST_APPLESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
