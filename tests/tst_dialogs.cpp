// The Save As, Options and About dialogs and the help command under the
// offscreen platform. No dialog runs its own event loop here: the tests show
// them with open() and press their buttons and keys directly.

#include "app/aboutbox.h"
#include "app/help.h"
#include "app/savedialog.h"
#include "engine/processfiles.h"
#include "files/foldermasks.h"
#include "files/optionsdialog.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStorageInfo>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUrl>

using namespace perrox;
using perrox::test::RecordingSink;

namespace {

QStringList ListTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QStringList FolderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool SameSettings(const ReplaceAsSettings &a, const ReplaceAsSettings &b)
{
    return a.outpath == b.outpath && a.outprefix == b.outprefix && a.outsuffix == b.outsuffix && a.outoverwrite == b.outoverwrite;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> tmp;
    QString savedCurrent;

    QString makeFolder(const QString &relative)
    {
        const QString path = tmp->path() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        return path;
    }

private Q_SLOTS:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        savedCurrent = QDir::currentPath();
    }
    void cleanup()
    {
        QDir::setCurrent(savedCurrent);
        tmp.reset();
    }

    // ---- Save As ----

    void saveCleansPrefixAndSuffix_data()
    {
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("expectedCaret");
        QTest::addColumn<int>("beeps");
        QTest::addRow("colon between a and b") << false << "ab" << 1 << ":" << false << "ab" << 1 << 1;
        QTest::addRow("slash at the end") << false << "ab" << 2 << "/" << false << "ab" << 2 << 1;
        QTest::addRow("star at the start of the suffix") << true << "ab" << 0 << "*" << false << "ab" << 0 << 1;
        QTest::addRow("valid characters") << false << "" << 0 << "x.y-z ~#" << false << "x.y-z ~#" << 8 << 0;
        QTest::addRow("every invalid character") << true << "" << 0 << "\\?:*\"<>|/" << false << "" << 0 << 9;
        QTest::addRow("pasted text with two") << false << "" << 0 << "a<b>c" << true << "abc" << 3 << 1;
    }
    void saveCleansPrefixAndSuffix()
    {
        QFETCH(bool, suffix);
        QFETCH(QString, start);
        QFETCH(int, caret);
        QFETCH(QString, typed);
        QFETCH(bool, paste);
        QFETCH(QString, expected);
        QFETCH(int, expectedCaret);
        QFETCH(int, beeps);

        RecordingSink sink;
        ReplaceAsSettings settings;
        SaveDialog dlg(nullptr, sink, settings, {QStringLiteral("/data/report.txt")});
        dlg.open();
        QLineEdit *field = suffix ? dlg.edSuffix() : dlg.edPrefix();
        field->setText(start);
        field->setCursorPosition(caret);
        if (paste)
            field->insert(typed);
        else
            QTest::keyClicks(field, typed);

        QCOMPARE(field->text(), expected);
        QCOMPARE(field->cursorPosition(), expectedCaret);
        QCOMPARE(sink.beeps, beeps);
        QVERIFY(sink.shown.isEmpty());
        const QString name = suffix ? QLatin1String("report") + expected + QLatin1String(".txt") : expected + QLatin1String("report.txt");
        QCOMPARE(ListTexts(dlg.List1()), QStringList{name});
    }

