// Replace asks once before it writes, Count is one key away, runs over the selected rows only, and the failures of a
// run wait for one summary at its end.

#include "app/failurereport.h"
#include "app/matcheswindow.h"
#include "app/runcommands.h"
#include "files/optionsdialog.h"
#include "support/windowfixture.h"

#include <QtWidgets>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

using Answer = MessageSink::Answer;
const QString kPair = u"\r\n\r\nwith 1 Find&Replace pair."_s, kThree = u"\r\nThe Count just before found 3 occurrences."_s;

// Replace over a.txt ("a a"), b.txt ("b") and c.txt ("a"), with a -> X pending: the name, the Count before (none; by F5
// in the list or a field, or the Count button; then other pairs, or a row more), the rows selected for Replace in Selected Files (none: Replace of all by Enter
// in the find field), the answer, "Do not ask again" ticked, the question, the three files and Count cells afterwards
// (- not processed), and whether it asks the next time.
const std::tuple<const char *, const char *, QList<int>, Answer, bool, QString, QString, QString, bool> kQuestions[] = {
    {"No changes nothing", "", {}, Answer::No, false, u"Replace in 3 files?"_s + kPair, u"a a|b|a"_s, u"||"_s, true},
    {"No with the box ticked asks again", "", {}, Answer::No, true, u"Replace in 3 files?"_s + kPair, u"a a|b|a"_s, u"||"_s, true},
    {"Yes replaces", "", {}, Answer::Yes, false, u"Replace in 3 files?"_s + kPair, u"X X|b|X"_s, u"2|0|1"_s, true},
    {"Yes, do not ask again", "", {}, Answer::Yes, true, u"Replace in 3 files?"_s + kPair, u"X X|b|X"_s, u"2|0|1"_s, false},
    {"after F5 in the file list", "F5 in the list", {}, Answer::Yes, false,
        u"Replace in 3 files?"_s + kPair + u"\r\nThe Count just before found 3 occurrences."_s, u"X X|b|X"_s, u"2|0|1"_s, true},
    {"after F5 in a field", "F5 in a field", {}, Answer::No, false, u"Replace in 3 files?"_s + kPair + kThree, u"a a|b|a"_s, u"2|0|1"_s, true},
    {"after the Count button", "Count button", {}, Answer::No, false, u"Replace in 3 files?"_s + kPair + kThree, u"a a|b|a"_s, u"2|0|1"_s, true},
    {"after a Count of other pairs", "other pairs", {}, Answer::No, false, u"Replace in 3 files?"_s + kPair, u"a a|b|a"_s, u"2|0|1"_s, true},
    {"after a Count of fewer rows", "row added", {}, Answer::No, false, u"Replace in 3 files?"_s + kPair, u"a a|b|a"_s, u"2|0|"_s, true},
    {"selected, No", "", {0, 2}, Answer::No, false, u"Replace in 2 selected files?"_s + kPair, u"a a|b|a"_s, u"||"_s, true},
    {"selected, Yes", "", {2, 1}, Answer::Yes, false, u"Replace in 2 selected files?"_s + kPair, u"a a|b|X"_s, u"-|0|1"_s, true},
    {"selected one after a Count of all", "F5 in the list", {0}, Answer::Yes, false, u"Replace in 1 selected file?"_s + kPair, u"X X|b|a"_s, u"2|-|-"_s, true},
};

// The question's texts: scope and text.
const std::tuple<const char *, RunCommands::Scope, QString> kTexts[] = {
    {"thousands", {RunMode::Replace, 2543, false, 3, 12345, 0, {}},
        u"Replace in 2,543 files?\r\n\r\nwith 3 Find&Replace pairs.\r\nThe Count just before found 12,345 occurrences."_s},
    {"Replace As, one of each", {RunMode::ReplaceAs, 1200, true, 1, 1, 2, u"/o"_s},
        u"Replace As in 1,200 selected files?"_s + kPair
            + u"\r\nThe Count just before found 1 occurrence.\r\n\r\n2 files in /o already exist and will be overwritten without asking."_s},
};

