#include "entrystyle.h"

#include "base/settings.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace corvane::desktop {

namespace {

std::optional<QColor> colorSetting(const Settings &settings, const QString &key)
{
    if (const std::optional<CommonColor> color = settings.color(key))
        return toQColor(*color);
    return std::nullopt;
}

} // namespace

void EntryStyle::load(const Settings &settings)
{
    fontColor = colorSetting(settings, QStringLiteral("fontColor")).value_or(QColor(Qt::white));
    markFontColor = colorSetting(settings, QStringLiteral("markFontColor"));
    markBackgroundColor = colorSetting(settings, QStringLiteral("markBackgroundColor"));
    backgroundColor = colorSetting(settings, QStringLiteral("backgroundColor")).value_or(QColor(Qt::black));
    opacity = qBound(0.0, settings.real(QStringLiteral("opacity")), 1.0);
    angle = settings.real(QStringLiteral("gradientAngle"));
    displayImage = settings.boolean(QStringLiteral("displayImage"));
    smallImage = settings.boolean(QStringLiteral("smallImage"));
    imageWidth = qBound(0.0, settings.real(QStringLiteral("imageWidth")), 400.0);
    location = int(settings.integer(QStringLiteral("location")));
    QString family = settings.string(QStringLiteral("fontName"));
    const qint64 size = std::clamp<qint64>(settings.integer(QStringLiteral("fontSize")), 6, 72);
    titleFont = QFont(family);
    titleFont.setPointSizeF(qRound(double(size)));
    sourceFont = titleFont;
    sourceFont.setPointSizeF(titleFont.pointSizeF() * 0.9);
}

EntryStyle &EntryStyle::current()
{
    static EntryStyle style;
    return style;
}

int lineStep(const QFont &font)
{
    const int natural = QFontMetrics(font).height();
    return qMin(natural, int(std::ceil(QFontInfo(font).pixelSize() * 1.25)));
}

QColor toQColor(const CommonColor &color)
{
    const auto unit = [](double v) { return qBound(0.0, v, 1.0); };
    return QColor::fromRgbF(float(unit(color.red)), float(unit(color.green)), float(unit(color.blue)),
                            float(unit(color.alpha)));
}

QColor darkened(const QColor &color, double amount)
{
    float h, s, v, a;
    color.getHsvF(&h, &s, &v, &a);
    return QColor::fromHsvF(h, s, qMax(0.0f, v - float(amount)), a);
}

QColor highlightVariant(const QColor &color)
{
    float h, s, v, a;
    color.getHsvF(&h, &s, &v, &a);
    if (v > 0.7f)
        return QColor::fromHsvF(h, s, v - 0.1f, a);
    const auto toward = [](float c) { return c + (1.0f - c) * 0.3f; };
    return QColor::fromRgbF(toward(color.redF()), toward(color.greenF()), toward(color.blueF()), a);
}

GradientCache &GradientCache::shared()
{
    static GradientCache cache;
    return cache;
}

const QPixmap &GradientCache::picture(const QColor &color, QSize barSize, double angle, double opacity, qreal dpr)
{
    if (barSize != m_size || angle != m_angle || opacity != m_opacity || dpr != m_dpr || m_pictures.size() > 10) {
        m_pictures.clear();
        m_size = barSize;
        m_angle = angle;
        m_opacity = opacity;
        m_dpr = dpr;
    }
    const QRgb key = color.rgba();
    auto it = m_pictures.find(key);
    if (it != m_pictures.end())
        return *it;
    QPixmap picture(barSize * dpr);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    // The gradient line runs through the centre at the angle (0 degrees:
    // left to right, counter-clockwise as the angle grows, y pointing up).
    const QRectF bounds(QPointF(0, 0), QSizeF(barSize));
    const double radians = qDegreesToRadians(angle);
    const QPointF direction(std::cos(radians), -std::sin(radians));
    const double half = (std::abs(direction.x()) * bounds.width() + std::abs(direction.y()) * bounds.height()) / 2;
    const QPointF centre = bounds.center();
    QLinearGradient gradient(centre - direction * half, centre + direction * half);
    QColor from = color;
    from.setAlphaF(float(opacity));
    QColor to = color;
    to.setAlphaF(0);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    QPainter painter(&picture);
    painter.fillRect(bounds, gradient);
    painter.end();
    return *m_pictures.insert(key, picture);
}

} // namespace corvane::desktop
