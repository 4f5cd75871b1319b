#include "app/placement.h"

#include <cmath>
#include <limits>

namespace perrox {

namespace {

constexpr double Int32Min = std::numeric_limits<qint32>::min();
constexpr double Int32Max = std::numeric_limits<qint32>::max();

qint32 ClampToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= Int32Min)
        return std::numeric_limits<qint32>::min();
    if (value >= Int32Max)
        return std::numeric_limits<qint32>::max();
    return static_cast<qint32>(value);
}

// Bound taken from the store, else from the window.
qint32 Bound(const std::optional<double> &stored, double current)
{
    return RoundTwips(stored.value_or(current));
}

// Width or height: a stored size of 0 or less cannot be applied, so the
// window's own size stands in for it.
qint32 Size(const std::optional<double> &stored, double current)
{
    if (stored && RoundTwips(*stored) > 0)
        return RoundTwips(*stored);
    return RoundTwips(current);
}

// One axis of the fitting: origin and extent against a screen extent. The sum
// is taken in 64 bits so that stored values near the 32-bit limits cannot
// overflow. Values taken from the screen are rounded down, so a fitted window
// never reaches past a fractional screen edge.
void FitAxis(qint32 &origin, qint32 &extent, double screen)
{
    if (origin < 0)
        origin = 0;
    if (!(screen > 0))
        return;
    if (screen < extent)
        extent = ClampToInt32(std::floor(screen));
    if (screen < static_cast<qint64>(origin) + extent)
        origin = ClampToInt32(std::floor(screen - extent));
}

} // namespace

qint32 RoundTwips(double twips)
{
    return ClampToInt32(std::round(twips));
}

StoredPlacement SaveWindowPlacement(qint16 state, const TwipsRect &bounds)
{
    StoredPlacement stored;
    stored.state = state;
    if (state == PlacementNormal) {
        stored.left = bounds.left;
        stored.top = bounds.top;
        stored.width = bounds.width;
        stored.height = bounds.height;
    }
    return stored;
}

Placement RestoreWindowPlacement(const StoredPlacement &stored, const TwipsRect &current, qint16 currentState, double screenWidth, double screenHeight)
{
    Placement placement;
    placement.left = Bound(stored.left, current.left);
    placement.top = Bound(stored.top, current.top);
    placement.width = Size(stored.width, current.width);
    placement.height = Size(stored.height, current.height);

    qint16 state = stored.state.value_or(currentState);
    if (state < PlacementNormal || state > PlacementMaximized)
        state = currentState;

    FitAxis(placement.left, placement.width, screenWidth);
    FitAxis(placement.top, placement.height, screenHeight);

    placement.state = state == PlacementMaximized ? PlacementMaximized : PlacementNormal;
    return placement;
}

} // namespace perrox
