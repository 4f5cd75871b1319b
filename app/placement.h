#pragma once

#include <QtGlobal>

#include <optional>

namespace perrox {

// Window placement as the preferences keep it: a state and the bounds of the
// last normal placement, in twips (1/1440 inch; app/twips.h converts). These
// functions only calculate; the window reads its own bounds and state, and
// applies the result.

// The stored states (key "WindowState").
enum PlacementState : qint16
{
    PlacementNormal = 0,
    PlacementMinimized = 1,
    PlacementMaximized = 2,
};

// A window's left edge, top edge, outer width and outer height, in twips.
struct TwipsRect
{
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const TwipsRect &, const TwipsRect &) = default;
};

// What the store holds for "WindowState", "WindowLeft", "WindowTop",
// "WindowWidth" and "WindowHeight"; each is empty when the key is absent or
// does not hold a number. As read, the state is any 16-bit number and the
// bounds are whole numbers in the 32-bit range.
struct StoredPlacement
{
    std::optional<qint16> state;
    std::optional<double> left;
    std::optional<double> top;
    std::optional<double> width;
    std::optional<double> height;

    friend bool operator==(const StoredPlacement &, const StoredPlacement &) = default;
};

// What the window must do at start: set left, top, width and height, in this
// order, then the state. The bounds are set first so that leaving the
// maximized state returns to them.
struct Placement
{
    qint32 left = 0;
    qint32 top = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint16 state = PlacementNormal;

    friend bool operator==(const Placement &, const Placement &) = default;
};

// What to store when the window closes in state (0 normal, 1 minimized,
// 2 maximized) with bounds (its current normal bounds, twips): the state
// always, the four bounds only when the state is normal, so a minimized or
// maximized window keeps the bounds stored before.
StoredPlacement SaveWindowPlacement(qint16 state, const TwipsRect &bounds);

// Fits the stored placement to a screen of screenWidth x screenHeight twips.
// current and currentState are the window's own bounds and state, used for
// every key that is absent. Then, in this order: a negative left or top
// becomes 0; a width (height) larger than the screen becomes the screen's;
// a window reaching past the right (bottom) edge moves left (up) until it
// ends on that edge. The comparisons are strict: a window exactly as wide as
// the screen, or ending exactly on its edge, stays. A minimized state becomes
// normal, so the program never starts minimized; a maximized one stays.
//
// Values the window could not take count as absent too: a width or height
// of 0 or less, and a state other than 0, 1 and 2. A screen dimension of 0
// or less (no screen known) leaves that axis unfitted.
Placement RestoreWindowPlacement(const StoredPlacement &stored, const TwipsRect &current, qint16 currentState, double screenWidth, double screenHeight);

// A number of twips as a whole 32-bit number, rounded to the nearest (halves
// away from zero) and clamped to the 32-bit range.
qint32 RoundTwips(double twips);

} // namespace perrox
