#include "feeds/visibleitems.h"

#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/objectstore.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include "base/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

constexpr Date kNow = 1'800'000'000.0;
constexpr double kDay = 86400.0;

class VisibleItemsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::shared().setValue(QStringLiteral("receiveTimeStamp"), true);
        StoreManager::Options options;
        options.directory = m_dir.path();
        m_stores = std::make_unique<StoreManager>(options);
        m_main = m_stores->contextMain();
        m_source = m_main->insert<RSSDatasource>();
        m_source->setUrl(QStringLiteral("http://a.org/rss"));
        m_source->setEnabled(true);
    }
    void TearDown() override { Settings::shared().removeValue(QStringLiteral("receiveTimeStamp")); }

    DataItem *addItem(Datasource *source, double age, bool starred = false)
    {
        auto *item = m_main->insert<DataItem>();
        item->setDatasource(source);
        item->setTitle(QStringLiteral("item %1").arg(++m_count));
        item->setParsedDate(kNow - age);
        item->setOrderingDate(kNow - age);
        item->setOriginalDate(kNow - age);
        if (starred)
            item->setValue(DataItem::Starred, true);
        return item;
    }
    QList<DataItem *> visible()
    {
        return visibleitems::visibleDataItems(Predicate(), visibleitems::sortDescriptors(), m_main, kNow);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<StoreManager> m_stores;
    Context *m_main = nullptr;
    RSSDatasource *m_source = nullptr;
    int m_count = 0;
};

} // namespace

TEST_F(VisibleItemsTest, CountLimitIsStrictlyGreaterAndStarsEscapeIt)
{
    m_source->setLimit(2);
    QList<DataItem *> items;
    for (int i = 0; i < 5; ++i)
        items.append(addItem(m_source, 60.0 * (i + 1)));
    DataItem *starred = addItem(m_source, 3600.0 * 10, true);
    ASSERT_TRUE(m_main->save());
    const QList<DataItem *> shown = visible();
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(shown.mid(0, 3), items.mid(0, 3)); // newest first
    EXPECT_EQ(shown[3], starred);
    EXPECT_EQ(visibleitems::visibleDataItemsCount(Predicate(), m_main, kNow), 4);
    // Hidden items stay in the store.
    EXPECT_EQ(m_main->count(Query{Entity::DataItem}), 6);
}

TEST_F(VisibleItemsTest, AgeCutOffIsExclusiveAndUsesTheTimeStampSetting)
{
    m_source->setAgeLimit(1);
    DataItem *onTheCutOff = addItem(m_source, kDay);
    DataItem *justInside = addItem(m_source, kDay - 1);
    DataItem *oldButReceivedToday = addItem(m_source, 10);
    oldButReceivedToday->setOriginalDate(kNow - 3 * 365 * kDay);
    ASSERT_TRUE(m_main->save());
    QList<DataItem *> shown = visible();
    EXPECT_FALSE(shown.contains(onTheCutOff));
    EXPECT_TRUE(shown.contains(justInside));
    EXPECT_TRUE(shown.contains(oldButReceivedToday));
    Settings::shared().setValue(QStringLiteral("receiveTimeStamp"), false);
    EXPECT_FALSE(visible().contains(oldButReceivedToday));
}

TEST_F(VisibleItemsTest, TrimmingDeletesByAgeOnlyAndKeepsStars)
{
    m_source->setAgeLimit(2);
    for (int i = 0; i < 250; ++i)
        addItem(m_source, 5 * kDay);
    addItem(m_source, 5 * kDay, true);
    auto *undated = m_main->insert<DataItem>();
    undated->setDatasource(m_source);
    addItem(m_source, kDay);
    ASSERT_TRUE(m_main->save());
    const ObjectID sourceId = m_source->objectID();

    purgeOutdatedItemsWithContext(m_main, kNow);
    EXPECT_EQ(m_main->count(Query{Entity::DataItem}), 3);
    // Unstarring the old item lets the next trimming delete it.
    auto starred = m_main->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)});
    ASSERT_EQ(starred.size(), 1);
    starred[0]->setValue(DataItem::Starred, false);
    purgeOutdatedItemsWithContext(m_main, kNow);
    EXPECT_EQ(m_main->count(Query{Entity::DataItem}), 2);
    EXPECT_NE(m_main->existingObject(sourceId), nullptr);
}

TEST_F(VisibleItemsTest, BadgeCountsUnreadVisibleItemsOfEnabledSubscriptions)
{
    auto *disabled = m_main->insert<RSSDatasource>();
    disabled->setUrl(QStringLiteral("http://b.org/rss"));
    disabled->setEnabled(false);
    addItem(disabled, 60);
    addItem(m_source, 60);
    addItem(m_source, 120)->setValue(DataItem::Read, true);
    addItem(m_source, 180)->setDeletedByUser(true);
    addItem(m_source, 2 * kDay); // not today
    ASSERT_TRUE(m_main->save());
    const ObjectID enabledId = m_source->objectID(), disabledId = disabled->objectID();

    qint64 all = -1, today = -1, ofDisabled = -1;
    Context *background = m_stores->contextBackground();
    background->performBlockConfinedAndWait([&] {
        const Record *enabled = background->existingObject(enabledId);
        all = visibleitems::countForItemFromBackground(*m_stores, enabled, false, Predicate(), kNow);
        today = visibleitems::countForItemFromBackground(*m_stores, enabled, true, Predicate(), kNow);
        ofDisabled = visibleitems::countForItemFromBackground(*m_stores, background->existingObject(disabledId), false,
                                                              Predicate(), kNow);
        DataItem::setAllRead(true);
        EXPECT_EQ(visibleitems::countForItemFromBackground(*m_stores, enabled, false, Predicate(), kNow), 0);
        DataItem::setAllRead(std::nullopt);
    });
    EXPECT_EQ(all, 2);
    // Today starts at local midnight of "now", whatever zone the machine is in.
    const Date midnight = double(QDateTime::fromMSecsSinceEpoch(qint64(kNow * 1000)).date().startOfDay().toMSecsSinceEpoch()) / 1000;
    EXPECT_EQ(today, int(kNow - 60 >= midnight) + int(kNow - 2 * kDay >= midnight));
    EXPECT_EQ(ofDisabled, 0);
}
