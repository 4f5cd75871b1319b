#include "matcheswindow.h"

#include "arguments/notation.h"
#include "base/messagesink.h"
#include "base/widgetsupport.h"
#include "engine/runreport.h"
#include "files/filenames.h"
#include "files/openedfile.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

QString modeName(RunMode mode)
{
    switch (mode) {
    case RunMode::Replace:
        return u"Replace"_s;
    case RunMode::ReplaceAs:
        return u"Replace As"_s;
    case RunMode::Count:
        break;
    }
    return u"Count"_s;
}

// Whether the run read the row's file to its end, so that its counts and
// the status it kept describe the file.
bool runReadTheFile(const std::optional<RowResult> &run)
{
    return run && (run->state == RowState::Counted || run->state == RowState::Replaced || run->state == RowState::Unchanged);
}

QTreeWidget *makeList(QWidget *parent, const QString &name, const QStringList &headers)
{
    auto *list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(false);
    return list;
}

} // namespace

QString MatchesPairsText(const std::optional<RowResult> &run, RunMode mode)
{
    if (!run)
        return u"Current pairs; no run has reached this file yet."_s;
    const QString pairs = u"Pairs of the last run (%1)"_s.arg(modeName(mode));
    switch (run->state) {
    case RowState::NotProcessed:
        return pairs + (run->error == NotSelectedReason() ? u", which left this file out."_s : u", which ended before this file."_s);
    case RowState::Failed:
        return pairs + u", which failed on this file."_s;
    default:
        return pairs + u'.';
    }
}

QString MatchesShowingText(qint64 shown, qint64 total)
{
    if (shown < total)
        return u"Showing %1 of %2 occurrences."_s.arg(shown).arg(total);
    if (total == 0)
        return u"No occurrences."_s;
    return total == 1 ? u"1 occurrence."_s : u"%1 occurrences."_s.arg(total);
}

QString MatchesCheckedText(qint64 checked, qint64 shown, qint64 total)
{
    const QString text = u"%1 of %2 occurrences checked."_s.arg(checked).arg(shown);
    if (shown >= total)
        return text;
    return text + u" The %1 not shown are not replaced."_s.arg(total - shown);
}

MatchesWindow *MatchesWindow::open(Source source, MessageSink &messages, QWidget *parent)
{
    MatchList list;
    {
        BusyPointer busy(messages);
        list = ListMatches(source.path, source.pairs, Page, ContextBytes);
    }
    if (!list.ok()) {
        messages.warn(list.error());
        return nullptr;
    }
    auto *window = new MatchesWindow(std::move(source), messages, parent);
    window->fill(list);
    window->fitToColumns();
    window->show();
    return window;
}

