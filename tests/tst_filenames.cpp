#include "files/filenames.h"
#include "files/filesystem.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace Qt::StringLiterals;

class TestFilenames : public QObject
{
    Q_OBJECT

private slots:
    void parts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parts"); // file name|base name|extension|folder|its Replace As target in /out/ with p_ and _s
        QTest::newRow("plain") << u"/data/report.txt"_s << u"report.txt|report|txt|/data|/out/p_report_s.txt"_s;
        QTest::newRow("two dots") << u"/data/archive.tar.gz"_s << u"archive.tar.gz|archive.tar|gz|/data|/out/p_archive.tar_s.gz"_s;
        QTest::newRow("dot file") << u"/data/.profile"_s << u".profile||profile|/data|/out/p__s.profile"_s;
        QTest::newRow("no extension, no final dot") << u"/data/README"_s << u"README|README||/data|/out/p_README_s"_s;
        QTest::newRow("no folder") << u"name.bin"_s << u"name.bin|name|bin||/out/p_name_s.bin"_s;
        QTest::newRow("in the root") << u"/file.txt"_s << u"file.txt|file|txt||/out/p_file_s.txt"_s;
        QTest::newRow("ends with a slash") << u"/data/"_s << u"/data/|/data/||/data/|/out/p_/data/_s"_s;
        QTest::newRow("root") << u"/"_s << u"/|/|||/out/p_/_s"_s;
    }
    void parts()
    {
        QFETCH(QString, path);
        QFETCH(QString, parts);
        const QString target = OutputPath(path, u"/out/"_s, u"p_"_s, u"_s"_s);
        QCOMPARE(QStringList({GetFileName(path), GetBaseName(path), GetExtension(path), GetFolderName(path), target}).join(u'|'), parts);
        QCOMPARE(u"/out/"_s + OutputFileName(path, u"p_"_s, u"_s"_s), target);
    }

    void absolutePath_data()
    {
        QTest::addColumn<QByteArray>("current"); // "/", or a folder made in a temporary one
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("absolute"); // "@" stands for the current folder
        QTest::newRow("name") << QByteArray("data") << QByteArray("a.txt") << QByteArray("@/a.txt");
        QTest::newRow("dots stay") << QByteArray("data") << QByteArray("../x/./a") << QByteArray("@/../x/./a");
        QTest::newRow("empty: the folder") << QByteArray("data") << QByteArray() << QByteArray("@");
        QTest::newRow("absolute stays") << QByteArray("data") << QByteArray("/b//c/../d") << QByteArray("/b//c/../d");
        QTest::newRow("folder that is no UTF-8") << QByteArray("caf\xe9 \xff") << QByteArray("na\xefve") << QByteArray("@/na\xefve");
        QTest::newRow("in the root") << QByteArray("/") << QByteArray("a") << QByteArray("/a");
    }
    void absolutePath()
    {
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, absolute);
        QTemporaryDir dir;
        const QByteArray folder = current == "/" ? current : NativePath(dir.path()) + '/' + current;
        if (current != "/")
            QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const std::unique_ptr<char, decltype(&std::free)> saved(::getcwd(nullptr, 0), &std::free);
        QVERIFY(saved);
        QCOMPARE(::chdir(folder.constData()), 0);
        // Back, and the folder removed by its bytes: QTemporaryDir cannot name it.
        const auto back = qScopeGuard([&] {
            if (::chdir(saved.get()) != 0)
                qFatal("cannot go back to %s", saved.get());
            if (current != "/")
                ::rmdir(folder.constData());
        });
        QCOMPARE(NativePath(AbsolutePath(DecodeNativePath(path))), absolute.replace("@", folder));
    }

    void shortenPath()
    {
        // Folder names go one at a time from the front while the text is too long; with one "/" left it stops.
        const QString path = u"/data/projects/old/file.bin"_s;
        const auto shortened = [&](qsizetype room) { return ShortenPath(path, [room](const QString &t) { return t.size() <= room; }); };
        QCOMPARE(shortened(100), path);
        QCOMPARE(shortened(26), u"/...projects/old/file.bin"_s);
        QCOMPARE(shortened(20), u"/...old/file.bin"_s);
        QCOMPARE(shortened(5), u"/...file.bin"_s);
        QCOMPARE(ShortenPath(u"file.bin"_s, [](const QString &) { return false; }), u"file.bin"_s);
    }
};

QTEST_APPLESS_MAIN(TestFilenames)
#include "tst_filenames.moc"
