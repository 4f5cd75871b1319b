#include "files/filesystem.h"
#include "files/folderscan.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// Records the paths a scan reports relative to root ("a/b.txt"); stops
// after stopAfter files, or from the stopAtPump-th event on, when set.
class Recorder : public FolderScanObserver
{
public:
    explicit Recorder(const QString &root, int stopAfter = -1, int stopAtPump = 0)
        : root(root + u'/')
        , stopAfter(stopAfter)
        , stopAtPump(stopAtPump)
    { }
    bool fileFound(const QString &path) override
    {
        files.append(path.startsWith(root) ? path.mid(root.size()) : u"outside: "_s + path);
        return stopAfter < 0 || files.size() < stopAfter;
    }
    void pumpEvents() override { ++pumps; }
    bool stopRequested() override { return stopAtPump > 0 && pumps >= stopAtPump; }

    const QString root;
    const int stopAfter, stopAtPump;
    QStringList files;
    int pumps = 0;
};

// The names of a list separated by blanks.
QStringList names(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

// Creates the paths of tree (separated by blanks) under root: "name/" a folder, "name|" a named pipe, "name@target" a symbolic link (ROOT in target
// stands for root), anything else a file holding its own name.
void makeTree(const QString &root, const char *tree)
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

// A list of masks and whether name passes; rows without an exclude list hold for MatchesMask as well.
struct MaskCase
{
    const char *name;
    QString file, include, exclude;
    bool passes;
};
const MaskCase kMasks[] = {
    {"suffix, blanks around a mask", u"a.txt"_s, u"*.txt; *.DOC"_s, {}, true},
    {"suffix must end the name", u"notes.txt.bak"_s, u"*.txt; *.DOC"_s, {}, false},
    {"contains", u"notes.txt.bak"_s, u"*.txt*"_s, {}, true},
    {"contains needs the text", u"a"_s, u"*ab*"_s, {}, false},
    {"prefix", u"Data1.bin"_s, u"data*"_s, {}, true},
    {"single star", u"anything.at.all"_s, u"*"_s, {}, true},
    {"trailing semicolon", u"a.txt"_s, u"*.txt;"_s, {}, true},
    {"included and excluded", u"secret.txt"_s, u"*.txt"_s, u"secret*"_s, false},
    // A list of blanks is not empty: it counts, and matches nothing.
    {"include of blanks", u"x"_s, u" "_s, {}, false},
};

// start: the folder scanned below the tree; "" the tree, "/" the tree with a final slash, "-" no name at all;
// pumps: the events that ran, -1 when not checked. stopAfter, stopAtPump: see Recorder.
struct ScanCase
{
    const char *name, *tree, *start;
    FolderMasks masks;
    const char *expected;
    int pumps, stopAfter, stopAtPump;
};
const char *const Tree
    = "a.txt B.doc notes.txt.bak src/ src/s.txt src/Backup/ src/Backup/k.txt src/lib/ src/lib/l.txt src/src/ src/src/t.txt x.dir/ x.dir/d.txt";
// b is reached first as b, so c (the same folder) is not entered again; a link to a file is a file, a link to nothing is left out. A link given as
// the folder is scanned like the folder itself.
const char *const Links = "a/ a/f.txt b/ b/g.txt a/up@ROOT a/self@. c@ROOT/b file-link@a/f.txt broken@nowhere";
// Names sort by code unit: "." < upper case < lower case. A folder's own files come first, then its subfolders in that order, each one whole;
// anything but a folder is a file. A final "/" adds no second one to the paths. Events run once per entry of every listing, folders included.
const ScanCase kScans[] = {
    {"every file in listing order", "b.txt B.txt .hidden sub/ sub/deep/ sub/deep/z sub/y Alpha/ Alpha/.cfg empty/ pipe|", "/", {},
        ".hidden B.txt b.txt pipe Alpha/.cfg sub/y sub/deep/z", 11, -1, 0},
    {"no name", "a", "-", {}, "", 0, -1, 0},
    {"a missing folder", "a", "missing", {}, "", -1, -1, 0},
    {"files include", Tree, "", {{}, {}, u"*.txt; *.DOC"_s, {}}, "B.doc a.txt src/s.txt src/Backup/k.txt src/lib/l.txt src/src/t.txt x.dir/d.txt", -1, -1, 0},
    {"folder exclude at any depth", Tree, "", {{}, u"backup"_s, {}, {}}, "B.doc a.txt notes.txt.bak src/s.txt src/lib/l.txt src/src/t.txt x.dir/d.txt", -1, -1,
        0},
    // src/lib is not entered, src/src is: the include list applies at every level.
    {"folder include", Tree, "", {u"SRC"_s, {}, {}, {}}, "B.doc a.txt notes.txt.bak src/s.txt src/src/t.txt", -1, -1, 0},
    {"links are followed once", Links, "", {}, "file-link a/f.txt b/g.txt", -1, -1, 0},
    // A link whose target does not exist, or runs through a file, is neither file nor folder, at any depth; events still run for it.
    {"a dangling link in a subfolder left out", "a.txt sub/ sub/lost@ROOT/a.txt/x sub/gone@missing sub/z.txt", "", {}, "a.txt sub/z.txt", 5, -1, 0},
    // A link to a dangling link points nowhere too; a link to a file is the file, listed as any other.
    {"a chain of links to nothing left out, a link to a file kept", "a.txt b@c c@missing d@a.txt", "", {}, "a.txt d", 4, -1, 0},
    {"a link as the folder", Links, "c", {}, "g.txt", -1, -1, 0},
    {"stopped by the file found", "1 2 3 s/ s/4", "", {}, "1 2", -1, 2, 0},
    {"stopped between events", "1 2 3 s/ s/4", "", {}, "1", -1, -1, 1},
};

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void passesMasks_data() { AddRows(kMasks); }
    void passesMasks()
    {
        QFETCH(int, row);
        const MaskCase &c = kMasks[row];
        QCOMPARE(PassesMasks(c.file, c.include, c.exclude), c.passes);
        if (c.exclude.isEmpty() && !c.include.isEmpty())
            QCOMPARE(MatchesMask(c.file, c.include), c.passes);
    }

    void scans_data() { AddRows(kScans); }
    void scans()
    {
        QFETCH(int, row);
        const ScanCase &c = kScans[row];
        QTemporaryDir dir;
        const QString root = dir.path(), start = QString::fromUtf8(c.start);
        makeTree(root, c.tree);
        const QString folder = start == u"-"_s ? QString() : start.isEmpty() ? root : start == u"/"_s ? root + u'/' : root + u'/' + start;
        Recorder r(start == u"/"_s ? root : folder, c.stopAfter, c.stopAtPump);
        const FolderScanResult result = ScanFolder(folder, c.masks, r);
        QCOMPARE(r.files, names(c.expected));
        QCOMPARE(result.stopped, c.stopAfter > 0 || c.stopAtPump > 0);
        QCOMPARE(result.filesFound, r.files.size());
        if (c.pumps >= 0)
            QCOMPARE(r.pumps, c.pumps);
    }

    // In a sticky folder open to everyone, a link another user planted is not followed: listed as a file (which the run then reports), never entered;
    // a link of the user's own, or one in a folder not shared, is.
    void linksPlantedInASharedFolder_data()
    {
        QTest::addColumn<bool>("sticky");
        QTest::addColumn<bool>("byNobody");
        QTest::addColumn<QString>("expected");
        QTest::newRow("shared, planted by another user") << true << true << u"sh/data.txt sh/zz-dir sh/zz-file"_s;
        QTest::newRow("shared, the user's own") << true << false << u"sh/data.txt sh/zz-file sh/zz-dir/secret"_s;
        QTest::newRow("open to all but not sticky") << false << true << u"sh/data.txt sh/zz-file sh/zz-dir/secret"_s;
    }
    void linksPlantedInASharedFolder()
    {
        QFETCH(bool, sticky);
        QFETCH(bool, byNobody);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString root = dir.path();
        makeTree(root, "sh/ sh/data.txt victim/ victim/secret");
        QVERIFY(::chmod(NativePath(root).constData(), 0755) == 0);
        QVERIFY(::chmod(NativePath(root + u"/sh"_s).constData(), sticky ? 01777 : 0777) == 0);
        const auto plant = [&] {
            CHILD_CHECK(::symlink(NativePath(root + u"/victim"_s).constData(), NativePath(root + u"/sh/zz-dir"_s).constData()) == 0);
            CHILD_CHECK(::symlink(NativePath(root + u"/victim/secret"_s).constData(), NativePath(root + u"/sh/zz-file"_s).constData()) == 0);
            return 0;
        };
        QCOMPARE(byNobody ? RunUnprivileged(plant) : plant(), 0);
        Recorder r(root);
        ScanFolder(root + u"/sh"_s, {}, r);
        QCOMPARE(r.files.join(u' '), expected);
    }
};

QTEST_APPLESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
