// The start-up of sync: the first merge's report and the snapshot taken
// before the cloud's data comes in.
#include "feeds/refresh/datasourcemanager.h"

#include "base/settings.h"
#include "store/storemanager.h"

#include "quietengine.h"
#include "spinuntil.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;

TEST(CloudSyncStartUp, TheFirstMergeEndsTheBlockingAfterASnapshotWhenTheCloudHoldsRecords)
{
    QTemporaryDir store;
    Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    DatasourceManager manager(test::quietEngine(store.path()));
    const QString snapshot = manager.stores().snapshotPathForDay(QDate::currentDate());
    QFile::remove(snapshot);

    std::atomic<int> released{0};
    std::atomic<bool> snapshotBeforeRelease{false};
    manager.setCloudBlockingRelease([&] {
        snapshotBeforeRelease = QFile::exists(snapshot);
        ++released;
    });

    // An empty cloud: nothing to protect, the blocking ends at once.
    manager.setCloudItemCount(false);
    EXPECT_EQ(released.load(), 1);
    EXPECT_FALSE(snapshotBeforeRelease.load());

    // Records in the cloud: the store is copied first.
    manager.setCloudItemCount(true);
    ASSERT_TRUE(test::spinUntil([&] { return released.load() == 2; }));
    EXPECT_TRUE(snapshotBeforeRelease.load()) << "the blocking ended before the snapshot was taken";
    manager.stores().queue().drain();
}
