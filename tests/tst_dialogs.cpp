// The Save As, Options and About dialogs and the help command. No dialog runs its own event loop here: the tests show
// them with open() and press their buttons and keys directly.

#include "app/aboutbox.h"
#include "app/help.h"
#include "app/savedialog.h"
#include "engine/processfiles.h"
#include "files/filesystem.h"
#include "files/foldermasks.h"
#include "files/optionsdialog.h"
#include "files/undooptions.h"
#include "support/testsupport.h"

#include <QFileSystemModel>
#include <QStorageInfo>
#include <QtTest>
#include <QtWidgets>

#include <unistd.h>

using namespace perrox;
using namespace Qt::StringLiterals;
using perrox::test::RecordingSink;
using perrox::test::WriteFile;

namespace {

QStringList ListTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// Each name of the Save As preview: "!" where it is marked with the warning sign, the name, and its tooltip in brackets.
QStringList MarkedTexts(const QListWidget *list)
{
    const QImage warning = list->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16).toImage();
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem *item = list->item(i);
        const QString mark = item->icon().isNull() ? QString() : item->icon().pixmap(16).toImage() == warning ? u"!"_s : u"?"_s;
        texts << mark + item->text() + (item->toolTip().isEmpty() ? QString() : u" ("_s + item->toolTip() + u')');
    }
    return texts;
}

// The name preview of the Save As dialog over the files of s/ (a/README, a/.txt, b/README, b/x.txt, l a link to a/README,
// h a hard link to b/x.txt): rows, the folder opened, prefix, suffix, whether the folder structure box is clicked on, and
// what the preview shows.
const std::tuple<const char *, QStringList, const char *, const char *, const char *, bool, QStringList> kPreviews[] = {
    {"two names alike", {u"s/a/README"_s, u"s/b/README"_s}, "out", "", "", false,
        {u"!README (The same name as row 2.)"_s, u"!README (The same name as row 1.)"_s}},
    {"two names alike, folders kept", {u"s/a/README"_s, u"s/b/README"_s}, "out", "", "", true, {u"a/README"_s, u"b/README"_s}},
    {"folders kept below the common folder", {u"s/b/x.txt"_s, u"s/a/README"_s}, "out", "n_", "", true, {u"b/n_x.txt"_s, u"a/n_README"_s}},
    {"one file by three names", {u"s/a/README"_s, u"s/l"_s, u"s/b/x.txt"_s, u"s/h"_s}, "out", "", "", false,
        {u"README"_s, u"l (The same file as row 1; its result is written once.)"_s, u"x.txt"_s, u"h (The same file as row 3; its result is written once.)"_s}},
    {"onto its own source", {u"s/a/README"_s}, "s/a", "", "", false, {u"!README (The result would take the place of this file itself.)"_s}},
    {"onto its own source, listed by a hard link too", {u"s/b/x.txt"_s, u"s/h"_s, u"s/a/README"_s}, "s/b", "", "", false,
        {u"!x.txt (The result would take the place of this file itself.)"_s, u"h (The same file as row 1; its result is written once.)"_s, u"README"_s}},
    {"a prefix making a listed name", {u"s/b/x.txt"_s, u"s/a/.txt"_s}, "s/b", "x", "", false,
        {u"xx.txt"_s, u"!x.txt (The result would take the place of the file of row 1.)"_s}},
};

QStringList FolderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> tmp;
    QString savedCurrent;

    QString makeFolder(const QString &relative) { return QDir().mkpath(tmp->filePath(relative)), tmp->filePath(relative); }

