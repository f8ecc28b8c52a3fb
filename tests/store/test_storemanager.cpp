#include "store/context.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/objectstore.h"
#include "store/storemanager.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "spinuntil.h"
#include "storefixture.h"
#include "testfiles.h"

#include <sqlite3.h>

#include <atomic>
#include <csignal>

using namespace corvane;
using corvane::test::addItem;
using corvane::test::addSource;
using corvane::test::readFile;
using corvane::test::writeFile;

namespace {

class StoreManagerTest : public ::testing::Test
{
protected:
    std::unique_ptr<StoreManager> open(double commitDelay = 0.2)
    {
        StoreManager::Options options;
        options.directory = m_dir.path();
        options.commitDelaySeconds = commitDelay;
        return std::make_unique<StoreManager>(options);
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(StoreManagerTest, BackgroundSavesReachTheMainContext)
{
    auto stores = open();
    Context *main = stores->contextMain();
    auto *source = addSource(main);
    ASSERT_TRUE(main->save());

    QList<Record *> inserted;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kObjectsUpdatedNotification, main,
                            [&](const Notification &n) {
                                inserted = n.userInfo.value(QStringLiteral("inserted")).value<QList<Record *>>();
                            });
    const ObjectID sourceId = source->objectID();
    Context *background = stores->contextBackground();
    background->performBlockConfinedAndWait([&] {
        auto *item = addItem(background, static_cast<Datasource *>(background->existingObject(sourceId)),
                             QStringLiteral("from the background"));
        auto *gone = addItem(background, item->datasource());
        ASSERT_TRUE(background->save());
        // Saved, the background's copy lets its values go and reads them again.
        EXPECT_FALSE(item->holdsValues());
        EXPECT_EQ(item->title(), QStringLiteral("from the background"));
        // Deleted before the main context hears of it: not announced.
        ASSERT_TRUE(background->database().exec("DELETE FROM item WHERE id = " + QByteArray::number(gone->objectID().row)));
    });
    ASSERT_TRUE(test::spinUntil([&] { return !inserted.isEmpty(); }));
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_FALSE(inserted[0]->holdsValues()) << "new records arrive as faults";
    EXPECT_EQ(static_cast<DataItem *>(inserted[0])->title(), QStringLiteral("from the background"));
    EXPECT_EQ(static_cast<DataItem *>(inserted[0])->datasource(), source);
}

// A sync queue owns a context of its own: it takes in the saves of the
// others, and its saves reach the main and the background context.
TEST_F(StoreManagerTest, AThirdContextOnItsOwnQueueTakesPartInMerging)
{
    auto stores = open();
    Context *main = stores->contextMain();
    auto *item = addItem(main, addSource(main), QStringLiteral("first"));
    ASSERT_TRUE(main->save());

    dispatch::SerialQueue syncQueue(QStringLiteral("org.corvane.test-sync"));
    std::unique_ptr<Context> sync;
    DataItem *syncCopy = nullptr;
    syncQueue.sync([&] {
        sync = std::make_unique<Context>(stores->store(), QStringLiteral("sync"));
        sync->setQueue(&syncQueue);
        syncCopy = static_cast<DataItem *>(sync->existingObject(item->objectID()));
    });
    ASSERT_TRUE(syncCopy);

    item->setTitle(QStringLiteral("renamed on the main thread"));
    ASSERT_TRUE(main->save());
    EXPECT_TRUE(test::spinUntil([&] {
        QString title;
        syncQueue.sync([&] { title = syncCopy->title(); });
        return title == QStringLiteral("renamed on the main thread");
    }));

    std::atomic<int> announced{0};
    ScopedObserver observer(NotificationCenter::defaultCenter(), kObjectsUpdatedNotification, main,
                            [&](const Notification &) { ++announced; });
    syncQueue.sync([&] {
        syncCopy->setStarred(true);
        ASSERT_TRUE(sync->save());
    });
    ASSERT_TRUE(test::spinUntil([&] { return announced.load() == 1; }));
    EXPECT_TRUE(item->isStarred());
    bool starredInBackground = false;
    Context *background = stores->contextBackground();
    background->performBlockConfinedAndWait([&] {
        starredInBackground = static_cast<DataItem *>(background->existingObject(item->objectID()))->isStarred();
    });
    EXPECT_TRUE(starredInBackground);
    syncQueue.sync([&] { sync.reset(); });
}

TEST_F(StoreManagerTest, RecordsDeletedElsewhereAreFreedOnceTheMergeHasBeenAnnounced)
{
    auto stores = open();
    Context *main = stores->contextMain();
    auto *source = addSource(main);
    QList<ObjectID> ids;
    QList<DataItem *> items;
    for (int i = 0; i < 50; ++i)
        items.append(addItem(main, source, QStringLiteral("item %1").arg(i)));
    ASSERT_TRUE(main->save());
    for (DataItem *item : items)
        ids.append(item->objectID());

    // Observers still read the records the merge let go of.
    QStringList deletedTitles;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kObjectsUpdatedNotification, main,
                            [&](const Notification &n) {
                                for (Record *r : n.userInfo.value(QStringLiteral("deleted")).value<QList<Record *>>())
                                    deletedTitles.append(static_cast<DataItem *>(r)->title());
                            });
    Context *background = stores->contextBackground();
    background->performBlockConfinedAndWait([&] {
        for (const ObjectID &id : ids)
            background->deleteObject(background->existingObject(id));
        ASSERT_TRUE(background->save());
    });
    ASSERT_TRUE(test::spinUntil([&] { return deletedTitles.size() == ids.size(); }));
    EXPECT_TRUE(deletedTitles.contains(QStringLiteral("item 7")));
    EXPECT_EQ(main->objectRegistered(ids[7]), nullptr);
    // An always-running program never resets its main context: what was let
    // go of must not stay allocated.
    EXPECT_TRUE(test::spinUntil([&] { return main->goneCount() == 0; }, 2000));
    background->performBlockConfinedAndWait([&] { EXPECT_EQ(background->goneCount(), 0); });
}

// Keyword lists edited on the main thread re-mark the items of the
// background context: new keywords mark, removed ones (freed records there)
// unmark, and blank ones mark nothing.
TEST_F(StoreManagerTest, KeywordEditsReMarkTheBackgroundsItems)
{
    auto stores = open();
    Context *main = stores->contextMain();
    Context *background = stores->contextBackground();
    auto *source = addSource(main);
    for (const char *title : {"alpha story", "beta story"})
        addItem(main, source, QString::fromLatin1(title));
    ASSERT_TRUE(main->save());

    std::atomic<int> remarkings{0};
    ScopedObserver observer(NotificationCenter::defaultCenter(), kKeywordsChangedNotification, nullptr,
                            [&](const Notification &) { ++remarkings; });
    const auto markedInBackground = [&] {
        QStringList marked;
        background->performBlockConfinedAndWait([&] {
            for (DataItem *item : background->fetchAs<DataItem>(Query{Entity::DataItem}))
                if (item->mark())
                    marked.append(item->title());
        });
        marked.sort();
        return marked;
    };
    const struct
    {
        QStringList keywords;
        QStringList marked;
    } steps[] = {
        {{QStringLiteral("alpha")}, {QStringLiteral("alpha story")}},
        // Marks nothing new, so no item is saved: the background keeps its list.
        {{QStringLiteral("alpha"), QStringLiteral("gamma")}, {QStringLiteral("alpha story")}},
        {{QStringLiteral("alpha"), QStringLiteral("gamma"), QStringLiteral("beta")},
         {QStringLiteral("alpha story"), QStringLiteral("beta story")}},
        {{QStringLiteral("beta")}, {QStringLiteral("beta story")}},
        {{QString(), QStringLiteral("  ")}, {}},
    };
    int expected = 0;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.keywords.join(u',').toStdString());
        ASSERT_TRUE(KeywordHelper::insertKeywords(step.keywords, main, false));
        ++expected;
        ASSERT_TRUE(test::spinUntil([&] { return remarkings.load() == expected; }));
        EXPECT_EQ(markedInBackground(), step.marked);
    }
    EXPECT_EQ(main->count(Query{Entity::Keyword}), 0);
}

