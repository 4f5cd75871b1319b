#pragma once

#include <QIcon>

class QColor;

namespace perrox {

// The small pictures of the four argument buttons, drawn in color.
enum class Picture
{
    Add,
    Remove,
    Up,
    Down
};
QIcon ButtonPicture(Picture picture, const QColor &color);

// The window's icon: two arrows swapping a pair of bytes.
QIcon WindowIcon();

} // namespace perrox
