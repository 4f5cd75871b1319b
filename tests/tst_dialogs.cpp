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

// A Save As choice as "folder|prefix|suffix|overwrite".
QString Shown(const ReplaceAsSettings &s)
{
    return QStringList {s.outpath, s.outprefix, s.outsuffix, QString::number(s.outoverwrite)}.join(u'|');
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> tmp;
    QString savedCurrent;

    QString makeFolder(const QString &relative) { return QDir().mkpath(tmp->filePath(relative)), tmp->filePath(relative); }

private slots:
    void init() { tmp = std::make_unique<QTemporaryDir>(), savedCurrent = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(savedCurrent), tmp.reset(); }

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
        SaveDialog dlg(nullptr, sink, settings, {u"/data/report.txt"_s, u"/my.folder/file"_s, u"/data/report.txt"_s});
        dlg.open();
        QLineEdit *field = suffix ? dlg.edSuffix() : dlg.edPrefix();
        field->setText(QString(start).remove(u'|'));
        field->setCursorPosition(int(start.indexOf(u'|')));
        if (typed.startsWith(u"paste "_s))
            field->insert(typed.mid(6));
        else
            QTest::keyClicks(field, typed);
        QCOMPARE(QString(field->text()).insert(field->cursorPosition(), u'|') + u" %1"_s.arg(sink.beeps), expected);
        QCOMPARE(sink.texts(), QStringList());
        // The example list: the rows' names in row order, duplicates kept, renamed as the fields change.
        const QString t = field->text(), report = suffix ? u"report"_s + t + u".txt"_s : t + u"report.txt"_s;
        QCOMPARE(ListTexts(dlg.List1()), (QStringList {report, suffix ? u"file"_s + t : t + u"file"_s, report}));
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
        const QString target = makeFolder(u"out"_s), other = makeFolder(u"out/other"_s);
        RecordingSink sink;
        ReplaceAsSettings settings {target, u"old_"_s, u"_old"_s, 1};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        // Prefix, suffix and overwrite start afresh; the folder is remembered.
        const auto shown = [&] {
            return u"%1|%2|%3|%4 %5"_s.arg(dlg.folder(), dlg.edPrefix()->text(), dlg.edSuffix()->text()).arg(dlg.chkOverwrite()->isChecked()).arg(dlg.g_rv());
        };
        QCOMPARE(shown(), target + u"|||0 2"_s);
        QVERIFY(dlg.OpenFolder(other));
        QTest::keyClicks(dlg.edPrefix(), u"new_"_s);
        QTest::keyClicks(dlg.edSuffix(), u"_v2"_s);
        dlg.chkOverwrite()->setChecked(tick);
        const std::map<QString, std::function<void()>> ways {{u"save"_s, [&] { dlg.Command1()->click(); }}, {u"cancel"_s, [&] { dlg.Command2()->click(); }},
            {u"escape"_s, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); }}, {u"close"_s, [&] { dlg.close(); }}};
        ways.at(how)();
        const bool saved = how == u"save"_s;
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.g_rv(), saved ? 1 : 2);
        QCOMPARE(dlg.result(), int(saved ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(Shown(settings), saved ? u"%1|new_|_v2|%2"_s.arg(other).arg(int(tick)) : target + u"|old_|_old|1"_s);
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
        makeFolder(u"out"_s);
        QVERIFY(QDir::setCurrent(makeFolder(u"current"_s)));
        test::WriteFileIn(tmp->path(), u"file.txt"_s, "x");
        RecordingSink sink;
        ReplaceAsSettings settings;
        if (outpath != u"-"_s)
            settings.outpath = tmp->path() + u'/' + outpath;
        SaveDialog dlg(nullptr, sink, settings, {});
        const QString folder = tmp->path() + u'/' + expected;
        QCOMPARE(dlg.folder(), folder);
        // A folder on a mount the system does not list (as in a bare chroot) shows "/".
        const QString root = QStorageInfo(folder).rootPath();
        QCOMPARE(dlg.Drive1()->currentText(), root.isEmpty() ? u"/"_s : root);
        QCOMPARE(dlg.Dir1()->currentIndex(), dlg.folderModel()->index(folder));
        // Saving right away takes the folder that is open.
        dlg.Command1_Click();
        QCOMPARE(settings.outpath, folder);
        QCOMPARE(sink.texts(), QStringList());
    }

    void folderNavigation()
    {
        const QString deep = makeFolder(u"a rather long folder name/another long folder name/yet another one/last"_s);
        const QString sub = makeFolder(u"a rather long folder name/another long folder name/yet another one/last/sub"_s);
        RecordingSink sink;
        ReplaceAsSettings settings {deep, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        // The label keeps the end of the path, cut after a "/", and fits Dir1.
        const QString caption = dlg.lblActFolder()->text();
        QCOMPARE(caption.left(4), u"/..."_s);
        QVERIFY2(deep.endsWith(u'/' + caption.mid(4)), qPrintable(caption));
        QCOMPARE(caption.section(u'/', -1), u"last"_s);
        QCOMPARE_LE(dlg.lblActFolder()->width(), dlg.Dir1()->width());
        // A double click opens the folder: a click, then the double-click, as the system delivers them.
        const QModelIndex index = dlg.folderModel()->index(sub);
        QTRY_VERIFY(dlg.Dir1()->visualRect(index).isValid());
        const QPoint at = dlg.Dir1()->visualRect(index).center();
        QTest::mouseClick(dlg.Dir1()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dlg.Dir1()->viewport(), Qt::LeftButton, {}, at);
        const auto state = [&] { return QStringList({dlg.folder(), dlg.Drive1()->currentText(), dlg.lblActFolder()->text()}); };
        const QStringList atSub = state();
        QCOMPARE(atSub[0] + atSub[2].section(u'/', -1), sub + u"sub"_s);
        QCOMPARE(dlg.Dir1()->currentIndex(), index);
        QCOMPARE(sink.texts(), QStringList());
        // A drive that is not there is reported and changes nothing.
        dlg.Drive1()->addItem(tmp->path() + u"/no such volume"_s);
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);
        QCOMPARE(sink.texts(), QStringList {u"Drive "_s + tmp->path() + u"/no such volume not available."_s});
        QCOMPARE(std::pair(sink.shown.first().icon, sink.shown.first().title), std::pair(MessageSink::Icon::Exclamation, u"Perrox"_s));
        QCOMPARE(state(), atSub);
        // A drive that is there opens at its root.
        const QString volume = makeFolder(u"volume"_s);
        dlg.Drive1()->addItem(volume);
        dlg.Drive1()->setCurrentIndex(dlg.Drive1()->count() - 1);
        QCOMPARE(dlg.folder(), volume);
        QCOMPARE(sink.shown.size(), 1);
        // A short path is shown whole, and Save takes the open folder.
        QVERIFY(dlg.OpenFolder(u"/"_s));
        QCOMPARE(dlg.lblActFolder()->text(), u"/"_s);
        dlg.Command1_Click();
        QCOMPARE(settings.outpath, u"/"_s);
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
        const QString open = makeFolder(u"open"_s);
        makeFolder(u"open/Old"_s);
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
        for (const RecordingSink::Shown &shown : sink.shown)
            QCOMPARE(shown.icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.beeps, 0);
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
        FolderMasks masks {u"src"_s, u"backup"_s, u"*.txt"_s, u"*.bak"_s};
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
            QCOMPARE_GE(control->height(), control->sizeHint().height());
            const QRect at(control->mapTo(&dlg, QPoint()), control->size());
            QCOMPARE_GT(at.top(), above);
            QCOMPARE_LT(at.bottom(), dlg.tbsOptions()->geometry().bottom());
            above = at.bottom();
        }
        QCOMPARE((FolderMasks {fields[0]->text(), fields[1]->text(), fields[2]->text(), fields[3]->text()}), masks);
        QCOMPARE(shownUndo(), undo);
        QVERIFY(!dlg.chkKeepTimes()->isChecked());
        QList<QKeySequence> mnemonics {QKeySequence::mnemonic(dlg.chkKeepJournal()->text()), QKeySequence::mnemonic(dlg.chkKeepTimes()->text())};
        for (const QLabel *label : dlg.findChildren<QLabel *>())
            mnemonics << QKeySequence::mnemonic(label->text());
        QCOMPARE(QSet<QKeySequence>(mnemonics.cbegin(), mnemonics.cend()).size(), mnemonics.size());
        const auto limitsEnabled = [&] { return QList<bool> {dlg.spnMaxRuns()->isEnabled(), dlg.spnMaxMegabytes()->isEnabled()}; };
        QCOMPARE(limitsEnabled(), QList<bool>(2, true));
        QCOMPARE_GT(dlg.cmdOK()->y(), dlg.tbsOptions()->geometry().bottom());
        QCOMPARE_LT(dlg.cmdOK()->geometry().bottom(), dlg.height());
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
        QCOMPARE(limitsEnabled(), QList<bool>(2, false));
        dlg.spnMaxRuns()->setValue(5000);
        dlg.spnMaxMegabytes()->setValue(0);
        dlg.cmdApply()->click();
        QVERIFY(dlg.isVisible());
        const FolderMasks applied {u"lib"_s, u".git ; tmp"_s, u"\t*.c"_s, QString()};
        QCOMPARE(masks, applied);
        QCOMPARE(undo, (UndoOptions {false, 1000, 1}));
        QVERIFY(keepTimes);
        QCOMPARE(dlg.edIncludeFiles()->text(), u"\t*.c "_s);
        dlg.edIncludeFiles()->setText(u" *.doc"_s);
        dlg.edExcludeDirectories()->setText(u"backup"_s);
        dlg.chkKeepJournal()->click();
        QCOMPARE(limitsEnabled(), QList<bool>(2, true));
        dlg.spnMaxMegabytes()->setValue(2000000);
        dlg.chkKeepTimes()->click();
        how == u"escape"_s ? QTest::keyClick(&dlg, Qt::Key_Escape) : (how == u"ok"_s ? dlg.cmdOK() : dlg.cmdCancel())->click();
        const bool ok = how == u"ok"_s;
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
        QCOMPARE((QList<bool> {
                     dlg.chkKeepJournal()->isChecked(), dlg.spnMaxRuns()->isEnabled(), dlg.spnMaxMegabytes()->isEnabled(), dlg.chkKeepTimes()->isChecked()}),
            (QList<bool> {false, false, false, true}));
        QCOMPARE(dlg.spnMaxMegabytes()->value(), 5);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.edIncludeFiles()->setFocus();
        QTest::keyClick(dlg.edIncludeFiles(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(dlg.tbsOptions()->currentIndex(), 0);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.edIncludeFiles()->text(), QString());
        // With a second tab it moves on and wraps round.
        dlg.tbsOptions()->addTab(new QWidget, u"Second"_s);
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
            QCOMPARE_LT(label->geometry().right(), box.width());
            QCOMPARE(label->width(), label->sizeHint().width());
        }
        QCOMPARE_GT(box.lblWWW()->x(), box.Label4()->geometry().right());
        QCOMPARE_LT(box.Command1()->geometry().right(), box.width());
        // The link and the image open the web address; other labels do nothing.
        QTest::mouseClick(box.lblWWW(), Qt::LeftButton);
        QTest::mouseClick(box.Image1(), Qt::LeftButton);
        QTest::mouseClick(box.lblVersion(), Qt::LeftButton);
        QCOMPARE(opened, (QList<QUrl> {QUrl(u"https://perrox.example.org"_s), QUrl(u"https://perrox.example.org"_s)}));
        QVERIFY(box.isVisible());
        box.Command1()->click();
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void helpOpensOrReports_data()
    {
        QTest::addColumn<QString>("help"); // what the program folder holds as help.txt: a "file", a "folder" or nothing
        QTest::addColumn<bool>("opens"); // the desktop has a program for it
        QTest::addColumn<QString>("message"); // %1: the path
        const QString missing
            = u"Cannot find the help file\r%1\r\rThe file shipped with the application and should be \rlocated in the same directory as the "_s
              u"program file."_s;
        QTest::newRow("present") << u"file"_s << true << QString();
        QTest::newRow("present, no program opens it")
            << u"file"_s << false << u"Cannot open the help file\r%1\r\rThe desktop has no program to open text files. Open the file \rwith a text editor."_s;
        QTest::newRow("missing") << QString() << true << missing;
        QTest::newRow("a folder named help.txt") << u"folder"_s << true << missing;
    }
    void helpOpensOrReports()
    {
        QFETCH(QString, help);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        const QString programFolder = makeFolder(u"my programs/perrox"_s), path = programFolder + u"/help.txt"_s;
        if (help == u"file"_s)
            QVERIFY(test::WriteFile(path, "help"));
        if (help == u"folder"_s)
            QVERIFY(QDir().mkdir(path));
        RecordingSink sink;
        QList<QUrl> opened;
        ShowHelp(
            sink, [&](const QUrl &url) { return opened << url, opens; }, programFolder);
        QCOMPARE(opened, help == u"file"_s ? QList<QUrl> {QUrl::fromLocalFile(path)} : QList<QUrl>());
        QCOMPARE(sink.texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(path)});
        for (const RecordingSink::Shown &shown : sink.shown)
            QCOMPARE(std::tuple(shown.icon, shown.buttons, shown.title), std::tuple(MessageSink::Icon::Exclamation, MessageSink::Buttons::Ok, u"Perrox"_s));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
