#include "toolicons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

namespace corvane::desktop {

namespace {

constexpr int kSide = 16;

QPainterPath starPath(const QPointF &centre, double outer, double inner)
{
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const double radius = i % 2 ? inner : outer;
        const double angle = qDegreesToRadians(-90.0 + 36.0 * i);
        const QPointF point = centre + QPointF(std::cos(angle) * radius, std::sin(angle) * radius);
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

void drawEye(QPainter &p, bool crossed)
{
    QPainterPath eye;
    eye.moveTo(1.5, 8);
    eye.quadTo(8, 1.5, 14.5, 8);
    eye.quadTo(8, 14.5, 1.5, 8);
    p.drawPath(eye);
    p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
    if (crossed)
        p.drawLine(QPointF(3, 13.5), QPointF(13, 2.5));
}

void drawGear(QPainter &p)
{
    QPainterPath gear;
    for (int i = 0; i < 8; ++i) {
        const double a = qDegreesToRadians(45.0 * i);
        const QPointF dir(std::cos(a), std::sin(a));
        gear.moveTo(QPointF(8, 8) + dir * 4.5);
        gear.lineTo(QPointF(8, 8) + dir * 7.0);
    }
    QPen pen = p.pen();
    pen.setWidthF(2.4);
    p.save();
    p.setPen(pen);
    p.drawPath(gear);
    p.restore();
    p.drawEllipse(QPointF(8, 8), 4.2, 4.2);
    p.drawEllipse(QPointF(8, 8), 1.6, 1.6);
}

void drawChevrons(QPainter &p, bool pointLeft)
{
    const double d = pointLeft ? -1 : 1;
    for (double x : {5.5, 10.0}) {
        p.drawLine(QPointF(x - 2 * d, 4), QPointF(x + 2 * d, 8));
        p.drawLine(QPointF(x + 2 * d, 8), QPointF(x - 2 * d, 12));
    }
}

} // namespace

QIcon toolIcon(const QString &name, const QColor &tint)
{
    QIcon icon;
    for (const qreal dpr : {1.0, 2.0}) {
        QPixmap picture(QSize(kSide, kSide) * dpr);
        picture.setDevicePixelRatio(dpr);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(tint, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        if (name == u"search") {
            p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
            p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
        } else if (name == u"add") {
            p.drawLine(QPointF(8, 2.5), QPointF(8, 13.5));
            p.drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
        } else if (name == u"starred") {
            p.drawPath(starPath(QPointF(8, 8.6), 6.8, 2.9));
        } else if (name == u"marked") {
            // A tag.
            QPainterPath tag;
            tag.moveTo(2, 2);
            tag.lineTo(8.5, 2);
            tag.lineTo(14.5, 8);
            tag.lineTo(8.5, 14);
            tag.lineTo(2, 7.5);
            tag.closeSubpath();
            p.drawPath(tag);
            p.drawEllipse(QPointF(5.3, 5.3), 1.1, 1.1);
        } else if (name == u"preferences") {
            drawGear(p);
        } else if (name == u"autohide_off" || name == u"autohide_on") {
            drawEye(p, name == u"autohide_on");
        } else if (name == u"minimize") {
            p.drawLine(QPointF(3, 12.5), QPointF(13, 12.5));
        } else if (name == u"collapse" || name == u"expand") {
            drawChevrons(p, name == u"collapse");
        } else {
            return QIcon();
        }
        p.end();
        icon.addPixmap(picture);
    }
    return icon;
}

} // namespace corvane::desktop
