// Read states between machines: the snapshot format, applying other
// machines' snapshots to a real store, and the handler's life with a real
// cloud folder.
#include "sync/changedbhandler.h"
#include "sync/changedbrecords.h"

#include "feeds/refresh/datasourcemanager.h"

#include "base/clock.h"
#include "base/settings.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/query.h"

#include "quietengine.h"
#include "spinuntil.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;
using corvane::sync::ChangeDbHandler;
using corvane::sync::ReadStateRecord;
namespace changedb = corvane::sync::changedb;

namespace {

QByteArray snapshotOf(const std::vector<ReadStateRecord> &records)
{
    QByteArray bytes;
    for (const ReadStateRecord &record : records)
        changedb::appendRecord(bytes, record);
    return bytes;
}

struct ItemState
{
    bool read = false;
    qint64 stamp = 0;
};

class ChangeDbTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_store.isValid() && m_cloud.isValid());
        Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
        Settings::shared().setValue(QStringLiteral("CloudContainerPath"), m_cloud.path());
        manager = std::make_unique<DatasourceManager>(test::quietEngine(m_store.path(), 0.05));
        settle();
    }

    void TearDown() override
    {
        handler.reset();
        settle();
        manager.reset();
        Settings::shared().removeValue(QStringLiteral("CloudContainerPath"));
    }

    static void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    Context *background() const { return manager->contextBackground(); }

    void makeHandler(ChangeDbHandler::Options options = {})
    {
        // Ticks by hand (writeIfChanged) unless a test wants the timer.
        if (options.idleTickSeconds == ChangeDbHandler::Options().idleTickSeconds)
            options.idleTickSeconds = options.writeTickSeconds = 3600;
        handler = std::make_unique<ChangeDbHandler>(*manager, options);
    }

    // New items, saved; their hashes in the order of the titles.
    QList<qint64> addItems(const QStringList &titles)
    {
        QList<qint64> hashes;
        Context *context = background();
        context->performBlockConfinedAndWait([&] {
            QList<DataItem *> items;
            for (const QString &title : titles) {
                auto *item = context->insert<DataItem>();
                item->setTitle(title);
                item->setLink(QStringLiteral("http://example.org/") + title);
                items.append(item);
            }
            ASSERT_TRUE(context->save());
            for (DataItem *item : items)
                hashes.append(item->itemHash());
        });
        return hashes;
    }

    // Sets the state and its stamp directly, as a store holding them would.
    void setState(qint64 hash, ItemState state)
    {
        Context *context = background();
        context->performBlockConfinedAndWait([&] {
            for (DataItem *item : context->fetchAs<DataItem>(
                     Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), hash)))) {
                item->setValue(DataItem::Read, state.read);
                item->setReadLocalStamp(state.stamp);
            }
            ASSERT_TRUE(context->save());
        });
    }

    std::optional<ItemState> stateOf(qint64 hash)
    {
        std::optional<ItemState> state;
        Context *context = background();
        context->performBlockConfinedAndWait([&] {
            const QList<DataItem *> items = context->fetchAs<DataItem>(
                Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), hash)));
            if (!items.isEmpty())
                state = ItemState{items[0]->isRead(), items[0]->readLocalStamp()};
        });
        return state;
    }

    QString changeDbDir() const { return QDir(m_cloud.path()).filePath(QStringLiteral("changedb")); }

    void plant(const QString &name, const QByteArray &bytes) { test::writeFile(QDir(changeDbDir()).filePath(name), bytes); }

    QStringList ownSnapshots() const
    {
        return QDir(changeDbDir()).entryList({ChangeDbHandler::thisMachine() + QStringLiteral("--*")}, QDir::Files);
    }

    QTemporaryDir m_store;
    QTemporaryDir m_cloud;
    std::unique_ptr<DatasourceManager> manager;
    std::unique_ptr<ChangeDbHandler> handler;
};

} // namespace

