#include "appicon.h"

#include <QPainter>
#include <QPainterPath>

namespace corvane::desktop {

QImage corvaneIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0); // drawn on a 64-unit grid
    painter.setPen(Qt::NoPen);

    const QColor ink(0xf4, 0xf1, 0xea);
    painter.setBrush(QColor(0x1f, 0x2a, 0x36));
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // The bar: a strip along the left edge.
    painter.setBrush(QColor(0xf2, 0x8c, 0x28));
    painter.drawRoundedRect(QRectF(10, 10, 10, 44), 3, 3);
    // Three entries, the newest brightest.
    const qreal opacities[] = {1.0, 0.75, 0.5};
    for (int i = 0; i < 3; ++i) {
        QColor entry = ink;
        entry.setAlphaF(opacities[i]);
        painter.setBrush(entry);
        painter.drawRoundedRect(QRectF(26, 12 + i * 15, 28, 9), 3, 3);
    }
    return image;
}

QIcon corvaneIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 44, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(corvaneIconImage(size)));
    return icon;
}

} // namespace corvane::desktop
