#include "files/filesystem.h"
#include "files/openedfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
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

bool hasEscape(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; });
}

} // namespace

class TestFileSystem : public QObject
{
    Q_OBJECT

private slots:
    void pathTests_data();
    void pathTests();
    void errorMessages();
    void nativeNames_data();
    void nativeNames();
    void randomBytesSurviveTheRoundTrip();
    void openedFile_data();
    void openedFile();
    void openedFileFollowsWhatItOpened();

private:
    QTemporaryDir m_dir;
};

void TestFileSystem::pathTests_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("file");
    const QString base = m_dir.path();
    WriteFileIn(base, QStringLiteral("file.txt"), "x");
    WriteFileIn(base, QStringLiteral(".hidden"), "x");
    QDir(base).mkdir(QStringLiteral("sub"));
    QFile::link(base + QLatin1String("/sub"), base + QLatin1String("/link-to-sub"));
    QFile::link(base + QLatin1String("/gone"), base + QLatin1String("/dangling"));
    QTest::addRow("file") << base + QLatin1String("/file.txt") << false << true;
    QTest::addRow("hidden file") << base + QLatin1String("/.hidden") << false << true;
    QTest::addRow("folder") << base + QLatin1String("/sub") << true << false;
    QTest::addRow("folder with a final slash") << base + QLatin1String("/sub/") << true << false;
    QTest::addRow("link to a folder") << base + QLatin1String("/link-to-sub") << true << false;
    QTest::addRow("dangling link") << base + QLatin1String("/dangling") << false << false;
    QTest::addRow("missing") << base + QLatin1String("/missing") << false << false;
    QTest::addRow("below a file") << base + QLatin1String("/file.txt/x") << false << false;
    QTest::addRow("empty") << QString() << false << false;
    QTest::addRow("NUL in the name") << base + QLatin1String("/file.txt") + QChar(0) + QLatin1String("x") << false << false;
    QTest::addRow("root") << QStringLiteral("/") << true << false;
}

void TestFileSystem::pathTests()
{
    QFETCH(QString, path);
    QFETCH(bool, folder);
    QFETCH(bool, file);
    QCOMPARE(FolderExists(path), folder);
    QCOMPARE(IsFolder(path), folder);
    QCOMPARE(FileExists(path), file);
}

void TestFileSystem::errorMessages()
{
    QCOMPARE(FileErrorMessage(ENOENT, QStringLiteral("/a b/c.txt")), QStringLiteral("No such file or directory - /a b/c.txt"));
    QCOMPARE(FileErrorMessage(EACCES, QStringLiteral("x")), QStringLiteral("Permission denied - x"));
}

