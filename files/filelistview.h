#pragma once

#include <QStringList>
#include <QTreeWidget>

namespace perrox {

// lvwFiles: the files to process, columns "File" and "Count". Files and
// folders dropped from the file manager arrive through filesDropped; the
// list itself does not decide what a drop adds.
class FileListView : public QTreeWidget
{
    Q_OBJECT

public:
    explicit FileListView(QWidget *parent = nullptr);

    // Appends a row with the path and an empty "Count" cell.
    void appendPath(const QString &path);
    QString path(int row) const;

    // The local paths a drop carries, in the order the data gives them;
    // empty when it holds no file list.
    static QStringList droppedPaths(const QMimeData *data);

Q_SIGNALS:
    void filesDropped(const QStringList &paths);
    void deleteReleased();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
};

} // namespace perrox
