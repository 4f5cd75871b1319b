#pragma once

#include <QObject>
#include <QRect>
#include <QSize>

class QTimer;
class QWidget;

namespace perrox {

// Gives a top-level window an outer size, its frame included. The window
// system tells the frame's size at the show on some platforms, and on others
// (X11) only once the window manager has framed the window, a moment later
// and without an event; so the size is fitted once the frame is known and has
// settled; a frame left or above the work area then moves onto it. A window that is still unframed some seconds after its show
// keeps its size (it has no frame); a maximized one is fitted once it is
// restored to its normal size.
class OuterSizeFit : public QObject
{
    Q_OBJECT

public:
    // The fit owns itself: it is a child of window and ends once it has run.
    static void start(QWidget *window, QSize outer);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    OuterSizeFit(QWidget *window, QSize outer);
    // True once the fit has run or can no longer run.
    bool fit();
    // Looks for the frame until it has settled.
    void startLooking();

    QWidget *m_window;
    QSize m_outer;
    QRect m_lastFrame;
    int m_settledLooks = 0;
    QTimer *m_look = nullptr; // while looking
};

} // namespace perrox
