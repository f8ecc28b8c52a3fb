#pragma once

#include "base/commoncolor.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QSize>

#include <optional>

namespace corvane {
class Settings;
}

namespace corvane::desktop {

// The appearance settings every entry of the bar draws with, read once per
// change instead of by each entry.
struct EntryStyle
{
    QColor fontColor{Qt::white};
    std::optional<QColor> markFontColor;
    std::optional<QColor> markBackgroundColor;
    QColor backgroundColor{Qt::black};
    double opacity = 0.3;
    double angle = -1; // gradient angle in degrees; below 0 a solid fill
    bool displayImage = true;
    bool smallImage = true;
    double imageWidth = 33;
    int location = 0; // 0 left edge, 1 right edge, 2 free window
    QFont titleFont;
    QFont sourceFont;

    void load(const Settings &settings);

    // The process's style, kept up to date by the ticker window.
    static EntryStyle &current();
};

// The distance between two lines of text in the font: its size and a
// fifth, or its own line height when that is smaller.
int lineStep(const QFont &font);

QColor toQColor(const CommonColor &color);
// The same hue and saturation with the brightness lowered by `amount` (0...1).
QColor darkened(const QColor &color, double amount);
// Brightness above 0.7: brightness - 0.1; otherwise 30 % toward white.
QColor highlightVariant(const QColor &color);

// One picture of the bar's size per colour, painted with a linear gradient
// from the colour at alpha `opacity` to transparent at the style's angle;
// entries draw their slice of it, so the fade runs on across entries.
class GradientCache
{
public:
    static GradientCache &shared();
    const QPixmap &picture(const QColor &color, QSize barSize, double angle, double opacity, qreal dpr);

private:
    QHash<QRgb, QPixmap> m_pictures;
    QSize m_size;
    double m_angle = 0;
    double m_opacity = 0;
    qreal m_dpr = 1;
};

} // namespace corvane::desktop
