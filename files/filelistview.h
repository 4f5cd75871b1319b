#pragma once

#include <QStringList>
#include <QTreeWidget>

#include <functional>

namespace perrox {

class MessageSink;
struct FolderMasks;

// lvwFiles: the files to process, columns "File" and "Count", with the list
// commands (add, remove, select, sort once). Files and folders dropped from
// the file manager arrive through filesDropped; the list itself does not
// decide what a drop adds. Adding, scanning and removing let window events
// run; meanwhile the list is busy and refuses other changes with a beep.
class FileListView : public QTreeWidget
{
    Q_OBJECT

public:
    explicit FileListView(MessageSink &messages, QWidget *parent = nullptr);

    // How a row stands out: a warning icon in its "Count" cell, or both
    // cells in the colour of disabled text.
    enum class RowMark
    {
        None,
        Warning,
        Dimmed,
    };

    // Appends a row with the path and an empty "Count" cell.
    void appendPath(const QString &path);
    // Marks the row and gives both its cells the tooltip (none when empty).
    void setRowMark(int row, RowMark mark, const QString &toolTip);
    // Every row unmarked, without tooltips.
    void clearRowMarks();
    QString path(int row) const;
    // The row count followed by " files", "" for an empty list.
    QString statusText() const;

    // Lets window events run while rows are added or removed (throttled by
    // the caller); nothing runs when unset.
    void setEventPump(std::function<void()> pump) { m_pump = std::move(pump); }
    // True while an addition, a folder scan or a removal is under way.
    bool busy() const { return m_busy; }
    // Beeps and gives true while busy: a second change, or a command on the
    // list, would work on a list that is still changing.
    bool refuseWhileBusy();

    // AddFileToList: appends the path, then lets window events run.
    void AddFileToList(const QString &path);
    // The files chosen in the Add Files dialog, in order (the busy pointer
    // for more than one); the last row becomes current, unselected.
    void AddFiles(const QStringList &paths);
    // A drop or Add Folder: each folder is scanned under masks, any other
    // path added unchecked.
    void DropFiles(const QStringList &paths, const FolderMasks &masks);
    // Removes the selected rows, only while the list has its window's focus.
    void RemoveSelectedFiles();
    void SelectAllFiles();
    void InvertFileSelection();
    // Sorts once by the column, ascending unless the last sort was that
    // column ascending; rows added later go to the end.
    void SortByColumn(int column);

    // The local paths a drop carries, in the order the data gives them;
    // empty when it holds no file list.
    static QStringList droppedPaths(const QMimeData *data);

Q_SIGNALS:
    void filesDropped(const QStringList &paths);
    void deleteReleased();
    // The rows were added or removed; statusText is what the status bar shows now.
    void countChanged(const QString &statusText);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    // "N files", also for an empty list: what a finished add shows.
    QString countText() const;
    class Change;
    void pumpEvents();
    void finishAdding(bool selectLast);

    MessageSink &m_messages;
    std::function<void()> m_pump;
    bool m_busy = false;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    int m_lastSortedColumn = 0;
};

} // namespace perrox
