#include "files/filesystem.h"
#include "files/folderscan.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

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

// The names of a list separated by blanks.
QStringList names(const QString &text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

// Creates the paths of tree (separated by blanks) under root: "name/" a
// folder, "name|" a named pipe, "name@target" a symbolic link (ROOT in
// target stands for root), anything else a file holding its own name.
void makeTree(const QString &root, const QString &tree)
{
    for (const QString &p : names(tree)) {
        const QString path = root + u'/' + p.section(u'@', 0, 0);
        if (p.contains(u'@'))
            QVERIFY(QFile::link(p.section(u'@', 1).replace(u"ROOT"_s, root), path));
        else if (p.endsWith(u'/'))
            QVERIFY(QDir().mkpath(path));
        else if (p.endsWith(u'|'))
            QVERIFY(::mkfifo(NativePath(path.chopped(1)).constData(), 0600) == 0);
        else
            QVERIFY(WriteFile(path, p.toUtf8()));
    }
}

// The reported paths relative to root ("a/b.txt").
QStringList relative(const QString &root, const QStringList &files)
{
    QStringList out;
    for (const QString &f : files)
        out.append(f.startsWith(root + u'/') ? f.mid(root.size() + 1) : u"outside: "_s + f);
    return out;
}

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void passesMasks_data();
    void passesMasks();
    void scans_data();
    void scans();
    void namesThatAreNoUtf8();
    void unreadableFolderAddsNothing();
    void callerCanStop();
};
// The mask rows (no exclude list) hold for MatchesMask as well.
void TestFolderScan::passesMasks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("include");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<bool>("passes");
    QTest::addRow("suffix, blanks around a mask") << u"a.txt"_s << u"*.txt; *.DOC"_s << QString() << true;
    QTest::addRow("suffix, other case") << u"B.doc"_s << u"*.txt; *.DOC"_s << QString() << true;
    QTest::addRow("suffix must end the name") << u"notes.txt.bak"_s << u"*.txt; *.DOC"_s << QString() << false;
    QTest::addRow("contains") << u"notes.txt.bak"_s << u"*.txt*"_s << QString() << true;
    QTest::addRow("contains needs the text") << u"a"_s << u"*ab*"_s << QString() << false;
    QTest::addRow("prefix") << u"Data1.bin"_s << u"data*"_s << QString() << true;
    QTest::addRow("prefix must start the name") << u"mydata.bin"_s << u"data*"_s << QString() << false;
    QTest::addRow("question mark is no wildcard") << u"a.bin"_s << u"?.bin"_s << QString() << false;
    QTest::addRow("inner star is no wildcard") << u"axb"_s << u"a*b"_s << QString() << false;
    QTest::addRow("single star") << u"anything.at.all"_s << u"*"_s << QString() << true;
    QTest::addRow("double star") << u"x"_s << u"**"_s << QString() << true;
    QTest::addRow("exact, other case") << u"README"_s << u"readme"_s << QString() << true;
    QTest::addRow("exact is whole name") << u"readme.md"_s << u"readme"_s << QString() << false;
    QTest::addRow("trailing semicolon") << u"a.txt"_s << u"*.txt;"_s << QString() << true;
    QTest::addRow("empty entries never match") << u"a"_s << u";; ;"_s << QString() << false;
    QTest::addRow("a later entry matches") << u"m.c"_s << u"x;y;*.c"_s << QString() << true;
    QTest::addRow("only blanks are trimmed") << u"m.c"_s << u"\t*.c"_s << QString() << false;
    QTest::addRow("non-ASCII case") << u"ÄRGER.TXT"_s << u"ärger*"_s << QString() << true;
    QTest::addRow("both empty") << u"x"_s << QString() << QString() << true;
    QTest::addRow("exclude only, excluded") << u"x.bak"_s << QString() << u"*.bak"_s << false;
    QTest::addRow("include only, not included") << u"x.c"_s << u"*.txt"_s << QString() << false;
    QTest::addRow("included and excluded") << u"secret.txt"_s << u"*.txt"_s << u"secret*"_s << false;
    QTest::addRow("included, not excluded") << u"notes.txt"_s << u"*.txt"_s << u"secret*"_s << true;
    // A list of blanks is not empty: it counts, and matches nothing.
    QTest::addRow("include of blanks") << u"x"_s << u" "_s << QString() << false;
}

