#include "tickerfixture.h"

#include "ticker/barresizer.h"
#include "ticker/dataitemview.h"
#include "ticker/listview.h"
#include "ticker/mainwindowcontroller.h"

#include <QScrollArea>
#include <QScrollBar>

using namespace corvane;
using namespace corvane::test;
using desktop::MainWindowController;

namespace {

class BarKeysTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha"));
        QList<ItemSpec> specs;
        for (int i = 0; i < 40; ++i)
            specs.append({QStringLiteral("item %1").arg(i), 60.0 * i});
        storeItems(m_source, specs);
        settings().setValue(QStringLiteral("ArrowsOnMouseOver"), true);
        m_controller = makeBar();
        // The pointer of the offscreen screen may rest on an entry.
        for (desktop::DataItemView *view : m_controller->entryViews())
            view->setInactive();
    }
    void TearDown() override
    {
        m_controller.reset();
        for (const char *key : {"ArrowsOnMouseOver", "MouseOverSpacePreview", "MouseOverEnterBrowser"})
            settings().removeValue(QString::fromLatin1(key));
        TickerFixture::TearDown();
    }

    // Lets a selection scroll and its follow-up run to their end.
    void finishScroll()
    {
        m_controller->finishSelectionScroll();
        m_clock.advance(0.5);
        settle();
    }

    int scroll() const { return m_controller->scrollView()->verticalScrollBar()->value(); }
    int visibleHeight() const { return m_controller->scrollView()->viewport()->height(); }

    ObjectID m_source;
    std::unique_ptr<MainWindowController> m_controller;
};

TEST_F(BarKeysTest, ArrowsMoveTheSelectionAndScrollToTheEdges)
{
    MainWindowController &bar = *m_controller;
    const int n = int(bar.items().size());
    const int e = bar.itemHeight();
    ASSERT_EQ(n, 40);

    // Nothing is highlighted yet: the arrows do nothing.
    bar.hotkeyPressed(MainWindowController::KeyDown);
    EXPECT_EQ(bar.selectedItemIndex(), 0);
    MainWindowController::mouseMoved();

    // The top entry highlighted by the mouse; down selects the one below it.
    desktop::DataItemView *top = nullptr;
    for (desktop::DataItemView *view : bar.entryViews())
        if (view->index() == n)
            top = view;
    ASSERT_TRUE(top);
    top->setActive();
    bar.hotkeyPressed(MainWindowController::KeyDown);
    EXPECT_EQ(bar.selectedItemIndex(), n - 1);
    EXPECT_FALSE(top->highlight());
    EXPECT_EQ(scroll(), 0) << "an entry in sight is selected without scrolling";
    EXPECT_FALSE(bar.unselectAllowed()) << "the mouse does not take the highlight during keyboard use";

    // Down until the selection leaves the visible part: it scrolls to the bottom edge.
    const int inSight = visibleHeight() / e;
    for (int i = 0; i < inSight; ++i) {
        bar.hotkeyPressed(MainWindowController::KeyDown);
        finishScroll();
    }
    const int selected = bar.selectedItemIndex();
    EXPECT_EQ(selected, n - 1 - inSight);
    EXPECT_EQ(scroll(), (n - selected + 1) * e - visibleHeight());

    // Up past the top of the visible part scrolls that entry to the top edge.
    m_controller->scrollView()->verticalScrollBar()->setValue(20 * e);
    settle();
    bar.selectItemIndex(n - 5);
    finishScroll();
    EXPECT_EQ(scroll(), 5 * e);
    EXPECT_EQ(bar.selectedItemIndex(), n - 5);

    // Positions outside the list are ignored.
    bar.selectItemIndex(n + 1);
    bar.selectItemIndex(0);
    EXPECT_EQ(bar.selectedItemIndex(), n - 5);

    MainWindowController::mouseMoved();
    EXPECT_TRUE(bar.unselectAllowed()) << "a mouse move hands the highlight back to the mouse";
}

TEST_F(BarKeysTest, OnlyTheKeysTheSettingsAllowAreTaken)
{
    using K = MainWindowController;
    EXPECT_EQ(m_controller->allowedHotKeys(), (QList<K::HotKey>{K::KeyDown, K::KeyUp, K::KeyRight, K::KeyLeft}));
    settings().setValue(QStringLiteral("ArrowsOnMouseOver"), false);
    settings().setValue(QStringLiteral("MouseOverSpacePreview"), true);
    EXPECT_EQ(m_controller->allowedHotKeys(), QList<K::HotKey>{K::KeySpace});
    settings().setValue(QStringLiteral("MouseOverEnterBrowser"), true);
    EXPECT_EQ(m_controller->allowedHotKeys(), (QList<K::HotKey>{K::KeySpace, K::KeyReturn}));

    // With the arrows off, a highlighted entry does not move.
    m_controller->viewForItem(m_controller->items().first())->setActive();
    const int before = m_controller->selectedItemIndex();
    m_controller->hotkeyPressed(K::KeyDown);
    EXPECT_EQ(m_controller->selectedItemIndex(), before);
    // Space previews the selected entry.
    m_controller->hotkeyPressed(K::KeySpace);
    EXPECT_FALSE(m_preview.shownItem().isNull());
}

TEST(BarResizer, TheGripKeepsTheScreenSideAndTheLimits)
{
    using desktop::BarResizer;
    const QRect leftBar(0, 0, 240, 800);
    EXPECT_EQ(BarResizer::resizedFrame(leftBar, true, 300, 100, 800), QRect(0, 0, 300, 800));
    EXPECT_EQ(BarResizer::resizedFrame(leftBar, true, 20, 100, 800), QRect(0, 0, 100, 800));
    EXPECT_EQ(BarResizer::resizedFrame(leftBar, true, 5000, 100, 800), QRect(0, 0, 800, 800));
    // On the right edge the right side stays where it is.
    const QRect rightBar(1040, 0, 240, 800);
    EXPECT_EQ(BarResizer::resizedFrame(rightBar, false, 1000, 100, 800), QRect(1000, 0, 280, 800));
    EXPECT_EQ(BarResizer::resizedFrame(rightBar, false, 1250, 100, 800), QRect(1180, 0, 100, 800));
    EXPECT_EQ(BarResizer::resizedFrame(rightBar, false, -900, 100, 800), QRect(480, 0, 800, 800));
}

} // namespace