MatchesWindow::MatchesWindow(Source source, MessageSink &messages, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
    , m_source(std::move(source))
    , m_messages(messages)
{
    setObjectName(u"frmMatches"_s);
    setWindowTitle(u"Matches - "_s + GetFileName(m_source.path));
    setAttribute(Qt::WA_DeleteOnClose);
    SetDesignFont(this);

    m_lblPairs = new QLabel(MatchesPairsText(m_source.run, m_source.mode), this);
    m_lblPairs->setObjectName(u"lblPairs"_s);
    m_lvwPairs = makeList(this, u"lvwPairs"_s, {u"Pair"_s, u"Find what (Hex)"_s, u"Replace with (Hex)"_s, u"Last run"_s, u"Now"_s});
    m_lblChanged = new QLabel(u"The file has changed since the last run; the occurrences below are those it holds now."_s, this);
    m_lblChanged->setObjectName(u"lblChanged"_s);
    m_lblChanged->setWordWrap(true);
    m_lblShowing = new QLabel(this);
    m_lblShowing->setObjectName(u"lblShowing"_s);
    m_lvwMatches = makeList(this, u"lvwMatches"_s, {u"Offset"_s, u"Pair"_s, u"Before"_s, u"After"_s});
    // Each row holds two lines, the bytes and their characters; the colours tell the rows apart.
    m_lvwMatches->setAlternatingRowColors(true);
    QPalette shades = m_lvwMatches->palette();
    shades.setColor(QPalette::AlternateBase, shades.color(QPalette::Base).darker(108));
    m_lvwMatches->setPalette(shades);
    m_cmdMore = new QPushButton(u"Show &More"_s, this);
    m_cmdMore->setObjectName(u"cmdMore"_s);
    m_cmdMore->setAutoDefault(false);
    connect(m_cmdMore, &QPushButton::clicked, this, &MatchesWindow::ShowMore);
    auto *close = new QPushButton(u"&Close"_s, this);
    close->setObjectName(u"cmdClose"_s);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_lblChecked = new QLabel(this);
    m_lblChecked->setObjectName(u"lblChecked"_s);
    auto *checkAll = new QPushButton(u"Check &All"_s, this);
    checkAll->setObjectName(u"cmdCheckAll"_s);
    checkAll->setAutoDefault(false);
    connect(checkAll, &QPushButton::clicked, this, [this] { CheckAll(true); });
    auto *checkNone = new QPushButton(u"Check &None"_s, this);
    checkNone->setObjectName(u"cmdCheckNone"_s);
    checkNone->setAutoDefault(false);
    connect(checkNone, &QPushButton::clicked, this, [this] { CheckAll(false); });
    m_cmdReplaceChecked = new QPushButton(u"&Replace Checked"_s, this);
    m_cmdReplaceChecked->setObjectName(u"cmdReplaceChecked"_s);
    m_cmdReplaceChecked->setAutoDefault(false);
    m_cmdReplaceChecked->setVisible(bool(m_source.replaceListed));
    connect(m_cmdReplaceChecked, &QPushButton::clicked, this, &MatchesWindow::ReplaceChecked);
    connect(m_lvwMatches, &QTreeWidget::itemChanged, this, &MatchesWindow::updateChecked);
    auto *checks = new QHBoxLayout;
    checks->addWidget(m_lblChecked, 1);
    checks->addWidget(checkAll);
    checks->addWidget(checkNone);
    checks->addWidget(m_cmdReplaceChecked);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_lblShowing, 1);
    buttons->addWidget(m_cmdMore);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblPairs);
    layout->addWidget(m_lvwPairs);
    layout->addWidget(m_lblChanged);
    layout->addWidget(m_lvwMatches, 1);
    layout->addLayout(checks);
    layout->addLayout(buttons);
}

void MatchesWindow::fitToColumns()
{
    // The pairs list shows up to five pairs without scrolling.
    const int rows = std::clamp(m_lvwPairs->topLevelItemCount(), 1, 5);
    const int rowHeight = m_lvwPairs->sizeHintForRow(0) > 0 ? m_lvwPairs->sizeHintForRow(0) : fontMetrics().height() + 4;
    m_lvwPairs->setFixedHeight(m_lvwPairs->header()->sizeHint().height() + rows * rowHeight + 2 * m_lvwPairs->frameWidth());
    // Wide enough for every column of the occurrences, within the screen.
    int columns = 0;
    for (int column = 0; column < m_lvwMatches->columnCount(); ++column)
        columns += m_lvwMatches->columnWidth(column);
    const QSize wanted(columns + m_lvwMatches->verticalScrollBar()->sizeHint().width() + 2 * m_lvwMatches->frameWidth() + 40, 560);
    const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(wanted.boundedTo(available.size() * 9 / 10).expandedTo(QSize(640, 400)));
}

void MatchesWindow::ShowMore()
{
    MatchList list;
    {
        BusyPointer busy(m_messages);
        list = ListMatches(m_source.path, m_source.pairs, m_limit + Page, ContextBytes);
    }
    if (!list.ok()) {
        m_messages.warn(list.error());
        return;
    }
    const int shownBefore = m_lvwMatches->topLevelItemCount();
    m_limit += Page;
    fill(list);
    // The first of the new rows, where reading goes on.
    if (QTreeWidgetItem *next = m_lvwMatches->topLevelItem(shownBefore)) {
        m_lvwMatches->setCurrentItem(next);
        m_lvwMatches->scrollToItem(next, QAbstractItemView::PositionAtTop);
    }
}

