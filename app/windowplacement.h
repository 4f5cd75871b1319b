#pragma once

#include "app/placement.h"

class QWidget;

namespace perrox {

// The main window's placement between starts, in twips as it is stored:
// restored (a window never placed starts in the middle of the work area; a
// stored size is the outer one, fitted once the window manager has framed
// the window) and read back when it closes.
void RestoreWindowPlacement(QWidget &window, const StoredPlacement &stored, double twipsPerPixel);
StoredPlacement SavedWindowPlacement(const QWidget &window, double twipsPerPixel);

} // namespace perrox
