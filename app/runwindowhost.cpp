#include "runwindowhost.h"

#include "app/windowdialogs.h"
#include "base/messagesink.h"
#include "engine/progresswindow.h"
#include "files/filelistview.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSignalBlocker>

namespace perrox {

// A message during a run comes after everything the run has shown so far.
class RunWindowHost::PendingFirstSink : public MessageSink
{
public:
    explicit PendingFirstSink(RunWindowHost &host)
        : m_host(host)
    { }
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        m_host.showPending();
        return m_host.m_messages.show(text, icon, buttons, title);
    }
    Answer showWithCheckBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox &box) override
    {
        m_host.showPending();
        return m_host.m_messages.showWithCheckBox(text, icon, buttons, title, box);
    }
    void beep() override { m_host.m_messages.beep(); }
    void setBusy(bool busy) override { m_host.m_messages.setBusy(busy); }

private:
    RunWindowHost &m_host;
};

RunWindowHost::RunWindowHost(QWidget &window, FileListView &files, QLabel &status, MessageSink &messages, WindowDialogs &dialogs)
    : m_window(window)
    , m_files(files)
    , m_status(status)
    , m_messages(messages)
    , m_dialogs(dialogs)
    , m_runMessages(std::make_unique<PendingFirstSink>(*this))
    , m_failures(*m_runMessages)
{ }

RunWindowHost::~RunWindowHost() = default;

void RunWindowHost::SetStatusText(const QString &text)
{
    if (m_status.text() == text)
        return;
    m_status.setText(text);
    QCoreApplication::processEvents();
}

MessageSink &RunWindowHost::messages()
{
    return *m_runMessages;
}

int RunWindowHost::rowCount() const
{
    return m_files.topLevelItemCount();
}

QString RunWindowHost::rowPath(int row) const
{
    return m_files.path(row);
}

void RunWindowHost::setRowCount(int row, const QString &cell)
{
    if (m_running) {
        m_pendingCells.emplace_back(row, cell);
        return;
    }
    if (QTreeWidgetItem *item = m_files.topLevelItem(row))
        item->setText(1, cell);
}

void RunWindowHost::fileFailed(int row, const QString &message)
{
    m_failures.failed(rowPath(row), message);
}

QString RunWindowHost::fileListStatusText() const
{
    return m_files.statusText();
}

bool RunWindowHost::chooseReplaceAsTarget(ReplaceAsSettings &settings)
{
    QStringList paths;
    for (int i = 0; i < rowCount(); ++i) {
        if (rowIncluded(i))
            paths.append(rowPath(i));
    }
    return m_dialogs.chooseReplaceAsTarget(settings, paths) && (!m_targetCheck || m_targetCheck(settings, paths));
}

void RunWindowHost::beginRun(const QString &caption, double total)
{
    m_running = true;
    m_failures.start();
    m_window.setEnabled(false);
    m_progress = new ProgressWindow(&m_window, m_messages);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->Initialize(total);
    m_progress->setWindowTitle(caption);
    // A window of its own takes input while its owner is disabled.
    m_progress->setEnabled(true);
    m_progress->show();
    QCoreApplication::processEvents();
    m_sincePump.start();
    m_dialogs.runStarted(m_progress);
}

void RunWindowHost::showFile(const QString &status1, const QString &status2)
{
    m_pendingStatus1 = status1;
    m_pendingStatus2 = status2;
    m_statusPending = true;
}

void RunWindowHost::startRow(int row)
{
    m_currentRow = row;
}

void RunWindowHost::resultPlaced(int row, const QString &path)
{
    // Only the file on show; an earlier one is done as far as the user knows.
    if (!m_progress || row != m_currentRow)
        return;
    showPending();
    m_progress->setReplaced(path);
}

void RunWindowHost::endRun()
{
    showPending();
    if (m_progress)
        m_progress->unload();
    QCoreApplication::processEvents();
    m_window.setEnabled(true);
    m_running = false;
    m_failures.finish();
}

void RunWindowHost::progress(double position)
{
    if (m_progress)
        m_progress->Update(position);
}

bool RunWindowHost::cancelRequested()
{
    return m_progress && m_progress->cancelFlag();
}

void RunWindowHost::pumpEvents()
{
    // Window events run at most every few milliseconds; the engine still
    // reads the cancel flag after every block.
    if (m_pumpInterval > 0 && m_sincePump.isValid() && m_sincePump.elapsed() < m_pumpInterval)
        return;
    showPending();
    QCoreApplication::processEvents();
    m_sincePump.start();
}

void RunWindowHost::showPending()
{
    if (m_statusPending && m_progress) {
        m_progress->setStatus1(m_pendingStatus1);
        m_progress->setStatus2(m_pendingStatus2);
        m_progress->setFileNumber(m_currentRow + 1, rowCount());
    }
    m_statusPending = false;
    if (m_pendingCells.empty())
        return;
    // One change for the whole range instead of one per cell, which would
    // have the list measure and lay out its rows again each time.
    QAbstractItemModel *model = m_files.model();
    int first = m_pendingCells.front().first;
    int last = first;
    {
        const QSignalBlocker quiet(model);
        for (const auto &[row, cell] : m_pendingCells) {
            if (QTreeWidgetItem *item = m_files.topLevelItem(row)) {
                item->setText(1, cell);
                first = std::min(first, row);
                last = std::max(last, row);
            }
        }
    }
    m_pendingCells.clear();
    Q_EMIT model->dataChanged(model->index(first, 1), model->index(last, 1));
}

} // namespace perrox
