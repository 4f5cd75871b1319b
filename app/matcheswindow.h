#pragma once

#include "engine/matchcontext.h"
#include "engine/processfiles.h"

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace perrox {

class MessageSink;

// frmMatches, "Matches - <file name>": the occurrences of one file of the
// file list, read when the window opens. Above, the pairs with what the last
// run counted and what the file holds now, and a note when the file changed
// since the run; below, one row per occurrence with its offset, its pair and
// the bytes around it before and after the replacement. The first
// MatchesWindow::Page occurrences are shown; Show More reads the file again
// for the next ones. Each shown occurrence has a check box, all checked at
// first; Replace Checked replaces exactly the checked ones, if the file is
// still as the window read it. Non-modal, deleted when closed (Close or Esc).
class MatchesWindow : public QDialog
{
    Q_OBJECT

public:
    // Occurrences shown at first, and added by each Show More.
    static constexpr qint64 Page = 10000;
    // Bytes of context on each side of an occurrence.
    static constexpr int ContextBytes = 8;

    struct Source
    {
        QString path;
        ArgumentTables pairs;
        // The last run's result for the row, when pairs are that run's.
        std::optional<RowResult> run;
        RunMode mode = RunMode::Count;
        // Replace Checked: replaces the listed occurrences of the file as a
        // Replace does and gives its result; without it the window has no
        // such command.
        std::function<RunResult(const ListedFile &)> replaceListed = {};
    };

    // Reads the file and shows the window over parent; a file that cannot be
    // read shows its message through messages and opens nothing (null).
    static MatchesWindow *open(Source source, MessageSink &messages, QWidget *parent);

    // Reads the file again with Page more occurrences; a failure keeps what
    // is shown and says why.
    void ShowMore();
    // Replace Checked: the checked occurrences, if the file is unchanged
    // since the window read it; then the window reads it again.
    void ReplaceChecked();
    // Check All (true) and Check None (false).
    void CheckAll(bool checked);

private:
    MatchesWindow(Source source, MessageSink &messages, QWidget *parent);
    void fill(const MatchList &list);
    void fillPairs(const MatchList &list);
    void fitToColumns();
    void updateChecked();

    Source m_source;
    MessageSink &m_messages;
    qint64 m_limit = Page;
    QLabel *m_lblPairs = nullptr;
    QTreeWidget *m_lvwPairs = nullptr;
    QLabel *m_lblChanged = nullptr;
    QLabel *m_lblShowing = nullptr;
    QTreeWidget *m_lvwMatches = nullptr;
    QPushButton *m_cmdMore = nullptr;
    QLabel *m_lblChecked = nullptr;
    QPushButton *m_cmdReplaceChecked = nullptr;
    // The file as the shown occurrences were read from it, and each shown
    // occurrence, in the rows' order.
    ListedFile m_listed;
    qint64 m_total = 0;
};

// The line that says whose pairs the window shows.
QString MatchesPairsText(const std::optional<RowResult> &run, RunMode mode);
// "Showing 10000 of 123456 occurrences.", or all of them: "12 occurrences.".
QString MatchesShowingText(qint64 shown, qint64 total);
// What Replace Checked would replace: "3 of 12 occurrences checked.", and
// where not all are shown, that those not shown stay as they are.
QString MatchesCheckedText(qint64 checked, qint64 shown, qint64 total);

} // namespace perrox
