// What goes with a run of the main window: the progress window and its Cancel, a rewrite left unfinished by a killed
// program, Undo Replace and the journal behind it, and the Matches window.

#include "app/matcheswindow.h"
#include "app/runresults.h"
#include "commit/rewritejournal.h"
#include "engine/progressscale.h"
#include "engine/undorun.h"
#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QtWidgets>

#include <fcntl.h>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// The Matches window on "abcabc" with the pair find -> X (b -> Y after the run): the name, the find, the run, what the
// file gets after it ("gone": removed), a double click or else Show Matches, the message (%1: the path) when it does not
// open, and what it shows: the pairs line, the pairs row (number, find, replace, run, now), "changed", the showing line.
const std::tuple<const char *, QString, std::optional<RunMode>, QByteArray, bool, QString, QString> kMatches[] = {
    {"no run: the current pairs", u"a"_s, {}, {}, true, {}, u"Current pairs; no run has reached this file yet. / 1,61,58,,2 /  / 2 occurrences."_s},
    {"unchanged since Count", u"a"_s, RunMode::Count, {}, false, {}, u"Pairs of the last run (Count). / 1,61,58,2,2 /  / 2 occurrences."_s},
    {"changed since Count", u"a"_s, RunMode::Count, "xa", true, {}, u"Pairs of the last run (Count). / 1,61,58,2,1 / changed / 1 occurrence."_s},
    {"Replace leaves what it wrote", u"a"_s, RunMode::Replace, {}, false, {}, u"Pairs of the last run (Replace). / 1,61,58,2,0 /  / No occurrences."_s},
    {"gone since Count", u"a"_s, RunMode::Count, "gone", true, FileErrorMessage(ENOENT, u"%1"_s), {}},
    {"no current pair", QString(), {}, {}, false, u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s, {}},
};

// Undo after a Replace of "a" by "XY" in a ("one a") and b ("two a"): the name, the journal kept, the answer, what b
// holds when Undo comes, the summary (%1: b's path), both files and the command's caption afterwards, the rows' cells
// and marks ("~" dimmed, "u" the undone tooltip, "r" the run's) and the totals, then the caption after the command once more (a Redo;
// empty: not tried) and the files then.
const std::tuple<const char *, bool, MessageSink::Answer, QByteArray, QString, QByteArray, QByteArray, QString, QString, QString, QByteArray> kUndos[] = {
    {"Yes restores every file", true, MessageSink::Answer::Yes, {}, u"2 of 2 files were restored."_s, "one a", "two a", u"&Redo Replace (2 files)"_s,
        u"undone ~u|undone ~u|"_s, u"&Undo Replace (2 files)"_s, "one XY|two XY"},
    {"No changes nothing", true, MessageSink::Answer::No, {}, {}, "one XY", "two XY", u"&Undo Replace (2 files)"_s, u"1 r|1 r|2 occurrences in 2 of 2 files"_s,
        {}, {}},
    {"a file changed since is left alone", true, MessageSink::Answer::Yes, "mine",
        u"1 of 2 files were restored.\r\n\r\nThese files were left as they are:\r\nThe file %1 was changed after the run; it was left as it is."_s, "one a",
        "mine", u"&Redo Replace (1 file)"_s, u"undone ~u|1 r|"_s, u"&Undo Replace (1 file)"_s, "one XY|mine"},
    {"journal off", false, MessageSink::Answer::Yes, {}, {}, "one XY", "two XY", u"&Undo Replace"_s, u"1 r|1 r|2 occurrences in 2 of 2 files"_s, {}, {}},
};

