#include "outersizefit.h"

#include <QDeadlineTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace perrox {

namespace {

// How long after its show a window may wait for its frame, and how often it
// looks: X11 sends no event when the frame becomes known.
constexpr int kFrameWaitMilliseconds = 3000;
constexpr int kFrameLookMilliseconds = 25;

} // namespace

void OuterSizeFit::start(QWidget *window, QSize outer)
{
    window->resize(outer); // until the frame is known, the outer size is all there is
    auto *fit = new OuterSizeFit(window, outer);
    if (fit->fit())
        fit->deleteLater();
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
    if (m_done)
        return true;
    if (m_window->isMaximized() || m_window->isFullScreen() || m_window->isMinimized()) {
        m_done = true;
        return true;
    }
    const QSize margins = m_window->frameGeometry().size() - m_window->size();
    if (!m_window->isVisible() || margins == QSize(0, 0))
        return false;
    m_done = true;
    m_window->removeEventFilter(this);
    m_window->resize(m_outer - margins);
    return true;
}

bool OuterSizeFit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Show && !m_looking) {
        m_looking = true;
        const QDeadlineTimer deadline(kFrameWaitMilliseconds);
        auto *look = new QTimer(this);
        connect(look, &QTimer::timeout, this, [this, deadline] {
            if (fit() || deadline.hasExpired())
                deleteLater();
        });
        look->start(kFrameLookMilliseconds);
        if (fit())
            deleteLater();
    }
    return false;
}

} // namespace perrox