private slots:
    void namePreview_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kPreviews)); ++i)
            QTest::newRow(std::get<0>(kPreviews[i])) << i;
    }
    // The preview marks the names Replace As would refuse, as the folder, the fields and the box change; Save keeps the
    // box, and the next dialog opens with it.
    void namePreview()
    {
        QFETCH(int, row);
        const auto &[name, rows, folder, prefix, suffix, keep, expected] = kPreviews[row];
        makeFolder(u"s/a"_s), makeFolder(u"s/b"_s);
        for (const QString &made : {u"a/README"_s, u"a/.txt"_s, u"b/README"_s, u"b/x.txt"_s})
            QVERIFY(WriteFile(tmp->filePath(u"s/"_s + made), "x"));
        QCOMPARE(::symlink("a/README", NativePath(tmp->filePath(u"s/l"_s)).constData()), 0);
        QCOMPARE(::link(NativePath(tmp->filePath(u"s/b/x.txt"_s)).constData(), NativePath(tmp->filePath(u"s/h"_s)).constData()), 0);
        QStringList paths;
        for (const QString &r : rows)
            paths << tmp->filePath(r);
        RecordingSink sink;
        ReplaceAsSettings settings {makeFolder(QString::fromLatin1(folder)), {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, paths);
        dlg.open();
        QTest::keyClicks(dlg.edPrefix(), QString::fromLatin1(prefix));
        QTest::keyClicks(dlg.edSuffix(), QString::fromLatin1(suffix));
        if (keep)
            QTest::mouseClick(dlg.chkKeepFolders(), Qt::LeftButton, {}, QPoint(6, dlg.chkKeepFolders()->height() / 2));
        QCOMPARE(dlg.chkKeepFolders()->isChecked(), keep);
        QCOMPARE(MarkedTexts(dlg.List1()), expected);
        // Another folder, where nothing of the list stands: only the names alike stay marked.
        QVERIFY(dlg.OpenFolder(makeFolder(u"elsewhere"_s)));
        QCOMPARE(MarkedTexts(dlg.List1()).filter(u"place of"_s), QStringList());
        QTest::mouseClick(dlg.Command1(), Qt::LeftButton);
        QCOMPARE(settings.keepFolders, keep);
        SaveDialog again(nullptr, sink, settings, paths);
        QCOMPARE(again.chkKeepFolders()->isChecked(), keep);
        QCOMPARE(sink.texts(), QStringList());
        QCOMPARE(sink.beeps, 0);
    }

    void init() { tmp = std::make_unique<QTemporaryDir>(), savedCurrent = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(savedCurrent), tmp.reset(); }

    // The prefix and suffix fields drop what cannot be in a file name, typed or pasted, with one beep; the example
    // list shows the rows' names in row order, duplicates kept, renamed as the fields change. A remembered folder that
    // has gone: the dialog opens at the current folder. The cases: the suffix or the prefix; its text with "|" at the
    // caret; what is typed ("paste " and a pasted text); the text with the caret afterwards and the beeps.
    void saveCleansPrefixAndSuffix()
    {
        const std::tuple<bool, QString, QString, QString> cases[] = {{false, u"a|b"_s, u":"_s, u"a|b 1"_s}, {true, u"|ab"_s, u"*"_s, u"|ab 1"_s},
            {false, u"|"_s, u"x.y-z ~#"_s, u"x.y-z ~#| 0"_s}, {false, u"|"_s, u"paste a<b>c"_s, u"abc| 1"_s}};
        QVERIFY(QDir::setCurrent(tmp->path()));
        for (const auto &[suffix, start, typed, expected] : cases) {
            RecordingSink sink;
            ReplaceAsSettings settings {tmp->filePath(u"gone"_s), {}, {}, 0};
            SaveDialog dlg(nullptr, sink, settings, {u"/data/report.txt"_s, u"/my.folder/file"_s, u"/data/report.txt"_s});
            QCOMPARE(dlg.folder(), tmp->path());
            dlg.open();
            QLineEdit *field = suffix ? dlg.edSuffix() : dlg.edPrefix();
            field->setText(QString(start).remove(u'|'));
            field->setCursorPosition(int(start.indexOf(u'|')));
            typed.startsWith(u"paste "_s) ? field->insert(typed.mid(6)) : QTest::keyClicks(field, typed);
            QCOMPARE(QString(field->text()).insert(field->cursorPosition(), u'|') + u" %1"_s.arg(sink.beeps), expected);
            QCOMPARE(sink.texts(), QStringList());
            const QString t = field->text(), report = suffix ? u"report"_s + t + u".txt"_s : t + u"report.txt"_s;
            QCOMPARE(ListTexts(dlg.List1()), (QStringList {report, suffix ? u"file"_s + t : t + u"file"_s, report}));
        }
    }

    // Prefix, suffix and overwrite start afresh, the folder is remembered; Save takes them all, Cancel, Escape and the
    // close box none.
    void saveOrCancel()
    {
        const QString target = makeFolder(u"out"_s), other = makeFolder(u"out/other"_s);
        for (const auto &[how, tick] : {std::pair {u"save"_s, true}, {u"save"_s, false}, {u"cancel"_s, true}, {u"escape"_s, true}, {u"close"_s, true}}) {
            RecordingSink sink;
            ReplaceAsSettings settings {target, u"old_"_s, u"_old"_s, 1};
            SaveDialog dlg(nullptr, sink, settings, {});
            dlg.open();
            QCOMPARE(u"%1|%2|%3|%4 %5"_s.arg(dlg.folder(), dlg.edPrefix()->text(), dlg.edSuffix()->text()).arg(dlg.chkOverwrite()->isChecked()).arg(dlg.g_rv()),
                target + u"|||0 2"_s);
            QVERIFY(dlg.OpenFolder(other));
            QTest::keyClicks(dlg.edPrefix(), u"new_"_s);
            QTest::keyClicks(dlg.edSuffix(), u"_v2"_s);
            dlg.chkOverwrite()->setChecked(tick);
            if (how == u"escape"_s || how == u"close"_s)
                how == u"close"_s ? (void)dlg.close() : QTest::keyClick(&dlg, Qt::Key_Escape);
            else
                QTest::mouseClick(how == u"save"_s ? dlg.Command1() : dlg.Command2(), Qt::LeftButton);
            const bool saved = how == u"save"_s;
            QCOMPARE(
                std::tuple(dlg.isVisible(), dlg.g_rv(), dlg.result()), std::tuple(false, saved ? 1 : 2, int(saved ? QDialog::Accepted : QDialog::Rejected)));
            QCOMPARE(QStringList({settings.outpath, settings.outprefix, settings.outsuffix, QString::number(settings.outoverwrite)}).join(u'|'),
                saved ? u"%1|new_|_v2|%2"_s.arg(other).arg(int(tick)) : target + u"|old_|_old|1"_s);
        }
    }

    void folderNavigation()
    {
        const QString deep = makeFolder(u"a rather long folder name/another long folder name/yet another one/last"_s);
        const QString sub = makeFolder(u"a rather long folder name/another long folder name/yet another one/last/sub"_s);
        RecordingSink sink;
        ReplaceAsSettings settings {deep + u'/', {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        // It opens at the remembered folder (a final "/" is no matter) on its drive ("/" for a mount the system does not
        // list, as in a bare chroot). The folder line holds the whole path, its end in sight, and fits Dir1.
        const QString root = QStorageInfo(deep).rootPath();
        QCOMPARE(dlg.folder() + u' ' + dlg.Drive1()->currentText(), deep + u' ' + (root.isEmpty() ? u"/"_s : root));
        QCOMPARE(std::pair(dlg.edFolder()->text(), dlg.edFolder()->cursorPosition()), std::pair(deep, int(deep.size())));
        QCOMPARE_LE(dlg.edFolder()->width(), dlg.Dir1()->width());
        // A double click opens the folder: a click, then the double-click, as the system delivers them. The row is
        // scrolled into sight first; the tree fills in as the model reads folders, which can move a row under the
        // pointer, and then it is clicked again.
        const QModelIndex index = dlg.folderModel()->index(sub);
        for (int attempt = 0; attempt < 20 && dlg.folder() != sub; ++attempt) {
            dlg.Dir1()->scrollTo(index);
            QTRY_VERIFY(dlg.Dir1()->viewport()->rect().contains(dlg.Dir1()->visualRect(index).center()));
            QTest::qWait(50);
            const QPoint at = dlg.Dir1()->visualRect(index).center();
            QTest::mouseClick(dlg.Dir1()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(dlg.Dir1()->viewport(), Qt::LeftButton, {}, at);
        }
        const auto state = [&] { return QStringList({dlg.folder(), dlg.Drive1()->currentText(), dlg.edFolder()->text()}); };
        const QStringList atSub = state();
        QCOMPARE(atSub[0] + u' ' + atSub[2], sub + u' ' + sub);
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
        QCOMPARE(dlg.folder() + u' ' + QString::number(sink.shown.size()), volume + u" 1"_s);
        // A short path is shown whole, and Save takes the open folder.
        QVERIFY(dlg.OpenFolder(u"/"_s));
        QCOMPARE(dlg.edFolder()->text(), u"/"_s);
        QTest::mouseClick(dlg.Command1(), Qt::LeftButton);
        QCOMPARE(settings.outpath, u"/"_s);
    }

    // New Folder asks for a name, drops what cannot be in one, makes the folder in the open one and opens it (one that is
    // there already is opened); no name or one of question marks only makes nothing; a failure is reported.
    void newFolder()
    {
        // The answer; whether the open folder goes before the click; its entries afterwards; the message after its path;
        // the folder open afterwards, below the one open before.
        const std::tuple<QString, bool, QStringList, QString, QString> cases[] = {{u"NewFolder"_s, false, {u"NewFolder"_s, u"Old"_s}, {}, u"/NewFolder"_s},
            {u"a:b*c/d"_s, false, {u"Old"_s, u"abcd"_s}, {}, u"/abcd"_s}, {u"???"_s, false, {u"Old"_s}, {}, {}}, {QString(), false, {u"Old"_s}, {}, {}},
            {u"Old"_s, false, {u"Old"_s}, {}, u"/Old"_s}, {u"NewFolder"_s, true, {}, u"/NewFolder - No such file or directory"_s, {}}};
        int i = 0;
        for (const auto &[answer, vanish, entries, message, opened] : cases) {
            const QString open = makeFolder(u"open%1/Old"_s.arg(++i)).chopped(4);
            RecordingSink sink;
            ReplaceAsSettings settings {open, {}, {}, 0};
            SaveDialog dlg(nullptr, sink, settings, {});
            QStringList asked;
            dlg.inputBoxHook
                = [&](const QString &prompt, const QString &title, const QString &text, const QPoint &) { return asked << prompt << title << text, answer; };
            dlg.open();
            if (vanish)
                QVERIFY(QDir(open).removeRecursively());
            QTest::mouseClick(dlg.Command3(), Qt::LeftButton);
            QCOMPARE(asked, (QStringList {u"Type the name of the folder and click OK."_s, u"Perrox - Create Folder"_s, u"NewFolder"_s}));
            QCOMPARE(FolderEntries(open), entries);
            QCOMPARE(dlg.folder() + u' ' + QString::number(dlg.isVisible()), open + opened + u" 1"_s);
            QCOMPARE(sink.texts(), message.isEmpty() ? QStringList() : QStringList {open + message});
            for (const RecordingSink::Shown &shown : sink.shown)
                QCOMPARE(shown.icon, MessageSink::Icon::Exclamation);
            QCOMPARE(sink.beeps, 0);
        }
    }

    // Enter in the folder tree saves to the highlighted folder; a path typed in the folder line (absolute, relative to
    // the open folder, from "~") is opened by Enter without saving and taken by Save; one that is no folder to open is
    // reported and leaves everything as it was. Typed (empty: a click highlights "b" in the tree), how the
    // dialog is left (Enter in the tree or the line, or a click on Save), the folder open afterwards ("" stays at the
    // start), whether it saved, the message. What cannot be opened stays in the line, to be corrected.
    void folderKeys_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("message");
        QTest::newRow("highlighted, Enter") << QString() << u"tree"_s << u"/b"_s << true << QString();
        QTest::newRow("absolute, Enter") << u"%1/a/deep"_s << u"line"_s << u"/a/deep"_s << false << QString();
        QTest::newRow("relative, Enter") << u"../b"_s << u"line"_s << u"/b"_s << false << QString();
        QTest::newRow("relative, Save") << u"deep"_s << u"save"_s << u"/a/deep"_s << true << QString();
        QTest::newRow("home") << u"~"_s << u"line"_s << u"~"_s << false << QString();
        QTest::newRow("missing, Enter") << u"none"_s << u"line"_s << QString() << false << u"The folder %1/a/none does not exist."_s;
        QTest::newRow("missing, Save") << u"%1/none"_s << u"save"_s << QString() << false << u"The folder %1/none does not exist."_s;
        QTest::newRow("a file") << u"%1/a/file"_s << u"line"_s << QString() << false << u"The folder %1/a/file does not exist."_s;
    }
    void folderKeys()
    {
        QFETCH(QString, typed);
        QFETCH(QString, how);
        QFETCH(QString, opened);
        QFETCH(bool, saved);
        QFETCH(QString, message);
        const QString start = makeFolder(u"a"_s);
        makeFolder(u"a/deep"_s), makeFolder(u"b"_s);
        QVERIFY(test::WriteFile(tmp->filePath(u"a/file"_s), "x"));
        RecordingSink sink;
        ReplaceAsSettings settings {start, {}, {}, 0};
        SaveDialog dlg(nullptr, sink, settings, {});
        dlg.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        if (typed.isEmpty()) {
            // The model reads folders in the background: once "a" shows its subfolder, "b" stays where it is.
            QTRY_COMPARE(dlg.folderModel()->rowCount(dlg.folderModel()->index(start)), 1);
            const QModelIndex b = dlg.folderModel()->index(tmp->filePath(u"b"_s));
            dlg.Dir1()->scrollTo(b);
            QTest::mouseClick(dlg.Dir1()->viewport(), Qt::LeftButton, {}, dlg.Dir1()->visualRect(b).center());
            QTRY_COMPARE(dlg.folderModel()->filePath(dlg.Dir1()->currentIndex()), tmp->filePath(u"b"_s));
            QTest::keyClick(dlg.Dir1(), Qt::Key_Return);
        } else {
            dlg.edFolder()->selectAll();
            QTest::keyClicks(dlg.edFolder(), QString(typed).replace(u"%1"_s, tmp->path()));
            how == u"save"_s ? QTest::mouseClick(dlg.Command1(), Qt::LeftButton) : QTest::keyClick(dlg.edFolder(), Qt::Key_Return);
        }
        const QString expected = opened.isEmpty() ? start : opened == u"~"_s ? QDir::homePath() : tmp->path() + opened;
        QCOMPARE(
            QStringList({dlg.folder(), dlg.edFolder()->text()}), QStringList({expected, message.isEmpty() ? expected : typed.replace(u"%1"_s, tmp->path())}));
        QCOMPARE(std::pair(dlg.g_rv(), dlg.isVisible()), std::pair(saved ? 1 : 2, !saved));
        QCOMPARE(settings.outpath, saved ? expected : start);
        QCOMPARE(sink.texts(), message.isEmpty() ? QStringList() : QStringList {QString(message).replace(u"%1"_s, tmp->path())});
    }

    void optionsApplyThenClose_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"cancel", "escape", "ok"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void optionsApplyThenClose()
    {
        QFETCH(QString, how);
        FolderMasks masks {u"src"_s, u"backup"_s, u"*.txt"_s, u"*.bak"_s};
        UndoOptions undo {true, 20, 1024};
        bool keepTimes = false;
        int maxMatch = 1024;
        bool askFirst = true;
        OptionsDialog dlg(nullptr, masks, undo, keepTimes, maxMatch, askFirst);
        dlg.open();
        const auto click = [](QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2)); };
        const QList<QLineEdit *> fields = {dlg.edIncludeDirectories(), dlg.edExcludeDirectories(), dlg.edIncludeFiles(), dlg.edExcludeFiles()};
        const auto text = [&](int i) { return fields[i]->text(); };
        // The masks, the journal and its limits (enabled or not), the times and the question as the controls show them.
        const auto shown = [&] {
            return u"%1|%2|%3|%4 %5 %6 %7 %8 %9 %10"_s.arg(text(0), text(1), text(2), text(3))
                .arg(dlg.chkKeepJournal()->isChecked())
                .arg(dlg.spnMaxRuns()->value())
                .arg(dlg.spnMaxMegabytes()->value())
                .arg(dlg.spnMaxRuns()->isEnabled() && dlg.spnMaxMegabytes()->isEnabled() ? u"limits"_s : u"off"_s)
                .arg(dlg.chkKeepTimes()->isChecked())
                .arg(dlg.chkAskFirst()->isChecked());
        };
        QCOMPARE(shown(), u"src|backup|*.txt|*.bak 1 20 1024 limits 0 1"_s);
        // Apply trims spaces (only spaces), keeps the dialog and the typed text, the limits while the journal is off, and
        // holds a value beyond a limit at it.
        const QStringList typed = {u"  lib  "_s, u" .git ; tmp "_s, u"\t*.c "_s, QString()};
        for (int i = 0; i < 4; ++i)
            fields[i]->setText(typed[i]);
        click(dlg.chkKeepJournal());
        click(dlg.chkKeepTimes());
        click(dlg.chkAskFirst());
        dlg.spnMaxRuns()->setValue(5000);
        dlg.spnMaxMegabytes()->setValue(0);
        QCOMPARE(shown(), u"  lib  | .git ; tmp |\t*.c | 0 1000 1 off 1 0"_s);
        QCOMPARE(dlg.spnMaxMatch()->value(), 1024);
        dlg.spnMaxMatch()->setValue(0);
        click(dlg.cmdApply());
        QCOMPARE(maxMatch, 1);
        QVERIFY(dlg.isVisible());
        const FolderMasks applied {u"lib"_s, u".git ; tmp"_s, u"\t*.c"_s, QString()};
        QCOMPARE(masks, applied);
        QCOMPARE(undo, (UndoOptions {false, 1000, 1}));
        QVERIFY(keepTimes);
        QCOMPARE(dlg.edIncludeFiles()->text(), u"\t*.c "_s);
        // Then OK applies and closes; Cancel and Escape close and keep what was applied.
        dlg.edIncludeFiles()->setText(u" *.doc"_s);
        dlg.edExcludeDirectories()->setText(u"backup"_s);
        click(dlg.chkKeepJournal());
        dlg.spnMaxMegabytes()->setValue(2000000);
        click(dlg.chkKeepTimes());
        click(dlg.chkAskFirst());
        QCOMPARE(shown().section(u' ', -5), u"1000 1048576 limits 0 1"_s);
        // Ctrl+Tab keeps the one tab; with a second it moves on and wraps round.
        QTest::keyClick(dlg.edIncludeFiles(), Qt::Key_Tab, Qt::ControlModifier);
        QList<int> tabs {dlg.tbsOptions()->currentIndex()};
        dlg.tbsOptions()->addTab(new QWidget, u"Second"_s);
        QTest::keyClick(dlg.edIncludeFiles(), Qt::Key_Tab, Qt::ControlModifier);
        tabs << dlg.tbsOptions()->currentIndex();
        dlg.SelectNextTab();
        QCOMPARE(tabs << dlg.tbsOptions()->currentIndex(), QList<int>({0, 1, 0}));
        how == u"escape"_s ? QTest::keyClick(&dlg, Qt::Key_Escape) : click(how == u"ok"_s ? dlg.cmdOK() : dlg.cmdCancel());
        const bool ok = how == u"ok"_s;
        QCOMPARE(std::pair(dlg.isVisible(), dlg.result()), std::pair(false, int(ok ? QDialog::Accepted : QDialog::Rejected)));
        QCOMPARE(masks, (ok ? FolderMasks {u"lib"_s, u"backup"_s, u"*.doc"_s, QString()} : applied));
        QCOMPARE(undo, (UndoOptions {ok, 1000, ok ? 1048576 : 1}));
        QCOMPARE(keepTimes, !ok);
        QCOMPARE(askFirst, ok);
        // The check box below the other controls, none cut off.
        QVERIFY(dlg.chkAskFirst()->mapTo(&dlg, QPoint(0, dlg.chkAskFirst()->height())).y() <= dlg.cmdOK()->y());
    }

    // The link and the image open the web address; other labels do nothing.
    void aboutBoxLink()
    {
        AboutBox box(nullptr);
        QList<QUrl> opened;
        box.openUrlHook = [&](const QUrl &url) { return opened << url, true; };
        box.open();
        for (const QLabel *label : {box.Label1(), box.lblVersion(), box.lblDescription(), box.lblCopyright(), box.Label4(), box.lblWWW()}) // none cut off
            QCOMPARE(std::pair(label->geometry().right() < box.width(), label->width()), std::pair(true, label->sizeHint().width()));
        QTest::mouseClick(box.lblWWW(), Qt::LeftButton);
        QTest::mouseClick(box.Image1(), Qt::LeftButton);
        QTest::mouseClick(box.lblVersion(), Qt::LeftButton);
        QCOMPARE(opened, (QList<QUrl> {QUrl(u"https://perrox.example.org"_s), QUrl(u"https://perrox.example.org"_s)}));
        QVERIFY(box.isVisible());
        QTest::mouseClick(box.Command1(), Qt::LeftButton);
        QCOMPARE(std::pair(box.isVisible(), box.result()), std::pair(false, int(QDialog::Accepted)));
    }

    // Help opens help.txt of the program's folder through the desktop; when it is not there, or no program opens it,
    // a message says so.
    void helpOpensOrReports()
    {
        const QString missing
            = u"Cannot find the help file\r%1\r\rThe file shipped with the application and should be \rlocated in the same directory as the "_s
              u"program file."_s;
        // What the program folder holds as help.txt, whether the desktop opens it, the message (%1: the path).
        const std::tuple<QString, bool, QString> cases[] = {{u"file"_s, true, QString()},
            {u"file"_s, false, u"Cannot open the help file\r%1\r\rThe desktop has no program to open text files. Open the file \rwith a text editor."_s},
            {QString(), true, missing}, {u"folder"_s, true, missing}};
        int i = 0;
        for (const auto &[help, opens, message] : cases) {
            const QString programFolder = makeFolder(u"my programs/perrox%1"_s.arg(++i)), path = programFolder + u"/help.txt"_s;
            if (help == u"file"_s)
                QVERIFY(test::WriteFile(path, "help"));
            if (help == u"folder"_s)
                QVERIFY(QDir().mkdir(path));
            RecordingSink sink;
            QList<QUrl> opened;
            ShowHelp(
                sink, [&, opens = opens](const QUrl &url) { return opened << url, opens; }, programFolder);
            QCOMPARE(opened, help == u"file"_s ? QList<QUrl> {QUrl::fromLocalFile(path)} : QList<QUrl>());
            QCOMPARE(sink.texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(path)});
            for (const RecordingSink::Shown &shown : sink.shown)
                QCOMPARE(std::tuple(shown.icon, shown.buttons, shown.title), std::tuple(MessageSink::Icon::Exclamation, MessageSink::Buttons::Ok, u"Perrox"_s));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
