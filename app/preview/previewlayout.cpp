#include "previewlayout.h"

#include <algorithm>

namespace corvane::desktop::previewlayout {

namespace {

int windowX(QPoint arrow, bool arrowOnLeft, int width)
{
    return arrowOnLeft ? arrow.x() : arrow.x() - width;
}

// QRect::bottom() is the last row inside; this is the first one outside.
int endY(const QRect &rect)
{
    return rect.y() + rect.height();
}

} // namespace

int contentWidth(int windowWidth)
{
    return windowWidth - kArrowMargin;
}

int boundedWidth(int width)
{
    return std::clamp(width, kMinWidth, kMaxWidth);
}

Layout layout(QPoint arrow, bool arrowOnLeft, int windowWidth, int contentHeight, int titleTop, const QRect &visible)
{
    Layout result;
    const int width = contentWidth(windowWidth);
    int height = contentHeight + kButtonRow + kEdgeMargin + titleTop;
    if (height > kMaxHeight) {
        height = kMaxHeight;
        result.capped = true;
    }
    // A capped view is a little wider, which hides most of its scroll bar's
    // track behind the outline.
    const int webWidth = result.capped ? width + 4 : width;
    const int webHeight = std::max(1, height - kButtonRow - kEdgeMargin - titleTop);
    result.webView = QRect(arrowOnLeft ? kArrowMargin : kEdgeMargin, kEdgeMargin + titleTop, webWidth, webHeight);

    int top = arrow.y() - height / 2;
    if (!visible.isEmpty()) {
        if (top < visible.y())
            top = visible.y();
        if (top + height > endY(visible))
            top = std::max(endY(visible), arrow.y() + kArrowKeepOut) - height;
    }
    result.window = QRect(windowX(arrow, arrowOnLeft, windowWidth), top, windowWidth, height);
    return result;
}

QRect follow(const QRect &window, QPoint arrow, bool arrowOnLeft)
{
    QRect moved = window;
    if (arrow.y() < moved.y() + kArrowKeepOut)
        moved.moveTop(arrow.y() - kArrowKeepOut);
    else if (arrow.y() > endY(moved) - kArrowKeepOut)
        moved.moveTop(arrow.y() + kArrowKeepOut - moved.height());
    moved.moveLeft(windowX(arrow, arrowOnLeft, moved.width()));
    return moved;
}

bool isOffScreen(const QRect &window, QPoint arrow, const QRect &screen)
{
    if (screen.isEmpty())
        return false;
    return window.y() < screen.y() || arrow.y() >= endY(screen);
}

} // namespace corvane::desktop::previewlayout