TEST(ChangeDbRecords, LayoutAndDamagedSnapshots)
{
    // Little-endian fields: hash, stamp, state.
    const QByteArray one = snapshotOf({{0x0102030405060708, -2, true}});
    EXPECT_EQ(one.toHex(), QByteArray("0807060504030201" "feffffffffffffff" "0100000000000000"));

    const QByteArray three = snapshotOf({{1, 10, true}, {-7, 11, false}, {INT64_MIN, INT64_MAX, true}});
    struct Case
    {
        const char *what;
        QByteArray bytes;
        std::vector<ReadStateRecord> expected;
    };
    QByteArray badState = snapshotOf({{5, 5, true}, {6, 6, false}});
    badState[16] = 2; // neither read nor unread
    const Case cases[] = {
        {"empty", QByteArray(), {}},
        {"shorter than a record", three.left(23), {}},
        {"whole records", three, {{1, 10, true}, {-7, 11, false}, {INT64_MIN, INT64_MAX, true}}},
        {"a trailing part", three.left(24 * 2 + 17), {{1, 10, true}, {-7, 11, false}}},
        {"a damaged state field", badState, {{6, 6, false}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(changedb::readRecords(c.bytes), c.expected);
    }
}

TEST_F(ChangeDbTest, IncomingStatesWinByStamp)
{
    makeHandler();
    const QList<qint64> h = addItems({QStringLiteral("equal-read"), QStringLiteral("older-read"),
                                      QStringLiteral("newer-unread"), QStringLiteral("equal-unread"),
                                      QStringLiteral("same-state"), QStringLiteral("in-the-trailing-part")});
    setState(h[0], {false, 50});
    setState(h[1], {false, 50});
    setState(h[2], {true, 50});
    setState(h[3], {true, 50});
    setState(h[4], {true, 20});
    setState(h[5], {false, 0});
    const qint64 clockBefore = Clock::sharedClock().current();
    const qint64 highest = clockBefore + 1000;

    QByteArray bytes = snapshotOf({{h[0], 50, true}, {h[1], 49, true}, {h[2], highest, false}, {h[3], 50, false},
                                   {h[4], 70, true}, {h[5], 90, true}});
    bytes.chop(1); // the last record is cut short
    handler->applySnapshot(bytes);
    handler->waitUntilIdle();

    struct Expect
    {
        const char *what;
        qint64 hash;
        bool read;
        qint64 stamp;
    };
    const Expect expected[] = {
        {"an equal stamp brings the read state", h[0], true, 50},
        {"a lower stamp leaves it unread", h[1], false, 50},
        {"a newer unread state wins and keeps its stamp", h[2], false, highest},
        {"an equal stamp does not take a read state away", h[3], true, 50},
        {"the same state is left as it is", h[4], true, 20},
        {"a record cut short is not applied", h[5], false, 0},
    };
    for (const Expect &e : expected) {
        SCOPED_TRACE(e.what);
        const std::optional<ItemState> state = stateOf(e.hash);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->read, e.read);
        EXPECT_EQ(state->stamp, e.stamp);
    }
    // The next local change outranks what came in.
    EXPECT_GE(Clock::sharedClock().current(), highest);

    // Alone in its snapshot, the equal stamp is also the newest one there.
    const qint64 alone = addItems({QStringLiteral("equal-and-newest")})[0];
    setState(alone, {false, highest + 5});
    handler->applySnapshot(snapshotOf({{alone, highest + 5, true}}));
    handler->waitUntilIdle();
    EXPECT_TRUE(stateOf(alone)->read) << "an equal stamp that is the snapshot's newest was passed over";

    // Applying the same snapshot again changes nothing and an empty one neither.
    handler->applySnapshot(bytes);
    handler->applySnapshot(QByteArray());
    handler->applySnapshot(QByteArray(23, '\x01'));
    handler->waitUntilIdle();
    EXPECT_TRUE(stateOf(h[0])->read);
    EXPECT_FALSE(stateOf(h[2])->read);
    EXPECT_FALSE(stateOf(h[5])->read);
}

TEST_F(ChangeDbTest, LargeSnapshotsAreAppliedInSlicesAndWrittenWhole)
{
    makeHandler({5.0, 6.0, 40.0, 120.0, 150});
    QStringList titles;
    for (int i = 0; i < 1050; ++i)
        titles.append(QStringLiteral("story %1").arg(i));
    const QList<qint64> hashes = addItems(titles);
    std::vector<ReadStateRecord> records;
    for (int i = 0; i < hashes.size(); ++i)
        records.push_back({hashes[i], 100 + i, i % 3 == 0});
    handler->applySnapshot(snapshotOf(records));
    handler->waitUntilIdle();

    // Written back, the snapshot holds every item with what came in.
    const std::vector<ReadStateRecord> written = changedb::readRecords(handler->snapshot());
    ASSERT_EQ(written.size(), size_t(hashes.size()));
    QHash<qint64, ReadStateRecord> byHash;
    for (const ReadStateRecord &record : written)
        byHash.insert(record.itemHash, record);
    for (int i = 0; i < hashes.size(); ++i) {
        SCOPED_TRACE(i);
        const ReadStateRecord record = byHash.value(hashes[i]);
        EXPECT_EQ(record.read, i % 3 == 0);
        EXPECT_EQ(record.stamp, i % 3 == 0 ? 100 + i : 0);
    }

    // A few records among many items are looked up by hash. Of several
    // records of one item the newest counts, of equal stamps the read one.
    handler->applySnapshot(snapshotOf({{hashes[1], 5000, true}, {hashes[1], 4000, false}, {hashes[2], 6000, false},
                                       {hashes[2], 6000, true}, {hashes[3], 7000, false}}));
    handler->waitUntilIdle();
    EXPECT_TRUE(stateOf(hashes[1])->read);
    EXPECT_EQ(stateOf(hashes[2])->stamp, 6000);
    EXPECT_TRUE(stateOf(hashes[2])->read);
    EXPECT_FALSE(stateOf(hashes[3])->read);
    EXPECT_EQ(stateOf(hashes[3])->stamp, 7000);
}

TEST_F(ChangeDbTest, WritesOnlyAfterARealChangeAndNeverAppliesItsOwnSnapshots)
{
    makeHandler({5.0, 6.0, 40.0, 0.0, 2000});
    const QList<qint64> h = addItems({QStringLiteral("one"), QStringLiteral("two")});
    EXPECT_FALSE(handler->writeIfChanged()) << "written while disabled";
    handler->setEnabled(true);
    EXPECT_TRUE(handler->writeIfChanged()) << "enabling writes a full snapshot";
    ASSERT_EQ(ownSnapshots().size(), 1);
    const QString first = ownSnapshots()[0];
    EXPECT_FALSE(handler->writeIfChanged());

    Context *context = background();
    qint64 stampBefore = 0;
    context->performBlockConfinedAndWait([&] {
        DataItem *item = context->fetchAs<DataItem>(
            Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), h[0])))[0];
        stampBefore = item->readLocalStamp();
        item->setRead(false); // its value already
        EXPECT_EQ(item->readLocalStamp(), stampBefore);
    });
    EXPECT_FALSE(handler->writeIfChanged()) << "setting read to its value marked a change";

    context->performBlockConfinedAndWait([&] {
        context->fetchAs<DataItem>(Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), h[0])))[0]
            ->setRead(true);
    });
    EXPECT_TRUE(handler->writeIfChanged());
    // The earlier snapshot is past its lifetime (0 s here) and goes.
    ASSERT_TRUE(test::spinUntil([&] { return !ownSnapshots().contains(first); }));
    ASSERT_EQ(ownSnapshots().size(), 1);
    const std::vector<ReadStateRecord> records =
        changedb::readRecords(test::readFile(QDir(changeDbDir()).filePath(ownSnapshots()[0])));
    ASSERT_EQ(records.size(), 2u);
    const auto readOne = std::find_if(records.begin(), records.end(), [&](const ReadStateRecord &r) { return r.itemHash == h[0]; });
    ASSERT_NE(readOne, records.end());
    EXPECT_TRUE(readOne->read) << "the change not yet saved is in the snapshot";

    // A snapshot named for this machine, saying the other item was read, is never applied.
    plant(ChangeDbHandler::thisMachine() + QStringLiteral("--0000"), snapshotOf({{h[1], 1 << 20, true}}));
    plant(QStringLiteral("OTHER-MACHINE--0001"), snapshotOf({{h[0], 1, true}}));
    ASSERT_TRUE(test::spinUntil([&] { return handler->status().filesApplied == 1; }));
    handler->waitUntilIdle();
    EXPECT_FALSE(stateOf(h[1])->read);
    EXPECT_EQ(handler->status().filesSeen, 1);
}