// Without a bar the background context may read through its bounded cache,
// so the pages a refresh touches do not stay resident. A whole-table pass
// puts back each connection's own setting.
TEST_F(StoreManagerTest, TheBackgroundContextCanReadThroughItsPageCache)
{
    const auto mapped = [](Context *context) { return context->database().scalar("PRAGMA mmap_size").toLongLong(); };
    {
        auto stores = open();
        Context *background = stores->contextBackground();
        background->performBlockConfinedAndWait([&] { EXPECT_GT(mapped(background), 0); });
    }
    StoreManager::Options options;
    options.directory = m_dir.path();
    options.backgroundReads = ConnectionReads::ThroughPageCache;
    auto stores = std::make_unique<StoreManager>(options);
    Context *main = stores->contextMain();
    Context *background = stores->contextBackground();
    EXPECT_GT(mapped(main), 0);
    {
        const WholeTableReadScope scope(main->database());
        EXPECT_EQ(mapped(main), 0);
    }
    EXPECT_GT(mapped(main), 0);
    background->performBlockConfinedAndWait([&] {
        EXPECT_EQ(mapped(background), 0);
        { const WholeTableReadScope scope(background->database()); }
        EXPECT_EQ(mapped(background), 0);
    });
}

TEST_F(StoreManagerTest, TwoWritersWithinTheDelayMakeOneSave)
{
    auto stores = open(0.5);
    Context *background = stores->contextBackground();
    int saves = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kContextDidSaveNotification, background,
                            [&](const Notification &) { ++saves; });
    for (int writer = 0; writer < 2; ++writer)
        background->performBlockConfinedAndWait([&] {
            addSource(background, QStringLiteral("http://w%1.org/rss").arg(writer));
            stores->processChangesFromContext(background);
        });
    stores->waitForPendingCommit();
    EXPECT_EQ(saves, 1);
    background->performBlockConfinedAndWait([&] {
        EXPECT_FALSE(background->hasChanges());
        EXPECT_EQ(background->count(Query{Entity::Datasource}), 2);
    });
}

