#pragma once

#include "engine/matchcontext.h"
#include "engine/processfiles.h"

#include <QDialog>

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
// for the next ones. Non-modal, deleted when closed (Close or Esc).
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
    };

    // Reads the file and shows the window over parent; a file that cannot be
    // read shows its message through messages and opens nothing (null).
    static MatchesWindow *open(Source source, MessageSink &messages, QWidget *parent);

    // Reads the file again with Page more occurrences; a failure keeps what
    // is shown and says why.
    void ShowMore();

private:
    MatchesWindow(Source source, MessageSink &messages, QWidget *parent);
    void fill(const MatchList &list);
    void fillPairs(const MatchList &list);
    void fitToColumns();

    Source m_source;
    MessageSink &m_messages;
    qint64 m_limit = Page;
    QLabel *m_lblPairs = nullptr;
    QTreeWidget *m_lvwPairs = nullptr;
    QLabel *m_lblChanged = nullptr;
    QLabel *m_lblShowing = nullptr;
    QTreeWidget *m_lvwMatches = nullptr;
    QPushButton *m_cmdMore = nullptr;
};

// The line that says whose pairs the window shows.
QString MatchesPairsText(const std::optional<RowResult> &run, RunMode mode);
// "Showing 10000 of 123456 occurrences.", or all of them: "12 occurrences.".
QString MatchesShowingText(qint64 shown, qint64 total);

} // namespace perrox
