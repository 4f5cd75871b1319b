// What the main window shows of a run's results: the marks and tooltips of the file list's rows, the totals in the
// status bar, File > Export Results, and the warnings of the argument list about its pairs.

#include "arguments/pairchecks.h"
#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

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

struct MarkCase
{
    const char *name;
    RunMode mode;
    QList<std::pair<QString, QByteArray>> files; // a null content: no file
    QString find, replace; // the pending pair, then a row "b" -> "y" when second
    bool second, existingTarget; // Replace As: the second file's target exists, and the answer is No
    QStringList marks; // %1: the file's path
    QString totals;
};
const QString kNotProcessed = u"~ Not processed: the run ended before this file was done."_s;
const MarkCase kMarks[] = {
    {"Count: counted, failed, none", RunMode::Count, {{u"a"_s, "abab"}, {u"missing"_s, {}}, {u"none"_s, "zz"}}, u"a"_s, u"x"_s, false, false,
        {u"Counted: 2 occurrences"_s, u"! Failed: No such file or directory - %1"_s, u"Counted: no occurrence"_s},
        u"2 occurrences in 1 of 3 files, 1 failed"_s},
    {"Replace, two pairs", RunMode::Replace, {{u"a"_s, "aab"}, {u"none"_s, "zz"}, {u"b"_s, "bb"}}, u"a"_s, u"x"_s, true, false,
        {u"Replaced: 3 occurrences (pair 1: 2, pair 2: 1)"_s, u"Unchanged: no occurrence"_s, u"Replaced: 2 occurrences (pair 2: 2)"_s},
        u"5 occurrences in 2 of 3 files"_s},
    {"No to the overwrite question", RunMode::ReplaceAs, {{u"a.txt"_s, "x"}, {u"b.txt"_s, "x"}, {u"c.txt"_s, "x"}}, u"x"_s, u"y"_s, false, true,
        {u"Replaced: 1 occurrence"_s, kNotProcessed, kNotProcessed}, u"1 occurrence in 1 of 3 files, 2 not processed"_s},
};

