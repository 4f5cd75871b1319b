#include "filelistview.h"

#include "base/messagesink.h"
#include "filesystem.h"
#include "foldermasks.h"
#include "folderscan.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QStyle>
#include <QUrl>

#include <optional>

namespace perrox {

namespace {

// The path of a local file URL with its bytes as they came: the URL's
// percent-encoded path decoded as a path is (QUrl::toLocalFile would turn
// bytes that are no valid UTF-8 into U+FFFD). A host gives "//host" in front,
// as toLocalFile does.
QString localPath(const QUrl &url)
{
    const QString path = DecodeNativePath(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    const QString host = url.host();
    if (host.isEmpty())
        return path;
    return QLatin1String("//") + host + (path.isEmpty() || path.startsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + path;
}

} // namespace

// While the list is being changed, with the busy pointer if asked for: other
// changes are refused meanwhile, until this one has ended on whatever way out.
class FileListView::Change
{
public:
    explicit Change(FileListView &list, bool showPointer = true)
        : m_list(list)
    {
        if (showPointer)
            m_pointer.emplace(list.m_messages);
        m_list.m_busy = true;
    }
    ~Change() { m_list.m_busy = false; }
    Change(const Change &) = delete;
    Change &operator=(const Change &) = delete;

private:
    FileListView &m_list;
    std::optional<BusyPointer> m_pointer;
};

FileListView::FileListView(MessageSink &messages, QWidget *parent)
    : QTreeWidget(parent)
    , m_messages(messages)
{
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("File"), QStringLiteral("Count")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setToolTip(QStringLiteral("Drag & drop your files"));
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    header()->setStretchLastSection(false);
    // Sorted once per click on a column (SortByColumn), never as rows come:
    // no sorting by the view, whose switching off also makes the header
    // unclickable, so the header is made clickable after it.
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &FileListView::SortByColumn);
}

void FileListView::appendPath(const QString &path)
{
    auto *item = new QTreeWidgetItem(QStringList {path, QString()});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    addTopLevelItem(item);
}

void FileListView::setRowMark(int row, RowMark mark, const QString &toolTip)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (!item)
        return;
    // Invalid values rather than empty ones: an unmarked row shows what a new
    // row shows, the list's own tooltip included.
    item->setData(1, Qt::DecorationRole, mark == RowMark::Warning ? QVariant(style()->standardIcon(QStyle::SP_MessageBoxWarning)) : QVariant());
    for (int column : {0, 1}) {
        item->setData(column, Qt::ForegroundRole, mark == RowMark::Dimmed ? QVariant(palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant());
        item->setData(column, Qt::ToolTipRole, toolTip.isEmpty() ? QVariant() : QVariant(toolTip));
    }
}

void FileListView::clearRowMarks()
{
    for (int row = 0; row < topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = topLevelItem(row);
        if (item->data(0, Qt::ToolTipRole).isValid() || item->data(0, Qt::ForegroundRole).isValid() || item->data(1, Qt::DecorationRole).isValid())
            setRowMark(row, RowMark::None, QString());
    }
}

QString FileListView::path(int row) const
{
    const QTreeWidgetItem *item = topLevelItem(row);
    return item ? item->text(0) : QString();
}

QString FileListView::countText() const
{
    return QStringLiteral("%1 files").arg(topLevelItemCount());
}

QString FileListView::statusText() const
{
    const int n = topLevelItemCount();
    return n > 0 ? countText() : QString();
}

void FileListView::pumpEvents()
{
    if (m_pump)
        m_pump();
}

bool FileListView::refuseWhileBusy()
{
    if (!m_busy)
        return false;
    m_messages.beep();
    return true;
}

void FileListView::AddFileToList(const QString &path)
{
    appendPath(path);
    // The list repaints while many files are added; rounds of events every
    // few milliseconds keep a drop of many thousand files fast.
    pumpEvents();
}

void FileListView::AddFiles(const QStringList &paths)
{
    {
        const Change change(*this, paths.size() > 1);
        for (const QString &path : paths)
            AddFileToList(path);
    }
    finishAdding(true);
}

void FileListView::finishAdding(bool selectLast)
{
    if (selectLast && topLevelItemCount() > 0) {
        if (QTreeWidgetItem *current = currentItem())
            current->setSelected(false);
        QTreeWidgetItem *last = topLevelItem(topLevelItemCount() - 1);
        setCurrentItem(last, 0, QItemSelectionModel::NoUpdate);
        last->setSelected(false);
        scrollToItem(last);
    }
    // The next column click sorts ascending.
    m_sortOrder = Qt::DescendingOrder;
    Q_EMIT countChanged(countText());
}

void FileListView::DropFiles(const QStringList &paths, const FolderMasks &masks)
{
    if (paths.isEmpty() || refuseWhileBusy())
        return;
    class Observer : public FolderScanObserver
    {
    public:
        explicit Observer(FileListView &list)
            : m_list(list)
        { }
        bool fileFound(const QString &path) override
        {
            m_list.AddFileToList(path);
            return true;
        }
        void pumpEvents() override { m_list.pumpEvents(); }

    private:
        FileListView &m_list;
    } observer(*this);
    {
        const Change change(*this);
        ScanPaths(paths, masks, observer);
    }
    finishAdding(topLevelItemCount() > 0);
}

void FileListView::RemoveSelectedFiles()
{
    // The menu command and the key act only while the file list has the focus.
    if (window()->focusWidget() != this || refuseWhileBusy())
        return;
    {
        const Change change(*this);
        // From the last row to the first, one run of selected rows at a time,
        // so removing never moves a row that is still to be visited.
        int row = topLevelItemCount() - 1;
        while (row >= 0) {
            row = std::min(row, topLevelItemCount() - 1);
            if (row < 0)
                break;
            if (!topLevelItem(row)->isSelected()) {
                --row;
                continue;
            }
            int first = row;
            while (first > 0 && topLevelItem(first - 1)->isSelected())
                --first;
            model()->removeRows(first, row - first + 1);
            row = first - 1;
            pumpEvents();
        }
    }
    m_sortOrder = Qt::DescendingOrder;
    Q_EMIT countChanged(statusText());
}

void FileListView::SelectAllFiles()
{
    {
        const BusyPointer busy(m_messages);
        selectAll();
        if (const int n = topLevelItemCount())
            setCurrentItem(topLevelItem(n - 1), 0, QItemSelectionModel::NoUpdate);
    }
    setFocus();
}

void FileListView::InvertFileSelection()
{
    {
        const BusyPointer busy(m_messages);
        const int n = topLevelItemCount();
        QTreeWidgetItem *lastNewlySelected = nullptr;
        for (int i = 0; i < n; ++i) {
            if (!topLevelItem(i)->isSelected())
                lastNewlySelected = topLevelItem(i);
        }
        if (n > 0)
            selectionModel()->select(QItemSelection(model()->index(0, 0), model()->index(n - 1, 1)), QItemSelectionModel::Toggle);
        if (lastNewlySelected)
            setCurrentItem(lastNewlySelected, 0, QItemSelectionModel::NoUpdate);
    }
    setFocus();
}

void FileListView::SortByColumn(int column)
{
    if (refuseWhileBusy())
        return;
    if (column == m_lastSortedColumn && m_sortOrder == Qt::AscendingOrder)
        m_sortOrder = Qt::DescendingOrder;
    else
        m_sortOrder = Qt::AscendingOrder;
    // Sorted once; rows added later go to the end.
    sortItems(column, m_sortOrder);
    m_lastSortedColumn = column;
}

QStringList FileListView::droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths.append(localPath(url));
    return paths;
}

void FileListView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void FileListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (droppedPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FileListView::dropEvent(QDropEvent *event)
{
    // The paths leave the drop event before anything is added: the additions
    // let window events run, and the drop's data does not outlive this call.
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Q_EMIT filesDropped(paths);
}

void FileListView::keyReleaseEvent(QKeyEvent *event)
{
    QTreeWidget::keyReleaseEvent(event);
    if (event->key() == Qt::Key_Delete)
        Q_EMIT deleteReleased();
}

} // namespace perrox