    void saveExampleList_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("no files") << QStringList() << "new_" << "_v2" << QStringList();
        QTest::addRow("prefix and suffix") << QStringList{"/data/report.txt"} << "new_" << "_v2" << QStringList{"new_report_v2.txt"};
        QTest::addRow("no extension, no final dot") << QStringList{"/data/README"} << "new_" << "_v2" << QStringList{"new_README_v2"};
        QTest::addRow("two extensions") << QStringList{"/data/archive.tar.gz"} << "new_" << "_v2" << QStringList{"new_archive.tar_v2.gz"};
        QTest::addRow("dot file") << QStringList{"/data/.profile"} << "x" << "" << QStringList{"x.profile"};
        QTest::addRow("dot only in a folder") << QStringList{"/my.folder/file"} << "" << "_1" << QStringList{"file_1"};
        QTest::addRow("row order, duplicates kept")
            << QStringList{"/b/z.bin", "/a/y.bin", "/b/z.bin"} << "" << "" << QStringList{"z.bin", "y.bin", "z.bin"};
    }
    void saveExampleList()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, prefix);
        QFETCH(QString, suffix);
        QFETCH(QStringList, expected);

        RecordingSink sink;
        ReplaceAsSettings settings;
        SaveDialog dlg(nullptr, sink, settings, paths);
        QStringList unchanged;
        for (const QString &path : paths)
            unchanged << path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        QCOMPARE(ListTexts(dlg.List1()), unchanged);
        dlg.edPrefix()->setText(prefix);
        dlg.edSuffix()->setText(suffix);
        QCOMPARE(ListTexts(dlg.List1()), expected);
    }

    void saveSetsSettings_data()
    {
        QTest::addColumn<bool>("tick");
        QTest::addRow("overwrite ticked") << true;
        QTest::addRow("overwrite cleared") << false;
    }
    void saveSetsSettings()
    {
        QFETCH(bool, tick);
        const QString target = makeFolder(QStringLiteral("out"));
        RecordingSink sink;
        ReplaceAsSettings settings{target, QStringLiteral("old_"), QStringLiteral("_old"), 1};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        // Prefix, suffix and overwrite start afresh; the folder is remembered.
        QVERIFY(dlg.edPrefix()->text().isEmpty());
        QVERIFY(dlg.edSuffix()->text().isEmpty());
        QVERIFY(!dlg.chkOverwrite()->isChecked());
        QCOMPARE(dlg.g_rv(), 2);
        QVERIFY(dlg.Command1()->isDefault());

        QTest::keyClicks(dlg.edPrefix(), QStringLiteral("new_"));
        QTest::keyClicks(dlg.edSuffix(), QStringLiteral("_v2"));
        dlg.chkOverwrite()->setChecked(tick);
        dlg.Command1()->click();

        QCOMPARE(dlg.g_rv(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QVERIFY(SameSettings(settings, ReplaceAsSettings{target, QStringLiteral("new_"), QStringLiteral("_v2"), qint16(tick ? 1 : 0)}));
    }

    void cancelKeepsSettings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addRow("Cancel button") << "cancel";
        QTest::addRow("Escape") << "escape";
        QTest::addRow("close box") << "close";
    }
    void cancelKeepsSettings()
    {
        QFETCH(QString, how);
        const QString target = makeFolder(QStringLiteral("out"));
        const QString other = makeFolder(QStringLiteral("out/other"));
        RecordingSink sink;
        const ReplaceAsSettings before{target, QStringLiteral("p"), QStringLiteral("s"), 0};
        ReplaceAsSettings settings = before;
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        QVERIFY(dlg.OpenFolder(other));
        dlg.edPrefix()->setText(QStringLiteral("changed"));
        dlg.chkOverwrite()->setChecked(true);
        if (how == QLatin1String("cancel"))
            dlg.Command2()->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            dlg.close();

        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.g_rv(), 2);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(SameSettings(settings, before));
    }

    void saveOpensAt_data()
    {
        QTest::addColumn<QString>("outpath"); // relative to the temporary folder, "-" for none
        QTest::addColumn<QString>("expected");
        QTest::addRow("existing outpath") << "out" << "out";
        QTest::addRow("outpath with a final slash") << "out/" << "out";
        QTest::addRow("missing outpath") << "gone" << "current";
        QTest::addRow("outpath is a file") << "file.txt" << "current";
        QTest::addRow("empty outpath") << "-" << "current";
    }
    void saveOpensAt()
    {
        QFETCH(QString, outpath);
        QFETCH(QString, expected);
        makeFolder(QStringLiteral("out"));
        const QString current = makeFolder(QStringLiteral("current"));
        test::WriteFileIn(tmp->path(), QStringLiteral("file.txt"), "x");
        QVERIFY(QDir::setCurrent(current));

        RecordingSink sink;
        ReplaceAsSettings settings;
        if (outpath != QLatin1String("-"))
            settings.outpath = tmp->path() + QLatin1Char('/') + outpath;
        SaveDialog dlg(nullptr, sink, settings, {});
        const QString folder = tmp->path() + QLatin1Char('/') + expected;
        QCOMPARE(dlg.folder(), folder);
        // A folder on a mount the system does not list (as in a bare chroot) shows "/".
        const QString root = QStorageInfo(folder).rootPath();
        QCOMPARE(dlg.Drive1()->currentText(), root.isEmpty() ? QStringLiteral("/") : root);
        QCOMPARE(dlg.Dir1()->currentIndex(), dlg.folderModel()->index(folder));
        QVERIFY(sink.shown.isEmpty());
        // Saving right away takes the folder that is open.
        dlg.Command1_Click();
        QCOMPARE(settings.outpath, folder);
    }

    void folderLabelIsShortenedToDir1()
    {
        const QString deep = makeFolder(QStringLiteral("a rather long folder name/another long folder name/yet another one/last"));
        RecordingSink sink;
        ReplaceAsSettings settings{deep, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        const QString caption = dlg.lblActFolder()->text();
        QVERIFY2(caption.startsWith(QLatin1String("/...")), qPrintable(caption));
        // The label keeps the end of the path, cut after a "/", and fits Dir1.
        const QString kept = caption.mid(4);
        QVERIFY(deep.endsWith(QLatin1Char('/') + kept));
        QVERIFY(kept.endsWith(QLatin1String("/last")) || kept == QLatin1String("last"));
        QVERIFY(dlg.lblActFolder()->width() <= dlg.Dir1()->width());
        QCOMPARE(dlg.lblActFolder()->width(), dlg.lblActFolder()->sizeHint().width());

        // A short path is shown whole.
        QVERIFY(dlg.OpenFolder(QStringLiteral("/")));
        QCOMPARE(dlg.lblActFolder()->text(), QStringLiteral("/"));
    }

    void doubleClickOpensFolder()
    {
        const QString start = makeFolder(QStringLiteral("s"));
        const QString sub = makeFolder(QStringLiteral("s/sub"));
        RecordingSink sink;
        ReplaceAsSettings settings{start, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        const QModelIndex index = dlg.folderModel()->index(sub);
        QVERIFY(index.isValid());
        Q_EMIT dlg.Dir1()->doubleClicked(index);
        QCOMPARE(dlg.folder(), sub);
        QVERIFY(dlg.lblActFolder()->text().endsWith(QLatin1String("/sub")));
        QCOMPARE(dlg.Dir1()->currentIndex(), index);
        dlg.Command1_Click();
        QCOMPARE(settings.outpath, sub);
        QVERIFY(sink.shown.isEmpty());
    }

    void driveNotAvailableKeepsFolder()
    {
        const QString start = makeFolder(QStringLiteral("s"));
        RecordingSink sink;
        ReplaceAsSettings settings{start, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        const QString drive = dlg.Drive1()->currentText();
        const QString caption = dlg.lblActFolder()->text();
        dlg.Drive1()->addItem(tmp->path() + QLatin1String("/no such volume"));
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);

        QCOMPARE(sink.texts(), QStringList{QLatin1String("Drive ") + tmp->path() + QLatin1String("/no such volume not available.")});
        QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.shown.first().title, QStringLiteral("Perrox"));
        QCOMPARE(dlg.folder(), start);
        QCOMPARE(dlg.Drive1()->currentText(), drive);
        QCOMPARE(dlg.lblActFolder()->text(), caption);

        // A drive that is there opens at its root.
        const QString volume = makeFolder(QStringLiteral("volume"));
        dlg.Drive1()->addItem(volume);
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);
        QCOMPARE(dlg.folder(), volume);
        QCOMPARE(sink.shown.size(), 1);
    }

    void newFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("entries");
        QTest::addRow("default name") << "NewFolder" << QStringList{"NewFolder", "Old"};
        QTest::addRow("invalid characters removed") << "a:b*c/d" << QStringList{"Old", "abcd"};
        QTest::addRow("only question marks") << "???" << QStringList{"Old"};
        QTest::addRow("cancelled") << "" << QStringList{"Old"};
        QTest::addRow("folder already there") << "Old" << QStringList{"Old"};
    }
    void newFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, entries);
        const QString open = makeFolder(QStringLiteral("open"));
        makeFolder(QStringLiteral("open/Old"));
        RecordingSink sink;
        ReplaceAsSettings settings{open, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        QStringList asked;
        dlg.inputBoxHook = [&](const QString &prompt, const QString &title, const QString &defaultText, const QPoint &) {
            asked << prompt << title << defaultText;
            return answer;
        };
        dlg.open();
        dlg.Command3()->click();

        QCOMPARE(asked, (QStringList{"Type the name of the folder and click OK.", "Perrox - Create Folder", "NewFolder"}));
        QCOMPARE(FolderEntries(open), entries);
        QCOMPARE(dlg.folder(), open);
        QVERIFY(dlg.isVisible());
        QVERIFY(sink.shown.isEmpty());
        QCOMPARE(sink.beeps, 0);
    }

    void newFolderInVanishedFolder()
    {
        const QString open = makeFolder(QStringLiteral("open"));
        RecordingSink sink;
        ReplaceAsSettings settings{open, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.inputBoxHook = [](const QString &, const QString &, const QString &, const QPoint &) { return QStringLiteral("NewFolder"); };
        dlg.open();
        QVERIFY(QDir(open).removeRecursively());
        dlg.Command3_Click();
        QCOMPARE(sink.texts(), QStringList{open + QLatin1String("/NewFolder - No such file or directory")});
        QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.folder(), open);
        QVERIFY(!QFileInfo::exists(open));
    }

    void newFolderRefusedToUnprivilegedUser()
    {
        // nobody may enter the temporary folder but not write the open one.
        QFile::setPermissions(tmp->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const QString locked = makeFolder(QStringLiteral("locked"));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

        const int rc = test::RunUnprivileged([&] {
            RecordingSink sink;
            ReplaceAsSettings settings{locked, {}, {}, 0};
            SaveDialog dlg(nullptr, sink, settings, {});
            if (dlg.folder() != locked)
                return 2;
            dlg.inputBoxHook = [](const QString &, const QString &, const QString &, const QPoint &) { return QStringLiteral("NewFolder"); };
            dlg.Command3_Click();
            if (sink.texts() != QStringList{locked + QLatin1String("/NewFolder - Permission denied")})
                return 3;
            return QFileInfo::exists(locked + QLatin1String("/NewFolder")) ? 4 : 0;
        });
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(rc, 0);
        QCOMPARE(FolderEntries(locked), QStringList());
    }

    // ---- Options ----

    void optionsOpensWithMasks()
    {
        FolderMasks masks{QStringLiteral("src"), QStringLiteral("backup"), QStringLiteral("*.txt"), QStringLiteral("*.bak")};
        OptionsDialog dlg(nullptr, masks);
        dlg.open();
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Optionen"));
        QCOMPARE(dlg.tbsOptions()->count(), 1);
        QCOMPARE(dlg.tbsOptions()->tabText(0), QStringLiteral("General"));
        QCOMPARE(dlg.edIncludeDirectories()->text(), masks.includeDirectories);
        QCOMPARE(dlg.edExcludeDirectories()->text(), masks.excludeDirectories);
        QCOMPARE(dlg.edIncludeFiles()->text(), masks.includeFiles);
        QCOMPARE(dlg.edExcludeFiles()->text(), masks.excludeFiles);
        QVERIFY(dlg.cmdOK()->isDefault());
        // The fields get their natural height and the buttons stay below the tabs.
        for (const QLineEdit *field : {dlg.edIncludeDirectories(), dlg.edExcludeDirectories(), dlg.edIncludeFiles(), dlg.edExcludeFiles()})
            QVERIFY(field->height() >= field->sizeHint().height());
        QVERIFY(dlg.cmdOK()->y() > dlg.tbsOptions()->geometry().bottom());
        QVERIFY(dlg.cmdOK()->geometry().bottom() < dlg.height());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(dlg.x(), screen.x() + (screen.width() - dlg.width()) / 2);
        QCOMPARE(dlg.y(), screen.y() + (screen.height() - dlg.height()) / 2);
    }

    void optionsApplyTrims_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("applied");
        QTest::addRow("spaces around") << "  *.txt  " << "*.txt";
        QTest::addRow("spaces inside kept") << " *.txt ; *.doc " << "*.txt ; *.doc";
        QTest::addRow("only spaces trimmed") << "\t*.c " << "\t*.c";
        QTest::addRow("empty field clears") << "" << "";
    }
    void optionsApplyTrims()
    {
        QFETCH(QString, typed);
        QFETCH(QString, applied);
        FolderMasks masks{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
        OptionsDialog dlg(nullptr, masks);
        dlg.open();
        dlg.edIncludeDirectories()->setText(typed + QLatin1Char('1'));
        dlg.edExcludeDirectories()->setText(QLatin1Char('2') + typed);
        dlg.edIncludeFiles()->setText(typed);
        dlg.edExcludeFiles()->setText(QStringLiteral("  4  "));
        dlg.cmdApply()->click();

        QVERIFY(dlg.isVisible());
        const FolderMasks expected{TrimmedSpaces(typed + QLatin1Char('1')), TrimmedSpaces(QLatin1Char('2') + typed), applied, QStringLiteral("4")};
        QCOMPARE(masks.includeFiles, applied);
        QVERIFY(masks == expected);
        // The fields keep what was typed.
        QCOMPARE(dlg.edIncludeFiles()->text(), typed);
    }

    void optionsCancelAfterApplyKeepsApplied()
    {
        FolderMasks masks;
        OptionsDialog dlg(nullptr, masks);
        dlg.open();
        dlg.edIncludeFiles()->setText(QStringLiteral(" *.txt"));
        dlg.cmdApply()->click();
        dlg.edIncludeFiles()->setText(QStringLiteral("*.doc"));
        dlg.edExcludeDirectories()->setText(QStringLiteral("backup"));
        dlg.cmdCancel()->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(masks == (FolderMasks{QString(), QString(), QStringLiteral("*.txt"), QString()}));
    }

    void optionsEscapeAndOk_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addRow("Escape leaves the masks") << false;
        QTest::addRow("OK applies and closes") << true;
    }
    void optionsEscapeAndOk()
    {
        QFETCH(bool, ok);
        const FolderMasks before{QStringLiteral("src"), QString(), QString(), QString()};
        FolderMasks masks = before;
        OptionsDialog dlg(nullptr, masks);
        dlg.open();
        dlg.edIncludeDirectories()->setText(QStringLiteral(" lib "));
        if (ok)
            dlg.cmdOK()->click();
        else
            QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(masks.includeDirectories, ok ? QStringLiteral("lib") : before.includeDirectories);
    }

    void optionsCtrlTabKeepsTheOneTab()
    {
        FolderMasks masks;
        OptionsDialog dlg(nullptr, masks);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.edIncludeFiles()->setFocus();
        QTest::keyClick(dlg.edIncludeFiles(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(dlg.tbsOptions()->currentIndex(), 0);
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.edIncludeFiles()->text().isEmpty());
        // With a second tab it moves on and wraps round.
        dlg.tbsOptions()->addTab(new QWidget, QStringLiteral("Second"));
        QTest::keyClick(dlg.edIncludeFiles(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(dlg.tbsOptions()->currentIndex(), 1);
        dlg.SelectNextTab();
        QCOMPARE(dlg.tbsOptions()->currentIndex(), 0);
    }

    // ---- About and Help ----

    void aboutBoxTexts()
    {
        AboutBox box(nullptr);
        QList<QUrl> opened;
        box.openUrlHook = [&](const QUrl &url) { opened << url; };
        box.open();
        QCOMPARE(box.windowTitle(), QStringLiteral("About Perrox"));
        QCOMPARE(box.Label1()->text(), QStringLiteral("Perrox Revavod ozav azovi"));
        QCOMPARE(box.lblVersion()->text(), QStringLiteral("Version 1.2"));
        QCOMPARE(box.lblDescription()->text(), QStringLiteral("Replace characters or any bytes in your files."));
        QCOMPARE(box.lblCopyright()->text(), QStringLiteral("Copyright © 2026 The Perrox developers"));
        QCOMPARE(box.Label4()->text(), QStringLiteral("Worldwide Web: "));
        QCOMPARE(box.lblWWW()->text(), QStringLiteral("https://perrox.example.org"));
        QCOMPARE(box.lblWWW()->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(box.lblWWW()->cursor().shape(), Qt::PointingHandCursor);
        // Labels size themselves to their text.
        QCOMPARE(box.lblDescription()->width(), box.lblDescription()->sizeHint().width());
        QVERIFY(box.Command1()->isDefault());
        // Nothing is cut off or overlaps, whatever the interface font.
        for (const QLabel *label : {box.Label1(), box.lblVersion(), box.lblDescription(), box.lblCopyright(), box.Label4(), box.lblWWW()})
            QVERIFY2(label->geometry().right() < box.width(), qPrintable(label->objectName()));
        QVERIFY(box.lblWWW()->x() > box.Label4()->geometry().right());
        QVERIFY(box.Command1()->geometry().right() < box.width());

        QTest::mouseClick(box.lblWWW(), Qt::LeftButton);
        QTest::mouseClick(box.Image1(), Qt::LeftButton);
        QTest::mouseClick(box.lblVersion(), Qt::LeftButton);
        QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://perrox.example.org")), QUrl(QStringLiteral("https://perrox.example.org"))}));
        QVERIFY(box.isVisible());
        box.Command1()->click();
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void helpFileBesideTheProgram()
    {
        QCOMPARE(HelpFilePath(), QCoreApplication::applicationDirPath() + QLatin1String("/help.txt"));
        QCOMPARE(HelpFilePath(QStringLiteral("/")), QStringLiteral("/help.txt"));
    }

    void helpOpensOrReportsMissing_data()
    {
        QTest::addColumn<QString>("folder"); // under the temporary folder
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("asFolder"); // help.txt is a folder there
        QTest::addRow("present") << "bin" << true << false;
        QTest::addRow("present, spaces in the folder") << "my programs/perrox" << true << false;
        QTest::addRow("missing") << "bin" << false << false;
        QTest::addRow("a folder named help.txt") << "bin" << false << true;
    }
    void helpOpensOrReportsMissing()
    {
        QFETCH(QString, folder);
        QFETCH(bool, present);
        QFETCH(bool, asFolder);
        const QString programFolder = makeFolder(folder);
        const QString path = programFolder + QLatin1String("/help.txt");
        if (present)
            test::WriteFile(path, "help");
        if (asFolder)
            QDir().mkdir(path);

        RecordingSink sink;
        QList<QUrl> opened;
        ShowHelp(sink, [&](const QUrl &url) { opened << url; }, programFolder);
        if (present) {
            QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(path)});
            QVERIFY(sink.shown.isEmpty());
        } else {
            QVERIFY(opened.isEmpty());
            QCOMPARE(sink.texts(), QStringList{QLatin1String("Cannot find the help file\r") + path
                                               + QLatin1String("\r\rThe file shipped with the application and should be \r"
                                                               "located in the same directory as the program file.")});
            QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
            QCOMPARE(sink.shown.first().buttons, MessageSink::Buttons::Ok);
            QCOMPARE(sink.shown.first().title, QStringLiteral("Perrox"));
        }
    }

private:
    static QString TrimmedSpaces(QString text)
    {
        while (text.startsWith(QLatin1Char(' ')))
            text.remove(0, 1);
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return text;
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
