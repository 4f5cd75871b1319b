// What the main window shows of a run's results: the marks and tooltips of the file list's rows, the totals in the
// status bar, File > Export Results, and the warnings of the argument list about pairs that can never match.

#include "engine/runreport.h"
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

template<typename Case, std::size_t N> void AddRows(const Case (&cases)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(cases[i].name) << int(i);
}

bool IsWarningIcon(const QWidget *list, const QIcon &icon)
{
    const QIcon warning = list->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return !icon.isNull() && icon.pixmap(16).toImage() == warning.pixmap(16).toImage();
}

// A file list row as it shows its result: "! " for the warning icon, "~ " for dimmed cells, then the tooltip; "?"
// when the two cells disagree.
QString RowMark(const FileListView *list, int row)
{
    const QTreeWidgetItem *item = list->topLevelItem(row);
    const bool dimmed = item->data(0, Qt::ForegroundRole).isValid();
    if (item->toolTip(0) != item->toolTip(1) || dimmed != item->data(1, Qt::ForegroundRole).isValid() || !item->icon(0).isNull())
        return u"?"_s;
    return (IsWarningIcon(list, item->icon(1)) ? u"! "_s : !item->icon(1).isNull() ? u"? "_s : QString()) + (dimmed ? u"~ "_s : QString()) + item->toolTip(0);
}

const QString kNotProcessed = u"~ Not processed: the run ended before this file was done."_s;

struct MarkCase
{
    const char *name;
    RunMode mode;
    QList<std::pair<QString, QByteArray>> files; // a null content: no file
    QString find, replace; // the pending pair
    ArgumentRow row; // a second pair when its find is not empty
    bool existingTarget; // Replace As: new_ + the second file's name stands in the target folder, answered No
    QStringList marks; // %1: the file's path
    QString totals;
};
const MarkCase kMarks[] = {
    {"Count: counted, failed, none", RunMode::Count, {{u"a"_s, "abab"}, {u"missing"_s, {}}, {u"none"_s, "zz"}}, u"a"_s, u"x"_s, {}, false,
        {u"Counted: 2 occurrences"_s, u"! Failed: No such file or directory - %1"_s, u"Counted: no occurrence"_s},
        u"2 occurrences in 1 of 3 files, 1 failed"_s},
    {"Replace with two pairs", RunMode::Replace, {{u"a"_s, "aab"}, {u"none"_s, "zz"}}, u"a"_s, u"x"_s, {u"Asc"_s, u"b"_s, u"Hex"_s, u"79"_s}, false,
        {u"Replaced: 3 occurrences (pair 1: 2, pair 2: 1)"_s, u"Unchanged: no occurrence"_s}, u"3 occurrences in 1 of 2 files"_s},
    {"only the pair that found any", RunMode::Count, {{u"b"_s, "bbb"}}, u"a"_s, u"x"_s, {u"Asc"_s, u"b"_s, u"Asc"_s, u""_s}, false,
        {u"Counted: 3 occurrences (pair 2: 3)"_s}, u"3 occurrences in 1 of 1 file"_s},
    {"No to the overwrite question", RunMode::ReplaceAs, {{u"a.txt"_s, "x"}, {u"b.txt"_s, "x"}, {u"c.txt"_s, "x"}}, u"x"_s, u"y"_s, {}, true,
        {u"Replaced: 1 occurrence"_s, kNotProcessed, kNotProcessed}, u"1 occurrence in 1 of 3 files, 2 not processed"_s},
};

