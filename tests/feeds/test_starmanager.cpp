#include "feeds/starmanager.h"

#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include "base/notificationcenter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;

TEST(StarManager, StarsAnnounceUnstarsDoNotAndRemoveAllReachesTheStore)
{
    QTemporaryDir dir;
    StoreManager::Options options;
    options.directory = dir.path();
    options.commitDelaySeconds = 0.1;
    StoreManager stores(options);
    StarManager stars(stores);
    Context *main = stores.contextMain();
    auto *source = main->insert<RSSDatasource>();
    source->setUrl(QStringLiteral("http://a.org/rss"));
    QList<DataItem *> items;
    for (int i = 0; i < 3; ++i) {
        items.append(main->insert<DataItem>());
        items.back()->setDatasource(source);
    }
    ASSERT_TRUE(main->save());

    int announced = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), QString::fromLatin1(kStarChangedNotificationName),
                            nullptr, [&](const Notification &) { ++announced; });
    for (DataItem *item : items)
        stars.starItem(item);
    EXPECT_EQ(announced, 3);
    EXPECT_TRUE(StarManager::isStarred(items[0]));
    EXPECT_FALSE(main->hasChanges());
    stars.unstarItem(items[0]);
    EXPECT_EQ(announced, 3);
    EXPECT_FALSE(main->hasChanges());

    stars.removeAll();
    stores.queue().drain();
    stores.waitForPendingCommit();
    Context *background = stores.contextBackground();
    background->performBlockConfinedAndWait([&] {
        EXPECT_EQ(background->count(Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)}), 0);
    });
}
