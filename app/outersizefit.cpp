#include "outersizefit.h"

#include <QDeadlineTimer>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace perrox {

namespace {

// How long after its show a window may wait for its frame (a busy window
// manager can take seconds), how often it looks (X11 sends no event when the
// frame becomes known), and for how many looks in a row the frame must stay
// where it is before the window is fitted: until the window manager has put
// the frame where it was asked to, the window's own idea of its position is
// out of date, and a resize would move the window to it.
constexpr int kFrameWaitMilliseconds = 10000;
constexpr int kFrameLookMilliseconds = 25;
constexpr int kSettledLooks = 4;

} // namespace

void OuterSizeFit::start(QWidget *window, QSize outer)
{
    window->resize(outer); // until the frame is known, the outer size is all there is
    new OuterSizeFit(window, outer);
}

OuterSizeFit::OuterSizeFit(QWidget *window, QSize outer)
    : QObject(window)
    , m_window(window)
    , m_outer(outer)
{
    m_window->installEventFilter(this);
}

bool OuterSizeFit::fit()
{
    const QRect frame = m_window->frameGeometry();
    const QSize margins = frame.size() - m_window->size();
    // While the window manager frames the window, the frame can for a moment
    // be smaller than the window it holds.
    if (!m_window->isVisible() || margins.width() < 0 || margins.height() < 0 || margins == QSize(0, 0)) {
        m_settledLooks = 0;
        return false;
    }
    m_settledLooks = frame == m_lastFrame ? m_settledLooks + 1 : 0;
    m_lastFrame = frame;
    if (m_settledLooks < kSettledLooks)
        return false;
    m_window->resize(m_outer - margins);
    // A window the window manager put with its title bar above or left of
    // the screen's work area comes back onto it, so it can be dragged.
    if (const QScreen *screen = m_window->screen()) {
        const QRect work = screen->availableGeometry();
        if (work.isValid() && (frame.x() < work.left() || frame.y() < work.top()))
            m_window->move(std::max(frame.x(), work.left()), std::max(frame.y(), work.top()));
    }
    return true;
}

bool OuterSizeFit::eventFilter(QObject *watched, QEvent *event)
{
    // A window shown maximized has the outer size as its normal size until
    // the frame is known: it is fitted once it leaves the maximized state,
    // or its normal size would grow by the frame at every start.
    if (watched == m_window && (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange) && !m_look && m_window->isVisible())
        startLooking();
    return false;
}

void OuterSizeFit::startLooking()
{
    const QDeadlineTimer deadline(kFrameWaitMilliseconds);
    m_look = new QTimer(this);
    connect(m_look, &QTimer::timeout, this, [this, deadline] {
        if (m_window->isFullScreen()) {
            deleteLater();
        } else if (m_window->isMaximized()) {
            m_look->deleteLater();
            m_look = nullptr;
            m_settledLooks = 0;
        } else if (fit() || deadline.hasExpired()) {
            m_window->removeEventFilter(this);
            deleteLater();
        }
    });
    m_look->start(kFrameLookMilliseconds);
}

} // namespace perrox