enum class PairChange
{
    None,
    MoveUp, // the row at position
    Remove,
    Edit,
    Drop, // the row at position onto the first
    Load, // the rows come from an argument file
};
struct PairCase
{
    const char *name;
    QList<ArgumentRow> rows;
    PairChange change;
    int position;
    QStringList marks; // per row: "F" (icon on Find what), "R" (on Replace with), then " " and the tooltip
};
const QString kShadow2By1 = u"Pair 2 can never match: the find sequence of pair 1 is the same or its beginning, and is searched first."_s;
const PairCase kPairs[] = {
    {"equal finds", {{u"Asc"_s, u"ab"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"2"_s}}, PairChange::None, 0, {QString(), u"F "_s + kShadow2By1}},
    {"a prefix in another notation", {{u"Dec"_s, u"97"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"abc"_s, u"Asc"_s, u"2"_s}}, PairChange::None, 0,
        {QString(), u"F "_s + kShadow2By1}},
    {"a later shorter find is no warning", {{u"Asc"_s, u"abc"_s, u"Asc"_s, u"1"_s}, {u"Hex"_s, u"61 62"_s, u"Asc"_s, u"2"_s}}, PairChange::None, 0,
        {QString(), QString()}},
    {"moved up, it shadows", {{u"Asc"_s, u"abc"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"2"_s}}, PairChange::MoveUp, 1,
        {QString(), u"F "_s + kShadow2By1}},
    {"dropped on the first, it shadows", {{u"Asc"_s, u"abc"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"2"_s}}, PairChange::Drop, 1,
        {QString(), u"F "_s + kShadow2By1}},
    {"the shadowing pair removed", {{u"Asc"_s, u"a"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"2"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"3"_s}},
        PairChange::Remove, 0, {QString(), u"F "_s + kShadow2By1}},
    {"the shadowing pair taken out to edit", {{u"Asc"_s, u"a"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"ab"_s, u"Asc"_s, u"2"_s}}, PairChange::Edit, 0, {QString()}},
    {"a replacement holding its own find", {{u"Asc"_s, u"a"_s, u"Asc"_s, u"ba"_s}}, PairChange::None, 0,
        {u"R The replace sequence of pair 1 contains its own find sequence: a second run would replace again."_s}},
    {"a replacement holding a later find", {{u"Asc"_s, u"x"_s, u"Hex"_s, u"79 7A"_s}, {u"Asc"_s, u"z"_s, u"Asc"_s, u""_s}}, PairChange::None, 0,
        {u"R The replace sequence of pair 1 contains the find sequence of pair 2: a second run would replace again."_s, QString()}},
    {"both warnings, loaded", {{u"Asc"_s, u"q"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"q"_s, u"Asc"_s, u"q"_s}}, PairChange::Load, 0,
        {QString(), u"FR "_s + kShadow2By1 + u"\nThe replace sequence of pair 2 contains the find sequence of pair 1: a second run would replace again."_s}},
    {"texts that do not convert count as empty", {{u"Dec"_s, u"98,300"_s, u"Asc"_s, u"1"_s}, {u"Asc"_s, u"b"_s, u"Dec"_s, u"98,999"_s}}, PairChange::None, 0,
        {QString(), QString()}},
};

struct TextCase
{
    const char *name;
    RowResult row;
    QString text;
};
const TextCase kTexts[] = {
    {"failed without a message", {RowState::Failed, 0, {}, {}, {}}, u"Failed."_s},
    {"failed after counting", {RowState::Failed, 4, {4}, u"Permission denied - /x"_s, {}}, u"Failed: Permission denied - /x"_s},
    {"thousands, one pair without any", {RowState::Replaced, 1234, {1000, 0, 234}, {}, {}}, u"Replaced: 1234 occurrences (pair 1: 1000, pair 3: 234)"_s},
    {"one of one pair", {RowState::Counted, 1, {1}, {}, {}}, u"Counted: 1 occurrence"_s},
};

} // namespace