// Replace Checked in the Matches window of "abcabcabc" with the pair a -> XY: the name, a Count first, the clicks in
// order ("none", "all": the buttons; a digit: that row's check box), the bytes the file gets meanwhile (with its time
// kept), then what the label says and whether Replace Checked is enabled, the file after it, the message, the row's
// Count cell, and the rows the window lists afterwards.
const std::tuple<const char *, bool, const char *, QByteArray, QString, QByteArray, QString, QString, int> kChecked[] = {
    {"all checked", false, "", {}, u"3 of 3 occurrences checked. 1"_s, "XYbcXYbcXYbc", {}, u"       3"_s, 0},
    {"one box unchecked", true, "1", {}, u"2 of 3 occurrences checked. 1"_s, "XYbcabcXYbc", {}, u"       2"_s, 1},
    {"none, then one box", false, "none 2", {}, u"1 of 3 occurrences checked. 1"_s, "abcabcXYbc", {}, u"       1"_s, 2},
    {"none, then all", true, "none all", {}, u"3 of 3 occurrences checked. 1"_s, "XYbcXYbcXYbc", {}, u"       3"_s, 0},
    {"none checked", true, "none", {}, u"0 of 3 occurrences checked. 0"_s, "abcabcabc", {}, u"       3"_s, 3},
    // The same size and time: only the hash tells.
    {"changed since it was read", true, "0", "abcabcabX", u"2 of 3 occurrences checked. 1"_s, "abcabcabX",
        u"The file %1 has changed since its occurrences were listed; it was left as it is. Count again to list its occurrences afresh."_s, u"       3"_s, 3},
};

} // namespace

class TestWindowRuns : public WindowTest
{
    Q_OBJECT

private slots:
    // A rewrite in place whose program died right after it kept the result and wrote its record: the window's start
    // finishes it and says so once, and removes the killed run's folder in TEMP without a word (cleanup() checks).
    void finishesAnInterruptedRewriteAtStart()
    {
        const QString dead = temp->filePath(u"perrox-Dead01"_s), path = file(u"linked.txt"_s, "old content");
        QVERIFY(QDir().mkpath(dead));
        QCOMPARE(::chmod(NativePath(dead).constData(), 0700), 0);
        WriteFileIn(dead, u"~PX12345.tmp"_s, "a result never put in place");
        QVERIFY(LeaveInterruptedRewrite(path, "new"));
        f->w->FinishInterruptedRewrites();
        f->w->FinishInterruptedRewrites();
        QCOMPARE(sink().texts(),
            QStringList {u"Perrox was stopped while it rewrote the file %1 and has now finished it."_s.arg(QFileInfo(path).canonicalFilePath())});
        QCOMPARE(ReadFile(path), "new"_ba);
        QCOMPARE(state->records(), QStringList());
    }

    // The bar moves in whole percent once a step of the total is passed (halves go to the even neighbour). Cancel
    // asks; No goes on. Yes sets the flag, but neither the close box nor Escape closes the window. A long path keeps
    // its start and end; one with a single "/" stays whole.
    void progressWindow()
    {
        const std::tuple<double, double, QList<double>, QList<int>> scales[]
            = {{10000, 101, {4096, 8192, 10000}, {41, 82, 100}}, {250, 3, {3, 250}, {-1, 100}}, {0, 0, {0}, {-1}}, {800, 9, {100}, {12}}}; // -1: no change
        for (const auto &[total, step, positions, percents] : scales) {
            ProgressScale scale;
            scale.initialize(total);
            for (int i = 0; i < positions.size(); ++i)
                QCOMPARE(std::pair(scale.step() * (total > 0), scale.update(positions[i])),
                    std::pair(step, percents[i] < 0 ? std::nullopt : std::optional<int>(percents[i])));
        }
        ProgressWindow progress(f->w.get(), sink());
        progress.Initialize(10000);
        progress.show();
        progress.Update(4096);
        QCOMPARE(progress.progressBar()->value(), 41);
        sink().answers = {MessageSink::Answer::No, MessageSink::Answer::Yes};
        QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        QVERIFY(!progress.cancelFlag());
        QVERIFY(!progress.close());
        QTest::keyClick(&progress, Qt::Key_Escape);
        QCOMPARE(sink().texts(), QStringList(3, CancelQuestion()));
        QCOMPARE(std::pair(sink().shown[0].icon, sink().shown[0].buttons), std::pair(MessageSink::Icon::Question, MessageSink::Buttons::YesNo));
        QVERIFY(progress.isVisible());
        QVERIFY(progress.cancelFlag());
        progress.unload();
        QVERIFY(!progress.isVisible());
        const QString longPath = u"/data/"_s + QString(60, u'p') + u"/old/"_s + QString(40, u'q') + u"/file.bin"_s, single = u"/"_s + QString(300, u'x');
        progress.setStatus1(longPath);
        progress.setStatus2(single);
        const QString shown = progress.status1()->text();
        QCOMPARE(shown.left(4) + shown.right(8) + progress.status2()->text(), u"/...file.bin"_s + single);
        QCOMPARE_LT(shown.size(), longPath.size());
        progress.setStatus1(u"/a/b"_s);
        QCOMPARE(progress.status1()->text(), u"/a/b"_s);
    }