TEST_F(ChangeDbTest, ALateItemTakesItsStateOnceSavedAndUnreadableSnapshotsAreRetried)
{
    makeHandler({3600.0, 3600.0, 0.2, 120.0, 2000});
    const qint64 late = addItems({QStringLiteral("arrives later")})[0];
    const qint64 retried = addItems({QStringLiteral("in a file read later")})[0];
    // Forget the first: the snapshot names it before it exists here.
    Context *context = background();
    context->performBlockConfinedAndWait([&] {
        for (Record *r : context->fetch(Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), late))))
            context->deleteObject(r);
        ASSERT_TRUE(context->save());
    });
    plant(QStringLiteral("OTHER-MACHINE--late"), snapshotOf({{late, 7, true}}));
    // Too large to be read: refused until it is replaced by a readable one.
    const QString big = QDir(changeDbDir()).filePath(QStringLiteral("OTHER-MACHINE--big"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(sync::CloudFolder::kMaxFileSize + 1));
    }
    handler->setEnabled(true);
    ASSERT_TRUE(test::spinUntil([&] { return handler->status().filesApplied == 1; }));
    test::writeFile(big, snapshotOf({{retried, 9, true}}));
    ASSERT_TRUE(test::spinUntil([&] { return stateOf(retried)->read; })) << "the unreadable snapshot was not retried";

    const qint64 again = addItems({QStringLiteral("arrives later")})[0];
    ASSERT_EQ(again, late);
    ASSERT_TRUE(test::spinUntil([&] { return stateOf(late)->read; })) << "the late item never took its state";
    EXPECT_EQ(stateOf(late)->stamp, 7);
}
