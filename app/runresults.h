#pragma once

#include "engine/listedoccurrences.h"
#include "engine/processfiles.h"

#include <QObject>

#include <functional>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QWidget;

namespace perrox {

class FileListView;
class MatchesWindow;
class MessageSink;
class WindowDialogs;

// What the window shows of its runs: each row's result kept with its item
// (so that sorting and removing rows keep them together), the row marks and
// tooltips, the totals beside the file count, File > Export Results and Show
// Matches. The window owns the controls; this object fills them.
// The Count cell and the tooltip of a row whose file an Undo gave back.
QString UndoneCell();
QString UndoneRowText();

class RunResults : public QObject
{
public:
    struct Window
    {
        FileListView *list;
        QLabel *totals;
        QAction *exportCommand;
        MessageSink &messages;
        WindowDialogs &dialogs;
        // The pairs as typed now, for a row the last run did not reach.
        std::function<FindReplaceArguments()> currentPairs;
        // True while a run or a list change is under way: the commands wait.
        std::function<bool()> busy;
        // Replace Checked of a Matches window: the Replace of the listed
        // occurrences of the file at path.
        std::function<RunResult(const QString &path, const ArgumentTables &pairs, const ListedFile &listed)> replaceListed = {};
    };
    RunResults(const Window &window, QWidget *parent);

    // Around a run: before it, the marks and totals of the last one go; after
    // it, a run that reached its files gives every row its result (rows of an
    // earlier run lose theirs); one that did not brings the totals back.
    void runStarts();
    void runEnded(RunMode mode, const RunResult &result);
    // The file list changed: the totals described the list as it was.
    void listChanged();
    // An Undo gave back (or removed) the files at these absolute paths (as
    // the journal holds them): their rows' cells and marks say "undone".
    void markUndone(const std::vector<QByteArray> &paths);

    // What the last run that reached the row did with its file; nothing for
    // a row added since, or before any run.
    std::optional<RowResult> rowResult(int row) const;

    // File > Export Results: the results as CSV, in the list's order.
    void exportResults();
    // Show Matches: reads the row's file and opens its Matches window, with
    // the pairs of the last run when that run reached the row, else the
    // current pairs. Null when nothing opened: a message or a beep said why.
    MatchesWindow *showMatches(int row);

private:
    void addMatchesCommand();
    // Replace Checked: the file's rows take the result once it is replaced.
    RunResult replaceListed(const QString &path, const ArgumentTables &pairs, const ListedFile &listed);
    void markRow(int row, const RowResult &result);
    // The row Show Matches works on: the one selected row, or the current row
    // when none is selected; -1 otherwise.
    int matchesRow() const;
    void show(const QString &totals);
    void updateExportCommand();

    Window m_window;
    QWidget *m_parent;
    QString m_totalsBefore; // the totals shown before the run
    struct LastRun
    {
        RunMode mode = RunMode::Count;
        std::vector<QByteArray> finds;
        std::vector<QByteArray> replaces;
        std::shared_ptr<const ArgumentTables> tables; // as the run searched them
    } m_lastRun;
};

} // namespace perrox
