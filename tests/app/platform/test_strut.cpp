#include "platform/x11dock.h"

#include <gtest/gtest.h>

using corvane::desktop::ScreenEdge;
using corvane::desktop::strutPartial;

TEST(StrutPartial, ReservesFromTheRootWindowEdgeOnEveryMonitorLayout)
{
    using Values = std::array<quint32, 12>;
    struct Case
    {
        const char *name;
        ScreenEdge edge;
        QRect bar; // physical pixels
        QSize root;
        Values expected;
    };
    const QSize one(1280, 800);
    const QSize two(2560, 800); // two 1280 x 800 monitors side by side
    const Case cases[] = {
        {"left edge", ScreenEdge::Left, {0, 0, 100, 800}, one, {100, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}},
        {"right edge", ScreenEdge::Right, {1180, 0, 100, 800}, one, {0, 100, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
        {"right edge of the left monitor", ScreenEdge::Right, {1180, 0, 100, 800}, two,
         {0, 1380, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
        {"left edge of the right monitor", ScreenEdge::Left, {1280, 0, 100, 800}, two,
         {1380, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}},
        {"right edge of the right monitor", ScreenEdge::Right, {2460, 0, 100, 800}, two,
         {0, 100, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
        {"monitor lower than the root", ScreenEdge::Left, {0, 200, 100, 600}, QSize(2560, 1440),
         {100, 0, 0, 0, 200, 799, 0, 0, 0, 0, 0, 0}},
        {"partly left of the root", ScreenEdge::Left, {-50, 0, 100, 800}, one, {50, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}},
        {"partly right of the root", ScreenEdge::Right, {1230, 0, 100, 800}, one,
         {0, 50, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
        {"taller than the root", ScreenEdge::Left, {0, -10, 100, 900}, one, {100, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}},
        {"outside the root", ScreenEdge::Right, {1300, 0, 100, 800}, one, {}},
        {"empty bar", ScreenEdge::Left, {0, 0, 0, 800}, one, {}},
        {"unknown root", ScreenEdge::Left, {0, 0, 100, 800}, QSize(), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(strutPartial(c.edge, c.bar, c.root), c.expected);
    }
}
