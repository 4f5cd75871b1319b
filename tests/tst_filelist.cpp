// The file list of the main window: adding through the dialog and by drops,
// selection commands, the one-time sort, removal and the status text.

#include "app/mainwindow.h"
#include "files/filelistview.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace perrox;
using namespace Qt::StringLiterals;
using perrox::test::RecordingSink;
using perrox::test::WriteFileIn;

class TestFileList : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingSink> sink;
    std::unique_ptr<MainWindow> w;

    QStringList paths() const
    {
        QStringList list;
        for (int i = 0; i < w->lvwFiles()->topLevelItemCount(); ++i)
            list << w->lvwFiles()->path(i);
        return list;
    }
    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (int i = 0; i < w->lvwFiles()->topLevelItemCount(); ++i)
            if (w->lvwFiles()->topLevelItem(i)->isSelected())
                rows << i;
        return rows;
    }
    // Adds what the dialog returns; gives the folder the dialog started in.
    QString addByDialog(const QStringList &chosen)
    {
        QString startedIn = QStringLiteral("unset");
        w->openFilesHook = [&](const QString &start) {
            startedIn = start;
            return chosen;
        };
        w->AddFilesByDialog();
        return startedIn;
    }

private Q_SLOTS:
    void init()
    {
        sink = std::make_unique<RecordingSink>();
        w = std::make_unique<MainWindow>(sink.get());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup()
    {
        w.reset();
        sink.reset();
    }

    void addingByTheDialog()
    {
        w->setAddFolder(QStringLiteral("/nowhere"));
        QCOMPARE(addByDialog({}), QStringLiteral("/nowhere")); // cancelled: nothing changes, not even the folder
        QCOMPARE(w->addFolder(), QStringLiteral("/nowhere"));
        QVERIFY(paths().isEmpty());
        QCOMPARE(w->statusText(), QString());

        addByDialog({QStringLiteral("/data/a.txt"), QStringLiteral("/data/b.txt"), QStringLiteral("/data/a.txt")});
        QCOMPARE(paths(), QStringList({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s}));
        QCOMPARE(w->addFolder(), QStringLiteral("/data"));
        QCOMPARE(w->statusText(), QStringLiteral("3 files"));
        QVERIFY(w->action(QStringLiteral("IDM_COUNT"))->isEnabled());
        // The last row is current and not selected.
        QCOMPARE(w->lvwFiles()->currentItem(), w->lvwFiles()->topLevelItem(2));
        QVERIFY(selectedRows().isEmpty());
        QCOMPARE(w->lvwFiles()->topLevelItem(0)->text(1), QString());

        // A remembered folder that has gone becomes the first row's folder.
        w->setAddFolder(QStringLiteral("/no/such/folder"));
        QCOMPARE(addByDialog({}), QStringLiteral("/data"));
    }

    void dropsOfFilesAndFolders()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("tree/sub"));
        WriteFileIn(dir.path() + QStringLiteral("/tree"), QStringLiteral("one.txt"), "1");
        WriteFileIn(dir.path() + QStringLiteral("/tree/sub"), QStringLiteral("two.bin"), "2");
        const QString loose = WriteFileIn(dir.path(), QStringLiteral("loose.txt"), "3");
        w->DropFiles({dir.path() + QStringLiteral("/tree"), loose, QStringLiteral("/not/there")});
        QStringList expected
            = {dir.path() + QStringLiteral("/tree/one.txt"), dir.path() + QStringLiteral("/tree/sub/two.bin"), loose, QStringLiteral("/not/there")};
        QCOMPARE(paths(), expected);
        QCOMPARE(w->statusText(), QStringLiteral("4 files"));
        QVERIFY(!w->fileListBusy());
        QCOMPARE(sink->busyDepth, 0);

        // Text is no file list: the list refuses it.
        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QVERIFY(FileListView::droppedPaths(&text).isEmpty());
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(loose), QUrl(QStringLiteral("https://example.org/x"))});
        QCOMPARE(FileListView::droppedPaths(&files), QStringList {loose});
    }

    void droppedUrlsKeepTheirBytes_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("path");
        QTest::addRow("plain") << QUrl::fromLocalFile(QStringLiteral("/tmp/a b.txt")) << QStringLiteral("/tmp/a b.txt");
        QTest::addRow("UTF-8") << QUrl(QStringLiteral("file:///tmp/caf%C3%A9")) << QStringLiteral("/tmp/caf\u00e9");
        QTest::addRow("byte that is no UTF-8") << QUrl(QStringLiteral("file:///tmp/caf%E9.txt")) << DecodeNativePath("/tmp/caf\xe9.txt");
        QTest::addRow("escaped delimiters") << QUrl(QStringLiteral("file:///tmp/a%23b%3Fc%25d%20e")) << QStringLiteral("/tmp/a#b?c%d e");
        QTest::addRow("host") << QUrl(QStringLiteral("file://server/share/x")) << QStringLiteral("//server/share/x");
    }
    void droppedUrlsKeepTheirBytes()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, path);
        QMimeData data;
        data.setUrls({url});
        QCOMPARE(FileListView::droppedPaths(&data), QStringList {path});
        // Where Qt's decoding keeps the bytes, the path is the one it gives.
        if (NativePath(path) == path.toUtf8())
            QCOMPARE(path, url.toLocalFile());
    }

    void aSecondDropDuringAScanIsRefused()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 50; ++i)
            WriteFileIn(dir.path(), QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0')), "x");
        bool refused = false;
        // Window events run during the scan; a drop and a command arriving
        // then are turned away with a beep.
        w->setEventPumpInterval(0);
        QMetaObject::invokeMethod(
            w.get(),
            [&] {
                const int beeps = sink->beeps;
                w->DropFiles({dir.path()});
                w->ProcessFiles(RunMode::Count);
                refused = w->fileListBusy() && sink->beeps == beeps + 2;
            },
            Qt::QueuedConnection);
        w->DropFiles({dir.path()});
        QVERIFY(refused);
        QCOMPARE(w->lvwFiles()->topLevelItemCount(), 50);
    }

    void selectAndRemove()
    {
        addByDialog({u"/1"_s, u"/2"_s, u"/3"_s, u"/4"_s, u"/5"_s});
        w->lvwFiles()->topLevelItem(1)->setSelected(true);
        w->InvertFileSelection();
        QCOMPARE(selectedRows(), QList<int>({0, 2, 3, 4}));
        QVERIFY(w->lvwFiles()->hasFocus() || QApplication::focusWidget() == w->lvwFiles() || w->focusWidget() == w->lvwFiles());
        w->InvertFileSelection();
        QCOMPARE(selectedRows(), QList<int>({1}));
        w->SelectAllFiles();
        QCOMPARE(selectedRows(), QList<int>({0, 1, 2, 3, 4}));
        QCOMPARE(sink->busyDepth, 0);

        // Removal acts only while the list has the focus.
        w->InvertFileSelection();
        w->lvwFiles()->topLevelItem(1)->setSelected(true);
        w->lvwFiles()->topLevelItem(3)->setSelected(true);
        w->edSearch()->setFocus();
        w->RemoveSelectedFiles();
        QCOMPARE(paths().size(), 5);
        w->lvwFiles()->setFocus();
        w->RemoveSelectedFiles();
        QCOMPARE(paths(), QStringList({u"/1"_s, u"/3"_s, u"/5"_s}));
        QCOMPARE(w->statusText(), QStringLiteral("3 files"));

        w->SelectAllFiles();
        w->RemoveSelectedFiles();
        QVERIFY(paths().isEmpty());
        QCOMPARE(w->statusText(), QString());
        QVERIFY(!w->action(QStringLiteral("IDM_COUNT"))->isEnabled());
        QVERIFY(!w->cmdReplace()->isEnabled());
    }

    void oneTimeSortToggles()
    {
        addByDialog({u"/b"_s, u"/c"_s, u"/a"_s});
        w->SortByColumn(0);
        QCOMPARE(paths(), QStringList({u"/a"_s, u"/b"_s, u"/c"_s}));
        w->SortByColumn(0);
        QCOMPARE(paths(), QStringList({u"/c"_s, u"/b"_s, u"/a"_s}));
        w->SortByColumn(1);
        w->SortByColumn(0);
        QCOMPARE(paths(), QStringList({u"/a"_s, u"/b"_s, u"/c"_s}));
        // Rows added after a sort go to the end, and the next click sorts ascending.
        addByDialog({u"/0"_s});
        QCOMPARE(paths().last(), QStringLiteral("/0"));
        w->SortByColumn(0);
        QCOMPARE(paths().first(), QStringLiteral("/0"));
    }
};

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
