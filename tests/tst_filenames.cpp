#include "files/filenames.h"

#include <QTest>

using namespace perrox;

class TestFilenames : public QObject
{
    Q_OBJECT

private slots:
    void parts_data();
    void parts();
    void folderName_data();
    void folderName();
    void outputPath_data();
    void outputPath();
    void removeInvalidChars_data();
    void removeInvalidChars();
    void shortenPath();
};

void TestFilenames::parts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<QString>("extension");
    QTest::addRow("plain") << QStringLiteral("/data/report.txt") << QStringLiteral("report.txt") << QStringLiteral("report") << QStringLiteral("txt");
    QTest::addRow("two dots") << QStringLiteral("/data/archive.tar.gz") << QStringLiteral("archive.tar.gz") << QStringLiteral("archive.tar")
                              << QStringLiteral("gz");
    QTest::addRow("dot file") << QStringLiteral("/data/.profile") << QStringLiteral(".profile") << QString() << QStringLiteral("profile");
    QTest::addRow("dot only in a folder") << QStringLiteral("/my.folder/file") << QStringLiteral("file") << QStringLiteral("file") << QString();
    QTest::addRow("no extension") << QStringLiteral("/data/README") << QStringLiteral("README") << QStringLiteral("README") << QString();
    QTest::addRow("ends with a dot") << QStringLiteral("/data/file.") << QStringLiteral("file.") << QStringLiteral("file") << QString();
    QTest::addRow("no folder") << QStringLiteral("name.bin") << QStringLiteral("name.bin") << QStringLiteral("name") << QStringLiteral("bin");
    QTest::addRow("ends with a slash") << QStringLiteral("/data/") << QStringLiteral("/data/") << QStringLiteral("/data/") << QString();
}

void TestFilenames::parts()
{
    QFETCH(QString, path);
    QFETCH(QString, fileName);
    QFETCH(QString, baseName);
    QFETCH(QString, extension);
    QCOMPARE(GetFileName(path), fileName);
    QCOMPARE(GetBaseName(path), baseName);
    QCOMPARE(GetExtension(path), extension);
}

void TestFilenames::folderName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addRow("file in a folder") << QStringLiteral("/data/in/file.txt") << QStringLiteral("/data/in");
    QTest::addRow("file in the root") << QStringLiteral("/file.txt") << QString();
    QTest::addRow("no slash") << QStringLiteral("file.txt") << QString();
    QTest::addRow("folder ending in a slash") << QStringLiteral("/data/in/") << QStringLiteral("/data/in/");
    QTest::addRow("root") << QStringLiteral("/") << QString();
}

void TestFilenames::folderName()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(GetFolderName(path), folder);
}

void TestFilenames::outputPath_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("target");
    QTest::addRow("prefix and suffix") << QStringLiteral("/data/report.txt") << QStringLiteral("/out") << QStringLiteral("new_") << QStringLiteral("_v2")
                                       << QStringLiteral("/out/new_report_v2.txt");
    QTest::addRow("folder ending in a slash") << QStringLiteral("/data/report.txt") << QStringLiteral("/") << QStringLiteral("new_") << QStringLiteral("_v2")
                                              << QStringLiteral("/new_report_v2.txt");
    QTest::addRow("no extension, no final dot") << QStringLiteral("/data/README") << QStringLiteral("/out") << QStringLiteral("new_") << QStringLiteral("_v2")
                                                << QStringLiteral("/out/new_README_v2");
    QTest::addRow("dot file") << QStringLiteral("/data/.profile") << QStringLiteral("/out") << QStringLiteral("x") << QString()
                              << QStringLiteral("/out/x.profile");
    QTest::addRow("two dots") << QStringLiteral("/data/archive.tar.gz") << QStringLiteral("/out/") << QString() << QStringLiteral("-1")
                              << QStringLiteral("/out/archive.tar-1.gz");
    QTest::addRow("same name") << QStringLiteral("/data/a.bin") << QStringLiteral("/data") << QString() << QString() << QStringLiteral("/data/a.bin");
}

void TestFilenames::outputPath()
{
    QFETCH(QString, source);
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);
    QFETCH(QString, target);
    QCOMPARE(OutputPath(source, folder, prefix, suffix), target);
    QCOMPARE(OutputFileName(source, prefix, suffix), GetFileName(target));
}

void TestFilenames::removeInvalidChars_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cleaned");
    QTest::addColumn<int>("removed");
    QTest::addRow("colon") << QStringLiteral("a:b") << QStringLiteral("ab") << 1;
    QTest::addRow("all nine") << QStringLiteral("\\?:*\"<>|/") << QString() << 9;
    QTest::addRow("climbing out of the folder") << QStringLiteral("../x") << QStringLiteral("..x") << 1;
    QTest::addRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral("b") << QStringLiteral("ab") << 1;
    QTest::addRow("question marks only") << QStringLiteral("???") << QString() << 3;
    QTest::addRow("others kept in order") << QStringLiteral("new_ file-1.é") << QStringLiteral("new_ file-1.é") << 0;
}

void TestFilenames::removeInvalidChars()
{
    QFETCH(QString, text);
    QFETCH(QString, cleaned);
    QFETCH(int, removed);
    QCOMPARE(RemoveInvalidChars(text), removed);
    QCOMPARE(text, cleaned);
}

void TestFilenames::shortenPath()
{
    // Folder names go one at a time from the front while the text is too long.
    const QString path = QStringLiteral("/data/projects/old/file.bin");
    const auto shortened = [&](qsizetype room) { return ShortenPath(path, [room](const QString &t) { return t.size() <= room; }); };
    QCOMPARE(shortened(100), path);
    QCOMPARE(shortened(26), QStringLiteral("/...projects/old/file.bin"));
    QCOMPARE(shortened(20), QStringLiteral("/...old/file.bin"));
    QCOMPARE(shortened(5), QStringLiteral("/...file.bin")); // one "/" left: stops
    QCOMPARE(ShortenPath(QStringLiteral("file.bin"), [](const QString &) { return false; }), QStringLiteral("file.bin"));
}

QTEST_APPLESS_MAIN(TestFilenames)
#include "tst_filenames.moc"