void TestFolderScan::passesMasks()
{
    QFETCH(QString, name);
    QFETCH(QString, include);
    QFETCH(QString, exclude);
    QFETCH(bool, passes);
    QCOMPARE(PassesMasks(name, include, exclude), passes);
    if (exclude.isEmpty() && !include.isEmpty())
        QCOMPARE(MatchesMask(name, include), passes);
}

void TestFolderScan::scans_data()
{
    QTest::addColumn<QString>("tree"); // see makeTree
    QTest::addColumn<QString>("start"); // the folder scanned below the tree; "/" the tree with a final slash, "-" no name at all
    QTest::addColumn<FolderMasks>("masks");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("pumps"); // -1: not checked
    // Names sort by code unit: "." < upper case < lower case. A folder's own
    // files come first, then its subfolders in that order, each one whole;
    // anything but a folder is a file. A final "/" adds no second one to the
    // paths. Events run once per entry of every listing, folders included.
    QTest::newRow("every file in listing order") << u"b.txt B.txt .hidden sub/ sub/deep/ sub/deep/z sub/y Alpha/ Alpha/.cfg empty/ pipe|"_s << u"/"_s
                                                 << FolderMasks {} << u".hidden B.txt b.txt pipe Alpha/.cfg sub/y sub/deep/z"_s << 11;
    QTest::newRow("no name") << u"a"_s << u"-"_s << FolderMasks {} << QString() << 0;
    QTest::newRow("a missing folder") << u"a"_s << u"missing"_s << FolderMasks {} << QString() << -1;
    QTest::newRow("a file") << u"a"_s << u"a"_s << FolderMasks {} << QString() << -1;
    const QString tree
        = u"a.txt B.doc notes.txt.bak src/ src/s.txt src/Backup/ src/Backup/k.txt src/lib/ src/lib/l.txt src/src/ src/src/t.txt x.dir/ x.dir/d.txt"_s;
    const QString allText = u"B.doc a.txt src/s.txt src/Backup/k.txt src/lib/l.txt src/src/t.txt x.dir/d.txt"_s;
    QTest::newRow("files include") << tree << QString() << FolderMasks {QString(), QString(), u"*.txt; *.DOC"_s, QString()} << allText << -1;
    QTest::newRow("files exclude") << tree << QString() << FolderMasks {QString(), QString(), QString(), u"*.bak"_s} << allText << -1;
    QTest::newRow("folder exclude at any depth") << tree << QString() << FolderMasks {QString(), u"backup"_s, QString(), QString()}
                                                 << u"B.doc a.txt notes.txt.bak src/s.txt src/lib/l.txt src/src/t.txt x.dir/d.txt"_s << -1;
    QTest::newRow("the folder given is scanned whatever its name")
        << tree << u"src/Backup"_s << FolderMasks {QString(), u"backup"_s, QString(), QString()} << u"k.txt"_s << -1;
    // src/lib is not entered, src/src is: the include list applies at every level.
    QTest::newRow("folder include") << tree << QString() << FolderMasks {u"SRC"_s, QString(), QString(), QString()}
                                    << u"B.doc a.txt notes.txt.bak src/s.txt src/src/t.txt"_s << -1;
    QTest::newRow("file masks leave folders alone") << tree << QString() << FolderMasks {QString(), QString(), u"*.dir"_s, QString()} << QString() << -1;
    // b is reached first as b, so c (the same folder) is not entered again; a
    // link to a file and a broken link are files. A link given as the folder
    // is scanned like the folder itself.
    const QString links = u"a/ a/f.txt b/ b/g.txt a/up@ROOT a/self@. c@ROOT/b file-link@a/f.txt broken@nowhere"_s;
    QTest::newRow("links are followed once") << links << QString() << FolderMasks {} << u"broken file-link a/f.txt b/g.txt"_s << -1;
    QTest::newRow("a link as the folder") << links << u"c"_s << FolderMasks {} << u"g.txt"_s << -1;
}

