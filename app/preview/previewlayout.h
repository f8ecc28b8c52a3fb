#pragma once

#include <QPoint>
#include <QRect>

namespace corvane::desktop::previewlayout {

// Geometry of the bubble, in screen coordinates (y grows downwards). The
// window is as tall as its content plus the title band and the button row,
// up to kMaxHeight, centred on the arrow and kept on the visible area.
constexpr int kMaxHeight = 442;
constexpr int kMinWidth = 200;
constexpr int kMaxWidth = 800;
constexpr int kArrowMargin = 14; // the outline's inset on the arrow's side
constexpr int kEdgeMargin = 4;   // its inset on the other sides
constexpr int kButtonRow = 38;   // below the web view
constexpr int kArrowKeepOut = 30; // the arrow stays this far inside the top and bottom

struct Layout
{
    QRect window;  // on the screen
    QRect webView; // in the window
    bool capped = false;
};

// The width the content is laid out in, for a window this wide.
int contentWidth(int windowWidth);
int boundedWidth(int width);

// contentHeight: the content's height at contentWidth(windowWidth);
// titleTop: the height of the title band.
Layout layout(QPoint arrow, bool arrowOnLeft, int windowWidth, int contentHeight, int titleTop, const QRect &visible);

// The window moved so the arrow stays inside it (kArrowKeepOut from its top
// and bottom), on the arrow's side.
QRect follow(const QRect &window, QPoint arrow, bool arrowOnLeft);

// Whether a bubble at `window` pointing at `arrow` has left the screen.
bool isOffScreen(const QRect &window, QPoint arrow, const QRect &screen);

} // namespace corvane::desktop::previewlayout
