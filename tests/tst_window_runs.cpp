// Count, Replace, Replace As and Undo Replace from the main window on real files: the progress window and its Cancel,
// the messages of a run and of arguments that cannot run, a rewrite left unfinished by a killed program, the journal
// behind Undo, and the Matches window on a file of the list.

#include "app/matcheswindow.h"
#include "commit/rewritejournal.h"
#include "engine/progressscale.h"
#include "engine/undorun.h"
#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

struct ScaleCase
{
    const char *name;
    double total, step;
    QList<double> positions;
    QList<int> percents; // -1: no change
};
const ScaleCase kScales[] = {
    {"10000", 10000, 101, {4096, 8192, 10000}, {41, 82, 100}},
    {"equal to the step is not enough", 250, 3, {3, 250}, {-1, 100}},
    {"empty", 0, 1, {0}, {-1}},
    {"halves go to the even neighbour", 800, 9, {100}, {12}},
};

const QString kNoArguments = u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s;

// The Matches window on "abcabc" with the pair find -> X (the current pair changes to b -> Y after the run).
struct MatchesCase
{
    const char *name;
    QString find;
    std::optional<RunMode> run;
    QByteArray afterRun; // written to the file after the run; "gone": removed
    bool doubleClick; // else the file list's Show Matches command
    QString message; // %1: the file's path; the window does not open
    QString pairsLine, pairsRow; // the pairs row: number|find|replace|run|now
    bool changedNote;
    QString showing;
};
const MatchesCase kMatches[] = {
    {"no run: the current pairs", u"a"_s, std::nullopt, {}, true, {}, u"Current pairs; no run has reached this file yet."_s, u"1|61|58||2"_s, false,
        u"2 occurrences."_s},
    {"unchanged since Count", u"a"_s, RunMode::Count, {}, false, {}, u"Pairs of the last run (Count)."_s, u"1|61|58|2|2"_s, false, u"2 occurrences."_s},
    {"changed since Count", u"a"_s, RunMode::Count, "xa", true, {}, u"Pairs of the last run (Count)."_s, u"1|61|58|2|1"_s, true, u"1 occurrence."_s},
    {"Replace leaves what it wrote", u"a"_s, RunMode::Replace, {}, false, {}, u"Pairs of the last run (Replace)."_s, u"1|61|58|2|0"_s, false,
        u"No occurrences."_s},
    {"gone since Count", u"a"_s, RunMode::Count, "gone", true, FileErrorMessage(ENOENT, u"%1"_s), {}, {}, false, {}},
    {"no current pair", QString(), std::nullopt, {}, false, kNoArguments, {}, {}, false, {}},
};

using Answer = MessageSink::Answer;
struct UndoCase
{
    const char *name;
    bool keep; // the preferences keep a journal
    Answer answer;
    QByteArray bAfterReplace; // written to b after the Replace when not empty
    QString summary; // %1: b's path
    QByteArray a, b; // afterwards
    QString caption; // afterwards
};
const UndoCase kUndos[] = {
    {"Yes restores every file", true, Answer::Yes, {}, u"2 of 2 files were restored."_s, "one a", "two a", u"&Undo Undo (2 files)"_s},
    {"No changes nothing", true, Answer::No, {}, {}, "one XY", "two XY", u"&Undo Replace (2 files)"_s},
    {"a file changed since is left alone", true, Answer::Yes, "mine",
        u"1 of 2 files were restored.\r\n\r\nThese files were left as they are:\r\nThe file %1 was changed after the run; it was left as it is."_s, "one a",
        "mine", u"&Undo Undo (1 file)"_s},
    {"journal off", false, Answer::Yes, {}, {}, "one XY", "two XY", u"&Undo Replace"_s},
};

} // namespace

