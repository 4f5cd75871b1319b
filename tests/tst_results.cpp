// Runs from the main window and what it shows of them: the rows' cells, marks and tooltips, the totals in the status
// bar, File > Export Results; and the warnings of the argument list about its pairs.

#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QtWidgets>

#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// "!" for the style's warning icon, "?" for any other, nothing for none.
QString Icon(const QWidget *list, const QIcon &icon)
{
    const QIcon warning = list->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return icon.isNull() ? QString() : icon.pixmap(16).toImage() == warning.pixmap(16).toImage() ? u"!"_s : u"?"_s;
}

// A file list row: its Count cell's icon, "~" for dimmed cells, then the tooltip; "?" when the cells disagree.
QString RowMark(const FileListView *list, int row)
{
    const QTreeWidgetItem *item = list->topLevelItem(row);
    const bool dimmed = item->data(0, Qt::ForegroundRole).isValid();
    if (item->toolTip(0) != item->toolTip(1) || dimmed != item->data(1, Qt::ForegroundRole).isValid() || !item->icon(0).isNull())
        return u"?"_s;
    return (Icon(list, item->icon(1)) + (dimmed ? u"~"_s : QString()) + u' ' + item->toolTip(0)).trimmed();
}

// A run on files of the test folder (a null content: no such file) with the pending pair and, when second, the row
// "b" -> "y"; Replace As goes where new_b.txt exists, and the answer is No; cancelAt: cancelled as the progress window
// shows that row's file. Afterwards each row's mark (%1: its path), the cells, the contents (long ones as size and
// byte), the totals, the messages, and the cells and file shown at each message: the window puts a run's results on
// screen once per event round (here a minute), but a message comes after the cells of the rows before it.
// Name, mode, files, find, replace, second, cancelAt, marks, cells, contents, totals, messages, seen:
using RunCase = std::tuple<const char *, RunMode, QList<std::pair<QString, QByteArray>>, QString, QString, bool, int, QStringList, QString, QString, QString,
    QString, QString>;
