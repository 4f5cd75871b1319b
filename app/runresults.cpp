#include "runresults.h"

#include "app/matcheswindow.h"
#include "app/windowdialogs.h"
#include "base/messagesink.h"
#include "engine/runreport.h"
#include "files/filelistview.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QSet>

namespace perrox {

namespace {

// Where a file list item keeps the result of the last run that reached it.
constexpr int kRowResultRole = Qt::UserRole + 1;

} // namespace

QString UndoneCell()
{
    return QStringLiteral("undone");
}

QString UndoneRowText()
{
    return QStringLiteral("Undone: the file holds again what it held before the run.");
}

namespace { } // namespace

RunResults::RunResults(const Window &window, QWidget *parent)
    : QObject(parent)
    , m_window(window)
    , m_parent(parent)
{
    addMatchesCommand();
    updateExportCommand();
}

void RunResults::runStarts()
{
    // The Count cells are rewritten: what they said before is not marked
    // meanwhile.
    m_totalsBefore = m_window.totals->text();
    m_window.list->clearRowMarks();
    m_window.totals->clear();
}

void RunResults::runEnded(RunMode mode, const RunResult &result)
{
    // A run that does not reach the files leaves every result.
    if (result.rows.empty()) {
        show(m_totalsBefore);
        return;
    }
    m_lastRun = {mode, result.finds, result.replaces, result.tables};
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row) {
        QVariant data;
        if (size_t(row) < result.rows.size())
            data = QVariant::fromValue(result.rows[size_t(row)]);
        m_window.list->topLevelItem(row)->setData(0, kRowResultRole, data);
    }
    show(RunTotalsText(TotalsOf(result.rows)));
}

void RunResults::markUndone(const std::vector<QByteArray> &paths)
{
    const QSet<QByteArray> undone(paths.begin(), paths.end());
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row) {
        if (!undone.contains(NativePath(AbsolutePath(m_window.list->path(row)))))
            continue;
        m_window.list->topLevelItem(row)->setText(1, UndoneCell());
        m_window.list->setRowMark(row, FileListView::RowMark::Dimmed, UndoneRowText());
        // The totals spoke of the run that is now undone.
        m_window.totals->clear();
    }
}

void RunResults::listChanged()
{
    m_window.totals->clear();
    updateExportCommand();
}

std::optional<RowResult> RunResults::rowResult(int row) const
{
    const QTreeWidgetItem *item = m_window.list->topLevelItem(row);
    if (!item)
        return std::nullopt;
    const QVariant data = item->data(0, kRowResultRole);
    if (!data.canConvert<RowResult>())
        return std::nullopt;
    return data.value<RowResult>();
}

void RunResults::show(const QString &totals)
{
    // A failed row must not pass for a file without occurrences, nor a row
    // the run never reached for one it did.
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row) {
        if (const std::optional<RowResult> result = rowResult(row))
            markRow(row, *result);
    }
    m_window.totals->setText(totals);
    updateExportCommand();
}

void RunResults::markRow(int row, const RowResult &result)
{
    const FileListView::RowMark mark = result.state == RowState::Failed ? FileListView::RowMark::Warning
        : result.state == RowState::NotProcessed                        ? FileListView::RowMark::Dimmed
                                                                        : FileListView::RowMark::None;
    m_window.list->setRowMark(row, mark, RowResultText(result));
}

RunResult RunResults::replaceListed(const QString &path, const ArgumentTables &pairs, const ListedFile &listed)
{
    if (m_window.busy() || !m_window.replaceListed) {
        m_window.messages.beep();
        return {};
    }
    const RunResult result = m_window.replaceListed(path, pairs, listed);
    // A file left as it was keeps what its rows show.
    if (result.rows.size() != 1 || result.rows.front().state != RowState::Replaced)
        return result;
    const RowResult &replaced = result.rows.front();
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row) {
        if (m_window.list->path(row) != path)
            continue;
        QTreeWidgetItem *item = m_window.list->topLevelItem(row);
        item->setData(0, kRowResultRole, QVariant::fromValue(replaced));
        item->setText(1, AdjustRight(replaced.count, 8));
    }
    // The totals follow what the rows now say.
    std::vector<RowResult> rows;
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row)
        if (const std::optional<RowResult> shown = rowResult(row))
            rows.push_back(*shown);
    show(RunTotalsText(TotalsOf(rows)));
    return result;
}

void RunResults::updateExportCommand()
{
    bool any = false;
    for (int row = 0; row < m_window.list->topLevelItemCount() && !any; ++row)
        any = m_window.list->topLevelItem(row)->data(0, kRowResultRole).isValid();
    m_window.exportCommand->setEnabled(any);
}

void RunResults::exportResults()
{
    if (m_window.busy())
        return;
    // The list as it stands, in its order; a row without a result was not processed.
    RunReport report {m_lastRun.mode, m_lastRun.finds, m_lastRun.replaces, {}, {}, RunResult::End::Completed, m_lastRun.tables};
    bool any = false;
    for (int row = 0; row < m_window.list->topLevelItemCount(); ++row) {
        const std::optional<RowResult> result = rowResult(row);
        any = any || result.has_value();
        report.paths << m_window.list->path(row);
        report.rows.push_back(result.value_or(RowResult()));
    }
    if (!any) {
        m_window.messages.beep();
        return;
    }
    const QString path = m_window.dialogs.saveFile(QStringLiteral("Export Results"), QStringLiteral("results.csv"), QStringLiteral("CSV files (*.csv)"));
    QCoreApplication::processEvents();
    if (path.isEmpty())
        return;
    if (const QString error = WriteReportFile(path, ReportCsv(report)); !error.isEmpty())
        m_window.messages.warn(error);
}

void RunResults::addMatchesCommand()
{
    // The last entry of the file list's right-click menu.
    FileListView *list = m_window.list;
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    separator->setObjectName(QStringLiteral("IDM_FILES_SPACE1"));
    auto *command = new QAction(QStringLiteral("Show &Matches..."), this);
    command->setObjectName(QStringLiteral("IDM_SHOW_MATCHES"));
    connect(command, &QAction::triggered, this, [this] { showMatches(matchesRow()); });
    list->addActions({separator, command});
    const auto update = [this, command] { command->setEnabled(matchesRow() >= 0); };
    update();
    connect(list, &QTreeWidget::itemSelectionChanged, this, update);
    connect(list, &QTreeWidget::currentItemChanged, this, update);
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this, list](QTreeWidgetItem *item) { showMatches(list->indexOfTopLevelItem(item)); });
}

int RunResults::matchesRow() const
{
    const FileListView *list = m_window.list;
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    if (selected.size() == 1)
        return list->indexOfTopLevelItem(selected.first());
    return selected.isEmpty() && list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
}

MatchesWindow *RunResults::showMatches(int row)
{
    if (row < 0 || row >= m_window.list->topLevelItemCount() || m_window.busy())
        return nullptr;
    MatchesWindow::Source source {m_window.list->path(row), {}, rowResult(row), m_lastRun.mode};
    if (source.run) {
        source.pairs = m_lastRun.tables ? *m_lastRun.tables : ArgumentTables(m_lastRun.finds, m_lastRun.replaces);
    } else {
        std::optional<ArgumentTables> current = BuildArgumentTables(m_window.currentPairs(), m_window.messages);
        if (!current)
            return nullptr;
        source.pairs = std::move(*current);
    }
    source.replaceListed = [this, path = source.path, pairs = source.pairs](const ListedFile &listed) { return replaceListed(path, pairs, listed); };
    return MatchesWindow::open(std::move(source), m_window.messages, m_parent);
}

} // namespace perrox
