// The setting "iCloudEnabled" switches both handlers; turning it on makes the
// key-value handler's first merge wait for a snapshot of the store when the
// cloud already holds records.
#include "sync/changedbhandler.h"
#include "sync/cloudsync.h"
#include "sync/keyvaluehandler.h"
#include "sync/keyvaluestore.h"

#include "feeds/refresh/datasourcemanager.h"

#include "base/dispatch.h"
#include "base/settings.h"
#include "store/storemanager.h"

#include "quietengine.h"
#include "spinuntil.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::sync;

TEST(CloudSyncSwitch, FollowsTheSettingAndTakesASnapshotBeforeTheFirstMerge)
{
    QTemporaryDir store;
    QTemporaryDir cloud;
    Settings &settings = Settings::shared();
    settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    settings.setValue(QStringLiteral("CloudContainerPath"), cloud.path());
    settings.setValue(QStringLiteral("iCloudEnabled"), false);
    DatasourceManager manager(test::quietEngine(store.path()));
    manager.stores().queue().drain();
    ASSERT_EQ(DatasourceManager::existingInstance(), &manager);

    CloudSync::start();
    CloudSync::waitUntilStarted();
    ChangeDbHandler *changeDb = nullptr;
    KeyValueHandler *keyValue = nullptr;
    dispatch::global().sync([&] {
        changeDb = ChangeDbHandler::shared();
        keyValue = KeyValueHandler::shared();
    });
    ASSERT_TRUE(changeDb && keyValue);
    changeDb->performBlockAndWait([] {});
    EXPECT_FALSE(changeDb->enabled()) << "sync ran with the setting off";
    EXPECT_FALSE(keyValue->enabled());

    // Another machine's records are in the cloud already.
    QDir().mkpath(QDir(cloud.path()).filePath(QStringLiteral("keyvalue")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CORVANE_SYNC_TEST_DATA "/keyvalue-written-elsewhere.bplist"),
                            QDir(cloud.path()).filePath(QStringLiteral("keyvalue/OTHER-MACHINE--1"))));
    // The store has read them before sync turns on (the store of this
    // process may still watch the folder an earlier test used).
    dispatch::global().sync([&] { keyValue->store().synchronize(); });
    keyValue->store().updateQuery();
    ASSERT_TRUE(test::spinUntil([&] { return !keyValue->store().dictionaryRepresentation().isEmpty(); }));
    const QString snapshot = manager.stores().snapshotPathForDay(QDate::currentDate());
    QFile::remove(snapshot);

    bool snapshotBeforeMerge = false;
    bool sawBlocking = false;
    settings.setValue(QStringLiteral("iCloudEnabled"), true);
    sawBlocking = keyValue->blocking();
    ASSERT_TRUE(test::spinUntil([&] {
        if (!keyValue->blocking() && !snapshotBeforeMerge)
            snapshotBeforeMerge = QFile::exists(snapshot);
        return !keyValue->blocking();
    }));
    changeDb->performBlockAndWait([] {});
    EXPECT_TRUE(sawBlocking) << "turning sync on did not block the first merge";
    EXPECT_TRUE(snapshotBeforeMerge) << "the first merge ran before the store's snapshot";
    EXPECT_TRUE(changeDb->enabled());
    EXPECT_TRUE(keyValue->enabled());

    settings.setValue(QStringLiteral("iCloudEnabled"), false);
    changeDb->performBlockAndWait([] {});
    EXPECT_FALSE(changeDb->enabled());
    EXPECT_FALSE(keyValue->enabled());

    CloudSync::stop();
    keyValue->drain();
    settings.removeValue(QStringLiteral("CloudContainerPath"));
    settings.removeValue(QStringLiteral("iCloudEnabled"));
}
