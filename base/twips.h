#pragma once

#include <cmath>

namespace perrox {

// Window bounds, dialog layouts and the placement preferences are kept in
// twips, 1/1440 inch: 15 twips per pixel on a 96 DPI screen.
inline double TwipsPerPixel(double logicalDpi)
{
    return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0;
}

inline int TwipsToPixels(double twips, double twipsPerPixel)
{
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

inline double PixelsToTwips(double pixels, double twipsPerPixel)
{
    return pixels * twipsPerPixel;
}

} // namespace perrox