    // The count line: the file's number once there is one, the bytes done (never past the total) in units of 1000.
    // A cancel confirmed once the file on show is replaced says so; a later file starts unreplaced.
    void progressCounts()
    {
        const std::tuple<int, int, double, double, QString> lines[]
            = {{0, 3, 0, 0, u"0 bytes of 0 bytes"_s}, {12, 340, 1.2e9, 3.4e9, u"File 12 of 340, 1.2 GB of 3.4 GB"_s},
                {1, 1, 999, 1500, u"File 1 of 1, 999 bytes of 1.5 kB"_s}, {2, 2, 2e6, 1e6, u"File 2 of 2, 1.0 MB of 1.0 MB"_s}};
        for (const auto &[number, files, done, total, text] : lines)
            QCOMPARE(ProgressCountText(number, files, done, total), text);
        ProgressWindow progress(f->w.get(), sink());
        progress.Initialize(3.4e9);
        progress.setFileNumber(12, 340);
        progress.Update(1.2e9);
        progress.show();
        QCOMPARE(progress.counts()->text(), u"File 12 of 340, 1.2 GB of 3.4 GB"_s);
        QCOMPARE_LE(progress.counts()->geometry().right(), progress.width());
        QCOMPARE_LT(progress.counts()->geometry().bottom(), progress.progressBar()->geometry().top());
        QCOMPARE_LT(progress.status2()->geometry().top() + progress.status2()->sizeHint().height(), progress.counts()->geometry().top() + 1);
        // The end shows, though the bar's last step may lie past it; a step of less than a thousandth waits.
        progress.Initialize(838860806);
        progress.Update(838860806 - 800000);
        progress.Update(838860806 - 100000);
        QCOMPARE(progress.counts()->text(), u"File 12 of 340, 838.1 MB of 838.9 MB"_s);
        progress.Update(838860806);
        QCOMPARE(progress.counts()->text(), u"File 12 of 340, 838.9 MB of 838.9 MB"_s);
        progress.setReplaced(u"/data/big.bin"_s);
        progress.setFileNumber(13, 340);
        sink().answers = {MessageSink::Answer::Yes, MessageSink::Answer::Yes};
        QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        progress.setReplaced(u"/data/big.bin"_s);
        QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        QCOMPARE(sink().texts(), QStringList({CancelQuestion(), CancelQuestion(), ReplacedBeforeCancelMessage(u"/data/big.bin"_s)}));
        QCOMPARE(sink().shown.last().icon, MessageSink::Icon::Information);
        progress.unload();
    }