const QString kNotProcessed = u"~ Not processed: the run ended before this file was done."_s;
const QString kSameAsFirst = u"~ Not processed: the same file as row 1."_s;
const RunCase kRuns[] = {
    {"Count: counted, failed, none", RunMode::Count, {{u"a"_s, "abab"}, {u"missing"_s, {}}, {u"none"_s, "zz"}}, u"a"_s, u"x"_s, false, -1,
        {u"Counted: 2 occurrences"_s, u"! Failed: No such file or directory - %1"_s, u"Counted: no occurrence"_s}, u"       2|       0|       0"_s,
        u"abab||zz"_s, u"2 occurrences in 1 of 3 files, 1 failed"_s, u"No such file or directory - %1"_s, u"       2|| missing"_s},
    // The same file twice is processed once; an empty replacement deletes; a file without occurrences is not rewritten.
    {"Replace, two pairs", RunMode::Replace, {{u"a"_s, "aab"}, {u"none"_s, "zz"}, {u"b"_s, "bb"}, {u"a"_s, "aab"}}, u"a"_s, QString(), true, -1,
        {u"Replaced: 3 occurrences (pair 1: 2, pair 2: 1)"_s, u"Unchanged: no occurrence"_s, u"Replaced: 2 occurrences (pair 2: 2)"_s, kSameAsFirst},
        u"       3|       0|       2|"_s, u"y|zz|yy|y"_s, u"5 occurrences in 2 of 4 files, 1 not processed"_s, QString(), QString()},
    // A link ("->") or a hard link ("&") to a listed file is that file: counted and replaced once.
    {"Count, a file by a link and a hard link", RunMode::Count, {{u"a"_s, "aa"}, {u"l"_s, "->a"}, {u"h"_s, "&a"}}, u"a"_s, u"x"_s, false, -1,
        {u"Counted: 2 occurrences"_s, kSameAsFirst, kSameAsFirst}, u"       2||"_s, u"aa|aa|aa"_s, u"2 occurrences in 1 of 3 files, 2 not processed"_s,
        QString(), QString()},
    {"Replace, a file by a hard link and a link to it", RunMode::Replace, {{u"a"_s, "ab"}, {u"h"_s, "&a"}, {u"l"_s, "->h"}, {u"c"_s, "a"}}, u"a"_s, u"aa"_s,
        false, -1, {u"Replaced: 1 occurrence"_s, kSameAsFirst, kSameAsFirst, u"Replaced: 1 occurrence"_s}, u"       1|||       1"_s, u"aab|aab|aab|aa"_s,
        u"2 occurrences in 2 of 4 files, 2 not processed"_s, QString(), QString()},
    {"Replace As, No to the overwrite question", RunMode::ReplaceAs, {{u"a.txt"_s, "x"}, {u"b.txt"_s, "x"}, {u"c.txt"_s, "x"}}, u"x"_s, u"y"_s, false, -1,
        {u"Replaced: 1 occurrence"_s, kNotProcessed, kNotProcessed}, u"       1||"_s, u"x|x|x"_s, u"1 occurrence in 1 of 3 files, 2 not processed"_s,
        u"The file %2/new_b.txt already exists.\r\n\r\nDo you want to overwrite it?"_s, u"       1|| b.txt"_s},
    {"Replace, cancelled in the second file", RunMode::Replace,
        {{u"a"_s, QByteArray(9000, 'q')}, {u"b"_s, QByteArray(20000, 'q')}, {u"c"_s, QByteArray(9000, 'q')}}, u"q"_s, u"r"_s, false, 1,
        {u"Replaced: 9000 occurrences"_s, kNotProcessed, kNotProcessed}, u"    9000||"_s, u"9000 r|20000 q|9000 q"_s,
        u"9000 occurrences in 1 of 3 files, 2 not processed"_s, CancelQuestion(), u"|| b"_s},
};

// rows: "type|find|type|replace" joined by ";". change: U moves the row at position up, D drops it on the first, X
// removes it, E takes it out to edit. marks: per row "-", or "F" and the shadowing pair, "R" and the pair found in the
// replacement (from 1). Name, rows, change, position, marks:
const std::tuple<const char *, QString, char, int, QString> kPairs[] = {
    {"equal, and a prefix in another notation", u"Asc|ab|Asc|1;Asc|ab|Asc|2;Dec|97,98,99|Asc|3"_s, ' ', 0, u"- F1 F1"_s},
    {"a later shorter find is fine", u"Asc|abc|Asc|1;Hex|61 62|Asc|2"_s, ' ', 0, u"- -"_s},
    {"moved up, it shadows", u"Asc|abc|Asc|1;Asc|ab|Asc|2"_s, 'U', 1, u"- F1"_s},
    {"dragged onto the first, it shadows", u"Asc|abc|Asc|1;Asc|ab|Asc|2"_s, 'D', 1, u"- F1"_s},
    {"the shadowing pair removed", u"Asc|a|Asc|1;Asc|ab|Asc|2;Asc|ab|Asc|3"_s, 'X', 0, u"- F1"_s},
    {"the shadowing pair taken out to edit", u"Asc|a|Asc|1;Asc|ab|Asc|2"_s, 'E', 0, u"-"_s},
    {"replacements holding their own or a later find", u"Asc|a|Asc|ba;Asc|x|Hex|79 7A;Asc|z|Asc|"_s, ' ', 0, u"R1 R3 -"_s},
    {"both", u"Asc|q|Asc|1;Asc|q|Asc|q"_s, ' ', 0, u"- F1R1"_s},
    {"texts that do not convert count as empty", u"Dec|98,300|Asc|1;Asc|b|Dec|98,999"_s, ' ', 0, u"- -"_s},
    // A find that ignores case shadows a literal; patterns are not read as bytes.
    {"ignoring case, and patterns", u"Utf i|\u00c9|Asc|1;Hex|C3 A9 62|Asc|2;Rgx|a.|Asc|3;Asc|a.b|Asc|4;Hex w|61|Asc|5;Asc|ab|Asc|a"_s, ' ', 0,
        u"- F1 - - - -"_s},
};

} // namespace