// The last trim is remembered in the store: a program started again within
// the hour does not scan every item again; after an hour, or with the clock
// set back, it does.
TEST_F(StoreManagerTest, TrimmingRunsAtMostHourlyAcrossRestarts)
{
    // One commit that stores a subscription with an item far older than its age limit.
    const auto commitAnOldItem = [](StoreManager &stores, const QString &url) {
        Context *background = stores.contextBackground();
        background->performBlockConfinedAndWait([&] {
            auto *source = background->insert<RSSDatasource>();
            source->setUrl(url);
            source->setAgeLimit(1);
            auto *item = background->insert<DataItem>();
            item->setDatasource(source);
            item->setTitle(url);
            item->setOrderingDate(currentDate() - 10 * 86400.0);
            ASSERT_TRUE(background->save());
            item->setRead(true);
            stores.processChangesFromContext(background);
        });
        stores.waitForPendingCommit();
    };
    const auto items = [](StoreManager &stores) {
        qint64 count = 0;
        Context *background = stores.contextBackground();
        background->performBlockConfinedAndWait([&] { count = background->count(Query{Entity::DataItem}); });
        return count;
    };
    {
        auto stores = open(0.05);
        commitAnOldItem(*stores, QStringLiteral("http://first.org/rss"));
        EXPECT_EQ(items(*stores), 0) << "a new store trims at its first commit";
    }
    {
        auto stores = open(0.05);
        commitAnOldItem(*stores, QStringLiteral("http://second.org/rss"));
        EXPECT_EQ(items(*stores), 1) << "trimmed less than an hour ago";
    }
    for (const double shift : {-2 * 3600.0, 2 * 3600.0}) {
        SCOPED_TRACE(shift);
        SqliteDatabase db;
        ASSERT_TRUE(db.open(QDir(m_dir.path()).filePath(ObjectStore::kStoreFileName)));
        ASSERT_TRUE(db.exec("UPDATE metadata SET value = ? WHERE key = 'lastTrim'", {currentDate() + shift}));
        db.close();
        auto stores = open(0.05);
        commitAnOldItem(*stores, QStringLiteral("http://later.org/rss%1").arg(shift));
        EXPECT_EQ(items(*stores), 0);
    }
}

