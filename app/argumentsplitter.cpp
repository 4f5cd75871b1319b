#include "argumentsplitter.h"

#include <QTreeWidget>

#include <algorithm>

namespace perrox {

ArgumentSplitter::ArgumentSplitter(QWidget *client, QTreeWidget *arguments, QTreeWidget *files)
    : QSplitter(Qt::Vertical, client)
    , m_pane(new QWidget)
    , m_arguments(arguments)
    , m_designHeight(arguments->height())
    , m_wanted(m_designHeight)
{
    setObjectName(QStringLiteral("splArguments"));
    setChildrenCollapsible(false);
    m_pane->setObjectName(QStringLiteral("paneArguments"));
    m_pane->setMinimumHeight(m_designHeight);
    arguments->setParent(m_pane);
    addWidget(m_pane);
    addWidget(files);
    // A taller or shorter window changes the file list only.
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
    connect(this, &QSplitter::splitterMoved, this, [this] {
        m_wanted = -1;
        placeList();
    });
    // Under the buttons beside the argument list, which the pane's empty
    // right part must not cover.
    lower();
}

void ArgumentSplitter::arrange(int top, int bottom, int width, int left, int listWidth, int gap)
{
    m_left = left;
    m_listWidth = listWidth;
    setHandleWidth(std::max(1, gap));
    setGeometry(0, top, width, std::max(0, bottom - top));
    applyWanted();
    placeList();
}

int ArgumentSplitter::listHeight() const
{
    return m_arguments->height();
}

void ArgumentSplitter::setListHeight(int height)
{
    m_wanted = std::max(height, m_designHeight);
    applyWanted();
    placeList();
}

void ArgumentSplitter::applyWanted()
{
    const int room = height() - handleWidth();
    if (m_wanted < 0 || room <= 0)
        return;
    setSizes({std::min(m_wanted, room), std::max(0, room - m_wanted)});
    // Until the window is on the screen its size can still change.
    if (isVisible())
        m_wanted = -1;
}

void ArgumentSplitter::placeList()
{
    m_arguments->setGeometry(m_left, 0, m_listWidth, m_pane->height() > 0 ? m_pane->height() : m_designHeight);
}

} // namespace perrox
