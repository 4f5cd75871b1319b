#pragma once

#include "app/failurereport.h"
#include "engine/processfiles.h"

#include <QElapsedTimer>
#include <QPointer>

#include <functional>

#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QWidget;

namespace perrox {

class FileListView;
class ProgressWindow;
class WindowDialogs;

// A run hosted by the main window: the file list's rows and Count cells, the
// status bar's text, the progress window, and window events let run at most
// once per pump interval. While the window is disabled for a run only the
// progress window takes input.
class RunWindowHost : public RunHost
{
public:
    RunWindowHost(QWidget &window, FileListView &files, QLabel &status, MessageSink &messages, WindowDialogs &dialogs);
    ~RunWindowHost() override;
    RunWindowHost(const RunWindowHost &) = delete;
    RunWindowHost &operator=(const RunWindowHost &) = delete;

    bool running() const { return m_running; }
    // The shortest pause between two rounds of window events, in
    // milliseconds (0: at every call of pumpEvents).
    void setEventPumpInterval(int milliseconds) { m_pumpInterval = milliseconds; }

    // SetStatusText: shows text in the status bar and lets window events run,
    // unless it is shown already.
    void SetStatusText(const QString &text);

    // The rows the next runs process (all when empty), by row.
    void setIncludedRows(std::vector<bool> rows) { m_included = std::move(rows); }
    // Asked once the Save As dialog chose a target, with the paths of the
    // rows to process; false ends the run as a cancelled dialog does.
    using TargetCheck = std::function<bool(const ReplaceAsSettings &, const QStringList &)>;
    void setTargetCheck(TargetCheck check) { m_targetCheck = std::move(check); }

    MessageSink &messages() override;
    int rowCount() const override;
    QString rowPath(int row) const override;
    bool rowIncluded(int row) const override { return m_included.empty() || (size_t(row) < m_included.size() && m_included[size_t(row)]); }
    void fileFailed(int row, const QString &message) override;
    void setRowCount(int row, const QString &cell) override;
    void setStatusText(const QString &text) override { SetStatusText(text); }
    QString fileListStatusText() const override;
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings) override;
    void beginRun(const QString &caption, double total) override;
    void showFile(const QString &status1, const QString &status2) override;
    void startRow(int row) override;
    void resultPlaced(int row, const QString &path) override;
    void endRun() override;
    void progress(double position) override;
    bool cancelRequested() override;
    void pumpEvents() override;

private:
    // What a run shows is gathered between event rounds and put on screen
    // at once just before the next round, a message or the end of the run:
    // a file's name and its Count cell cost nothing until they can be seen.
    void showPending();
    class PendingFirstSink;

    QWidget &m_window;
    FileListView &m_files;
    QLabel &m_status;
    MessageSink &m_messages;
    WindowDialogs &m_dialogs;
    std::unique_ptr<PendingFirstSink> m_runMessages;
    FailureReport m_failures;
    std::vector<bool> m_included;
    TargetCheck m_targetCheck;
    bool m_running = false;
    QPointer<ProgressWindow> m_progress;
    QElapsedTimer m_sincePump;
    int m_pumpInterval = 10;
    QString m_pendingStatus1;
    QString m_pendingStatus2;
    bool m_statusPending = false;
    int m_currentRow = -1;
    std::vector<std::pair<int, QString>> m_pendingCells;
};

} // namespace perrox
