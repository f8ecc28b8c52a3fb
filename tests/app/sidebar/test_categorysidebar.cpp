#include "tickerfixture.h"

#include "sidebar/categorysidebar.h"
#include "sidebar/categorysidebarbutton.h"

#include <QScrollArea>
#include <QWidget>

using namespace corvane;
using namespace corvane::test;
using desktop::CategorySidebar;
using desktop::CategorySidebarButton;

namespace {

class SidebarTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_adapter = std::make_unique<desktop::DataItemAdapter>(*m_engine, *m_bridge, m_clock);
        m_window = std::make_unique<QWidget>();
    }
    void TearDown() override
    {
        m_window.reset();
        m_adapter.reset();
        settings().removeValue(QStringLiteral("FolderTabsMode"));
        TickerFixture::TearDown();
    }

    Category *addCategory(const QString &name, double position, bool sidebar = true)
    {
        auto *category = main()->insert<Category>();
        category->setName(name);
        category->setPosition(position);
        category->setSidebar(sidebar);
        return category;
    }

    CategorySidebar *makeSidebar()
    {
        auto *sidebar = new CategorySidebar(*m_adapter, *m_bridge, settings(), m_window.get());
        sidebar->column()->resize(CategorySidebar::kWidth, 700);
        return sidebar;
    }

    QStringList names(const CategorySidebar &sidebar) const
    {
        QStringList list;
        for (const CategorySidebar::Entry &entry : sidebar.calculateContent())
            list.append(entry.name);
        return list;
    }

    void settleCounts(CategorySidebar &sidebar)
    {
        for (CategorySidebarButton *button : sidebar.buttons())
            button->refreshCount();
        settle();
    }

    std::unique_ptr<desktop::DataItemAdapter> m_adapter;
    std::unique_ptr<QWidget> m_window;
};

TEST_F(SidebarTest, TabsFollowTheSidebarMarksInOrder)
{
    const ObjectID plain = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Plain"));
    CategorySidebar *sidebar = makeSidebar();
    EXPECT_EQ(names(*sidebar), QStringList{QStringLiteral("All feeds")});
    ASSERT_EQ(sidebar->buttons().size(), 1);
    EXPECT_TRUE(sidebar->buttons().first()->isSelected()) << "All feeds is selected when nothing is";

    Category *second = addCategory(QStringLiteral("Second"), 2);
    Category *first = addCategory(QStringLiteral("First"), 1);
    addCategory(QStringLiteral("Hidden"), 3, false);
    ASSERT_TRUE(main()->save());
    const ObjectID inFirst = addSource(QStringLiteral("http://b.org/rss"), QStringLiteral("In first"), first);
    auto *marked = static_cast<Datasource *>(main()->existingObject(inFirst));
    marked->setSidebar(true);
    static_cast<Datasource *>(main()->existingObject(plain))->setSidebar(true);
    ASSERT_TRUE(main()->save());
    // Categories with an enabled subscription only; Second has none.
    EXPECT_EQ(names(*sidebar), (QStringList{QStringLiteral("All feeds"), QStringLiteral("First"),
                                            QStringLiteral("In first"), QStringLiteral("Plain")}));
    Q_UNUSED(second);

    // The extents grow with the labels and do not overlap.
    const QList<CategorySidebar::Entry> entries = sidebar->calculateContent();
    for (qsizetype i = 1; i < entries.size(); ++i)
        EXPECT_GE(entries.at(i).minY, entries.at(i - 1).maxY);

    // A click selects; the adapter restricts the bar to it.
    sidebar->setupButtons();
    CategorySidebarButton *firstTab = sidebar->buttons().at(1);
    Q_EMIT firstTab->clicked(firstTab);
    EXPECT_EQ(m_adapter->selectedCategoryId(), first->objectID());
    EXPECT_TRUE(firstTab->isSelected());
    EXPECT_FALSE(sidebar->buttons().first()->isSelected());
}

TEST_F(SidebarTest, BadgesCountUnreadItemsAndTodayOnlyInMode2)
{
    Category *news = addCategory(QStringLiteral("News"), 1);
    ASSERT_TRUE(main()->save());
    const ObjectID source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("A"), news);
    storeItems(source, {{QStringLiteral("today"), 60}, {QStringLiteral("read"), 120, true},
                        {QStringLiteral("last week"), 7 * 86400.0}});
    settings().setValue(QStringLiteral("FolderTabsMode"), 1);
    CategorySidebar *sidebar = makeSidebar();
    settleCounts(*sidebar);
    ASSERT_EQ(sidebar->buttons().size(), 2);
    EXPECT_EQ(sidebar->buttons().at(0)->storedCount(), 2);
    EXPECT_EQ(sidebar->buttons().at(1)->storedCount(), 2);

    settings().setValue(QStringLiteral("FolderTabsMode"), 2);
    settleCounts(*sidebar);
    EXPECT_EQ(sidebar->buttons().at(1)->storedCount(), 1) << "only today's unread items";

    // Reading the item lowers the badge by itself (the merge recounts).
    for (DataItem *item : main()->fetchAs<DataItem>(Query{Entity::DataItem}))
        if (item->title() == u"today")
            item->setRead(true);
    ASSERT_TRUE(spinUntil([&] {
        settle();
        return sidebar->buttons().at(1)->storedCount() == 0;
    }));
}

TEST_F(SidebarTest, DraggingReordersOnlyWithinOneKind)
{
    Category *a = addCategory(QStringLiteral("A"), 1);
    Category *b = addCategory(QStringLiteral("B"), 2);
    ASSERT_TRUE(main()->save());
    const ObjectID inA = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("in A"), a);
    const ObjectID inB = addSource(QStringLiteral("http://b.org/rss"), QStringLiteral("in B"), b);
    for (const ObjectID &id : {inA, inB})
        static_cast<Datasource *>(main()->existingObject(id))->setSidebar(true);
    ASSERT_TRUE(main()->save());
    CategorySidebar *sidebar = makeSidebar();
    sidebar->setupButtons();
    ASSERT_EQ(names(*sidebar), (QStringList{QStringLiteral("All feeds"), QStringLiteral("A"), QStringLiteral("in A"),
                                            QStringLiteral("B"), QStringLiteral("in B")}));
    const QList<CategorySidebarButton *> tabs = sidebar->buttons();
    const auto middle = [](const CategorySidebarButton *tab) { return tab->geometry().center().y(); };

    // A subscription over a subscription of another category: nothing moves.
    EXPECT_FALSE(tabs.at(4)->takeDrag(tabs.at(2), middle(tabs.at(4))));
    // A subscription over a category, or anything over "All feeds": nothing.
    EXPECT_FALSE(tabs.at(3)->takeDrag(tabs.at(2), middle(tabs.at(3))));
    EXPECT_FALSE(tabs.at(0)->takeDrag(tabs.at(1), middle(tabs.at(0))));
    // Category over category: they change places.
    EXPECT_TRUE(tabs.at(3)->takeDrag(tabs.at(1), middle(tabs.at(3))));
    sidebar->setupButtons();
    EXPECT_EQ(names(*sidebar), (QStringList{QStringLiteral("All feeds"), QStringLiteral("B"), QStringLiteral("in B"),
                                            QStringLiteral("A"), QStringLiteral("in A")}));
}

} // namespace