// Every row: text encodes to the name's bytes, and but for the last rows the
// bytes decode to that text.
void TestFileSystem::nativeNames_data()
{
    QTest::addColumn<QByteArray>("native");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("decodes");
    QTest::addRow("empty") << QByteArray() << QString() << true;
    QTest::addRow("ASCII") << QByteArray("/tmp/a b~.txt") << QStringLiteral("/tmp/a b~.txt") << true;
    QTest::addRow("two-byte") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9") << true;
    QTest::addRow("four-byte, a surrogate pair") << QByteArray("\xf0\x9f\x98\x80") << QStringLiteral("\U0001F600") << true;
    QTest::addRow("largest code point") << QByteArray("\xf4\x8f\xbf\xbf") << QStringLiteral("\U0010FFFF") << true;
    QTest::addRow("last before the surrogates") << QByteArray("\xed\x9f\xbf") << QStringLiteral("\uD7FF") << true;
    QTest::addRow("first after the surrogates") << QByteArray("\xee\x80\x80") << QStringLiteral("\uE000") << true;
    QTest::addRow("leading byte-order mark kept") << QByteArray("\xef\xbb\xbf") + "a" << QStringLiteral("\uFEFFa") << true;
    QTest::addRow("Latin-1 name") << QByteArray("caf\xe9.txt") << u"caf"_s + esc(0xE9) + u".txt"_s << true;
    QTest::addRow("lone continuation byte") << QByteArray("a\x80") + "b" << u"a"_s + esc(0x80) + u"b"_s << true;
    QTest::addRow("truncated sequence at end") << QByteArray("x\xe2\x82") << u"x"_s + esc(0xE2) + esc(0x82) << true;
    QTest::addRow("sequence cut by ASCII") << QByteArray("\xf0\x9f\x98") + "z" << esc(0xF0) + esc(0x9F) + esc(0x98) + u"z"_s << true;
    QTest::addRow("overlong C0 AF") << QByteArray("\xc0\xaf") << esc(0xC0) + esc(0xAF) << true;
    QTest::addRow("overlong four-byte") << QByteArray("\xf0\x8f\xbf\xbf") << esc(0xF0) + esc(0x8F) + esc(0xBF) + esc(0xBF) << true;
    QTest::addRow("encoded surrogate ED B2 80") << QByteArray("\xed\xb2\x80") << esc(0xED) + esc(0xB2) + esc(0x80) << true;
    QTest::addRow("above U+10FFFF F4 90 80 80") << QByteArray("\xf4\x90\x80\x80") << esc(0xF4) + esc(0x90) + esc(0x80) + esc(0x80) << true;
    QTest::addRow("bytes never in UTF-8") << QByteArray("\xc1\xf5\xff") << esc(0xC1) + esc(0xF5) + esc(0xFF) << true;
    QTest::addRow("mixed") << QByteArray("\xc3\xa9\xe9\xf0\x9f\x98\x80\x80/\xff") << u"\u00e9"_s + esc(0xE9) + u"\U0001F600"_s + esc(0x80) + u"/"_s + esc(0xFF)
                           << true;
    // Text that no name decodes to: encoded as before, like QFile::encodeName.
    QTest::addRow("lone high surrogate") << QByteArray("\xef\xbf\xbdx") << QString(QChar(0xD800)) + u"x"_s << false;
    QTest::addRow("high surrogate at the end") << QByteArray("a\xef\xbf\xbd") << u"a"_s + QChar(0xD83D) << false;
    QTest::addRow("lone low surrogate below the escapes") << QByteArray("\xef\xbf\xbd") << QString(QChar(0xDC7F)) << false;
    QTest::addRow("lone low surrogate above the escapes") << QByteArray("\xef\xbf\xbd") << QString(QChar(0xDD00)) << false;
    // A high surrogate makes a pair of what would otherwise be an escape.
    QTest::addRow("escape after a high surrogate") << QByteArray("\xf0\x90\x82\x80") << QString(QChar(0xD800)) + esc(0x80) << false;
    QTest::addRow("NUL") << QByteArray("a\0b", 3) << u"a"_s + QChar(0) + u"b"_s << false;
}

void TestFileSystem::nativeNames()
{
    QFETCH(QByteArray, native);
    QFETCH(QString, text);
    QFETCH(bool, decodes);
    QCOMPARE(NativePath(text), native);
    if (!decodes)
        QCOMPARE(NativePath(text), QFile::encodeName(text));
    else
        QCOMPARE(DecodeNativePath(native), text);
    // Valid UTF-8 decodes as Qt decodes it, but for the byte-order mark Qt drops.
    if (decodes && QByteArrayView(native).isValidUtf8() && !native.startsWith("\xef\xbb\xbf"))
        QCOMPARE(text, QString::fromUtf8(native));
}

void TestFileSystem::randomBytesSurviveTheRoundTrip()
{
    // Bytes that start, continue and break UTF-8 sequences, or any byte at all.
    const QByteArray pieces("a/\x80\x8f\x90\x9f\xa0\xbf\xc0\xc2\xdf\xe0\xed\xee\xef\xf0\xf4\xf5\xff");
    for (quint32 round = 0; round < 50000; ++round) {
        const qsizetype size = qsizetype(QRandomGenerator(round).bounded(13));
        const QByteArray native = RandomBytes(round, size, round % 2 ? pieces : QByteArray());
        const QString text = DecodeNativePath(native);
        const bool valid = QByteArrayView(native).isValidUtf8();
        const bool kept = NativePath(text) == native;
        // Valid UTF-8 gives Qt's text (byte-order mark aside); anything else holds an escape.
        const bool decoded = valid ? native.startsWith("\xef\xbb\xbf") || text == QString::fromUtf8(native) : hasEscape(text);
        if (!kept || !decoded)
            QFAIL(qPrintable(u"bytes "_s + QString::fromLatin1(native.toHex(' '))));
    }
}

