// The main window's preferences: read once when it loads, written once when
// it closes by File > Exit or by the close box, with the window placement
// and the recent-file entries of the menu.

#include "app/mainwindow.h"
#include "arguments/argumentfile.h"
#include "arguments/argumentlistview.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "support/testsupport.h"

#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;
using perrox::test::RecordingSink;

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    RecordingSink sink;

    QString store() const { return dir->filePath(QStringLiteral("prefs.conf")); }
    void seed(const QList<std::pair<QString, QString>> &values)
    {
        QSettings settings(store(), QSettings::NativeFormat);
        settings.beginGroup(QStringLiteral("Preferences"));
        for (const auto &[key, value] : values)
            settings.setValue(key, value);
    }
    QString stored(const QString &key) const
    {
        QSettings settings(store(), QSettings::NativeFormat);
        return settings.value(QStringLiteral("Preferences/") + key).toString();
    }

private Q_SLOTS:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void defaultsWhenNothingUsableIsStored_data()
    {
        QTest::addColumn<bool>("seeded");
        QTest::newRow("first run") << false;
        QTest::newRow("stored values that are no notation, empty end tag") << true;
    }
    void defaultsWhenNothingUsableIsStored()
    {
        QFETCH(bool, seeded);
        if (seeded)
            seed({{QStringLiteral("FindType"), QStringLiteral("7")}, {QStringLiteral("ReplaceType"), QStringLiteral("two")},
                {QStringLiteral("FindEndTag"), QString()}});
        MainWindow w(&sink, store());
        QCOMPARE(int(w.findField()->notation()), 0);
        QCOMPARE(int(w.replaceField()->notation()), 0);
        QCOMPARE(w.preferences().findEndTag, QStringLiteral("</FIND>"));
        QCOMPARE(w.addFolder(), QString());
        QCOMPARE(w.replaceAsSettings().outpath, QString());
        QCOMPARE(w.folderMasks(), FolderMasks());
        for (int k = 1; k <= 5; ++k)
            QVERIFY(!w.action(QStringLiteral("IDM_FILE_FILE%1").arg(k))->isVisible());
        QVERIFY(!w.action(QStringLiteral("IDM_FILE_SPACE3"))->isVisible());
        // Nothing is written while the program runs.
        if (!seeded)
            QVERIFY(!QFile::exists(store()));
    }

    void roundTripThroughExitAndCloseBox_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("File > Exit") << true;
        QTest::newRow("close box") << false;
    }
    void roundTripThroughExitAndCloseBox()
    {
        QFETCH(bool, byMenu);
        {
            MainWindow w(&sink, store());
            w.show();
            w.findField()->selectNotation(Notation::Decimal);
            w.replaceField()->selectNotation(Notation::Hexadecimal);
            w.setAddFolder(QStringLiteral("/data/in; \"quoted\", = ü"));
            w.replaceAsSettings().outpath = QStringLiteral("/data/out");
            w.folderMasks() = {QStringLiteral("src*;lib"), QStringLiteral(".git"), QStringLiteral("*.txt;*.md"), QStringLiteral("*~")};
            w.AddRecentFile(QStringLiteral("/args/one.txt"));
            w.AddRecentFile(QStringLiteral("/args/two.txt"));
            if (byMenu)
                w.action(QStringLiteral("IDM_EXIT"))->trigger();
            else
                QVERIFY(w.close());
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(stored(QStringLiteral("FindType")), QStringLiteral("1"));
        QCOMPARE(stored(QStringLiteral("WindowState")), QStringLiteral("0"));
        QCOMPARE(stored(QStringLiteral("FindEndTag")), QStringLiteral("</FIND>"));
        QCOMPARE(stored(QStringLiteral("RecentFile1")), QStringLiteral("/args/two.txt"));
        MainWindow w(&sink, store());
        QCOMPARE(int(w.findField()->notation()), int(Notation::Decimal));
        QVERIFY(w.option(0, Notation::Decimal)->isChecked());
        QCOMPARE(int(w.replaceField()->notation()), int(Notation::Hexadecimal));
        QCOMPARE(w.addFolder(), QStringLiteral("/data/in; \"quoted\", = ü"));
        QCOMPARE(w.replaceAsSettings().outpath, QStringLiteral("/data/out"));
        QCOMPARE(w.folderMasks(), FolderMasks({u"src*;lib"_s, u".git"_s, u"*.txt;*.md"_s, u"*~"_s}));
        QCOMPARE(w.action(QStringLiteral("IDM_FILE_FILE1"))->text(), QStringLiteral("two.txt"));
        QCOMPARE(w.action(QStringLiteral("IDM_FILE_FILE2"))->text(), QStringLiteral("one.txt"));
        QVERIFY(w.action(QStringLiteral("IDM_FILE_FILE2"))->isVisible());
        QVERIFY(!w.action(QStringLiteral("IDM_FILE_FILE3"))->isVisible());
        QVERIFY(w.action(QStringLiteral("IDM_FILE_SPACE3"))->isVisible());
    }

    void placementIsRestoredAndKeptWhileMaximized()
    {
        const double tpp = ScreenTwipsPerPixel();
        seed({{QStringLiteral("WindowLeft"), QStringLiteral("-300")}, {QStringLiteral("WindowTop"), QStringLiteral("1500")},
            {QStringLiteral("WindowWidth"), QStringLiteral("9000")}, {QStringLiteral("WindowHeight"), QStringLiteral("7500")},
            {QStringLiteral("WindowState"), QStringLiteral("1")}, {QStringLiteral("RecentFile1"), QStringLiteral("/a/first.txt")},
            {QStringLiteral("RecentFile2"), QStringLiteral("/b/second.txt")}});
        {
            MainWindow w(&sink, store());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QVERIFY(!w.isMinimized()); // never starts minimized
            QCOMPARE(w.frameGeometry().x(), 0); // a negative left becomes 0
            QCOMPARE(w.frameGeometry().y(), TwipsToPixels(1500, tpp));
            QCOMPARE(w.frameGeometry().width(), TwipsToPixels(9000, tpp));
            QCOMPARE(w.action(QStringLiteral("IDM_FILE_FILE1"))->text(), QStringLiteral("first.txt"));
            QCOMPARE(w.action(QStringLiteral("IDM_FILE_FILE2"))->text(), QStringLiteral("second.txt"));
            QVERIFY(w.action(QStringLiteral("IDM_FILE_SPACE3"))->isVisible());
            w.showMaximized();
            QTRY_VERIFY(w.isMaximized());
            w.close();
        }
        // Maximized: the state is stored, the bounds keep the last normal placement.
        QCOMPARE(stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        QCOMPARE(stored(QStringLiteral("WindowLeft")), QStringLiteral("-300"));
        QCOMPARE(stored(QStringLiteral("WindowWidth")), QStringLiteral("9000"));
        MainWindow again(&sink, store());
        again.show();
        QTRY_VERIFY(again.isMaximized());
    }

    void argumentFilesThroughTheMenus()
    {
        MainWindow w(&sink, store());
        sink.shown.clear();
        const QString path = dir->filePath(QStringLiteral("pairs.txt"));
        QString answer;
        QList<bool> asked;
        w.argumentFileDialogHook = [&](bool save) {
            asked << save;
            return answer;
        };

        // Nothing to save: the collection message, no file, no recent entry.
        answer = path;
        w.action(QStringLiteral("IDM_SAVE"))->trigger();
        QCOMPARE(sink.texts(), QStringList {CollectArgumentsErrorMessage(NoArgumentsDescription())});
        QVERIFY(!QFile::exists(path));
        QVERIFY(!w.action(QStringLiteral("IDM_FILE_FILE1"))->isVisible());

        // The worked example: the pending fields first, then the row.
        sink.shown.clear();
        w.edSearch()->setText(QStringLiteral("hello"));
        w.replaceField()->selectNotation(Notation::Hexadecimal);
        w.edReplace()->setText(QStringLiteral("48 49"));
        w.lvwFind()->appendRow({QStringLiteral("Dec"), QStringLiteral("13,10"), QStringLiteral("Asc"), QString()});
        w.action(QStringLiteral("IDM_SAVE"))->trigger();
        QVERIFY(sink.shown.isEmpty());
        QCOMPARE(perrox::test::ReadFile(path).size(), 119);
        QCOMPARE(w.action(QStringLiteral("IDM_FILE_FILE1"))->text(), QStringLiteral("pairs.txt"));
        QVERIFY(w.action(QStringLiteral("IDM_FILE_FILE1"))->isVisible());

        // Loading appends; cancelling the dialog does nothing.
        w.ClearArguments();
        answer.clear();
        w.action(QStringLiteral("IDM_ARG_LOAD"))->trigger();
        QCOMPARE(w.lvwFind()->topLevelItemCount(), 0);
        answer = path;
        w.action(QStringLiteral("IDM_LOAD"))->trigger();
        w.action(QStringLiteral("IDM_ARG_LOAD"))->trigger(); // loaded twice
        QCOMPARE(w.lvwFind()->topLevelItemCount(), 4);
        QCOMPARE(w.lvwFind()->row(0), ArgumentRow({u"Asc"_s, u"hello"_s, u"Hex"_s, u"48 49"_s}));
        QCOMPARE(w.lvwFind()->row(3), ArgumentRow({u"Dec"_s, u"13,10"_s, u"Asc"_s, u""_s}));
        QCOMPARE(asked, QList<bool>({true, true, false, false, false}));

        // A recent entry whose file has gone fails with the open message and stays.
        QVERIFY(QFile::remove(path));
        w.action(QStringLiteral("IDM_FILE_FILE1"))->trigger();
        QCOMPARE(sink.texts(), QStringList {QStringLiteral("No such file or directory - ") + path});
        QCOMPARE(w.recentFiles().entry(0).path, path);
        QCOMPARE(w.lvwFind()->topLevelItemCount(), 4);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