class TestResults : public WindowTest
{
    Q_OBJECT

    QStringList marks() const
    {
        return f->eachFile([&](int i) { return RowMark(f->files(), i); });
    }
    QString totals() const { return f->child<QLabel>(u"staTotals"_s)->text(); }
    bool exportEnabled() const { return f->action(u"IDM_EXPORT_RESULTS"_s)->isEnabled(); }

private slots:
    // While a run goes, the main window is disabled and the progress window says which run it is.
    void marksAndTotalsAfterARun_data() { AddRows(kRuns); }
    void marksAndTotalsAfterARun()
    {
        QFETCH(int, row);
        const auto &[name, mode, files, find, replace, second, cancelAt, expectMarks, cells, expectContents, expectTotals, messages, seen] = kRuns[row];
        QStringList paths, marks, contents;
        QList<ino_t> inodes;
        for (const auto &[fileName, bytes] : files) {
            const QByteArray other = NativePath(dir->filePath(QString::fromLatin1(bytes.mid(bytes.startsWith('&') ? 1 : 2))));
            paths << (bytes.isNull() || bytes.startsWith("->") || bytes.startsWith('&') ? dir->filePath(fileName) : file(fileName, bytes));
            if (bytes.startsWith("->"))
                QCOMPARE(::symlink(other.constData(), NativePath(paths.last()).constData()), 0);
            if (bytes.startsWith('&'))
                QCOMPARE(::link(other.constData(), NativePath(paths.last()).constData()), 0);
            inodes << StatOf(paths.last()).st_ino;
        }
        QTemporaryDir out;
        WriteFileIn(out.path(), u"new_b.txt"_s, "keep");
        f->dialogs.target = ReplaceAsSettings {out.path(), u"new_"_s, QString(), 0};
        f->w->setEventPumpInterval(cancelAt < 0 ? 60000 : 0); // before the window's first round of events
        f->addFiles(paths);
        f->pending(find, replace);
        if (second)
            f->addRow(u"Asc"_s, u"b"_s, u"Hex"_s, u"79"_s);
        QString caption, shown;
        sink().onShow = [&] { shown += f->cells() + u' ' + f->progress()->status1()->text().section(u'/', -1); };
        f->dialogs.onRunStarted = [&](ProgressWindow *p) {
            caption = f->w->isEnabled() || !p->isEnabled() ? u"enabled"_s : p->windowTitle();
            connect(p->progressBar(), &QProgressBar::valueChanged, p, [p, cancelAt = cancelAt, &paths] {
                if (cancelAt >= 0 && p->status1()->text() == paths[cancelAt] && !p->cancelFlag())
                    p->askCancel();
            });
        };
        sink().answers = {cancelAt < 0 ? MessageSink::Answer::No : MessageSink::Answer::Yes};
        QVERIFY(!exportEnabled());
        f->w->ProcessFiles(mode);
        QCOMPARE(caption, mode == RunMode::Count ? u"Counting..."_s : u"Replacing..."_s);
        for (int i = 0; i < paths.size(); ++i) {
            const QByteArray bytes = ReadFile(paths[i]);
            marks << QString(expectMarks[i]).replace(u"%1"_s, paths[i]);
            contents << (bytes.size() > 8 ? u"%1 %2"_s.arg(bytes.size()).arg(QLatin1Char(bytes[0])) : QString::fromLatin1(bytes));
            if (bytes == files[i].second)
                QCOMPARE(StatOf(paths[i]).st_ino, inodes[i]);
        }
        QCOMPARE(this->marks(), marks);
        QCOMPARE(QStringList({f->cells(), contents.join(u'|'), totals(), f->status()}),
            QStringList({cells, expectContents, expectTotals, u"%1 files"_s.arg(paths.size())}));
        QCOMPARE(sink().texts().join(u'|'), QString(messages).replace(u"%1"_s, paths.value(1)).replace(u"%2"_s, out.path()));
        QCOMPARE(shown, seen);
        QCOMPARE(ReadFile(out.path() + u"/new_a.txt"_s) + ReadFile(out.path() + u"/new_b.txt"_s), mode == RunMode::ReplaceAs ? "ykeep"_ba : "keep"_ba);
        QCOMPARE(std::pair(exportEnabled(), f->w->isEnabled()), std::pair(true, true));
    }

