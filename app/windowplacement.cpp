#include "windowplacement.h"

#include "app/outersizefit.h"
#include "base/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace perrox {

void RestoreWindowPlacement(QWidget &window, const StoredPlacement &stored, double twipsPerPixel)
{
    const auto twips = [twipsPerPixel](int pixels) { return PixelsToTwips(pixels, twipsPerPixel); };
    const auto pixels = [twipsPerPixel](double twips) { return TwipsToPixels(twips, twipsPerPixel); };
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize();
    QRect frame = window.frameGeometry();
    // A window that was never placed would have its client area, not its
    // frame, put at the top left corner, with the title bar off the screen:
    // it starts in the middle of the work area instead.
    if (screen && (!stored.left || !stored.top)) {
        const QRect work = screen->availableGeometry();
        frame.moveTo(std::max(work.left(), work.center().x() - frame.width() / 2), std::max(work.top(), work.center().y() - frame.height() / 2));
    }
    const TwipsRect current {twips(frame.x()), twips(frame.y()), twips(frame.width()), twips(frame.height())};
    const qint16 currentState = window.isMaximized() ? PlacementMaximized : window.isMinimized() ? PlacementMinimized : PlacementNormal;
    const Placement placed = RestoreWindowPlacement(stored, current, currentState, twips(screenSize.width()), twips(screenSize.height()));
    window.move(pixels(placed.left), pixels(placed.top));
    const QSize size(pixels(placed.width), pixels(placed.height));
    // A stored size is the outer one; a first start keeps the design client area.
    if (stored.width || stored.height)
        OuterSizeFit::start(&window, size);
    else
        window.resize(size);
    if (placed.state == PlacementMaximized)
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

StoredPlacement SavedWindowPlacement(const QWidget &window, double twipsPerPixel)
{
    const auto twips = [twipsPerPixel](int pixels) { return PixelsToTwips(pixels, twipsPerPixel); };
    const qint16 state = window.isMinimized() ? PlacementMinimized : window.isMaximized() ? PlacementMaximized : PlacementNormal;
    const QRect frame = window.frameGeometry();
    return SaveWindowPlacement(state, {twips(frame.x()), twips(frame.y()), twips(frame.width()), twips(frame.height())});
}

} // namespace perrox
