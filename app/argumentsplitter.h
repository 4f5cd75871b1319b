#pragma once

#include <QSplitter>

class QTreeWidget;

namespace perrox {

// The boundary between the argument list and the file list, which the user
// can drag to make the argument list taller. The first pane spans the
// window's width, with the argument list at its left; the buttons beside
// the list stay where they are, above the pane. The handle takes the design
// gap between the two lists, so the design positions stand until it moves.
class ArgumentSplitter : public QSplitter
{
    Q_OBJECT

public:
    // Takes both lists into the splitter; list keeps its design height as
    // the least height of its pane.
    ArgumentSplitter(QWidget *client, QTreeWidget *arguments, QTreeWidget *files);

    // Places the splitter from top to bottom over the width, with the
    // argument list at left and listWidth wide; gap is the handle's height.
    void arrange(int top, int bottom, int width, int left, int listWidth, int gap);
    // The argument list's height; setting it moves the boundary (within the
    // least heights of both panes).
    int listHeight() const;
    void setListHeight(int height);

private:
    void placeList();
    // Gives the argument list the height asked for, once there is room.
    void applyWanted();

    QWidget *m_pane;
    QTreeWidget *m_arguments;
    int m_designHeight;
    int m_left = 0;
    int m_listWidth = 0;
    int m_wanted; // the height asked for, until the window is shown; -1 none
};

} // namespace perrox
