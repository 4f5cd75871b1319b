#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace perrox;
using namespace perrox::test;

class TestFileSystem : public QObject
{
    Q_OBJECT

private slots:
    void pathTests_data();
    void pathTests();
    void errorMessages();

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

QTEST_APPLESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
