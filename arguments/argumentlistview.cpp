#include "argumentlistview.h"

#include "arguments/notation.h"
#include "arguments/pairchecks.h"
#include "base/messagesink.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>

#include <memory>

namespace perrox {

ArgumentListView::ArgumentListView(MessageSink &messages, QWidget *parent)
    : QTreeWidget(parent)
    , m_messages(messages)
{
    setColumnCount(4);
    setHeaderLabels({QStringLiteral("Type"), QStringLiteral("Find what"), QStringLiteral("Type"), QStringLiteral("Replace with")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setToolTip(QStringLiteral("Double-click to add Find&Replace arguments"));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);

    // Loading a file or removing many rows checks the pairs once, not after each row.
    m_pairCheck = new QTimer(this);
    m_pairCheck->setSingleShot(true);
    m_pairCheck->setInterval(0);
    connect(m_pairCheck, &QTimer::timeout, this, &ArgumentListView::markPairWarnings);
    // The timer, not this: the model also reports the rows the tree
    // widget's own destructor removes, after this object's part is gone.
    const auto rowsChanged = [timer = m_pairCheck] { timer->start(); };
    connect(model(), &QAbstractItemModel::rowsInserted, this, rowsChanged);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, rowsChanged);
    connect(model(), &QAbstractItemModel::rowsMoved, this, rowsChanged);
    connect(model(), &QAbstractItemModel::modelReset, this, rowsChanged);
    connect(model(), &QAbstractItemModel::layoutChanged, this, rowsChanged);
}

void ArgumentListView::markPairWarnings()
{
    const int n = topLevelItemCount();
    std::vector<QByteArray> finds, replaces;
    std::vector<FindPattern> patterns;
    for (int i = 0; i < n; ++i) {
        const FindReplaceArgument argument = ArgumentFromRow(row(i));
        const BytesResult find = ToByteSequence(argument.findText, argument.findNotation);
        const BytesResult replace = ToByteSequence(argument.replaceText, argument.replaceNotation);
        patterns.push_back(find.ok() ? FindPatternOf(argument, find) : FindPattern());
        // Only literals take part as bytes: a pattern's text is not what it finds.
        finds.push_back(patterns.back().isLiteral() ? find.bytes : QByteArray());
        replaces.push_back(replace.ok() ? replace.bytes : QByteArray());
    }
    std::vector<PairWarning> warnings = CheckPairs(finds, replaces);
    AddFoldedShadows(patterns, warnings);
    const QVariant icon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        const PairWarning &warning = warnings[size_t(i)];
        // Invalid values where there is no warning: the list's own tooltip shows.
        const QString text = PairWarningText(i, warning);
        item->setData(1, Qt::DecorationRole, warning.shadowedBy >= 0 ? icon : QVariant());
        item->setData(3, Qt::DecorationRole, warning.replacementFinds >= 0 ? icon : QVariant());
        for (int column = 0; column < 4; ++column)
            item->setData(column, Qt::ToolTipRole, text.isEmpty() ? QVariant() : QVariant(text));
    }
}

QString ArgumentListView::mimeType()
{
    return QStringLiteral("application/x-perrox-argument-row");
}

QTreeWidgetItem *ArgumentListView::makeItem(const ArgumentRow &row)
{
    auto *item = new QTreeWidgetItem({row.findType, row.findText, row.replaceType, row.replaceText});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled);
    return item;
}

QList<ArgumentRow> ArgumentListView::rows() const
{
    QList<ArgumentRow> result;
    result.reserve(topLevelItemCount());
    for (int i = 0; i < topLevelItemCount(); ++i)
        result.append(row(i));
    return result;
}

ArgumentRow ArgumentListView::row(int position) const
{
    const QTreeWidgetItem *item = topLevelItem(position);
    if (!item)
        return {};
    return {item->text(0), item->text(1), item->text(2), item->text(3)};
}

void ArgumentListView::appendRow(const ArgumentRow &row)
{
    addTopLevelItem(makeItem(row));
}

void ArgumentListView::insertRow(int position, const ArgumentRow &row)
{
    insertTopLevelItem(position, makeItem(row));
}

int ArgumentListView::currentPosition() const
{
    QTreeWidgetItem *item = currentItem();
    return item ? indexOfTopLevelItem(item) : -1;
}