TEST_F(StoreManagerTest, ScrollingHoldsBackCommits)
{
    auto stores = open(0.1);
    Context *background = stores->contextBackground();
    stores->deferProcessing();
    QThread::msleep(100); // the deferral takes the token on its own queue
    background->performBlockConfinedAndWait([&] {
        addSource(background);
        stores->processChangesFromContext(background);
    });
    QThread::msleep(800);
    bool savedWhileScrolling = true;
    background->performBlockConfinedAndWait([&] { savedWhileScrolling = !background->hasChanges(); });
    EXPECT_FALSE(savedWhileScrolling);
    stores->waitForPendingCommit(); // released 2 s after the last scroll step
    background->performBlockConfinedAndWait([&] { EXPECT_FALSE(background->hasChanges()); });
}

TEST_F(StoreManagerTest, ElevenDailyBackupsAreCutBackToTen)
{
    auto stores = open();
    const QDate first(2026, 1, 1);
    for (int day = 0; day < 11; ++day) {
        for (const char *extension : {".xml", ".db", ".db-wal"})
            writeFile(QDir(m_dir.path()).filePath(QStringLiteral("Corvane-v3.") + StoreManager::dateStringForDay(first.addDays(day))
                                                  + QLatin1String(extension)),
                      {});
    }
    stores->purgeOldOpmlBackups();
    EXPECT_EQ(stores->opmlBackups().size(), 10);
    EXPECT_FALSE(QFile::exists(stores->opmlBackupUrlForDay(first)));
    EXPECT_FALSE(QFile::exists(stores->snapshotPathForDay(first)));
    EXPECT_FALSE(QFile::exists(stores->snapshotPathForDay(first) + QStringLiteral("-wal")));
    EXPECT_TRUE(QFile::exists(stores->snapshotPathForDay(first.addDays(1))));
    EXPECT_TRUE(QFile::exists(QDir(m_dir.path()).filePath(ObjectStore::kStoreFileName)));
}

TEST_F(StoreManagerTest, SnapshotKeepsSubscriptionsButNoItems)
{
    auto stores = open();
    Context *main = stores->contextMain();
    auto *source = addSource(main);
    for (int i = 0; i < 250; ++i)
        addItem(main, source, QString::number(i));
    ASSERT_TRUE(main->save());
    stores->today = [] { return QDate(2026, 3, 4); };
    std::atomic<bool> cleaned{false};
    const QString path = stores->snapshotPathForDay(QDate(2026, 3, 4));
    ASSERT_TRUE(stores->store().copyTo(path));
    StoreManager::cleanSnapshotAtUrl(path, [&] { cleaned = true; });
    ASSERT_TRUE(test::spinUntil([&] { return cleaned.load(); }));
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    auto scalar = [db](const char *sql) {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        sqlite3_step(statement);
        const QString value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ(scalar("SELECT count(*) FROM item"), QStringLiteral("0"));
    EXPECT_EQ(scalar("SELECT url FROM datasource"), QStringLiteral("http://a.org/rss"));
    EXPECT_EQ(scalar("PRAGMA integrity_check"), QStringLiteral("ok"));
    sqlite3_close(db);
}

TEST_F(StoreManagerTest, ACorruptStoreIsMovedAsideAndNothingElseIsTouched)
{
    const QDir dir(m_dir.path());
    writeFile(dir.filePath(ObjectStore::kStoreFileName), QByteArray(8192, 'x'));
    writeFile(dir.filePath(QStringLiteral("Corvane-v3.2026-01-01.xml")), "<opml/>");
    auto stores = open();
    ASSERT_TRUE(stores->isOpen());
    const QString aside = stores->store().movedAsidePath();
    ASSERT_FALSE(aside.isEmpty());
    EXPECT_EQ(readFile(aside), QByteArray(8192, 'x'));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("Corvane-v3.2026-01-01.xml"))), QByteArray("<opml/>"));
    EXPECT_EQ(stores->contextMain()->count(Query{Entity::Datasource}), 0);
}