// rows: "type|find|type|replace" joined by ";". change: U moves the row at position up, D drops it on the first, X
// removes it, E takes it out to edit, L loads the rows from a file. marks: per row "-", or "F" and the shadowing pair,
// "R" and the pair found in the replacement (from 1).
struct PairCase
{
    const char *name;
    QString rows;
    char change;
    int position;
    QString marks;
};
const PairCase kPairs[] = {
    {"equal, and a prefix in another notation", u"Asc|ab|Asc|1;Asc|ab|Asc|2;Dec|97,98,99|Asc|3"_s, ' ', 0, u"- F1 F1"_s},
    {"a later shorter find is fine", u"Asc|abc|Asc|1;Hex|61 62|Asc|2"_s, ' ', 0, u"- -"_s},
    {"moved up, it shadows", u"Asc|abc|Asc|1;Asc|ab|Asc|2"_s, 'U', 1, u"- F1"_s},
    {"dragged onto the first, it shadows", u"Asc|abc|Asc|1;Asc|ab|Asc|2"_s, 'D', 1, u"- F1"_s},
    {"the shadowing pair removed", u"Asc|a|Asc|1;Asc|ab|Asc|2;Asc|ab|Asc|3"_s, 'X', 0, u"- F1"_s},
    {"the shadowing pair taken out to edit", u"Asc|a|Asc|1;Asc|ab|Asc|2"_s, 'E', 0, u"-"_s},
    {"replacements holding their own or a later find", u"Asc|a|Asc|ba;Asc|x|Hex|79 7A;Asc|z|Asc|"_s, ' ', 0, u"R1 R3 -"_s},
    {"both, loaded", u"Asc|q|Asc|1;Asc|q|Asc|q"_s, 'L', 0, u"- F1R1"_s},
    {"texts that do not convert count as empty", u"Dec|98,300|Asc|1;Asc|b|Dec|98,999"_s, ' ', 0, u"- -"_s},
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
    void marksAndTotalsAfterARun_data() { AddRows(kMarks); }
    void marksAndTotalsAfterARun()
    {
        QFETCH(int, row);
        const MarkCase &c = kMarks[row];
        QStringList paths, expected;
        for (const auto &[name, bytes] : c.files)
            paths << (bytes.isNull() ? dir->filePath(name) : file(name, bytes));
        QTemporaryDir out;
        if (c.existingTarget) {
            WriteFileIn(out.path(), u"new_"_s + c.files[1].first, "keep");
            f->dialogs.target = ReplaceAsSettings {out.path(), u"new_"_s, QString(), 0};
        }
        f->addFiles(paths);
        f->pending(c.find, c.replace);
        if (c.second)
            f->addRow(u"Asc"_s, u"b"_s, u"Hex"_s, u"79"_s);
        QVERIFY(!exportEnabled());
        f->w->ProcessFiles(c.mode);
        for (int i = 0; i < paths.size(); ++i)
            expected << QString(c.marks[i]).replace(u"%1"_s, paths[i]);
        QCOMPARE(marks(), expected);
        QCOMPARE(QStringList({totals(), f->status()}), QStringList({c.totals, u"%1 files"_s.arg(paths.size())}));
        QVERIFY(exportEnabled());
    }

    // A run clears the marks and totals while it runs; one that never reaches the files keeps them. Rows added since
    // have none; the totals go with any change of the list, not with a sort.
    void marksAndTotalsFollowTheList()
    {
        const QString a = dir->filePath(u"a"_s);
        f->addFiles({a, file(u"b"_s)});
        f->pending(u"x"_s, u"y"_s);
        f->trigger(u"IDM_COUNT"_s);
        const QStringList first {u"! Failed: No such file or directory - "_s + a, u"Counted: 1 occurrence"_s};
        f->pending(QString(), QString()); // no arguments
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(marks() << totals(), first + QStringList {u"1 occurrence in 1 of 2 files, 1 failed"_s});
        f->addFiles({file(u"c"_s)});
        QCOMPARE(marks() << totals(), first + QStringList(2, QString()));
        QVERIFY(exportEnabled());
        file(u"a"_s);
        f->pending(u"x"_s, u"y"_s);
        QStringList during;
        f->dialogs.onRunStarted = [&](ProgressWindow *) { during = marks() << totals(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(during, QStringList(4, QString()));
        QCOMPARE(marks(), QStringList(3, u"Counted: 1 occurrence"_s));
        f->files()->SortByColumn(0);
        QCOMPARE(totals(), u"3 occurrences in 3 of 3 files"_s);
        f->files()->setFocus();
        f->files()->setCurrentItem(f->files()->topLevelItem(0));
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(totals(), QString());
        QCOMPARE(f->files()->topLevelItemCount(), 2);
        QVERIFY(exportEnabled());
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        QVERIFY(!exportEnabled());
    }

    // The list as it stands, in its order, with the last run's pairs; a row added since is not processed. The
    // export replaces an older file; a cancelled dialog writes nothing.
    void exportWritesTheList()
    {
        const QString target = WriteFileIn(dir->path(), u"out,\"1\".csv"_s, "an older and longer export");
        f->addFiles({file(u"we,\"ird"_s, "aab"), file(u"none"_s, "z")});
        f->pending(u"a"_s, u"1"_s);
        f->addRow(u"Asc"_s, u"b"_s, u"Asc"_s, u"2"_s);
        f->trigger(u"IDM_COUNT"_s);
        f->addFiles({file(u"late"_s)});
        f->pending(u"q"_s, QString()); // nothing until the next run
        f->dialogs.savePath = target;
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QCOMPARE(sink().texts(), QStringList());
        QCOMPARE(f->dialogs.asked.last(), u"Export Results results.csv CSV files (*.csv)"_s);
        QCOMPARE(QString::fromUtf8(ReadFile(target)),
            u"path,count,result,pair1,pair2\r\n\"%1/we,\"\"ird\",3,counted,2,1\r\n%1/none,0,counted,0,0\r\n%1/late,0,not processed,0,0\r\n"_s.arg(dir->path()));
        QVERIFY(QFile::remove(target));
        f->dialogs.savePath.clear();
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(sink().texts(), QStringList());
    }

    void exportFailuresLeaveNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // %1: the path
        QTest::newRow("no such folder") << u"gone/results.csv"_s << u"No such file or directory - %1"_s;
        QTest::newRow("a folder") << u"folder"_s << u"Is a directory - %1"_s;
    }
    void exportFailuresLeaveNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QVERIFY(QDir(dir->path()).mkdir(u"folder"_s));
        f->dialogs.savePath = dir->filePath(name);
        f->addFiles({file(u"a"_s)});
        f->trigger(u"IDM_EXPORT_RESULTS"_s); // nothing to export before a run
        QVERIFY(!exportEnabled());
        QCOMPARE(f->dialogs.asked.size(), 1);
        f->pending(u"x"_s, u"y"_s);
        f->trigger(u"IDM_COUNT"_s);
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QCOMPARE(sink().texts(), QStringList {message.arg(f->dialogs.savePath)});
        QStringList left = QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeAll(u"prefs.conf"_s);
        QCOMPARE(left, QStringList({u"a"_s, u"folder"_s}));
        QVERIFY(QDir(dir->filePath(u"folder"_s)).isEmpty());
    }

    void pairWarnings_data() { AddRows(kPairs); }
    void pairWarnings()
    {
        QFETCH(int, row);
        const PairCase &c = kPairs[row];
        ArgumentListView *list = f->args();
        QString content;
        for (const QString &r : c.rows.split(u';')) {
            const QStringList s = r.split(u'|');
            list->appendRow({s[0], s[1], s[2], s[3]});
            content += u"<FIND TYPE=%1>%2</FIND><REPLACE TYPE=%3>%4</REPLACE>\r\n"_s.arg(s[0].toUpper(), s[1], s[2].toUpper(), s[3]);
        }
        if (c.change == 'L') {
            list->ClearRows();
            f->dialogs.argumentPath = WriteFileIn(dir->path(), u"pairs.txt"_s, content.toLatin1());
            f->trigger(u"IDM_LOAD"_s);
        }
        QCoreApplication::processEvents();
        f->setCurrentRow(c.position);
        list->topLevelItem(c.position)->setSelected(true);
        if (c.change == 'U' || c.change == 'X' || c.change == 'E')
            f->trigger(c.change == 'U' ? u"IDM_ARG_UP"_s : c.change == 'X' ? u"IDM_ARG_REMOVE"_s : u"IDM_ARG_EDIT"_s);
        if (c.change == 'D')
            list->DropDraggedRow(c.position + 1, 0);
        QCoreApplication::processEvents();
        QStringList shown, expected;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            PairWarning w;
            QString code = c.marks.split(u' ').value(i);
            if (code.startsWith(u'F'))
                w.shadowedBy = code.mid(1, 1).toInt() - 1;
            if (code.contains(u'R'))
                w.replacementFinds = code.mid(code.indexOf(u'R') + 1).toInt() - 1;
            expected << (w.shadowedBy >= 0 ? u"!"_s : QString()) + u'|' + (w.replacementFinds >= 0 ? u"!"_s : QString()) + u'|' + PairWarningText(i, w);
            shown << Icon(list, item->icon(1)) + u'|' + Icon(list, item->icon(3)) + u'|' + item->toolTip(0);
            QCOMPARE(Icon(list, item->icon(0)) + Icon(list, item->icon(2)), QString());
            for (int column : {1, 2, 3})
                QCOMPARE(item->toolTip(column), item->toolTip(0));
        }
        QCOMPARE(shown, expected);
        QVERIFY(sink().shown.isEmpty());
        // The text itself, once.
        if (c.change == 'L')
            QCOMPARE(list->topLevelItem(1)->toolTip(0),
                u"Pair 2 can never match: the find sequence of pair 1 is the same or its beginning, and is searched first.\n"_s
                u"The replace sequence of pair 2 contains the find sequence of pair 1: a second run would replace again."_s);
    }
};

QTEST_MAIN(TestResults)
#include "tst_results.moc"
