#pragma once

#include "arguments/argumentrow.h"

#include <QTreeWidget>

class QTimer;

namespace perrox {

class MessageSink;

// lvwFind: the list of Find&Replace arguments, four columns "Type",
// "Find what", "Type", "Replace with". Rows can be dragged to another place
// inside the list; nothing else can be dropped on it. The list commands
// (remove, clear, move) beep through messages where they cannot act.
// Once window events run after rows were added, moved or removed, each pair
// that CheckPairs warns about shows the warning icon in its "Find what" cell
// (a pair that can never match) or its "Replace with" cell (a replacement
// that holds a find sequence), and the warning as every cell's tooltip.
class ArgumentListView : public QTreeWidget
{
    Q_OBJECT

public:
    explicit ArgumentListView(MessageSink &messages, QWidget *parent = nullptr);

    QList<ArgumentRow> rows() const;
    ArgumentRow row(int position) const;
    void appendRow(const ArgumentRow &row);
    void insertRow(int position, const ArgumentRow &row);
    // The position of the current row, or -1.
    int currentPosition() const;
    // The row at position, taken out of the list.
    ArgumentRow takeRow(int position);

    // RemoveArguments: every selected row, from the last, with window events
    // between removals; the current row ends selected.
    void RemoveSelectedRows();
    // ClearArguments: every row, with the busy pointer.
    void ClearRows();
    // MoveArgumentUp, MoveArgumentDown: the current row one place; a beep
    // with no current row or at the end it would move past.
    void MoveCurrentUp();
    void MoveCurrentDown();

    // MoveArgument: the row at source goes to target (positions from 0, the
    // target counted before the row is taken out), ends selected and visible.
    void MoveArgument(int source, int target);

    // The drop of the row dragged from dragIndex (from 1) onto the row at
    // position under (from 0): the row moves there and becomes current.
    void DropDraggedRow(int dragIndex, int under);

    // iDragIndex: the position (from 1) of the row a drag started from; 0
    // when no drag is under way.
    int dragIndex() const { return m_dragIndex; }

    static QString mimeType();

Q_SIGNALS:
    void deleteReleased();
    void rightButtonReleased(const QPoint &globalPos);
    void doubleClicked();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    static QTreeWidgetItem *makeItem(const ArgumentRow &row);
    // The warnings of CheckPairs on every row, a text that does not convert
    // (still being typed) taken as empty.
    void markPairWarnings();
    bool isOwnDrag(const QMimeData *data) const;

    MessageSink &m_messages;
    int m_dragIndex = 0;
    // Started by every change of the rows: one check after a round of changes.
    QTimer *m_pairCheck;
};

} // namespace perrox