class TestResults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir, temp;
    std::unique_ptr<StateFolderGuard> state;
    std::unique_ptr<WindowFixture> f;
    QString file(const QString &name, const QByteArray &bytes = "x") const { return WriteFileIn(dir->path(), name, bytes); }
    QStringList marks() const
    {
        return f->eachFile([&](int i) { return RowMark(f->files(), i); });
    }
    QString totals() const { return f->child<QLabel>(u"staTotals"_s)->text(); }
    bool exportEnabled() const { return f->action(u"IDM_EXPORT_RESULTS"_s)->isEnabled(); }
    void removeAllFiles() const
    {
        f->files()->setFocus();
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", NativePath(temp->path()));
        state = std::make_unique<StateFolderGuard>();
        f = std::make_unique<WindowFixture>(dir->filePath(u"prefs.conf"_s));
        f->w->setEventPumpInterval(0);
    }
    void cleanup()
    {
        f.reset();
        state.reset();
        QVERIFY(TemporaryFilesIn(temp->path()).isEmpty());
        QVERIFY(TemporaryFilesIn(dir->path()).isEmpty());
        qunsetenv("TEMP");
    }

    void rowResultText_data() { AddRows(kTexts); }
    void rowResultText()
    {
        QFETCH(int, row);
        QCOMPARE(RowResultText(kTexts[row].row), kTexts[row].text);
    }

    void marksAndTotalsAfterARun_data() { AddRows(kMarks); }
    void marksAndTotalsAfterARun()
    {
        QFETCH(int, row);
        const MarkCase &c = kMarks[row];
        QStringList paths;
        for (const auto &[name, bytes] : c.files)
            paths << (bytes.isNull() ? dir->filePath(name) : file(name, bytes));
        QTemporaryDir out;
        if (c.existingTarget) {
            WriteFileIn(out.path(), u"new_"_s + c.files[1].first, "keep");
            f->dialogs.target = ReplaceAsSettings {out.path(), u"new_"_s, QString(), 0};
        }
        f->addFiles(paths);
        f->pending(c.find, c.replace);
        if (!c.row.findText.isEmpty())
            f->args()->appendRow(c.row);
        QVERIFY(!exportEnabled());
        f->w->ProcessFiles(c.mode);
        QStringList expected;
        for (int i = 0; i < paths.size(); ++i)
            expected << c.marks[i].arg(paths[i]);
        QCOMPARE(marks(), expected);
        QCOMPARE(totals(), c.totals);
        QVERIFY(exportEnabled());
        QCOMPARE(f->status(), u"%1 files"_s.arg(paths.size()));
    }

    // A new run replaces the marks; a run that never reaches the files keeps them; rows added since have none, and
    // the totals go with any change of the list.
    void marksAndTotalsFollowTheList()
    {
        const QString a = dir->filePath(u"a"_s), b = file(u"b"_s);
        f->addFiles({a, b});
        f->pending(u"x"_s, u"y"_s);
        f->trigger(u"IDM_COUNT"_s);
        const QStringList first {u"! Failed: No such file or directory - "_s + a, u"Counted: 1 occurrence"_s};
        QCOMPARE(marks(), first);
        f->pending(QString(), QString()); // no arguments: the run ends before the files
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(marks(), first);
        QCOMPARE(totals(), u"1 occurrence in 1 of 2 files, 1 failed"_s);
        const QString c = file(u"c"_s);
        f->addFiles({c});
        QCOMPARE(marks(), first + QStringList {QString()});
        QVERIFY(totals().isEmpty() && exportEnabled());
        QCOMPARE(f->files()->topLevelItem(2)->toolTip(0), QString());
        file(u"a"_s);
        f->pending(u"x"_s, u"y"_s);
        QStringList during;
        f->dialogs.onRunStarted = [&](ProgressWindow *) { during = marks() << totals(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(during, QStringList(4, QString()));
        QCOMPARE(marks(), QStringList(3, u"Counted: 1 occurrence"_s));
        QCOMPARE(totals(), u"3 occurrences in 3 of 3 files"_s);
        f->files()->SortByColumn(0); // sorting keeps the totals
        QCOMPARE(totals(), u"3 occurrences in 3 of 3 files"_s);
        f->files()->setFocus();
        f->files()->setCurrentItem(f->files()->topLevelItem(0));
        f->trigger(u"IDM_REMOVE"_s);
        QVERIFY(totals().isEmpty() && f->files()->topLevelItemCount() == 2 && exportEnabled());
        removeAllFiles();
        QVERIFY(!exportEnabled());
    }

    // The list as it stands, in its order, with the last run's pairs; a row added since is not processed.
    void exportWritesTheList()
    {
        const QString odd = file(u"we,\"ird"_s, "aab"), none = file(u"none"_s, "z");
        f->addFiles({odd, none});
        f->pending(u"a"_s, u"1"_s);
        f->addRow(u"Asc"_s, u"b"_s, u"Asc"_s, u"2"_s);
        f->trigger(u"IDM_COUNT"_s);
        const QString late = file(u"late"_s);
        f->addFiles({late});
        f->pending(u"q"_s, QString()); // changes nothing until the next run
        const QString target = dir->filePath(u"out,\"1\".csv"_s);
        WriteFileIn(dir->path(), u"out,\"1\".csv"_s, "an older and longer export");
        f->dialogs.savePath = target;
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QVERIFY(f->sink.shown.isEmpty());
        QCOMPARE(f->dialogs.asked.last(), u"Export Results results.csv CSV files (*.csv)"_s);
        const QString expected = u"path,count,result,pair1,pair2\r\n\"%1/we,\"\"ird\",3,counted,2,1\r\n%1/none,0,counted,0,0\r\n"_s
                                 u"%1/late,0,not processed,0,0\r\n"_s.arg(dir->path());
        QCOMPARE(QString::fromUtf8(ReadFile(target)), expected);
        // Cancelled: nothing is written.
        QVERIFY(QFile::remove(target));
        f->dialogs.savePath.clear();
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QVERIFY(!QFile::exists(target) && f->sink.shown.isEmpty());
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
        const QString path = dir->filePath(name);
        f->dialogs.savePath = path;
        // Before any run there is nothing to export.
        f->addFiles({file(u"a"_s)});
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QVERIFY(!exportEnabled() && f->dialogs.asked.size() == 1);
        f->pending(u"x"_s, u"y"_s);
        f->trigger(u"IDM_COUNT"_s);
        f->trigger(u"IDM_EXPORT_RESULTS"_s);
        QCOMPARE(f->sink.texts(), QStringList {message.arg(path)});
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
        if (c.change == PairChange::Load) {
            QString content;
            for (const ArgumentRow &r : c.rows)
                content += u"<FIND TYPE=%1>%2</FIND><REPLACE TYPE=%3>%4</REPLACE>\r\n"_s.arg(
                    r.findType.toUpper(), r.findText, r.replaceType.toUpper(), r.replaceText);
            f->dialogs.argumentPath = WriteFileIn(dir->path(), u"pairs.txt"_s, content.toLatin1());
            f->trigger(u"IDM_LOAD"_s);
        } else {
            for (const ArgumentRow &r : c.rows)
                list->appendRow(r);
        }
        QCoreApplication::processEvents();
        f->setCurrentRow(c.position);
        list->topLevelItem(c.position)->setSelected(true);
        switch (c.change) {
        case PairChange::MoveUp:
            f->trigger(u"IDM_ARG_UP"_s);
            break;
        case PairChange::Remove:
            f->trigger(u"IDM_ARG_REMOVE"_s);
            break;
        case PairChange::Edit:
            f->trigger(u"IDM_ARG_EDIT"_s);
            break;
        case PairChange::Drop:
            list->DropDraggedRow(c.position + 1, 0);
            break;
        case PairChange::None:
        case PairChange::Load:
            break;
        }
        QCoreApplication::processEvents();
        QStringList shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            QString icons = (IsWarningIcon(list, item->icon(1)) ? u"F"_s : QString()) + (IsWarningIcon(list, item->icon(3)) ? u"R"_s : QString());
            for (int column : {0, 2})
                icons += item->icon(column).isNull() ? QString() : u"?"_s;
            for (int column : {1, 2, 3})
                icons += item->toolTip(column) == item->toolTip(0) ? QString() : u"?"_s;
            shown << (icons.isEmpty() && item->toolTip(0).isEmpty() ? QString() : icons + u' ' + item->toolTip(0));
        }
        QCOMPARE(shown, c.marks);
        QVERIFY(f->sink.shown.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestResults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_results.moc"