    // A run clears the marks and totals while it runs; one that never reaches the files keeps them: arguments that
    // cannot run are reported before any file is read and before the progress window shows. Rows added since have
    // none; the totals go with any change of the list, not with a sort.
    void marksAndTotalsFollowTheList()
    {
        const QString a = dir->filePath(u"a"_s);
        const auto state = [&] { return marks() << totals() << f->cells() << (exportEnabled() ? u"export"_s : u"-"_s); };
        f->addFiles({a, file(u"b"_s)});
        f->pending(u"x"_s, u"y"_s);
        f->trigger(u"IDM_COUNT"_s);
        const QStringList first {u"! Failed: No such file or directory - "_s + a, u"Counted: 1 occurrence"_s};
        QCOMPARE(state(), first + QStringList({u"1 occurrence in 1 of 2 files, 1 failed"_s, u"       0|       1"_s, u"export"_s}));
        f->addFiles({file(u"c"_s)});
        QCOMPARE(state(), first + QStringList({QString(), QString(), u"       0|       1|"_s, u"export"_s}));
        f->dialogs.onRunStarted = [](ProgressWindow *) { QFAIL("a run started"); };
        f->pending(QString(), QString());
        f->click(u"cmdReplace"_s);
        f->field(1)->selectNotation(Notation::Decimal);
        f->pending(u"x"_s, u"1,2,999"_s);
        f->click(u"cmdReplace"_s);
        f->field(1)->selectNotation(Notation::Characters);
        QCOMPARE(sink().texts().mid(1),
            QStringList({u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s,
                ArgumentMessage(u"1,2,999"_s, Notation::Decimal)}));
        QCOMPARE(state(), first + QStringList({QString(), QString(), u"       0|       1|"_s, u"export"_s}));
        file(u"a"_s);
        f->pending(u"x"_s, u"y"_s);
        QStringList during;
        f->dialogs.onRunStarted = [&](ProgressWindow *) { during = marks() << totals(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(during, QStringList(4, QString()));
        f->files()->SortByColumn(0);
        QCOMPARE(state(), QStringList(3, u"Counted: 1 occurrence"_s) << u"3 occurrences in 3 of 3 files"_s << u"       1|       1|       1"_s << u"export"_s);
        f->files()->setFocus();
        f->files()->setCurrentItem(f->files()->topLevelItem(0));
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(state(), QStringList(2, u"Counted: 1 occurrence"_s) << QString() << u"       1|       1"_s << u"export"_s);
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(state(), QStringList({QString(), QString(), u"-"_s}));
    }

    // Nothing to export before a run. The export writes the list as it stands, in its order, with the last run's pairs;
    // a row added since is not processed. It replaces an older file; a cancelled dialog writes nothing; a failure is
    // reported and leaves nothing.
    void exportWritesTheList()
    {
        QVERIFY(QDir(dir->path()).mkdir(u"folder"_s));
        const QString target = WriteFileIn(dir->path(), u"out,\"1\".csv"_s, "an older and longer export");
        f->addFiles({file(u"we,\"ird"_s, "aab"), file(u"none"_s, "z")});
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QCOMPARE(f->dialogs.asked.size(), 1);
        f->pending(u"a"_s, u"1"_s);
        f->addRow(u"Asc"_s, u"b"_s, u"Asc"_s, u"2"_s);
        f->trigger(u"IDM_COUNT"_s);
        f->addFiles({file(u"late"_s)});
        f->pending(u"q"_s, QString()); // nothing until the next run
        for (const QString &path : {QString(), dir->filePath(u"gone/results.csv"_s), dir->filePath(u"folder"_s), target}) {
            f->dialogs.savePath = path;
            f->trigger(u"IDM_EXPORT_RESULTS"_s);
        }
        QCOMPARE(f->dialogs.asked.last(), u"Export Results results.csv CSV files (*.csv)"_s);
        QCOMPARE(sink().texts(),
            QStringList({u"No such file or directory - %1/gone/results.csv"_s.arg(dir->path()), u"Is a directory - %1/folder"_s.arg(dir->path())}));
        QCOMPARE(QString::fromUtf8(ReadFile(target)),
            u"path,count,result,pair1,pair2\r\n\"%1/we,\"\"ird\",3,counted,2,1\r\n%1/none,0,counted,0,0\r\n%1/late,0,not processed,0,0\r\n"_s.arg(dir->path()));
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList({u"folder"_s, u"late"_s, u"none"_s, u"out,\"1\".csv"_s, u"we,\"ird"_s}));
        QVERIFY(QDir(dir->filePath(u"folder"_s)).isEmpty());
    }

    void pairWarnings_data() { AddRows(kPairs); }
    void pairWarnings()
    {
        QFETCH(int, row);
        const auto &[name, rows, change, position, marks] = kPairs[row];
        ArgumentListView *list = f->args();
        for (const QString &r : rows.split(u';')) {
            const QStringList s = r.split(u'|');
            list->appendRow({s[0], s[1], s[2], s[3]});
        }
        QCoreApplication::processEvents();
        f->setCurrentRow(position);
        list->topLevelItem(position)->setSelected(true);
        if (change == 'U' || change == 'X' || change == 'E')
            f->trigger(change == 'U' ? u"IDM_ARG_UP"_s : change == 'X' ? u"IDM_ARG_REMOVE"_s : u"IDM_ARG_EDIT"_s);
        if (change == 'D')
            list->DropDraggedRow(position + 1, 0);
        QCoreApplication::processEvents();
        // Each row: the warning icons of its Find and Replace cells, and its tooltip (the same in every cell).
        QStringList shown, expected;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            const QString code = marks.section(u' ', i, i);
            QStringList tips;
            if (code.startsWith(u'F'))
                tips << u"Pair %1 can never match: the find sequence of pair %2 is the same or its beginning, and is searched first."_s.arg(i + 1).arg(code[1]);
            if (code.contains(u'R'))
                tips << u"The replace sequence of pair %1 contains %2: a second run would replace again."_s.arg(i + 1).arg(
                    code.back().digitValue() == i + 1 ? u"its own find sequence"_s : u"the find sequence of pair "_s + code.back());
            expected << (code.startsWith(u'F') ? u"!|"_s : u"|"_s) + (code.contains(u'R') ? u"!|"_s : u"|"_s) + tips.join(u'\n');
            shown << Icon(list, item->icon(1)) + u'|' + Icon(list, item->icon(3)) + u'|' + item->toolTip(0);
            QCOMPARE(Icon(list, item->icon(0)) + Icon(list, item->icon(2)), QString());
            QCOMPARE(QStringList({item->toolTip(1), item->toolTip(2), item->toolTip(3)}), QStringList(3, item->toolTip(0)));
        }
        QCOMPARE(shown, expected);
        QCOMPARE(sink().texts(), QStringList());
    }
};

QTEST_MAIN(TestResults)
#include "tst_results.moc"