TEST_F(StoreManagerTest, AnOldStoreIsMigratedWithIdentifiersHashesAndStamps)
{
    const QDir dir(m_dir.path());
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(dir.filePath(QStringLiteral("Corvane.db")).toUtf8().constData(), &db), SQLITE_OK);
        for (const QByteArray &statement : tableStatements(false))
            ASSERT_EQ(sqlite3_exec(db, statement.constData(), nullptr, nullptr, nullptr), SQLITE_OK) << statement.constData();
        const char *rows = "INSERT INTO category(id, name, position) VALUES (1, 'Tech', 1);"
                           "INSERT INTO datasource(id, kind, url, enabled, position, category) VALUES (1, 1, 'http://a.org/rss', 1, 1, 1);"
                           "INSERT INTO item(id, datasource, title, link, orderingDate, read, starred) VALUES (1, 1, 'T', 'http://a.org/1', 1e12, 1, 0);"
                           "INSERT INTO keyword(id, name, position) VALUES (1, 'Apple', 1);";
        ASSERT_EQ(sqlite3_exec(db, rows, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    auto stores = open();
    ASSERT_TRUE(stores->migratedFromOldStore());
    Context *background = stores->contextBackground();
    // Migration of items runs on the background queue after opening.
    background->performBlockConfinedAndWait([&] {
        const QList<DataItem *> items = background->fetchAs<DataItem>(Query{Entity::DataItem});
        ASSERT_EQ(items.size(), 1);
        EXPECT_EQ(items[0]->itemHash(), items[0]->calculateHash());
        EXPECT_NE(items[0]->itemHash(), 0);
        EXPECT_GT(items[0]->clock(), 0);
        EXPECT_GT(items[0]->readLocalStamp(), 0);
        const QList<Datasource *> sources = background->fetchAs<Datasource>(Query{Entity::Datasource});
        ASSERT_EQ(sources.size(), 1);
        EXPECT_EQ(sources[0]->uuid(), Datasource::uuidForUrl(QStringLiteral("http://a.org/rss")));
    });
}

// A writer killed in the middle of a stream of saves leaves a store that
// opens with every committed save.
TEST_F(StoreManagerTest, SurvivesSigkillDuringSaves)
{
    const QString child = QStringLiteral(STORE_WRITER_PATH);
    for (int round = 0; round < 3; ++round) {
        QProcess writer;
        writer.start(child, {m_dir.path()});
        ASSERT_TRUE(writer.waitForStarted());
        // Wait until it has committed something, then kill it mid-stream.
        ASSERT_TRUE(writer.waitForReadyRead(20000));
        QThread::msleep(50 + 70 * round);
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished();
        const QList<QByteArray> committed = writer.readAllStandardOutput().split('\n');
        qint64 lastCommitted = 0;
        for (const QByteArray &line : committed)
            if (!line.isEmpty())
                lastCommitted = std::max(lastCommitted, line.toLongLong());

        auto store = ObjectStore::open(m_dir.path());
        ASSERT_TRUE(store);
        EXPECT_TRUE(store->movedAsidePath().isEmpty());
        Context context(*store, QStringLiteral("check"));
        EXPECT_EQ(context.database().scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
        EXPECT_GE(context.count(Query{Entity::DataItem}), lastCommitted);
    }
}