class TestWindowRuns : public WindowTest
{
    Q_OBJECT

private slots:
    void countThenReplace()
    {
        const QString a = file(u"a"_s, "abcabc"), none = file(u"none"_s, "zzz"), c = file(u"c.txt"_s, QByteArray(10000, 'a'));
        struct stat before, after;
        ::stat(NativePath(none).constData(), &before);
        f->addFiles({a, none, c, a}); // the same path twice: processed twice
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->pending(u"61"_s, u"XY"_s);
        QString caption; // the progress window's, while the main window is disabled
        f->dialogs.onRunStarted = [&](ProgressWindow *p) { caption = f->w->isEnabled() || !p->isEnabled() ? u"enabled"_s : p->windowTitle(); };
        f->trigger(u"IDM_COUNT"_s); // counting changes no file
        QCOMPARE(caption + f->cells(), u"Counting...       2|       0|   10000|       2"_s);
        QCOMPARE(ReadFile(a) + ReadFile(c), "abcabc"_ba + QByteArray(10000, 'a'));
        QVERIFY(f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
        // An empty replacement deletes; a file without occurrences is not rewritten.
        f->pending(u"61"_s, QString());
        f->click(u"cmdReplace"_s);
        QCOMPARE(caption + f->cells(), u"Replacing...       2|       0|   10000|       0"_s);
        QCOMPARE(ReadFile(a) + ReadFile(c), "bcbc"_ba);
        ::stat(NativePath(none).constData(), &after);
        QCOMPARE(after.st_ino, before.st_ino);
        // Replace As asks for its target; a cancelled dialog ends the command before anything happens.
        f->click(u"cmdReplaceAs"_s);
        QCOMPARE(f->dialogs.asked.last(), u"target 4"_s);
        // A UTF-8 file holding "café": the UTF-8 find matches its bytes, the Characters find (é the byte E9) does not.
        WriteFile(a, "caf\xc3\xa9");
        QString counted;
        for (const Notation notation : {Notation::Utf8, Notation::Characters}) {
            f->field(0)->selectNotation(notation);
            f->pending(u"caf\u00e9"_s, QString());
            f->trigger(u"IDM_COUNT"_s);
            counted += f->cells().left(8);
        }
        QCOMPARE(counted, u"       1       0"_s);
        QCOMPARE(sink().texts(), QStringList());
    }

    // The window puts what a run shows on screen once per event round; a message still comes after the cells of the
    // rows before it, with its own file in the progress window.
    void aMessageComesAfterWhatTheRunShowed()
    {
        f->w->setEventPumpInterval(60000);
        const QString a = file(u"a"_s, "aaa"), folder = dir->filePath(u"folder"_s);
        QVERIFY(QDir().mkpath(folder));
        f->addFiles({a, folder, a});
        f->pending(u"a"_s, u"b"_s);
        QStringList seen;
        sink().onShow = [&] { seen << f->cells() << f->progress()->status1()->text(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(sink().texts(), QStringList {FileErrorMessage(EISDIR, folder)});
        QCOMPARE(seen.size(), 2);
        QCOMPARE(QStringList({seen[0], seen[1].section(u'/', -1)}), QStringList({u"       3||"_s, u"folder"_s}));
        QCOMPARE(f->cells(), u"       3|       0|       3"_s);
    }

    void cancelDuringTheSecondOfThreeFiles()
    {
        const QString a = file(u"a"_s, QByteArray(9000, 'q')), b = file(u"b"_s, QByteArray(20000, 'q')), c = file(u"c"_s, QByteArray(9000, 'q'));
        f->addFiles({a, b, c});
        f->files()->topLevelItem(1)->setText(1, u"earlier"_s);
        f->pending(u"q"_s, u"r"_s);
        // Cancelled as soon as the progress window shows the second file.
        f->dialogs.onRunStarted = [&](ProgressWindow *p) {
            connect(p->progressBar(), &QProgressBar::valueChanged, p, [p, b] {
                if (p->status1()->text() == b && !p->cancelFlag())
                    p->askCancel();
            });
        };
        sink().answers = {MessageSink::Answer::Yes};
        QCOMPARE(f->w->ProcessFiles(RunMode::Replace).end, RunResult::End::Cancelled);
        QCOMPARE(sink().texts(), QStringList {CancelQuestion()});
        QCOMPARE(QList<QByteArray>({ReadFile(a), ReadFile(b), ReadFile(c)}),
            QList<QByteArray>({QByteArray(9000, 'r'), QByteArray(20000, 'q'), QByteArray(9000, 'q')}));
        QCOMPARE(f->cells(), u"    9000|earlier|"_s);
        QVERIFY(f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
    }

    // Arguments that cannot run are reported before any file is read and before the progress window shows.
    void argumentMessagesBeforeAnyFile()
    {
        f->addFiles({file(u"a"_s, "1,2")});
        f->field(0)->selectNotation(Notation::Decimal);
        f->dialogs.onRunStarted = [](ProgressWindow *) { QFAIL("a run started"); };
        for (const QString &find : {QString(), u"1,2,999"_s}) {
            f->pending(find, QString());
            f->click(u"cmdReplace"_s);
        }
        QCOMPARE(sink().texts(), QStringList({kNoArguments, ArgumentMessage(u"1,2,999"_s, Notation::Decimal)}));
        QCOMPARE(f->cells(), QString());
        QVERIFY(f->w->isEnabled());
    }

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

    void progressScale_data() { AddRows(kScales); }
    void progressScale()
    {
        QFETCH(int, row);
        const ScaleCase &c = kScales[row];
        ProgressScale scale;
        scale.initialize(c.total);
        if (c.total > 0)
            QCOMPARE(scale.step(), c.step);
        for (int i = 0; i < c.positions.size(); ++i)
            QCOMPARE(scale.update(c.positions[i]), c.percents[i] < 0 ? std::nullopt : std::optional<int>(c.percents[i]));
    }

    void progressWindowCancelAndLabels()
    {
        ProgressWindow progress(f->w.get(), sink());
        progress.Initialize(10000);
        progress.show();
        progress.Update(4096);
        QCOMPARE(progress.progressBar()->value(), 41);
        // Cancel asks; No goes on. Yes sets the flag, but neither the close box nor Escape closes the window.
        sink().answers = {MessageSink::Answer::No, MessageSink::Answer::Yes};
        progress.cancelButton()->click();
        QVERIFY(!progress.cancelFlag());
        QVERIFY(!progress.close());
        QTest::keyClick(&progress, Qt::Key_Escape);
        QCOMPARE(sink().texts(), QStringList(3, CancelQuestion()));
        QCOMPARE(std::pair(sink().shown[0].icon, sink().shown[0].buttons), std::pair(MessageSink::Icon::Question, MessageSink::Buttons::YesNo));
        QVERIFY(progress.isVisible());
        QVERIFY(progress.cancelFlag());
        progress.unload();
        QVERIFY(!progress.isVisible());
        // A long path keeps its start and end; one with a single "/" stays whole.
        const QString longPath = u"/data/"_s + QString(60, u'p') + u"/old/"_s + QString(40, u'q') + u"/file.bin"_s, single = u"/"_s + QString(300, u'x');
        progress.setStatus1(longPath);
        progress.setStatus2(single);
        const QString shown = progress.status1()->text();
        QCOMPARE(shown.left(4) + shown.right(8) + progress.status2()->text(), u"/...file.bin"_s + single);
        QCOMPARE_LT(shown.size(), longPath.size());
        progress.setStatus1(u"/a/b"_s);
        QCOMPARE(progress.status1()->text(), u"/a/b"_s);
    }

    void matchesWindow_data() { AddRows(kMatches); }
    void matchesWindow()
    {
        QFETCH(int, row);
        const MatchesCase &c = kMatches[row];
        const QString a = file(u"a.txt"_s, "abcabc");
        f->addFiles({a, file(u"other"_s)});
        f->pending(c.find, u"X"_s);
        if (c.run) {
            f->w->ProcessFiles(*c.run);
            f->pending(u"b"_s, u"Y"_s);
        }
        if (c.afterRun == "gone")
            QVERIFY(QFile::remove(a));
        else if (!c.afterRun.isEmpty())
            WriteFileIn(dir->path(), u"a.txt"_s, c.afterRun);
        if (c.doubleClick) {
            // As the system delivers it: a click, then the double-click.
            const QPoint at = f->files()->visualItemRect(f->files()->topLevelItem(0)).center();
            QTest::mouseClick(f->files()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(f->files()->viewport(), Qt::LeftButton, {}, at);
        } else {
            f->files()->setCurrentItem(f->files()->topLevelItem(0));
            f->trigger(u"IDM_SHOW_MATCHES"_s);
        }
        auto *window = f->w->findChild<MatchesWindow *>();
        QCOMPARE(sink().texts(), c.message.isEmpty() ? QStringList() : QStringList {QString(c.message).replace(u"%1"_s, a)});
        QCOMPARE(window != nullptr, c.message.isEmpty());
        QCOMPARE(sink().busyDepth, 0);
        if (!window)
            return;
        QVERIFY(window->isVisible());
        QCOMPARE(window->parent(), f->w.get());
        QVERIFY(!window->isModal());
        QCOMPARE(window->windowTitle(), u"Matches - a.txt"_s);
        const auto child = [&](const QString &name) { return window->findChild<QWidget *>(name); };
        QCOMPARE(static_cast<QLabel *>(child(u"lblPairs"_s))->text(), c.pairsLine);
        const QTreeWidgetItem *pair = static_cast<QTreeWidget *>(child(u"lvwPairs"_s))->topLevelItem(0);
        QCOMPARE(QStringList({pair->text(0), pair->text(1), pair->text(2), pair->text(3), pair->text(4)}).join(u'|'), c.pairsRow);
        QCOMPARE(child(u"lblChanged"_s)->isVisible(), c.changedNote);
        QCOMPARE(static_cast<QLabel *>(child(u"lblShowing"_s))->text(), c.showing);
        QVERIFY(!child(u"cmdMore"_s)->isVisible());
        const auto *matches = static_cast<QTreeWidget *>(child(u"lvwMatches"_s));
        QCOMPARE(matches->topLevelItemCount(), c.pairsRow.section(u'|', 4).toInt());
        if (const QTreeWidgetItem *last = matches->topLevelItem(matches->topLevelItemCount() - 1); last && !c.changedNote) {
            QCOMPARE(QStringList({last->text(0), last->text(1), last->text(2), last->text(3)}),
                QStringList({u"3 (0x3)"_s, u"1"_s, u"61 62 63 [61] 62 63\nabc[a]bc"_s, u"61 62 63 [58] 62 63\nabc[X]bc"_s}));
        }
    }

    void matchesWindowShowsMore()
    {
        f->addFiles({file(u"big"_s, QByteArray(MatchesWindow::Page + 5, 'a')), file(u"small"_s)});
        f->pending(u"a"_s, QString());
        // The command takes the one selected row, or the current row when none is selected.
        QVERIFY(f->action(u"IDM_SHOW_MATCHES"_s)->isEnabled());
        f->trigger(u"IDM_SELECT_ALL"_s);
        QVERIFY(!f->action(u"IDM_SHOW_MATCHES"_s)->isEnabled());
        f->files()->clearSelection();
        f->files()->topLevelItem(0)->setSelected(true);
        QCOMPARE(f->files()->actions().last(), f->action(u"IDM_SHOW_MATCHES"_s)); // in the right-click menu
        sink().busyOnCount = 0;
        f->trigger(u"IDM_SHOW_MATCHES"_s);
        QPointer<MatchesWindow> window = f->w->findChild<MatchesWindow *>();
        QVERIFY(window);
        const auto *matches = window->findChild<QTreeWidget *>(u"lvwMatches"_s);
        auto *more = window->findChild<QPushButton *>(u"cmdMore"_s);
        const auto *showing = window->findChild<QLabel *>(u"lblShowing"_s);
        QCOMPARE(matches->topLevelItemCount(), 10000);
        QCOMPARE(showing->text(), u"Showing 10000 of 10005 occurrences."_s);
        QVERIFY(more->isVisible());
        QTest::mouseClick(more, Qt::LeftButton);
        QCOMPARE(matches->topLevelItemCount(), 10005);
        QCOMPARE(showing->text(), u"10005 occurrences."_s);
        QVERIFY(!more->isVisible());
        QCOMPARE(matches->currentItem()->text(0), u"10000 (0x2710)"_s);
        QCOMPARE(matches->currentItem()->text(3), u"61 61 61 61 61 61 61 61 [] 61 61 61 61\naaaaaaaa[]aaaa"_s);
        QCOMPARE((QList<int> {int(sink().shown.size()), sink().busyOnCount, sink().busyDepth}), (QList<int> {0, 2, 0}));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window);
    }

    void undoReplace_data() { AddRows(kUndos); }
    void undoReplace()
    {
        QFETCH(int, row);
        const UndoCase &c = kUndos[row];
        f->w->preferences().undo.keepJournal = c.keep;
        const QString a = file(u"a"_s, "one a"), b = file(u"b"_s, "two a");
        f->addFiles({a, b});
        f->pending(u"a"_s, u"XY"_s);
        f->click(u"cmdReplace"_s);
        QAction *undo = f->action(u"IDM_UNDO"_s);
        const std::vector<JournalRun> runs = ListRuns();
        QCOMPARE(runs.size(), size_t(c.keep));
        QCOMPARE(undo->text(), c.keep ? u"&Undo Replace (2 files)"_s : u"&Undo Replace"_s);
        QCOMPARE(undo->isEnabled(), c.keep);
        if (!c.bAfterReplace.isEmpty())
            QVERIFY(WriteFile(b, c.bAfterReplace));
        sink().answers = {c.answer};
        const int busy = sink().busyOnCount;
        undo->trigger();
        QCOMPARE(QList<QByteArray>({ReadFile(a), ReadFile(b)}), QList<QByteArray>({c.a, c.b}));
        QCOMPARE(undo->text(), c.caption);
        QCOMPARE(undo->isEnabled(), c.keep);
        QCOMPARE(sink().shown.size(), int(c.keep) + !c.summary.isEmpty());
        QCOMPARE(sink().busyOnCount > busy, !c.summary.isEmpty());
        QCOMPARE(sink().busyDepth, 0);
        if (!c.keep)
            return;
        const QString made = runs[0].time.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
        QCOMPARE(sink().texts()[0],
            u"Undo the Replace of 2 files made on %1?\r\n\r\nEach file gets back what it held before, if nothing changed it since."_s.arg(made));
        QCOMPARE(std::pair(sink().shown[0].icon, sink().shown[0].buttons), std::pair(MessageSink::Icon::Question, MessageSink::Buttons::YesNo));
        if (c.summary.isEmpty())
            return;
        QCOMPARE(sink().shown[1].text, c.summary.arg(b));
        QCOMPARE(sink().shown[1].icon, c.bAfterReplace.isEmpty() ? MessageSink::Icon::Information : MessageSink::Icon::Exclamation);
    }

    // Another program's run shows when the Edit menu opens. Ctrl+Z in a text field is the field's own undo; elsewhere
    // it is Undo Replace.
    void undoCommandFollowsTheJournal()
    {
        const QString a = file(u"a"_s, "abc");
        ScriptedHost host({a});
        QVERIFY(!ProcessArguments(RunMode::Replace, {{Asc, u"b"_s, Asc, u"x"_s}}, host.settings, host.state, host, UndoSettings()).journalRun.isEmpty());
        QAction *undo = f->action(u"IDM_UNDO"_s);
        QVERIFY(!undo->isEnabled());
        QMenu *edit = f->child<QMenu>(u"IDM_EDIT"_s);
        QMenuBar *bar = f->w->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(edit->menuAction()).center());
        QTRY_VERIFY(edit->isVisible());
        edit->hide();
        QVERIFY(undo->isEnabled());
        QCOMPARE(undo->text(), u"&Undo Replace (1 file)"_s);
        QCOMPARE(edit->actions().mid(0, 2), QList<QAction *>({undo, f->action(u"IDM_EDIT_SPACE1"_s)}));
        f->edSearch()->setFocus();
        QTest::keyClicks(f->edSearch(), u"q"_s);
        QTest::keyClick(f->edSearch(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->edSearch()->text(), QString());
        QCOMPARE(sink().texts(), QStringList());
        f->files()->setFocus();
        sink().answers = {MessageSink::Answer::Yes};
        QTest::keyClick(f->files(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(sink().shown.size(), 2);
        QCOMPARE(ReadFile(a), QByteArray("abc"));
    }
};

QTEST_MAIN(TestWindowRuns)
#include "tst_window_runs.moc"