    void matchesWindow_data() { AddRows(kMatches); }
    void matchesWindow()
    {
        QFETCH(int, row);
        const auto &[name, find, run, afterRun, doubleClick, message, shown] = kMatches[row];
        const QString a = file(u"a.txt"_s, "abcabc");
        f->addFiles({a, file(u"other"_s)});
        f->pending(find, u"X"_s);
        if (run) {
            f->w->ProcessFiles(*run);
            f->pending(u"b"_s, u"Y"_s);
        }
        if (afterRun == "gone")
            QVERIFY(QFile::remove(a));
        else if (!afterRun.isEmpty())
            WriteFileIn(dir->path(), u"a.txt"_s, afterRun);
        if (doubleClick) {
            // As the system delivers it: a click, then the double-click.
            const QPoint at = f->files()->visualItemRect(f->files()->topLevelItem(0)).center();
            QTest::mouseClick(f->files()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(f->files()->viewport(), Qt::LeftButton, {}, at);
        } else {
            f->files()->setCurrentItem(f->files()->topLevelItem(0));
            f->trigger(u"IDM_SHOW_MATCHES"_s);
        }
        auto *window = f->w->findChild<MatchesWindow *>();
        QCOMPARE(sink().texts(), message.isEmpty() ? QStringList() : QStringList {QString(message).replace(u"%1"_s, a)});
        QCOMPARE(window != nullptr, message.isEmpty());
        QCOMPARE(sink().busyDepth, 0);
        if (!window)
            return;
        QCOMPARE(std::tuple(window->windowTitle(), window->parent(), window->isVisible(), window->isModal()),
            std::tuple(u"Matches - a.txt"_s, f->w.get(), true, false));
        const auto *matches = window->findChild<QTreeWidget *>(u"lvwMatches"_s);
        const QTreeWidgetItem *pair = window->findChild<QTreeWidget *>(u"lvwPairs"_s)->topLevelItem(0);
        const auto label = [&](const QString &name) { return window->findChild<QLabel *>(name); };
        QCOMPARE(QStringList(
                     {label(u"lblPairs"_s)->text(), pair->text(0) + u',' + pair->text(1) + u',' + pair->text(2) + u',' + pair->text(3) + u',' + pair->text(4),
                         label(u"lblChanged"_s)->isVisible() ? u"changed"_s : QString(), label(u"lblShowing"_s)->text()})
                     .join(u" / "_s),
            shown);
        QVERIFY(!window->findChild<QWidget *>(u"cmdMore"_s)->isVisible());
        QCOMPARE(matches->topLevelItemCount(), shown.section(u',', 4, 4).section(u' ', 0, 0).toInt());
        if (const QTreeWidgetItem *last = matches->topLevelItem(matches->topLevelItemCount() - 1); last && !shown.contains(u"changed"_s))
            QCOMPARE(QStringList({last->text(0), last->text(1), last->text(2), last->text(3)}),
                QStringList({u"3 (0x3)"_s, u"1"_s, u"61 62 63 [61] 62 63\nabc[a]bc"_s, u"61 62 63 [58] 62 63\nabc[X]bc"_s}));
    }

    // Show Matches takes the one selected row, or the current row when none is selected; it is in the file list's
    // context menu. More lists the rest, and its first row becomes current.
    void matchesWindowShowsMore()
    {
        f->addFiles({file(u"big"_s, QByteArray(MatchesWindow::Page + 5, 'a')), file(u"small"_s)});
        f->pending(u"a"_s, QString());
        QAction *show = f->action(u"IDM_SHOW_MATCHES"_s);
        const bool enabled = show->isEnabled();
        f->trigger(u"IDM_SELECT_ALL"_s);
        QCOMPARE(std::pair(enabled, show->isEnabled()), std::pair(true, false));
        f->files()->clearSelection();
        f->files()->topLevelItem(0)->setSelected(true);
        QCOMPARE(f->files()->actions().last(), show);
        sink().busyOnCount = 0;
        show->trigger();
        QPointer<MatchesWindow> window = f->w->findChild<MatchesWindow *>();
        QVERIFY(window);
        const auto *matches = window->findChild<QTreeWidget *>(u"lvwMatches"_s);
        auto *more = window->findChild<QPushButton *>(u"cmdMore"_s);
        const auto state = [&] {
            return u"%1 rows, %2 More %3"_s.arg(matches->topLevelItemCount()).arg(window->findChild<QLabel *>(u"lblShowing"_s)->text()).arg(more->isVisible());
        };
        QCOMPARE(state(), u"10000 rows, Showing 10000 of 10005 occurrences. More 1"_s);
        QCOMPARE(window->findChild<QLabel *>(u"lblChecked"_s)->text(), u"10000 of 10000 occurrences checked. The 5 not shown are not replaced."_s);
        QTest::mouseClick(more, Qt::LeftButton);
        QCOMPARE(state(), u"10005 rows, 10005 occurrences. More 0"_s);
        QCOMPARE(matches->currentItem()->text(0) + u' ' + matches->currentItem()->text(3),
            u"10000 (0x2710) 61 61 61 61 61 61 61 61 [] 61 61 61 61\naaaaaaaa[]aaaa"_s);
        QCOMPARE((QList<int> {int(sink().shown.size()), sink().busyOnCount, sink().busyDepth}), (QList<int> {0, 2, 0}));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window);
    }