// Replace As into out/ after a -> X over the three: the name, overwrite ticked, the first row alone selected, the
// targets that exist (holding "old"), the question (%1: out; none when empty).
const QString kOver = u"\r\n\r\n1 file in %1 already exists and will be overwritten without asking."_s;
const std::tuple<const char *, bool, bool, QStringList, QString> kReplaceAs[] = {
    {"overwrite, one exists", true, false, {u"a.txt"_s}, u"Replace As in 3 files?"_s + kPair + kOver},
    {"overwrite, selected", true, true, {u"a.txt"_s, u"c.txt"_s}, u"Replace As in 1 selected file?"_s + kPair + kOver},
    {"overwrite, none exists", true, false, {}, {}},
    {"ask per file", false, false, {u"a.txt"_s}, u"The file %1/a.txt already exists.\r\n\r\nDo you want to overwrite it?"_s},
};

// Three of four files vanish: the name, the run, the check box left ticked.
const std::tuple<const char *, RunMode, bool> kFailures[]
    = {{"count, at the end", RunMode::Count, true}, {"replace, at the end", RunMode::Replace, true}, {"replace, each", RunMode::Replace, false}};

} // namespace

class TestWindowAsk : public WindowTest
{
    Q_OBJECT

    QStringList addThree(int listed = 3)
    {
        const QStringList paths = {file(u"a.txt"_s, "a a"), file(u"b.txt"_s, "b"), file(u"c.txt"_s, "a")};
        f->addFiles(paths.mid(0, listed));
        f->pending(u"a"_s, u"X"_s);
        f->w->preferences().askFirst = true;
        return paths;
    }
    // The Count cells trimmed, "-" for a row the last run did not process.
    QString cells() const
    {
        return f
            ->eachFile([&](int i) {
                const std::optional<RowResult> r = f->w->rowResult(i);
                return r && r->state == RowState::NotProcessed ? u"-"_s : f->files()->topLevelItem(i)->text(1).trimmed();
            })
            .join(u'|');
    }

private slots:
    void questionTexts_data() { AddRows(kTexts); }
    void questionTexts()
    {
        QFETCH(int, row);
        QCOMPARE(RunCommands::Question(std::get<1>(kTexts[row])), std::get<2>(kTexts[row]));
    }

