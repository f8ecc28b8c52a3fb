#include "tickerfixture.h"

#include "ticker/dataitemadapter.h"

#include "base/notificationcenter.h"
#include "store/dataitem.h"

using namespace corvane;
using namespace corvane::test;
using desktop::DataItemAdapter;

namespace {

class AdapterTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha News"));
        m_other = addSource(QStringLiteral("http://b.org/rss"), QStringLiteral("Beta"));
    }

    std::unique_ptr<DataItemAdapter> makeAdapter()
    {
        auto adapter = std::make_unique<DataItemAdapter>(*m_engine, *m_bridge, m_clock);
        settle();
        return adapter;
    }

    QStringList shown(const DataItemAdapter &adapter) const { return titles(adapter.items()); }

    ObjectID m_source;
    ObjectID m_other;
};

TEST_F(AdapterTest, FiltersCombineAsTheBarShowsThem)
{
    storeItems(m_source, {{QStringLiteral("Rust release"), 60, true, true},
                          {QStringLiteral("Café opens"), 120},
                          {QStringLiteral("Weather"), 180, true}});
    storeItems(m_other, {{QStringLiteral("Beta item"), 240}});
    auto adapter = makeAdapter();
    EXPECT_EQ(shown(*adapter), (QStringList{QStringLiteral("Rust release"), QStringLiteral("Café opens"),
                                            QStringLiteral("Weather"), QStringLiteral("Beta item")}));

    adapter->hideRead();
    settle();
    EXPECT_EQ(shown(*adapter), (QStringList{QStringLiteral("Café opens"), QStringLiteral("Beta item")}));

    // The search ignores case and accents, and matches the subscription's name.
    adapter->setFilter(QStringLiteral("CAFE"));
    settle();
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("Café opens")});
    adapter->setFilter(QStringLiteral("alpha"));
    settle();
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("Café opens")});

    // Starred-only shows the read starred item and ignores search and marks.
    adapter->setShowMarkedOnly(true);
    adapter->setShowStarredOnly(true);
    adapter->setNeedsRefresh(true);
    settle();
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("Rust release")});
    adapter->setShowStarredOnly(false);
    adapter->setFilter(QString());
    settle();
    EXPECT_TRUE(shown(*adapter).isEmpty()) << "marked-only: nothing is marked";
}

TEST_F(AdapterTest, SelectionRestrictsAndEmptiesTheBarAtOnce)
{
    storeItems(m_source, {{QStringLiteral("A1"), 60}});
    storeItems(m_other, {{QStringLiteral("B1"), 120}});
    auto adapter = makeAdapter();
    int emptied = 0;
    QObject::connect(adapter.get(), &DataItemAdapter::selectionChanged, [&] { ++emptied; });

    adapter->setSelectedDatasourceId(m_other);
    EXPECT_TRUE(adapter->items().isEmpty()) << "emptied before the reload delivers";
    EXPECT_EQ(emptied, 1);
    settle();
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("B1")});

    adapter->setSelectedDatasourceId(m_other);
    EXPECT_EQ(emptied, 1) << "the same selection again changes nothing";
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("B1")});

    // A selection that no longer exists acts as none.
    adapter->setSelectedDatasourceId(ObjectID{Entity::Datasource, 9999});
    settle();
    EXPECT_EQ(shown(*adapter).size(), 2);
}