    // Replace Checked replaces exactly the checked occurrences, through the journal, so that Undo takes it back; a file
    // changed since the window read it is left alone.
    void replaceChecked_data() { AddRows(kChecked); }
    void replaceChecked()
    {
        QFETCH(int, row);
        const auto &[name, count, clicks, meddle, label, after, message, cell, rowsAfter] = kChecked[row];
        const QString a = file(u"a.txt"_s, "abcabcabc");
        f->addFiles({a});
        f->pending(u"a"_s, u"XY"_s);
        if (count)
            f->w->ProcessFiles(RunMode::Count);
        f->files()->setCurrentItem(f->files()->topLevelItem(0));
        f->trigger(u"IDM_SHOW_MATCHES"_s);
        QPointer<MatchesWindow> window = f->w->findChild<MatchesWindow *>();
        QVERIFY(window);
        auto *matches = window->findChild<QTreeWidget *>(u"lvwMatches"_s);
        auto *replace = window->findChild<QPushButton *>(u"cmdReplaceChecked"_s);
        for (const QByteArray &click : QByteArray(clicks).split(' ')) {
            if (click == "none" || click == "all") {
                QTest::mouseClick(window->findChild<QPushButton *>(click == "all" ? u"cmdCheckAll"_s : u"cmdCheckNone"_s), Qt::LeftButton);
            } else if (!click.isEmpty()) {
                QStyleOptionViewItem option;
                option.initFrom(matches);
                option.rect = matches->visualRect(matches->model()->index(click.toInt(), 0));
                option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
                const QRect box = matches->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, matches);
                QTest::mouseClick(matches->viewport(), Qt::LeftButton, {}, box.center());
            }
        }
        QCOMPARE(window->findChild<QLabel *>(u"lblChecked"_s)->text() + u' ' + QString::number(replace->isEnabled()), label);
        if (!meddle.isEmpty()) {
            struct stat st = {};
            QCOMPARE(::stat(NativePath(a).constData(), &st), 0);
            QVERIFY(WriteFile(a, meddle));
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, NativePath(a).constData(), times, 0), 0);
        }
        const QByteArray before = ReadFile(a);
        QTest::mouseClick(replace, Qt::LeftButton);
        QCOMPARE(ReadFile(a), after);
        QCOMPARE(sink().texts(), message.isEmpty() ? QStringList() : QStringList {message.arg(a)});
        QCOMPARE(f->cells(), count || before != after ? cell : QString());
        QCOMPARE(matches->topLevelItemCount(), rowsAfter);
        QCOMPARE(sink().busyDepth, 0);
        if (before == after)
            return;
        // The row tells what was done, and Edit > Undo takes it back.
        QCOMPARE(f->files()->topLevelItem(0)->toolTip(0).section(u':', 0, 0), u"Replaced"_s);
        QCOMPARE(f->child<QLabel>(u"staTotals"_s)->text().section(u' ', 0, 0), cell.trimmed());
        sink().answers = {MessageSink::Answer::Yes};
        f->trigger(u"IDM_UNDO"_s);
        QCOMPARE(ReadFile(a), "abcabcabc"_ba);
        QCOMPARE(sink().texts().last(), u"1 of 1 file was restored."_s);
        window->close();
        QTRY_VERIFY(!window);
    }

    void undoReplace_data() { AddRows(kUndos); }
    void undoReplace()
    {
        QFETCH(int, row);
        const auto &[name, keep, answer, bBefore, summary, aAfter, bAfter, caption, rows, redoCaption, redone] = kUndos[row];
        f->w->preferences().undo.keepJournal = keep;
        const QString a = file(u"a"_s, "one a"), b = file(u"b"_s, "two a");
        f->addFiles({a, b});
        f->pending(u"a"_s, u"XY"_s);
        f->click(u"cmdReplace"_s);
        QAction *undo = f->action(u"IDM_UNDO"_s);
        const auto command = [&] { return undo->text() + (undo->isEnabled() ? u", enabled"_s : u", disabled"_s); };
        const std::vector<JournalRun> runs = ListRuns();
        QCOMPARE(QString::number(runs.size()) + u' ' + command(), keep ? u"1 &Undo Replace (2 files), enabled"_s : u"0 &Undo Replace, disabled"_s);
        if (!bBefore.isEmpty())
            QVERIFY(WriteFile(b, bBefore));
        sink().answers = {answer};
        const int busy = sink().busyOnCount;
        f->w->activateWindow(); // as the desktop does once the progress window has gone
        QTRY_VERIFY(f->w->isActiveWindow());
        f->files()->setFocus(); // Ctrl+Z outside a text field is Undo Replace
        QTest::keyClick(f->files(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(QList<QByteArray>({ReadFile(a), ReadFile(b)}), QList<QByteArray>({aAfter, bAfter}));
        QCOMPARE(command(), caption + (keep ? u", enabled"_s : u", disabled"_s));
        QStringList marks;
        for (int i = 0; i < 2; ++i) {
            const QTreeWidgetItem *item = f->files()->topLevelItem(i);
            const QString tip = item->toolTip(1);
            marks << item->text(1).trimmed() + u' ' + (item->data(1, Qt::ForegroundRole).isValid() ? u"~"_s : QString())
                    + (tip == UndoneRowText()                 ? u"u"_s
                            : tip.startsWith(u"Replaced: "_s) ? u"r"_s
                                                              : tip);
        }
        marks << f->child<QLabel>(u"staTotals"_s)->text(); // cleared once they speak of an undone run
        QCOMPARE(marks.join(u'|'), rows);
        QCOMPARE(std::tuple(sink().shown.size(), sink().busyOnCount > busy, sink().busyDepth),
            std::tuple(qsizetype(keep + !summary.isEmpty()), !summary.isEmpty(), 0));
        if (!keep)
            return;
        const QString made = runs[0].time.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
        QCOMPARE(sink().texts()[0],
            u"Undo the Replace of 2 files made on %1?\r\n\r\nEach file gets back what it held before, if nothing changed it since."_s.arg(made));
        QCOMPARE(std::pair(sink().shown[0].icon, sink().shown[0].buttons), std::pair(MessageSink::Icon::Question, MessageSink::Buttons::YesNo));
        if (summary.isEmpty())
            return;
        QCOMPARE(sink().shown[1].text, summary.arg(b));
        QCOMPARE(sink().shown[1].icon, bBefore.isEmpty() ? MessageSink::Icon::Information : MessageSink::Icon::Exclamation);
        if (redoCaption.isEmpty())
            return;
        // The Redo does the Replace again where the Undo gave the files back; its own Undo takes it back once more.
        sink().answers = {MessageSink::Answer::Yes};
        QTest::keyClick(f->files(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ReadFile(a) + '|' + ReadFile(b), redone);
        QCOMPARE(command(), redoCaption + u", enabled"_s);
    }

    // Another program's run shows when the Edit menu opens, Undo first. Ctrl+Z in a text field is the field's own undo.
    void undoCommandFollowsTheJournal()
    {
        ScriptedHost host({file(u"a"_s, "abc")});
        QVERIFY(!ProcessArguments(RunMode::Replace, {{Asc, u"b"_s, Asc, u"x"_s}}, host.settings, host.state, host, UndoSettings()).journalRun.isEmpty());
        QAction *undo = f->action(u"IDM_UNDO"_s);
        QVERIFY(!undo->isEnabled());
        QMenu *edit = f->child<QMenu>(u"IDM_EDIT"_s);
        QTest::mouseClick(f->w->menuBar(), Qt::LeftButton, {}, f->w->menuBar()->actionGeometry(edit->menuAction()).center());
        QTRY_VERIFY(edit->isVisible());
        edit->hide();
        QCOMPARE(undo->text() + (undo->isEnabled() ? u", enabled"_s : u", disabled"_s), u"&Undo Replace (1 file), enabled"_s);
        QCOMPARE(edit->actions().mid(0, 2), QList<QAction *>({undo, f->action(u"IDM_EDIT_SPACE1"_s)}));
        QTest::keyClicks(f->edSearch(), u"q"_s);
        QTest::keyClick(f->edSearch(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->edSearch()->text() + u' ' + QString::number(sink().shown.size()), u" 0"_s);
    }
};

QTEST_MAIN(TestWindowRuns)
#include "tst_window_runs.moc"