    void question_data() { AddRows(kQuestions); }
    void question()
    {
        QFETCH(int, row);
        const auto &[name, before, selected, answer, doNotAsk, question, contents, counted, asksAgain] = kQuestions[row];
        const QByteArray how = before;
        const QStringList paths = addThree(how == "row added" ? 2 : 3);
        QPushButton *count = f->child<QPushButton>(u"cmdCount"_s);
        QCOMPARE(std::tuple(f->action(u"IDM_COUNT"_s)->shortcut(), count->text(), count->isVisible(), count->x()),
            std::tuple(QKeySequence(Qt::Key_F5), u"C&ount"_s, true, f->child<QPushButton>(u"cmdReplace"_s)->x()));
        if (how == "Count button")
            QTest::mouseClick(count, Qt::LeftButton);
        else if (!how.isEmpty())
            QTest::keyClick(how == "F5 in a field" ? static_cast<QWidget *>(f->edReplace()) : f->files(), Qt::Key_F5);
        if (how == "other pairs")
            f->pending(u"b"_s, u"X"_s);
        if (how == "row added")
            f->addFiles({paths[2]});
        sink().answers = {answer};
        sink().checkAnswers = {doNotAsk};
        if (selected.isEmpty()) {
            QTest::keyClick(f->edSearch(), Qt::Key_Return);
            QTRY_COMPARE(sink().shown.size(), 1);
        } else {
            // In the Actions menu and the file list's context menu, enabled while a row is selected.
            QAction *command = f->action(u"IDM_REPLACE_SELECTED"_s);
            QCOMPARE(std::tuple(f->child<QMenu>(u"IDM_ACTIONS"_s)->actions().contains(command), f->files()->actions().contains(command), command->isEnabled()),
                std::tuple(true, true, false));
            for (int r : selected)
                f->files()->topLevelItem(r)->setSelected(true);
            QVERIFY(command->isEnabled());
            command->trigger();
        }
        const RecordingSink::Shown &shown = sink().shown.value(0);
        QCOMPARE(std::tuple(sink().texts(), shown.icon, shown.buttons, shown.checkBox, shown.checkedBefore),
            std::tuple(QStringList {question}, MessageSink::Icon::Question, MessageSink::Buttons::YesNo, u"Do not ask again"_s, false));
        QCOMPARE(ReadFile(paths[0]) + '|' + ReadFile(paths[1]) + '|' + ReadFile(paths[2]), contents.toLatin1());
        QCOMPARE(cells(), counted);
        QCOMPARE(f->w->preferences().askFirst, asksAgain);
        if (!selected.isEmpty() && answer == Answer::Yes) // a row left out, and the totals of the selected ones
            QCOMPARE(f->files()->topLevelItem(selected.contains(0))->toolTip(0) + u' ' + f->child<QLabel>(u"staTotals"_s)->text() + u' '
                    + MatchesPairsText(f->w->rowResult(selected.contains(0)), RunMode::Replace),
                u"Not processed: the file was not selected. "_s + (selected.size() == 2 ? u"1 occurrence in 1 of 2 files"_s : u"2 occurrences in 1 of 1 file"_s)
                    + u" Pairs of the last run (Replace), which left this file out."_s);
    }

    // "Do not ask again" and the option in Tools > Options are one setting, stored with the preferences.
    void doNotAskAgainAndTheOption()
    {
        const QStringList paths = addThree();
        sink().answers = {Answer::Yes};
        sink().checkAnswers = {true};
        f->click(u"cmdReplace"_s);
        f->w->SaveSettingsAndUnload();
        QCOMPARE(QSettings(prefs(), QSettings::NativeFormat).value(u"Replace/AskFirst"_s).toString(), u"0"_s);
        restart();
        QVERIFY(!f->w->preferences().askFirst);
        Preferences &p = f->w->preferences();
        OptionsDialog options(f->w.get(), p.masks, p.undo, p.keepTimes, p.maxMatchKiB, p.askFirst);
        options.open();
        QVERIFY(!options.chkAskFirst()->isChecked());
        QTest::mouseClick(options.chkAskFirst(), Qt::LeftButton, {}, QPoint(4, options.chkAskFirst()->height() / 2));
        QTest::mouseClick(options.cmdOK(), Qt::LeftButton);
        f->addFiles({paths[0]});
        f->pending(u"a"_s, u"X"_s);
        f->click(u"cmdReplace"_s);
        QCOMPARE(sink().texts(), QStringList {u"Replace in 1 file?"_s + kPair});
    }