TEST_F(AdapterTest, ArrivalsAreSortedInFirstThenQueued)
{
    auto adapter = makeAdapter();
    // The subscription's first item of the run goes to its sorted place.
    storeItems(m_source, {{QStringLiteral("first"), 600}});
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("first")});
    EXPECT_FALSE(adapter->hasNew());
    settle();
    auto *source = static_cast<Datasource *>(main()->existingObject(m_source));
    EXPECT_TRUE(source->wasDisplayed());

    // Later ones wait for the ticker, the oldest last.
    storeItems(m_source, {{QStringLiteral("second"), 300}, {QStringLiteral("third"), 100}});
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("first")});
    EXPECT_EQ(titles(adapter->theNewItems()), (QStringList{QStringLiteral("third"), QStringLiteral("second")}));
    adapter->removeNew();
    EXPECT_EQ(shown(*adapter), (QStringList{QStringLiteral("second"), QStringLiteral("first")}));

    // A starred first item does not mark its subscription displayed.
    storeItems(m_other, {{QStringLiteral("starred"), 50, false, true}});
    settle();
    EXPECT_FALSE(static_cast<Datasource *>(main()->existingObject(m_other))->wasDisplayed());
    EXPECT_TRUE(shown(*adapter).contains(QStringLiteral("starred")));

    // Deleted items leave both lists.
    const QList<ObjectID> queued = adapter->theNewItems();
    ASSERT_FALSE(queued.isEmpty());
    main()->deleteObject(main()->existingObject(queued.first()));
    ASSERT_TRUE(main()->save());
    settle();
    adapter->dropDeletedItems();
    EXPECT_FALSE(adapter->theNewItems().contains(queued.first()));

    // Items that do not pass the filter are ignored.
    adapter->hideRead();
    settle();
    storeItems(m_other, {{QStringLiteral("read arrival"), 10, true}});
    EXPECT_FALSE(shown(*adapter).contains(QStringLiteral("read arrival")));
    EXPECT_FALSE(titles(adapter->theNewItems()).contains(QStringLiteral("read arrival")));

}

TEST_F(AdapterTest, MarkingAllFollowsTheSearchIncludingHiddenReadItems)
{
    storeItems(m_source, {{QStringLiteral("apple pie"), 60, true},
                          {QStringLiteral("apple tart"), 120},
                          {QStringLiteral("banana"), 180}});
    auto adapter = makeAdapter();
    adapter->hideRead();
    adapter->setFilter(QStringLiteral("apple"));
    settle();
    adapter->markUnread();
    ASSERT_TRUE(spinUntil([&] { settle(); return shown(*adapter).size() == 2; }));

    adapter->markRead();
    ASSERT_TRUE(spinUntil([&] { settle(); return shown(*adapter).isEmpty(); }));
    adapter->setFilter(QString());
    settle();
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("banana")}) << "only the search's items were marked";
}

TEST_F(AdapterTest, OpenPreviewHoldsTheReloadBack)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one"), 60},
                                                      {QStringLiteral("two"), 120},
                                                      {QStringLiteral("three"), 180}});
    auto adapter = makeAdapter();
    adapter->hideRead();
    settle();
    m_preview.showItem(ids.at(0), {}, true);
    for (const ObjectID &id : ids)
        static_cast<DataItem *>(main()->existingObject(id))->setRead(true);
    adapter->setNeedsRefresh(true);
    EXPECT_TRUE(adapter->reloadPending());
    EXPECT_EQ(shown(*adapter), QStringList{QStringLiteral("one")}) << "the previewed item stays";

    m_preview.close(true);
    settle();
    EXPECT_FALSE(adapter->reloadPending());
    EXPECT_TRUE(shown(*adapter).isEmpty());
}

TEST_F(AdapterTest, SettingsAndEventsThatReloadOrNot)
{
    storeItems(m_source, {{QStringLiteral("n1"), 60}, {QStringLiteral("n2"), 120}, {QStringLiteral("n3"), 180}});
    auto adapter = makeAdapter();
    ASSERT_EQ(shown(*adapter).size(), 3);

    settings().setValue(QStringLiteral("limit"), 1);
    settle();
    EXPECT_EQ(shown(*adapter).size(), 2) << "a new global limit reloads (limit + 1 are shown)";

    NotificationCenter::defaultCenter().post(QStringLiteral("DataItemTurnedIntoFault"));
    settle();
    EXPECT_EQ(shown(*adapter).size(), 2) << "a fault event without an item changes nothing";
}

} // namespace
