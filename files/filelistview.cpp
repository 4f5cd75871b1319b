#include "filelistview.h"

#include "filesystem.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

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

FileListView::FileListView(QWidget *parent)
    : QTreeWidget(parent)
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
    header()->setSectionsClickable(true);
    setSortingEnabled(false);
}

void FileListView::appendPath(const QString &path)
{
    auto *item = new QTreeWidgetItem(QStringList {path, QString()});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    addTopLevelItem(item);
}

QString FileListView::path(int row) const
{
    const QTreeWidgetItem *item = topLevelItem(row);
    return item ? item->text(0) : QString();
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
