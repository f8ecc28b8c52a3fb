// Where the bubble goes on the screen (y grows downwards).
#include "preview/previewlayout.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

namespace layout = desktop::previewlayout;

TEST(PreviewLayout, CentresOnTheArrowAndStaysOnTheVisibleArea)
{
    const QRect visible(0, 0, 1280, 800);
    struct Case
    {
        const char *name;
        QPoint arrow;
        bool arrowOnLeft;
        int contentHeight;
        QRect window;
    };
    // 340 wide; a title band of 30: height = content + 38 + 4 + 30.
    const Case cases[] = {
        {"centred", {280, 400}, true, 128, {280, 300, 340, 200}},
        {"to the left of a right-edge bar", {1000, 400}, false, 128, {660, 300, 340, 200}},
        {"pushed down below the visible top", {280, 40}, true, 128, {280, 0, 340, 200}},
        {"pushed up above the visible bottom", {280, 760}, true, 128, {280, 600, 340, 200}},
        {"capped at 442", {280, 400}, true, 5000, {280, 179, 340, 442}},
        // Below the visible area (a bar under a panel): the arrow stays 30 inside.
        {"arrow past the visible bottom", {280, 795}, true, 128, {280, 625, 340, 200}},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        const layout::Layout result = layout::layout(row.arrow, row.arrowOnLeft, 340, row.contentHeight, 30, visible);
        EXPECT_EQ(result.window, row.window);
        EXPECT_EQ(result.capped, row.window.height() == layout::kMaxHeight);
        EXPECT_EQ(result.webView.x(), row.arrowOnLeft ? 14 : 4);
        EXPECT_EQ(result.webView.y(), 4 + 30);
        EXPECT_EQ(result.webView.width(), result.capped ? 330 : 326);
        EXPECT_EQ(result.webView.height(), row.window.height() - 72);
    }
}

TEST(PreviewLayout, FollowsTheArrowAndLeavesWithTheScreen)
{
    const QRect window(280, 300, 340, 200);
    const QRect screen(0, 0, 1280, 800);
    struct Case
    {
        const char *name;
        QPoint arrow;
        int top;
        bool offScreen;
    };
    const Case cases[] = {
        {"inside: stays", {280, 400}, 300, false},
        {"30 below the top: stays", {280, 330}, 300, false},
        {"nearer the top: moves up", {280, 310}, 280, false},
        {"nearer the bottom: moves down", {280, 490}, 320, false},
        {"window above the screen top", {280, 10}, -20, true},
        {"arrow below the screen", {280, 820}, 650, true},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        const QRect moved = layout::follow(window, row.arrow, true);
        EXPECT_EQ(moved.top(), row.top);
        EXPECT_EQ(moved.size(), window.size());
        EXPECT_EQ(layout::isOffScreen(moved, row.arrow, screen), row.offScreen);
    }
    EXPECT_EQ(layout::follow(window, QPoint(900, 400), false).left(), 560);
}

} // namespace
} // namespace corvane::test