void MatchesWindow::fill(const MatchList &list)
{
    fillPairs(list);
    m_lblChanged->setVisible(runReadTheFile(m_source.run) && !SameContent(m_source.run->status.record(), list.scan.status));
    m_lblShowing->setText(MatchesShowingText(qint64(list.rows.size()), list.scan.outcome.count));
    m_cmdMore->setVisible(qint64(list.rows.size()) < list.scan.outcome.count);

    m_listed = list.identity;
    m_listed.occurrences = list.scan.first;
    m_total = list.scan.outcome.count;

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QList<QTreeWidgetItem *> items;
    items.reserve(qsizetype(list.rows.size()));
    for (const MatchContext &row : list.rows) {
        auto *item = new QTreeWidgetItem(QStringList {OffsetText(row.offset), QString::number(row.pair + 1),
            ContextHex(row, false) + u'\n' + ContextCharacters(row, false), ContextHex(row, true) + u'\n' + ContextCharacters(row, true)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setFont(2, fixed);
        item->setFont(3, fixed);
        items << item;
    }
    {
        const QSignalBlocker quiet(m_lvwMatches);
        m_lvwMatches->clear();
        m_lvwMatches->addTopLevelItems(items);
    }
    updateChecked();
    // A little room between the two byte columns.
    for (int column = 0; column < m_lvwMatches->columnCount(); ++column) {
        m_lvwMatches->resizeColumnToContents(column);
        m_lvwMatches->setColumnWidth(column, m_lvwMatches->columnWidth(column) + 12);
    }
}

void MatchesWindow::updateChecked()
{
    qint64 checked = 0;
    for (int i = 0; i < m_lvwMatches->topLevelItemCount(); ++i)
        checked += m_lvwMatches->topLevelItem(i)->checkState(0) == Qt::Checked;
    m_lblChecked->setText(MatchesCheckedText(checked, m_lvwMatches->topLevelItemCount(), m_total));
    m_cmdReplaceChecked->setEnabled(checked > 0);
}

void MatchesWindow::CheckAll(bool checked)
{
    {
        const QSignalBlocker quiet(m_lvwMatches);
        for (int i = 0; i < m_lvwMatches->topLevelItemCount(); ++i)
            m_lvwMatches->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
    updateChecked();
}

void MatchesWindow::ReplaceChecked()
{
    if (!m_source.replaceListed)
        return;
    ListedFile listed = m_listed;
    listed.occurrences.clear();
    for (int i = 0; i < m_lvwMatches->topLevelItemCount() && size_t(i) < m_listed.occurrences.size(); ++i)
        if (m_lvwMatches->topLevelItem(i)->checkState(0) == Qt::Checked)
            listed.occurrences.push_back(m_listed.occurrences[size_t(i)]);
    if (listed.occurrences.empty()) {
        m_messages.beep();
        return;
    }
    const RunResult result = m_source.replaceListed(listed);
    // A refusal or a failure has said why and changed nothing.
    if (result.rows.size() != 1 || result.rows.front().state != RowState::Replaced)
        return;
    m_source.run = result.rows.front();
    m_source.mode = RunMode::Replace;
    m_lblPairs->setText(MatchesPairsText(m_source.run, m_source.mode));
    MatchList list;
    {
        BusyPointer busy(m_messages);
        list = ListMatches(m_source.path, m_source.pairs, Page, ContextBytes);
    }
    m_limit = Page;
    if (!list.ok()) {
        m_messages.warn(list.error());
        return;
    }
    fill(list);
}

void MatchesWindow::fillPairs(const MatchList &list)
{
    const bool counted = runReadTheFile(m_source.run);
    m_lvwPairs->clear();
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const std::vector<QByteArray> finds = m_source.pairs.findBytes();
    for (int i = 0; i < m_source.pairs.pairCount(); ++i) {
        const QString find = CanonicalText(finds[size_t(i)], Notation::Hexadecimal).trimmed();
        const QString replace = CanonicalText(m_source.pairs.replaces[size_t(i)], Notation::Hexadecimal).trimmed();
        const QString run = counted && size_t(i) < m_source.run->perPair.size() ? QString::number(m_source.run->perPair[size_t(i)]) : QString();
        const QString now = size_t(i) < list.scan.outcome.perPair.size() ? QString::number(list.scan.outcome.perPair[size_t(i)]) : QString();
        auto *item = new QTreeWidgetItem(m_lvwPairs, QStringList {QString::number(i + 1), find, replace, run, now});
        for (int column : {0, 3, 4})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        item->setFont(1, fixed);
        item->setFont(2, fixed);
    }
    // Long sequences are cut rather than pushing the counts out of sight.
    for (int column = 0; column < m_lvwPairs->columnCount(); ++column) {
        m_lvwPairs->resizeColumnToContents(column);
        m_lvwPairs->setColumnWidth(column, std::min(m_lvwPairs->columnWidth(column), 320));
    }
}

} // namespace perrox