ArgumentRow ArgumentListView::takeRow(int position)
{
    const ArgumentRow taken = row(position);
    const std::unique_ptr<QTreeWidgetItem> item(takeTopLevelItem(position));
    return taken;
}

void ArgumentListView::RemoveSelectedRows()
{
    const BusyPointer busy(m_messages);
    for (int i = topLevelItemCount() - 1; i >= 0; --i) {
        // Events run between removals and may have changed the list.
        if (i >= topLevelItemCount() || !topLevelItem(i)->isSelected())
            continue;
        takeRow(i);
        QCoreApplication::processEvents();
    }
    if (QTreeWidgetItem *current = currentItem())
        current->setSelected(true);
}

void ArgumentListView::ClearRows()
{
    const BusyPointer busy(m_messages);
    clear();
}

void ArgumentListView::MoveCurrentUp()
{
    const int p = currentPosition();
    if (p <= 0) {
        m_messages.beep();
        return;
    }
    MoveArgument(p, p - 1);
}

void ArgumentListView::MoveCurrentDown()
{
    const int p = currentPosition();
    if (p < 0 || p == topLevelItemCount() - 1) {
        m_messages.beep();
        return;
    }
    MoveArgument(p, p + 2);
}

void ArgumentListView::MoveArgument(int source, int target)
{
    const ArgumentRow moved = takeRow(source);
    if (source < target)
        --target;
    QTreeWidgetItem *item = makeItem(moved);
    insertTopLevelItem(target, item);
    clearSelection();
    setCurrentItem(item);
    item->setSelected(true);
    scrollToItem(item);
}

bool ArgumentListView::isOwnDrag(const QMimeData *data) const
{
    return m_dragIndex > 0 && data && data->hasFormat(mimeType());
}

void ArgumentListView::startDrag(Qt::DropActions)
{
    const int current = currentPosition();
    if (current < 0)
        return;
    m_dragIndex = current + 1;
    auto *data = new QMimeData;
    data->setData(mimeType(), QByteArray::number(m_dragIndex));
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
    // A drag that ended anywhere but on a row leaves no drag under way.
    m_dragIndex = 0;
}

void ArgumentListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (isOwnDrag(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ArgumentListView::dragMoveEvent(QDragMoveEvent *event)
{
    const QPoint pos = event->position().toPoint();
    QTreeWidgetItem *under = itemAt(pos);
    if (!isOwnDrag(event->mimeData()) || !under) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    // Held near the header or the bottom edge, the list scrolls on. The
    // positions are those of the list as a whole, header included.
    const int y = pos.y() + viewport()->y();
    const int index = indexOfTopLevelItem(under);
    if (y < 22) {
        if (index > 0)
            scrollToItem(topLevelItem(index - 1));
    } else if (y > height() - 12) {
        if (index < topLevelItemCount() - 1)
            scrollToItem(topLevelItem(index + 1));
    }
}

void ArgumentListView::dropEvent(QDropEvent *event)
{
    QTreeWidgetItem *under = itemAt(event->position().toPoint());
    if (!isOwnDrag(event->mimeData()) || !under) {
        event->ignore();
        m_dragIndex = 0;
        return;
    }
    DropDraggedRow(m_dragIndex, indexOfTopLevelItem(under));
    // The drop is done here; the drag source must not remove anything itself.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    m_dragIndex = 0;
}

void ArgumentListView::DropDraggedRow(int dragIndex, int under)
{
    if (dragIndex < 1 || dragIndex > topLevelItemCount() || under < 0 || under >= topLevelItemCount())
        return;
    int target = under + 1; // from 1
    if (dragIndex < target)
        ++target;
    QTreeWidgetItem *item = makeItem(row(dragIndex - 1));
    insertTopLevelItem(target - 1, item);
    // The row moves: its old place goes, one further down when the copy went
    // in before it.
    takeRow(dragIndex < target ? dragIndex - 1 : dragIndex);
    clearSelection();
    setCurrentItem(item);
    item->setSelected(true);
}

void ArgumentListView::keyReleaseEvent(QKeyEvent *event)
{
    QTreeWidget::keyReleaseEvent(event);
    if (event->key() == Qt::Key_Delete)
        Q_EMIT deleteReleased();
}

void ArgumentListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton)
        Q_EMIT rightButtonReleased(event->globalPosition().toPoint());
}

void ArgumentListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
}

} // namespace perrox
