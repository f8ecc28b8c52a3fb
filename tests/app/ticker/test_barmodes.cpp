#include "tickerfixture.h"

#include "ticker/listview.h"
#include "ticker/mainwindowcontroller.h"

#include "store/keyword.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

using namespace corvane;
using namespace corvane::test;
using desktop::MainWindowController;

namespace {

class BarModesTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha"));
    }
    void TearDown() override
    {
        settings().removeValue(QStringLiteral("FolderTabsMode"));
        TickerFixture::TearDown();
    }

    std::unique_ptr<MainWindowController> makeController() { return makeBar(); }
    void tick(MainWindowController &controller, int times = 1) { tickBar(controller, times); }

    ObjectID m_source;
};

TEST_F(BarModesTest, CounterCountsArrivalsOutOfSightUntilTheyShow)
{
    QList<ItemSpec> old;
    for (int i = 0; i < 30; ++i)
        old.append({QStringLiteral("old %1").arg(i), 3600.0 + 60 * i});
    storeItems(m_source, old);
    auto controller = makeController();
    static_cast<Datasource *>(main()->existingObject(m_source))->setWasDisplayed(true);
    QScrollBar *bar = controller->scrollView()->verticalScrollBar();
    bar->setValue(1200);

    storeItems(m_source, {{QStringLiteral("new a"), 20}});
    tick(*controller);
    tick(*controller, 16);
    storeItems(m_source, {{QStringLiteral("new b"), 10}});
    tick(*controller);
    EXPECT_EQ(controller->invisibleList().size(), 2);
    EXPECT_TRUE(controller->counterButton()->isVisible());
    EXPECT_EQ(controller->counterButton()->text(), QStringLiteral("2 new"));

    // Scrolled until the older arrival shows: it and all older ones drop out.
    bar->setValue(controller->itemHeight());
    settle();
    EXPECT_EQ(controller->invisibleList().size(), 1);
    EXPECT_EQ(controller->counterButton()->text(), QStringLiteral("1 new"));
    controller->counterButton()->click();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(controller->invisibleList().isEmpty());
    EXPECT_FALSE(controller->counterButton()->isVisible());
}

TEST_F(BarModesTest, SearchStarredAndMarkedViews)
{
    storeItems(m_source, {{QStringLiteral("apple pie"), 60, false, true},
                          {QStringLiteral("banana bread"), 120},
                          {QStringLiteral("cherry cake"), 180}});
    auto controller = makeController();
    ASSERT_EQ(controller->items().size(), 3);

    controller->flipSearchField();
    EXPECT_TRUE(controller->searchField()->isVisible());
    controller->searchField()->setText(QStringLiteral("BANANA"));
    settle();
    controller->rebuildViews(false);
    EXPECT_EQ(titles(controller->items()), QStringList{QStringLiteral("banana bread")});
    controller->flipSearchField();
    settle();
    controller->rebuildViews(false);
    EXPECT_FALSE(controller->searchField()->isVisible());
    EXPECT_TRUE(controller->searchField()->text().isEmpty());
    EXPECT_EQ(controller->items().size(), 3) << "hiding the search brings the whole list back";

    controller->flipStarredAction();
    settle();
    controller->rebuildViews(false);
    EXPECT_EQ(titles(controller->items()), QStringList{QStringLiteral("apple pie")});
    EXPECT_TRUE(controller->toolButton(QStringLiteral("starred"))->isChecked());

    // The marked view from the starred view returns to the normal list first.
    controller->flipMarkedAction(true);
    settle();
    controller->rebuildViews(false);
    EXPECT_FALSE(controller->adapter().showStarredOnly());
    EXPECT_TRUE(controller->adapter().showMarkedOnly());
    EXPECT_FALSE(controller->toolButton(QStringLiteral("starred"))->isChecked());
    EXPECT_TRUE(controller->items().isEmpty()) << "no keyword marks anything";
    controller->flipMarkedAction(false);
    settle();
    controller->rebuildViews(false);
    EXPECT_EQ(controller->items().size(), 3);
}

TEST_F(BarModesTest, CollapsingKeepsTheScreenSideEdge)
{
    settings().setValue(QStringLiteral("location"), 1);
    settings().setValue(QStringLiteral("FolderTabsMode"), 2);
    auto controller = makeController();
    settle();
    controller->resizeWindow();
    const QRect expanded = controller->window()->geometry();
    controller->expand(false);
    EXPECT_TRUE(controller->isCollapsed());
    EXPECT_EQ(controller->window()->width(), 18);
    EXPECT_EQ(controller->window()->geometry().right(), expanded.right());
    EXPECT_FALSE(controller->toolButton(QStringLiteral("search"))->isVisibleTo(controller->window()));
    controller->expand(true);
    EXPECT_EQ(controller->window()->geometry(), expanded);

    // Without category tabs there is nothing to collapse for: the bar
    // expands, the column goes and the category selection with it.
    QWidget column(controller->window());
    column.setFixedWidth(19);
    controller->setSideColumn(&column);
    EXPECT_TRUE(column.isVisibleTo(controller->window()));
    EXPECT_EQ(controller->scrollView()->width(), expanded.width() - 19);
    controller->adapter().setSelectedCategoryId(m_source);
    controller->expand(false);
    settings().setValue(QStringLiteral("FolderTabsMode"), 0);
    settle();
    EXPECT_FALSE(controller->isCollapsed());
    EXPECT_EQ(controller->window()->width(), expanded.width());
    EXPECT_FALSE(column.isVisibleTo(controller->window()));
    EXPECT_EQ(controller->scrollView()->width(), expanded.width());
    EXPECT_TRUE(controller->adapter().selectedCategoryId().isNull());
}

} // namespace