    // Replace As asks only where it overwrites existing files without asking for each; the per-file question stays.
    void replaceAsOverwrite_data() { AddRows(kReplaceAs); }
    void replaceAsOverwrite()
    {
        QFETCH(int, row);
        const auto &[name, overwrite, selected, existing, asked] = kReplaceAs[row];
        addThree();
        const QString out = dir->filePath(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        for (const QString &name : existing)
            WriteFileIn(out, name, "old");
        f->dialogs.target = ReplaceAsSettings {out, {}, {}, qint16(overwrite)};
        sink().answers = {Answer::No};
        if (selected) {
            f->files()->topLevelItem(0)->setSelected(true);
            f->trigger(u"IDM_COPYREPLACE_SELECTED"_s); // the other command of the two
        } else {
            f->click(u"cmdReplaceAs"_s);
        }
        QCOMPARE(sink().texts(), asked.isEmpty() ? QStringList() : QStringList {QString(asked).arg(out)});
        QCOMPARE(ReadFile(out + u"/a.txt"_s), asked.isEmpty() ? "X X"_ba : "old"_ba);
        QCOMPARE(QFileInfo::exists(out + u"/c.txt"_s), existing.contains(u"c.txt"_s) || asked.isEmpty());
        QCOMPARE(f->dialogs.asked.last(), selected ? u"target 1"_s : u"target 3"_s);
    }

    // The selected row is processed even where an earlier row, not selected, names the same file.
    void selectedSecondNameOfAFile()
    {
        const QString a = file(u"a.txt"_s, "a"), link = dir->filePath(u"link"_s);
        QVERIFY(QFile::link(a, link));
        f->addFiles({a, link});
        f->pending(u"a"_s, u"X"_s);
        f->files()->topLevelItem(1)->setSelected(true);
        f->trigger(u"IDM_REPLACE_SELECTED"_s);
        QCOMPARE(ReadFile(a), "X"_ba);
        QCOMPARE(cells(), u"-|1"_s);
    }

    // Files that vanished after they were listed: the first failure's box has the check box; left checked, the rest
    // wait for one summary; unchecked, each gets its box. The rows keep their marks either way.
    void failureSummary_data() { AddRows(kFailures); }
    void failureSummary()
    {
        QFETCH(int, row);
        const auto &[name, mode, atEnd] = kFailures[row];
        const QStringList paths = {file(u"gone1"_s, "a"), file(u"here"_s, "a"), file(u"gone2"_s, "a"), file(u"gone3"_s, "a")};
        f->addFiles(paths);
        f->pending(u"a"_s, u"X"_s);
        for (int i : {0, 2, 3})
            QVERIFY(QFile::remove(paths[i]));
        sink().checkAnswers = {atEnd};
        f->w->ProcessFiles(mode);
        const QString reason = SystemErrorText(ENOENT);
        const QStringList each = {FileErrorMessage(reason, paths[0]), FileErrorMessage(reason, paths[2]), FileErrorMessage(reason, paths[3])};
        const QString summary = u"3 files could not be processed:\r\n\r\n%1 - %4\r\n%2 - %4\r\n%3 - %4"_s.arg(paths[0], paths[2], paths[3], reason);
        QCOMPARE(sink().texts(), atEnd ? QStringList({each[0], summary}) : each);
        QCOMPARE(std::tuple(sink().shown[0].checkBox, sink().shown[0].checkedBefore, sink().shown[1].checkBox),
            std::tuple(FailureReport::CheckBoxText(), true, QString()));
        QCOMPARE(ReadFile(paths[1]), mode == RunMode::Count ? "a"_ba : "X"_ba);
        QCOMPARE(f->eachFile([&](int i) { return f->files()->topLevelItem(i)->toolTip(0); }).mid(2),
            QStringList({u"Failed: "_s + each[1], u"Failed: "_s + each[2]}));
        f->w->ProcessFiles(RunMode::Count); // afresh: its first failure has the check box again
        QCOMPARE(sink().shown[qsizetype(atEnd ? 2 : 3)].checkBox, FailureReport::CheckBoxText());
    }

    // A long list is cut, saying how many more; a message that does not end with the path stays whole, on one line.
    void summaryText()
    {
        std::vector<std::pair<QString, QString>> failures(25, {u"/f"_s, u"Permission denied - /f"_s});
        failures[1] = {u"/g"_s, u"The file /g was changed\r\nby another program."_s};
        const QStringList lines = FailureReport::SummaryText(failures).split(u"\r\n"_s);
        QCOMPARE(lines.mid(0, 4) << lines.mid(22),
            (QStringList {u"25 files could not be processed:"_s, QString(), u"/f - Permission denied"_s, u"/g - The file /g was changed by another program."_s,
                u"... and 5 more, marked in the file list."_s}));
    }
};

QTEST_MAIN(TestWindowAsk)
#include "tst_window_ask.moc"