void TestFileSystem::openedFile_data()
{
    // In a folder holding real.txt, sub/inner.txt and the links below.
    QTest::addColumn<QString>("path"); // relative to the folder
    QTest::addColumn<QString>("reason"); // empty: opened
    QTest::addColumn<QString>("real"); // the file that was opened, relative to the folder
    QTest::addRow("a file") << u"real.txt"_s << QString() << u"real.txt"_s;
    QTest::addRow("a relative link") << u"rel"_s << QString() << u"real.txt"_s;
    QTest::addRow("an absolute link") << u"abs"_s << QString() << u"real.txt"_s;
    QTest::addRow("a chain of links") << u"chain"_s << QString() << u"real.txt"_s;
    QTest::addRow("a link out of a subfolder") << u"sub/up"_s << QString() << u"real.txt"_s;
    QTest::addRow("a linked folder on the way") << u"subdir/inner.txt"_s << QString() << u"sub/inner.txt"_s;
    QTest::addRow("a link into a subfolder") << u"down"_s << QString() << u"sub/inner.txt"_s;
    QTest::addRow("a folder") << u"sub"_s << SystemErrorText(EISDIR) << QString();
    QTest::addRow("a link to a folder") << u"subdir"_s << SystemErrorText(EISDIR) << QString();
    QTest::addRow("a path ending in /") << u"sub/"_s << SystemErrorText(EISDIR) << QString();
    QTest::addRow("missing") << u"nothing.txt"_s << SystemErrorText(ENOENT) << QString();
    QTest::addRow("a dangling link") << u"dangling"_s << SystemErrorText(ENOENT) << QString();
    QTest::addRow("a loop of links") << u"loop1"_s << SystemErrorText(ELOOP) << QString();
    QTest::addRow("a file on the way") << u"real.txt/x"_s << SystemErrorText(ENOTDIR) << QString();
    QTest::addRow("a named pipe") << u"pipe"_s << u"Is a named pipe, not a regular file"_s << QString();
    QTest::addRow("a link to a named pipe") << u"topipe"_s << u"Is a named pipe, not a regular file"_s << QString();
    QTest::addRow("a character device") << u"/dev/null"_s << u"Is a character device, not a regular file"_s << QString();
}

void TestFileSystem::openedFile()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QFETCH(QString, real);
    QTemporaryDir dir;
    const auto at = [&](const QString &name) { return NativePath(dir.filePath(name)); };
    QVERIFY(WriteFile(dir.filePath(u"real.txt"_s), "real") && QDir(dir.path()).mkdir(u"sub"_s));
    QVERIFY(WriteFile(dir.filePath(u"sub/inner.txt"_s), "inner"));
    const struct
    {
        const char *target;
        const char *name;
    } links[] = {{"real.txt", "rel"}, {"", "abs"}, {"rel", "chain"}, {"../real.txt", "sub/up"}, {"sub", "subdir"}, {"sub/inner.txt", "down"},
        {"nowhere.txt", "dangling"}, {"loop2", "loop1"}, {"loop1", "loop2"}, {"pipe", "topipe"}};
    for (const auto &l : links) {
        const QByteArray target = *l.target ? QByteArray(l.target) : at(u"real.txt"_s);
        QVERIFY(::symlink(target.constData(), at(QString::fromLatin1(l.name)).constData()) == 0);
    }
    QVERIFY(::mkfifo(at(u"pipe"_s).constData(), 0600) == 0);

    OpenedFile file;
    QCOMPARE(file.open(path.startsWith(u'/') ? path : dir.filePath(path)), reason);
    QCOMPARE(file.isOpen(), reason.isEmpty());
    if (!reason.isEmpty())
        return;
    // The folder and name held are those of the real file, not of a link.
    struct stat held;
    struct stat expected;
    QVERIFY(::fstatat(file.folderFd(), file.name().constData(), &held, AT_SYMLINK_NOFOLLOW) == 0);
    QVERIFY(::stat(at(real).constData(), &expected) == 0);
    QVERIFY(S_ISREG(held.st_mode) && SameFile(held, expected) && SameFile(file.status(), expected));
    QVERIFY(file.unchanged() && file.stillNamed());
    QCOMPARE(file.currentPath(), NativePath(QFileInfo(dir.filePath(real)).canonicalFilePath()));
}

void TestFileSystem::openedFileFollowsWhatItOpened()
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
    QVERIFY(WriteFile(dir.filePath(u"other.txt"_s), "other") && QFile::link(dir.filePath(u"other.txt"_s), path));
    QVERIFY(!file.stillNamed());
    QVERIFY(file.unchangedButRenamed());
    const int fd = file.openForWriting();
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "MINE", 4), ssize_t(4));
    ::close(fd);
    QCOMPARE(ReadFile(dir.filePath(u"moved.txt"_s)), QByteArray("MINE"));
    QCOMPARE(ReadFile(dir.filePath(u"other.txt"_s)), QByteArray("other"));
    // The write shows as a change of the file that was opened.
    QVERIFY(!file.unchangedButRenamed());
}

QTEST_APPLESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
