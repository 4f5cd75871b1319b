#include "windowpictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace perrox {

// The small pictures of the four argument buttons.
QIcon ButtonPicture(Picture picture, const QColor &color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    switch (picture) {
    case Picture::Add:
        painter.drawRect(7, 3, 2, 10);
        painter.drawRect(3, 7, 10, 2);
        break;
    case Picture::Remove:
        painter.drawRect(3, 7, 10, 2);
        break;
    case Picture::Up:
    case Picture::Down: {
        QPainterPath path;
        if (picture == Picture::Up) {
            path.moveTo(8, 3);
            path.lineTo(14, 11);
            path.lineTo(2, 11);
        } else {
            path.moveTo(2, 5);
            path.lineTo(14, 5);
            path.lineTo(8, 13);
        }
        path.closeSubpath();
        painter.drawPath(path);
        break;
    }
    }
    return QIcon(pixmap);
}

// The window's icon: two arrows swapping a pair of bytes.
QIcon WindowIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2a, 0x5d, 0xb0));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(QRect(2, 3, 28, 13), Qt::AlignCenter, QStringLiteral("0A"));
    painter.drawText(QRect(2, 16, 28, 13), Qt::AlignCenter, QStringLiteral("FF"));
    return QIcon(pixmap);
}

} // namespace perrox