void TestFolderScan::scans()
{
    QFETCH(QString, tree);
    QFETCH(QString, start);
    QFETCH(FolderMasks, masks);
    QFETCH(QString, expected);
    QFETCH(int, pumps);
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, tree);
    const QString folder = start == u"-"_s ? QString() : start.isEmpty() ? root : start == u"/"_s ? root + u'/' : root + u'/' + start;
    Recorder r;
    const FolderScanResult result = ScanFolder(folder, masks, r);
    QCOMPARE(relative(start == u"/"_s ? root : folder, r.files), names(expected));
    QVERIFY(!result.stopped);
    QCOMPARE(result.filesFound, r.files.size());
    QVERIFY(pumps < 0 || r.pumps == pumps);
}

void TestFolderScan::namesThatAreNoUtf8()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const QByteArray nativeRoot = NativePath(root);
    QVERIFY(::mkdir((nativeRoot + "/d\xff").constData(), 0755) == 0);
    // Each file holds its own path below root, as bytes.
    const QList<QByteArray> created {"caf\xe9.txt", "cafe.txt", "caf\xc3\xa9.txt", "caf\xf0\x9f\x98\x80", "caf\xee\x80\x80", "d\xff/x\x80"};
    for (const QByteArray &name : created) {
        const int fd = ::open((nativeRoot + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, name.constData(), size_t(name.size())), ssize_t(name.size()));
        ::close(fd);
    }

    Recorder r;
    ScanFolder(root, {}, r);
    // By UTF-16 code unit, as the names decode: "e" < U+00E9 < the pair of
    // U+1F600 < the escape of byte E9 < U+E000 (byte order would differ).
    const QList<QByteArray> expected {"cafe.txt", "caf\xc3\xa9.txt", "caf\xf0\x9f\x98\x80", "caf\xe9.txt", "caf\xee\x80\x80", "d\xff/x\x80"};
    QList<QByteArray> found;
    for (const QString &path : relative(root, r.files))
        found.append(NativePath(path));
    QCOMPARE(found, expected);
    for (const QString &path : r.files)
        QCOMPARE(ReadFile(path), NativePath(path).mid(nativeRoot.size() + 1));

    // Masks see the decoded name.
    Recorder masked;
    ScanFolder(root, FolderMasks {QString(), QString(), u"*"_s + DecodeNativePath("\xe9.txt"), QString()}, masked);
    QCOMPARE(relative(root, masked.files), QStringList {DecodeNativePath("caf\xe9.txt")});
    // QTemporaryDir cannot remove names that are no UTF-8.
    for (const QByteArray &name : created)
        QVERIFY(::unlink((nativeRoot + '/' + name).constData()) == 0);
    QVERIFY(::rmdir((nativeRoot + "/d\xff").constData()) == 0);
}

void TestFolderScan::unreadableFolderAddsNothing()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, u"a.txt locked/ locked/secret listed/ listed/f listed/sub/ open/ open/o"_s);
    QVERIFY(::chmod(NativePath(root).constData(), 0755) == 0 && ::chmod(NativePath(root + u"/locked"_s).constData(), 0) == 0);
    // Listed but not searchable: no entry's attributes can be read, so even
    // the subfolder counts as a file.
    QVERIFY(::chmod(NativePath(root + u"/listed"_s).constData(), 0644) == 0);

    const int rc = RunUnprivileged([&] {
        Recorder r;
        const FolderScanResult result = ScanFolder(root, {}, r);
        CHILD_CHECK(!result.stopped);
        CHILD_CHECK(relative(root, r.files) == names(u"a.txt listed/f listed/sub open/o"_s));
        return 0;
    });
    QVERIFY(::chmod(NativePath(root + u"/locked"_s).constData(), 0755) == 0);
    QVERIFY(::chmod(NativePath(root + u"/listed"_s).constData(), 0755) == 0);
    QCOMPARE(rc, 0);
}

void TestFolderScan::callerCanStop()
{
    QTemporaryDir dir;
    makeTree(dir.path(), u"1 2 3 s/ s/4"_s);

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
}

QTEST_APPLESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
