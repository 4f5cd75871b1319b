#include "files/filesystem.h"
#include "files/openedfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// The escape a byte that is no valid UTF-8 decodes to.
QString esc(uchar byte)
{
    return QString(QChar(char16_t(0xDC00 + byte)));
}

// A path in a folder holding real.txt, sub/inner.txt and the links the test makes; relative to that folder unless empty or absolute. What the path
// tests say, and what OpenedFile gives: the reason it refuses, or the real file it opens (relative to the folder).
struct PathCase
{
    const char *name;
    QString path;
    bool folder, file;
    QString reason;
    const char *real;
};
const PathCase kPaths[] = {
    {"a chain of links", u"chain"_s, false, true, QString(), "real.txt"},
    {"a linked folder on the way", u"subdir/inner.txt"_s, false, true, QString(), "sub/inner.txt"},
    {"the root", u"/"_s, true, false, SystemErrorText(EISDIR), nullptr},
    {"a loop of links", u"loop1"_s, false, false, SystemErrorText(ELOOP), nullptr},
    {"a file on the way", u"real.txt/x"_s, false, false, SystemErrorText(ENOTDIR), nullptr},
    {"empty", QString(), false, false, SystemErrorText(ENOENT), nullptr},
    {"NUL in the name", u"real.txt"_s + QChar(0) + u"x"_s, false, false, SystemErrorText(ENOENT), nullptr},
    {"a character device", u"/dev/null"_s, false, true, u"Is a character device, not a regular file"_s, nullptr},
};

} // namespace

class TestFileSystem : public QObject
{
    Q_OBJECT

private slots:
    void paths_data() { AddRows(kPaths); }
    void paths()
    {
        QFETCH(int, row);
        const PathCase &c = kPaths[row];
        QTemporaryDir dir;
        const auto at = [&](const QString &name) { return NativePath(dir.filePath(name)); };
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        for (const QString &name : {u"real.txt"_s, u"sub/inner.txt"_s})
            QVERIFY(WriteFile(dir.filePath(name), name.toUtf8()));
        for (const auto &[target, name] : {std::pair("real.txt", "rel"), {"rel", "chain"}, {"sub", "subdir"}, {"loop2", "loop1"}, {"loop1", "loop2"}})
            QCOMPARE(::symlink(target, at(QString::fromLatin1(name)).constData()), 0);
        const QString path = c.path.isEmpty() || c.path.startsWith(u'/') ? c.path : dir.filePath(c.path);
        QCOMPARE(FolderExists(path), c.folder);
        QCOMPARE(IsFolder(path), c.folder);
        QCOMPARE(FileExists(path), c.file);

        OpenedFile file;
        QCOMPARE(file.open(path), c.reason);
        QCOMPARE(file.isOpen(), c.reason.isEmpty());
        if (!c.reason.isEmpty())
            return;
        // The folder and name held are those of the real file, not of a link.
        struct stat held;
        struct stat expected;
        QCOMPARE(::fstatat(file.folderFd(), file.name().constData(), &held, AT_SYMLINK_NOFOLLOW), 0);
        QCOMPARE(::stat(at(QString::fromLatin1(c.real)).constData(), &expected), 0);
        QVERIFY(SameFile(held, expected));
        QVERIFY(SameFile(file.status(), expected));
        QVERIFY(file.unchanged());
        QVERIFY(file.stillNamed());
        QCOMPARE(file.currentPath(), NativePath(QFileInfo(dir.filePath(QString::fromLatin1(c.real))).canonicalFilePath()));
    }

    // Every row: text encodes to the name's bytes, and but for the last rows the
    // bytes decode to that text.
    void nativeNames_data()
    {
        QTest::addColumn<QByteArray>("native");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("four-byte, a surrogate pair") << QByteArray("\xf0\x9f\x98\x80") << u"\U0001F600"_s << true;
        QTest::newRow("leading byte-order mark kept") << QByteArray("\xef\xbb\xbf") + "a" << u"\uFEFFa"_s << true;
        QTest::newRow("Latin-1 name") << QByteArray("caf\xe9.txt") << u"caf"_s + esc(0xE9) + u".txt"_s << true;
        QTest::newRow("mixed") << QByteArray("\xc3\xa9\xe9\xf0\x9f\x98\x80\x80/\xff")
                               << u"\u00e9"_s + esc(0xE9) + u"\U0001F600"_s + esc(0x80) + u"/"_s + esc(0xFF) << true;
        // Text that no name decodes to: encoded as before, like QFile::encodeName.
        QTest::newRow("lone high surrogate") << QByteArray("\xef\xbf\xbdx") << QString(QChar(0xD800)) + u"x"_s << false;
        QTest::newRow("high surrogate at the end") << QByteArray("a\xef\xbf\xbd") << u"a"_s + QChar(0xD83D) << false;
        // A high surrogate makes a pair of what would otherwise be an escape.
        QTest::newRow("escape after a high surrogate") << QByteArray("\xf0\x90\x82\x80") << QString(QChar(0xD800)) + esc(0x80) << false;
        QTest::newRow("NUL") << QByteArray("a\0b", 3) << u"a"_s + QChar(0) + u"b"_s << false;
    }
    void nativeNames()
    {
        QFETCH(QByteArray, native);
        QFETCH(QString, text);
        QFETCH(bool, decodes);
        QCOMPARE(NativePath(text), native);
        if (decodes)
            QCOMPARE(DecodeNativePath(native), text);
        else
            QCOMPARE(QFile::encodeName(text), native);
        // Valid UTF-8 decodes as Qt decodes it, but for the byte-order mark Qt drops.
        if (decodes && QByteArrayView(native).isValidUtf8() && !native.startsWith("\xef\xbb\xbf"))
            QCOMPARE(text, QString::fromUtf8(native));
    }

    void openedFileFollowsWhatItOpened()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a.txt"_s);
        QVERIFY(WriteFile(path, "mine"));
        QVERIFY(AgeFile(path));
        OpenedFile file;
        QCOMPARE(file.open(path), QString());
        // Renamed away and replaced by a link: the name no longer leads to it,
        // but writing reaches the file that was opened, never the link's end.
        QVERIFY(QFile::rename(path, dir.filePath(u"moved.txt"_s)));
        QVERIFY(WriteFile(dir.filePath(u"other.txt"_s), "other"));
        QVERIFY(QFile::link(dir.filePath(u"other.txt"_s), path));
        QVERIFY(!file.stillNamed());
        QVERIFY(file.unchangedButRenamed());
        const int fd = file.openForWriting();
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "MINE", 4), ssize_t(4));
        ::close(fd);
        QCOMPARE(QList<QByteArray>({ReadFile(dir.filePath(u"moved.txt"_s)), ReadFile(dir.filePath(u"other.txt"_s))}), QList<QByteArray>({"MINE", "other"}));
        // The write shows as a change of the file that was opened.
        QVERIFY(!file.unchangedButRenamed());
    }
};

QTEST_APPLESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
