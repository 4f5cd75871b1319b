// The Save As, Options and About dialogs and the help command under the
// offscreen platform. No dialog runs its own event loop here: the tests show
// them with open() and press their buttons and keys directly.

#include "app/aboutbox.h"
#include "app/help.h"
#include "app/savedialog.h"
#include "engine/processfiles.h"
#include "files/foldermasks.h"
#include "files/optionsdialog.h"
#include "files/undooptions.h"
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
#include <QSpinBox>
#include <QStorageInfo>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUrl>

using namespace perrox;
using namespace Qt::StringLiterals;
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

    std::unique_ptr<QTemporaryDir> tmp;
    QString savedCurrent;

    QString makeFolder(const QString &relative)
    {
        const QString path = tmp->path() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        return path;
    }

private slots:
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

    void saveCleansPrefixAndSuffix_data()
    {
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("start"); // the text, with "|" where the caret is
        QTest::addColumn<QString>("typed"); // "paste " and the text for a paste
        QTest::addColumn<QString>("expected"); // the text, with "|" where the caret is, and the beeps
        QTest::newRow("colon between a and b") << false << u"a|b"_s << u":"_s << u"a|b 1"_s;
        QTest::newRow("star at the start of the suffix") << true << u"|ab"_s << u"*"_s << u"|ab 1"_s;
        QTest::newRow("valid characters") << false << u"|"_s << u"x.y-z ~#"_s << u"x.y-z ~#| 0"_s;
        QTest::newRow("pasted text with two") << false << u"|"_s << u"paste a<b>c"_s << u"abc| 1"_s;
    }
    void saveCleansPrefixAndSuffix()
    {
        QFETCH(bool, suffix);
        QFETCH(QString, start);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        RecordingSink sink;
        ReplaceAsSettings settings;
        SaveDialog dlg(nullptr, sink, settings, {QStringLiteral("/data/report.txt")});
        dlg.open();
        QLineEdit *field = suffix ? dlg.edSuffix() : dlg.edPrefix();
        field->setText(QString(start).remove(u'|'));
        field->setCursorPosition(int(start.indexOf(u'|')));
        if (typed.startsWith(u"paste "_s))
            field->insert(typed.mid(6));
        else
            QTest::keyClicks(field, typed);
        QCOMPARE(QString(field->text()).insert(field->cursorPosition(), u'|') + u" %1"_s.arg(sink.beeps), expected);
        QVERIFY(sink.shown.isEmpty());
        const QString text = field->text();
        QCOMPARE(ListTexts(dlg.List1()), QStringList {suffix ? u"report"_s + text + u".txt"_s : text + u"report.txt"_s});
    }

    void saveExampleList()
    {
        RecordingSink sink;
        ReplaceAsSettings settings;
        SaveDialog dlg(nullptr, sink, settings, {u"/b/z.bin"_s, u"/my.folder/file"_s, u"/b/z.bin"_s});
        // In row order, duplicates kept, and renamed as the fields change.
        QCOMPARE(ListTexts(dlg.List1()), (QStringList {u"z.bin"_s, u"file"_s, u"z.bin"_s}));
        dlg.edPrefix()->setText(QStringLiteral("new_"));
        QCOMPARE(ListTexts(dlg.List1()), (QStringList {u"new_z.bin"_s, u"new_file"_s, u"new_z.bin"_s}));
        dlg.edSuffix()->setText(QStringLiteral("_v2"));
        QCOMPARE(ListTexts(dlg.List1()), (QStringList {u"new_z_v2.bin"_s, u"new_file_v2"_s, u"new_z_v2.bin"_s}));
    }

    void saveOrCancel_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("tick");
        QTest::newRow("Save, overwrite ticked") << "save" << true;
        QTest::newRow("Save, overwrite cleared") << "save" << false;
        QTest::newRow("Cancel button") << "cancel" << true;
        QTest::newRow("Escape") << "escape" << true;
        QTest::newRow("close box") << "close" << true;
    }
    void saveOrCancel()
    {
        QFETCH(QString, how);
        QFETCH(bool, tick);
        const QString target = makeFolder(QStringLiteral("out"));
        const QString other = makeFolder(QStringLiteral("out/other"));
        RecordingSink sink;
        const ReplaceAsSettings before {target, QStringLiteral("old_"), QStringLiteral("_old"), 1};
        ReplaceAsSettings settings = before;
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        // Prefix, suffix and overwrite start afresh; the folder is remembered.
        QVERIFY(dlg.edPrefix()->text().isEmpty() && dlg.edSuffix()->text().isEmpty() && !dlg.chkOverwrite()->isChecked());
        QCOMPARE(dlg.folder(), target);
        QCOMPARE(dlg.g_rv(), 2);
        QVERIFY(dlg.OpenFolder(other));
        QTest::keyClicks(dlg.edPrefix(), QStringLiteral("new_"));
        QTest::keyClicks(dlg.edSuffix(), QStringLiteral("_v2"));
        dlg.chkOverwrite()->setChecked(tick);
        if (how == QLatin1String("save"))
            dlg.Command1()->click();
        else if (how == QLatin1String("cancel"))
            dlg.Command2()->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            dlg.close();

        const bool saved = how == QLatin1String("save");
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.g_rv(), saved ? 1 : 2);
        QCOMPARE(dlg.result(), int(saved ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(SameSettings(settings, saved ? ReplaceAsSettings {other, QStringLiteral("new_"), QStringLiteral("_v2"), qint16(tick ? 1 : 0)} : before));
    }

    void saveOpensAt_data()
    {
        QTest::addColumn<QString>("outpath"); // relative to the temporary folder, "-" for none
        QTest::addColumn<QString>("expected");
        QTest::newRow("outpath with a final slash") << u"out/"_s << u"out"_s;
        QTest::newRow("missing outpath") << u"gone"_s << u"current"_s;
        QTest::newRow("outpath is a file") << u"file.txt"_s << u"current"_s;
        QTest::newRow("empty outpath") << u"-"_s << u"current"_s;
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

    void folderNavigation()
    {
        const QString deep = makeFolder(QStringLiteral("a rather long folder name/another long folder name/yet another one/last"));
        const QString sub = makeFolder(QStringLiteral("a rather long folder name/another long folder name/yet another one/last/sub"));
        RecordingSink sink;
        ReplaceAsSettings settings {deep, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        const QString caption = dlg.lblActFolder()->text();
        QVERIFY2(caption.startsWith(QLatin1String("/...")), qPrintable(caption));
        // The label keeps the end of the path, cut after a "/", and fits Dir1.
        const QString kept = caption.mid(4);
        QVERIFY(deep.endsWith(QLatin1Char('/') + kept));
        QVERIFY(kept.endsWith(QLatin1String("/last")) || kept == QLatin1String("last"));
        QVERIFY(dlg.lblActFolder()->width() <= dlg.Dir1()->width());
        // A double click opens the folder.
        const QModelIndex index = dlg.folderModel()->index(sub);
        QVERIFY(index.isValid());
        Q_EMIT dlg.Dir1()->doubleClicked(index);
        QCOMPARE(dlg.folder(), sub);
        QVERIFY(dlg.lblActFolder()->text().endsWith(QLatin1String("/sub")));
        QCOMPARE(dlg.Dir1()->currentIndex(), index);
        QVERIFY(sink.shown.isEmpty());
        // A drive that is not there is reported and changes nothing.
        const QString drive = dlg.Drive1()->currentText();
        const QString subCaption = dlg.lblActFolder()->text();
        dlg.Drive1()->addItem(tmp->path() + QLatin1String("/no such volume"));
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);
        QCOMPARE(sink.texts(), QStringList {QLatin1String("Drive ") + tmp->path() + QLatin1String("/no such volume not available.")});
        QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.shown.first().title, QStringLiteral("Perrox"));
        QCOMPARE(dlg.folder(), sub);
        QCOMPARE(dlg.Drive1()->currentText(), drive);
        QCOMPARE(dlg.lblActFolder()->text(), subCaption);
        // A drive that is there opens at its root.
        const QString volume = makeFolder(QStringLiteral("volume"));
        dlg.Drive1()->addItem(volume);
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);
        QCOMPARE(dlg.folder(), volume);
        QCOMPARE(sink.shown.size(), 1);
        // A short path is shown whole, and Save takes the open folder.
        QVERIFY(dlg.OpenFolder(QStringLiteral("/")));
        QCOMPARE(dlg.lblActFolder()->text(), QStringLiteral("/"));
        dlg.Command1_Click();
        QCOMPARE(settings.outpath, QStringLiteral("/"));
    }

    void newFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("vanish"); // the open folder is removed before the click
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("message"); // after the open folder's path
        QTest::newRow("default name") << u"NewFolder"_s << false << QStringList {u"NewFolder"_s, u"Old"_s} << u""_s;
        QTest::newRow("invalid characters removed") << u"a:b*c/d"_s << false << QStringList {u"Old"_s, u"abcd"_s} << u""_s;
        QTest::newRow("only question marks") << u"???"_s << false << QStringList {u"Old"_s} << u""_s;
        QTest::newRow("cancelled") << u""_s << false << QStringList {u"Old"_s} << u""_s;
        QTest::newRow("folder already there") << u"Old"_s << false << QStringList {u"Old"_s} << u""_s;
        QTest::newRow("open folder gone") << "NewFolder" << true << QStringList() << "/NewFolder - No such file or directory";
    }
    void newFolder()
    {
        QFETCH(QString, answer);
        QFETCH(bool, vanish);
        QFETCH(QStringList, entries);
        QFETCH(QString, message);
        const QString open = makeFolder(QStringLiteral("open"));
        makeFolder(QStringLiteral("open/Old"));
        RecordingSink sink;
        ReplaceAsSettings settings {open, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        QStringList asked;
        dlg.inputBoxHook = [&](const QString &prompt, const QString &title, const QString &defaultText, const QPoint &) {
            asked << prompt << title << defaultText;
            return answer;
        };
        dlg.open();
        if (vanish)
            QVERIFY(QDir(open).removeRecursively());
        dlg.Command3()->click();
        QCOMPARE(asked, (QStringList {u"Type the name of the folder and click OK."_s, u"Perrox - Create Folder"_s, u"NewFolder"_s}));
        QCOMPARE(FolderEntries(open), entries);
        QCOMPARE(QFileInfo::exists(open), !vanish);
        QCOMPARE(dlg.folder(), open);
        QVERIFY(dlg.isVisible());
        QCOMPARE(sink.texts(), message.isEmpty() ? QStringList() : QStringList {open + message});
        if (!message.isEmpty())
            QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.beeps, 0);
    }

    void newFolderRefusedToUnprivilegedUser()
    {
        // nobody may enter the temporary folder but not write the open one.
        QFile::setPermissions(tmp->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const QString locked = makeFolder(QStringLiteral("locked"));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        const int rc = test::RunUnprivileged([&] {
            RecordingSink sink;
            ReplaceAsSettings settings {locked, {}, {}, 0};
            SaveDialog dlg(nullptr, sink, settings, {});
            if (dlg.folder() != locked)
                return 2;
            dlg.inputBoxHook = [](const QString &, const QString &, const QString &, const QPoint &) { return QStringLiteral("NewFolder"); };
            dlg.Command3_Click();
            if (sink.texts() != QStringList {locked + QLatin1String("/NewFolder - Permission denied")})
                return 3;
            return QFileInfo::exists(locked + QLatin1String("/NewFolder")) ? 4 : 0;
        });
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(rc, 0);
        QCOMPARE(FolderEntries(locked), QStringList());
    }

    void optionsApplyThenClose_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel keeps what was applied") << "cancel";
        QTest::newRow("Escape keeps what was applied") << "escape";
        QTest::newRow("OK applies and closes") << "ok";
    }
    void optionsApplyThenClose()
    {
        QFETCH(QString, how);
        FolderMasks masks {QStringLiteral("src"), QStringLiteral("backup"), QStringLiteral("*.txt"), QStringLiteral("*.bak")};
        UndoOptions undo {true, 20, 1024};
        bool keepTimes = false;
        OptionsDialog dlg(nullptr, masks, undo, keepTimes);
        dlg.open();
        const QList<QLineEdit *> fields = {dlg.edIncludeDirectories(), dlg.edExcludeDirectories(), dlg.edIncludeFiles(), dlg.edExcludeFiles()};
        const auto shownUndo = [&] { return UndoOptions {dlg.chkKeepJournal()->isChecked(), dlg.spnMaxRuns()->value(), dlg.spnMaxMegabytes()->value()}; };
        // The controls show the masks, the journal and the times at their natural height, in this order from the top; the buttons stay
        // below the tabs; the dialog is centred on the screen.
        int above = -1;
        for (const QWidget *control :
            QList<QWidget *> {fields[0], fields[1], fields[2], fields[3], dlg.chkKeepJournal(), dlg.spnMaxRuns(), dlg.spnMaxMegabytes(), dlg.chkKeepTimes()}) {
            QVERIFY(control->height() >= control->sizeHint().height());
            const QRect at(control->mapTo(&dlg, QPoint()), control->size());
            QVERIFY2(at.top() > above && at.bottom() < dlg.tbsOptions()->geometry().bottom(), qPrintable(control->objectName()));
            above = at.bottom();
        }
        QCOMPARE((FolderMasks {fields[0]->text(), fields[1]->text(), fields[2]->text(), fields[3]->text()}), masks);
        QCOMPARE(shownUndo(), undo);
        QVERIFY(!dlg.chkKeepTimes()->isChecked());
        QList<QKeySequence> mnemonics {QKeySequence::mnemonic(dlg.chkKeepJournal()->text()), QKeySequence::mnemonic(dlg.chkKeepTimes()->text())};
        for (const QLabel *label : dlg.findChildren<QLabel *>())
            mnemonics << QKeySequence::mnemonic(label->text());
        QCOMPARE(QSet<QKeySequence>(mnemonics.cbegin(), mnemonics.cend()).size(), mnemonics.size());
        QVERIFY(dlg.spnMaxRuns()->isEnabled() && dlg.spnMaxMegabytes()->isEnabled());
        QVERIFY(dlg.cmdOK()->y() > dlg.tbsOptions()->geometry().bottom());
        QVERIFY(dlg.cmdOK()->geometry().bottom() < dlg.height());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(dlg.x(), screen.x() + (screen.width() - dlg.width()) / 2);
        QCOMPARE(dlg.y(), screen.y() + (screen.height() - dlg.height()) / 2);
        // Apply trims spaces (only spaces) and keeps the dialog and the typed text; the limits are kept while the journal is off,
        // and a value beyond a limit is held at it.
        const QStringList typed = {u"  lib  "_s, u" .git ; tmp "_s, u"\t*.c "_s, QString()};
        for (int i = 0; i < 4; ++i)
            fields[i]->setText(typed[i]);
        dlg.chkKeepJournal()->click();
        dlg.chkKeepTimes()->click();
        QVERIFY(!dlg.spnMaxRuns()->isEnabled() && !dlg.spnMaxMegabytes()->isEnabled());
        dlg.spnMaxRuns()->setValue(5000);
        dlg.spnMaxMegabytes()->setValue(0);
        dlg.cmdApply()->click();
        QVERIFY(dlg.isVisible());
        const FolderMasks applied {QStringLiteral("lib"), QStringLiteral(".git ; tmp"), QStringLiteral("\t*.c"), QString()};
        QCOMPARE(masks, applied);
        QCOMPARE(undo, (UndoOptions {false, 1000, 1}));
        QVERIFY(keepTimes);
        QCOMPARE(dlg.edIncludeFiles()->text(), QStringLiteral("\t*.c "));

        dlg.edIncludeFiles()->setText(QStringLiteral(" *.doc"));
        dlg.edExcludeDirectories()->setText(QStringLiteral("backup"));
        dlg.chkKeepJournal()->click();
        QVERIFY(dlg.spnMaxRuns()->isEnabled() && dlg.spnMaxMegabytes()->isEnabled());
        dlg.spnMaxMegabytes()->setValue(2000000);
        dlg.chkKeepTimes()->click();
        if (how == QLatin1String("ok"))
            dlg.cmdOK()->click();
        else if (how == QLatin1String("cancel"))
            dlg.cmdCancel()->click();
        else
            QTest::keyClick(&dlg, Qt::Key_Escape);
        const bool ok = how == QLatin1String("ok");
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(masks, (ok ? FolderMasks {u"lib"_s, u"backup"_s, u"*.doc"_s, QString()} : applied));
        QCOMPARE(undo, (UndoOptions {ok, 1000, ok ? 1048576 : 1}));
        QCOMPARE(keepTimes, !ok);
    }

    void optionsCtrlTabKeepsTheOneTab()
    {
        // A journal that is off shows its limits disabled from the start.
        FolderMasks masks;
        UndoOptions undo {false, 3, 5};
        bool keepTimes = true;
        OptionsDialog dlg(nullptr, masks, undo, keepTimes);
        QVERIFY(!dlg.chkKeepJournal()->isChecked() && !dlg.spnMaxRuns()->isEnabled() && dlg.spnMaxMegabytes()->value() == 5 && dlg.chkKeepTimes()->isChecked());
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

    void aboutBoxLayoutAndLink()
    {
        AboutBox box(nullptr);
        QList<QUrl> opened;
        box.openUrlHook = [&](const QUrl &url) { return opened << url, true; };
        box.open();
        // Nothing is cut off or overlaps, whatever the interface font.
        for (const QLabel *label : {box.Label1(), box.lblVersion(), box.lblDescription(), box.lblCopyright(), box.Label4(), box.lblWWW()}) {
            QVERIFY2(label->geometry().right() < box.width(), qPrintable(label->objectName()));
            QCOMPARE(label->width(), label->sizeHint().width());
        }
        QVERIFY(box.lblWWW()->x() > box.Label4()->geometry().right());
        QVERIFY(box.Command1()->geometry().right() < box.width());
        // The link and the image open the web address; other labels do nothing.
        QTest::mouseClick(box.lblWWW(), Qt::LeftButton);
        QTest::mouseClick(box.Image1(), Qt::LeftButton);
        QTest::mouseClick(box.lblVersion(), Qt::LeftButton);
        QCOMPARE(opened, (QList<QUrl> {QUrl(QStringLiteral("https://perrox.example.org")), QUrl(QStringLiteral("https://perrox.example.org"))}));
        QVERIFY(box.isVisible());
        box.Command1()->click();
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void helpOpensOrReports_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("asFolder"); // help.txt is a folder there
        QTest::addColumn<bool>("opens"); // the desktop has a program for it
        QTest::addColumn<QString>("message"); // after the path
        const QString missing = u"\r\rThe file shipped with the application and should be \rlocated in the same directory as the program file."_s;
        QTest::newRow("present") << true << false << true << QString();
        QTest::newRow("present, no program opens it") << true << false << false
                                                      << u"\r\rThe desktop has no program to open text files. Open the file \rwith a text editor."_s;
        QTest::newRow("missing") << false << false << true << missing;
        QTest::newRow("a folder named help.txt") << false << true << true << missing;
    }
    void helpOpensOrReports()
    {
        QFETCH(bool, present);
        QFETCH(bool, asFolder);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        const QString programFolder = makeFolder(QStringLiteral("my programs/perrox"));
        const QString path = programFolder + QLatin1String("/help.txt");
        if (present)
            test::WriteFile(path, "help");
        if (asFolder)
            QDir().mkdir(path);
        RecordingSink sink;
        QList<QUrl> opened;
        ShowHelp(
            sink, [&](const QUrl &url) { return opened << url, opens; }, programFolder);
        QCOMPARE(opened, present ? QList<QUrl> {QUrl::fromLocalFile(path)} : QList<QUrl>());
        if (message.isEmpty()) {
            QVERIFY(sink.shown.isEmpty());
            return;
        }
        QCOMPARE(sink.texts(), QStringList {(present ? u"Cannot open the help file\r"_s : u"Cannot find the help file\r"_s) + path + message});
        QCOMPARE(sink.shown.first().icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.shown.first().buttons, MessageSink::Buttons::Ok);
        QCOMPARE(sink.shown.first().title, QStringLiteral("Perrox"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
