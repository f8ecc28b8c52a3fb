#include "storefixture.h"

#include "store/category.h"

#include "base/notificationcenter.h"

using namespace corvane;
using corvane::test::addItem;
using corvane::test::addSource;
using corvane::test::StoreFixture;

namespace {

class ContextTest : public StoreFixture
{
protected:
    // The rows of 600 saved items of one subscription, newest first.
    QList<qint64> sixHundredRows(RSSDatasource *source)
    {
        for (int i = 0; i < 600; ++i)
            addItem(m_context.get(), source, QStringLiteral("item %1").arg(i));
        EXPECT_TRUE(m_context->save());
        QList<qint64> rows;
        for (Record *record : m_context->fetch(Query{Entity::DataItem}))
            rows.append(record->objectID().row);
        std::reverse(rows.begin(), rows.end());
        return rows;
    }
};

QString titleOf(Record *record)
{
    return static_cast<DataItem *>(record)->title();
}

} // namespace

TEST_F(ContextTest, SavedRecordsComeBackInAnotherContextWithTheirRelationships)
{
    auto *category = m_context->insert<Category>();
    category->setName(QStringLiteral("Tech"));
    auto *source = addSource(m_context.get(), QStringLiteral("http://example.org/rss"));
    source->setCategory(category);
    addItem(m_context.get(), source, QStringLiteral("one"));
    EXPECT_TRUE(source->objectID().isTemporary());
    ASSERT_TRUE(m_context->save());
    EXPECT_FALSE(source->objectID().isTemporary());
    EXPECT_FALSE(m_context->hasChanges());
    EXPECT_EQ(m_context->objectRegistered(source->objectID()), source);

    auto other = newContext();
    const QList<Datasource *> sources = other->fetchAs<Datasource>(Query{Entity::Datasource});
    ASSERT_EQ(sources.size(), 1);
    EXPECT_NE(dynamic_cast<RSSDatasource *>(sources[0]), nullptr);
    EXPECT_EQ(sources[0]->url(), QStringLiteral("http://example.org/rss"));
    ASSERT_NE(sources[0]->category(), nullptr);
    EXPECT_EQ(sources[0]->category()->name(), QStringLiteral("Tech"));
    const QList<DataItem *> items = sources[0]->items();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->datasource(), sources[0]);
    // The identity map hands out one record per row.
    EXPECT_EQ(other->existingObject(items[0]->objectID()), items[0]);
    // URIs name the record across contexts.
    const QString uri = m_store->uriForID(source->objectID());
    EXPECT_TRUE(uri.startsWith(QStringLiteral("x-corvane://") + m_store->uuid() + QStringLiteral("/Datasource/p")));
    EXPECT_EQ(m_store->idForURI(uri), source->objectID());
    EXPECT_FALSE(m_store->idForURI(QStringLiteral("x-corvane://other/Datasource/p1")));
}

TEST_F(ContextTest, TwoContextsChangingDifferentFieldsKeepBothChanges)
{
    auto *source = addSource(m_context.get());
    ASSERT_TRUE(m_context->save());
    auto other = newContext();
    auto *copy = static_cast<Datasource *>(other->existingObject(source->objectID()));
    ASSERT_NE(copy, nullptr);

    source->setCustomName(QStringLiteral("Mine"));
    copy->setErrorString(QStringLiteral("Error fetching"));
    ASSERT_TRUE(m_context->save());
    ASSERT_TRUE(other->save());

    SaveInfo info;
    info.updated = {source->objectID()};
    m_context->mergeChanges(info);
    EXPECT_EQ(source->customName(), QStringLiteral("Mine"));
    EXPECT_EQ(source->errorString(), QStringLiteral("Error fetching"));
    auto fresh = newContext();
    auto *reread = static_cast<Datasource *>(fresh->existingObject(source->objectID()));
    EXPECT_EQ(reread->customName(), QStringLiteral("Mine"));
    EXPECT_EQ(reread->errorString(), QStringLiteral("Error fetching"));

    // A merge keeps the values this context changed and has not saved yet.
    source->setName(QStringLiteral("unsaved"));
    copy->setName(QStringLiteral("theirs"));
    copy->setLimit(7);
    ASSERT_TRUE(other->save());
    m_context->mergeChanges(info);
    EXPECT_EQ(source->name(), QStringLiteral("unsaved"));
    EXPECT_EQ(source->limit(), 7);
}

TEST_F(ContextTest, DeletingASubscriptionDeletesItsItemsAndACategoryLeavesItsSubscriptions)
{
    auto *category = m_context->insert<Category>();
    auto *kept = addSource(m_context.get(), QStringLiteral("http://kept.org/rss"));
    kept->setCategory(category);
    auto *gone = addSource(m_context.get(), QStringLiteral("http://gone.org/rss"));
    for (int i = 0; i < 5; ++i) {
        addItem(m_context.get(), kept, QStringLiteral("k%1").arg(i));
        addItem(m_context.get(), gone, QStringLiteral("g%1").arg(i));
    }
    ASSERT_TRUE(m_context->save());
    m_context->reset(); // the items are not registered any more: the store must cascade

    auto *goneAgain = m_context->existingObject(ObjectID{Entity::Datasource, 2});
    ASSERT_NE(goneAgain, nullptr);
    m_context->deleteObject(goneAgain);
    m_context->deleteObject(m_context->existingObject(ObjectID{Entity::Category, 1}));
    ASSERT_TRUE(m_context->save());

    auto other = newContext();
    EXPECT_EQ(other->count(Query{Entity::DataItem}), 5);
    const QList<Datasource *> sources = other->fetchAs<Datasource>(Query{Entity::Datasource});
    ASSERT_EQ(sources.size(), 1);
    EXPECT_EQ(sources[0]->url(), QStringLiteral("http://kept.org/rss"));
    EXPECT_EQ(sources[0]->category(), nullptr);
    EXPECT_EQ(other->count(Query{Entity::Category}), 0);
}

TEST_F(ContextTest, FetchesSeePendingChangesUnlessAskedNotTo)
{
    auto *source = addSource(m_context.get());
    addItem(m_context.get(), source, QStringLiteral("saved"));
    ASSERT_TRUE(m_context->save());
    DataItem *pending = addItem(m_context.get(), source, QStringLiteral("pending"));
    const Query withGuid = Query{Entity::DataItem, Predicate::equal(QStringLiteral("title"), QStringLiteral("pending"))};
    EXPECT_EQ(m_context->fetch(withGuid), QList<Record *>{pending});
    Query storedOnly = withGuid;
    storedOnly.includesPendingChanges = false;
    EXPECT_TRUE(m_context->fetch(storedOnly).isEmpty());
    EXPECT_EQ(m_context->count(Query{Entity::DataItem}), 2);

    // A pending change that stops a stored record from matching hides it.
    DataItem *saved = m_context->fetchAs<DataItem>(
        Query{Entity::DataItem, Predicate::equal(QStringLiteral("title"), QStringLiteral("saved"))})[0];
    saved->setTitle(QStringLiteral("renamed"));
    EXPECT_TRUE(m_context->fetch(Query{Entity::DataItem, Predicate::equal(QStringLiteral("title"), QStringLiteral("saved"))})
                    .isEmpty());
    // The row-first fetch sees the same: the inserted record, the stored one
    // by its in-memory title, and a third that only the store has.
    addItem(m_context.get(), source, QStringLiteral("other"));
    ASSERT_TRUE(m_context->save());
    saved->setTitle(QStringLiteral("pending"));
    DataItem *inserted = addItem(m_context.get(), source, QStringLiteral("pending"));
    QList<Record *> few = m_context->fetchFew(withGuid);
    std::sort(few.begin(), few.end());
    QList<Record *> expected{pending, saved, inserted};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(few, expected);

    // Deleted records drop out at once.
    m_context->deleteObject(pending);
    EXPECT_EQ(m_context->count(Query{Entity::DataItem}), 3);
    EXPECT_EQ(m_context->fetchFew(withGuid).size(), 2);
}

TEST_F(ContextTest, SavePostsWhatChangedAndWritesOnlyChangedColumns)
{
    auto *source = addSource(m_context.get());
    DataItem *item = addItem(m_context.get(), source, QStringLiteral("t"));
    QList<SaveInfo> posted;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kContextDidSaveNotification, m_context.get(),
                            [&](const Notification &n) {
                                posted.append(n.userInfo.value(QStringLiteral("info")).value<SaveInfo>());
                            });
    ASSERT_TRUE(m_context->save());
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].inserted.size(), 2);
    EXPECT_TRUE(posted[0].updated.isEmpty());

    // Another writer changes the title behind our back; our save of a
    // different field must not write the stale title over it.
    m_context->database().exec("UPDATE item SET title = 'changed elsewhere' WHERE id = ?", {item->objectID().row});
    item->setCreator(QStringLiteral("me"));
    ASSERT_TRUE(m_context->save());
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[1].updated, QList<ObjectID>{item->objectID()});
    auto other = newContext();
    auto *reread = static_cast<DataItem *>(other->existingObject(item->objectID()));
    EXPECT_EQ(reread->title(), QStringLiteral("changed elsewhere"));
    EXPECT_EQ(reread->creator(), QStringLiteral("me"));

    m_context->deleteObject(item);
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(posted[2].deleted, QList<ObjectID>{reread->objectID()});
    EXPECT_EQ(other->count(Query{Entity::DataItem}), 0);
}

TEST_F(ContextTest, RefreshTurnsARecordIntoAFaultOrReloadsIt)
{
    auto *source = addSource(m_context.get());
    ASSERT_TRUE(m_context->save());
    source->setName(QStringLiteral("unsaved"));
    m_context->refresh(source, false);
    EXPECT_TRUE(source->isFault());
    EXPECT_FALSE(m_context->hasChanges());
    EXPECT_EQ(source->name(), QString());
    EXPECT_FALSE(source->isFault());

    m_context->database().exec("UPDATE datasource SET url = 'http://b.org/rss', name = 'stored'");
    source->setName(QStringLiteral("local"));
    m_context->refresh(source, true);
    EXPECT_EQ(source->url(), QStringLiteral("http://b.org/rss"));
    EXPECT_EQ(source->name(), QStringLiteral("local"));

    // Releasing the values of saved items keeps unsaved changes and
    // inserted records, and leaves other entities loaded.
    DataItem *saved = addItem(m_context.get(), source, QStringLiteral("saved"));
    DataItem *changed = addItem(m_context.get(), source, QStringLiteral("changed"));
    ASSERT_TRUE(m_context->save());
    changed->setTitle(QStringLiteral("changed here"));
    DataItem *inserted = addItem(m_context.get(), source, QStringLiteral("inserted"));
    m_context->releaseValues(Entity::DataItem);
    EXPECT_TRUE(saved->isFault());
    EXPECT_FALSE(changed->isFault());
    EXPECT_FALSE(inserted->isFault());
    EXPECT_FALSE(source->isFault());
    EXPECT_EQ(saved->title(), QStringLiteral("saved"));
    EXPECT_EQ(changed->title(), QStringLiteral("changed here"));
    EXPECT_EQ(inserted->title(), QStringLiteral("inserted"));
}

TEST_F(ContextTest, LimitedFetchesMergeUnsavedRecordsIntoTheStoredOrder)
{
    auto *source = addSource(m_context.get());
    for (int i = 0; i < 30; ++i)
        addItem(m_context.get(), source, QStringLiteral("s%1").arg(i, 2, 10, QLatin1Char('0')));
    ASSERT_TRUE(m_context->save());
    // Unsaved: new items placed among the stored ones, the first stored
    // items renamed to the end, one renamed to the front and one deleted.
    for (const char *title : {"s05x", "s17x", "a", "s29x"})
        addItem(m_context.get(), source, QString::fromLatin1(title));
    const QList<DataItem *> stored = m_context->fetchAs<DataItem>(
        Query{Entity::DataItem, Predicate(), {{QStringLiteral("title"), true}}});
    for (int i = 0; i < 6; ++i)
        stored[i]->setTitle(QStringLiteral("zz%1").arg(i));
    stored[10]->setTitle(QStringLiteral("0first"));
    m_context->deleteObject(stored[6]);

    const QList<SortDescriptor> byTitle{{QStringLiteral("title"), true}};
    const QList<Record *> everything = m_context->fetch(Query{Entity::DataItem, Predicate(), byTitle});
    ASSERT_EQ(everything.size(), 33);
    QStringList titles;
    for (Record *record : everything)
        titles.append(titleOf(record));
    QStringList expected = titles;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(titles.first(), QStringLiteral("0first"));
    EXPECT_EQ(titles.last(), QStringLiteral("zz5"));
    for (int offset : {0, 1, 4, 29, 32, 40})
        for (int limit : {1, 3, 10}) {
            SCOPED_TRACE(QStringLiteral("offset %1 limit %2").arg(offset).arg(limit).toStdString());
            const QList<Record *> page = m_context->fetch(Query{Entity::DataItem, Predicate(), byTitle, limit, offset});
            // As vectors: Qt's comparison of two empty lists hands memcmp null pointers.
            const QList<Record *> expected = everything.mid(offset, limit);
            EXPECT_EQ(std::vector<Record *>(page.cbegin(), page.cend()),
                      std::vector<Record *>(expected.cbegin(), expected.cend()));
        }
    // Without an order the merged list is the stored rows, then the new ones.
    const QList<Record *> unordered = m_context->fetch(Query{Entity::DataItem});
    EXPECT_EQ(m_context->fetch(Query{Entity::DataItem, Predicate(), {}, 5, 27}), unordered.mid(27, 5));
}

TEST_F(ContextTest, ObjectsWithRowsLoadsWhatIsMissingAndKeepsTheOrderGiven)
{
    auto *source = addSource(m_context.get());
    const QList<qint64> rows = sixHundredRows(source);

    auto other = newContext();
    // One record loaded and changed, one a fault, the rest unknown to the context.
    auto *changed = static_cast<DataItem *>(other->existingObject(ObjectID{Entity::DataItem, rows[7]}));
    changed->setTitle(QStringLiteral("changed here"));
    Record *fault = other->objectWithID(ObjectID{Entity::DataItem, rows[300]});
    ASSERT_TRUE(fault->isFault());
    QList<qint64> asked = rows;
    asked.insert(5, 999999); // no such row
    asked.append(rows[0]);   // twice

    const QList<Record *> records = other->objectsWithRows(Entity::DataItem, asked);
    ASSERT_EQ(records.size(), rows.size() + 1);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(records[i]->objectID().row, rows[i]);
        ASSERT_FALSE(records[i]->isFault());
    }
    EXPECT_EQ(records.last(), records.first());
    EXPECT_EQ(records[7], changed);
    EXPECT_EQ(changed->title(), QStringLiteral("changed here"));
    EXPECT_EQ(records[300], fault);
    EXPECT_EQ(titleOf(records[42]), titleOf(m_context->existingObject(ObjectID{Entity::DataItem, rows[42]})));
    EXPECT_EQ(static_cast<DataItem *>(records[42])->datasource()->objectID(), source->objectID());
}

TEST_F(ContextTest, FaultsWithRowsReadNothingUntilTouchedThenABatchAtATime)
{
    auto *source = addSource(m_context.get());
    const QList<qint64> rows = sixHundredRows(source);

    auto other = newContext();
    auto *changed = static_cast<DataItem *>(other->existingObject(ObjectID{Entity::DataItem, rows[3]}));
    changed->setTitle(QStringLiteral("changed here"));
    const QList<Record *> records = other->faultsWithRows(Entity::DataItem, rows);
    ASSERT_EQ(records.size(), rows.size());
    EXPECT_EQ(records[3], changed);
    for (qsizetype i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i]->objectID().row, rows[i]);
        if (i != 3) {
            ASSERT_TRUE(records[i]->isFault()) << i;
            ASSERT_FALSE(records[i]->holdsValues()) << i;
        }
    }

    // Touching one fills it and the faults after it, up to one batch.
    EXPECT_EQ(titleOf(records[10]), QStringLiteral("item %1").arg(599 - 10));
    EXPECT_TRUE(records[9]->isFault());
    EXPECT_FALSE(records[10 + 255]->isFault());
    EXPECT_TRUE(records[10 + 256]->isFault());
    EXPECT_EQ(changed->title(), QStringLiteral("changed here"));
    EXPECT_EQ(static_cast<DataItem *>(records[200])->datasource()->objectID(), source->objectID());

    // A row deleted meanwhile reads as empty; a newer list takes over the
    // batching, and faults of the older one are filled one by one.
    m_context->deleteObject(m_context->existingObject(ObjectID{Entity::DataItem, rows[400]}));
    ASSERT_TRUE(m_context->save());
    const QList<Record *> newer = other->faultsWithRows(Entity::DataItem, rows.mid(590));
    EXPECT_EQ(newer[0], records[590]);
    EXPECT_EQ(titleOf(records[400]), QString());
    EXPECT_TRUE(records[401]->isFault());
    EXPECT_EQ(titleOf(records[401]), QStringLiteral("item %1").arg(599 - 401));
    EXPECT_TRUE(records[402]->isFault());
    EXPECT_EQ(titleOf(newer[1]), QStringLiteral("item %1").arg(599 - 591));
    // Turned back into a fault, a record lets its values go and reads them again.
    other->refresh(records[10], false);
    EXPECT_FALSE(records[10]->holdsValues());
    EXPECT_EQ(titleOf(records[10]), QStringLiteral("item %1").arg(599 - 10));
    EXPECT_FALSE(newer[9]->isFault());
}

TEST_F(ContextTest, TextRoundTripsWhateverItHolds)
{
    auto *source = addSource(m_context.get());
    const QStringList texts{QStringLiteral("plain ASCII text"), QString::fromUtf8("Café crème, Straße, 東京"),
                            QString::fromUtf8("emoji 😀 and \xEF\xBF\xBD"), QString(), QStringLiteral(""),
                            QString(5000, u'x') + QString::fromUtf8("é")};
    QList<DataItem *> items;
    for (const QString &text : texts) {
        DataItem *item = addItem(m_context.get(), source);
        item->setTitle(text);
        item->setItemDescription(text);
        items.append(item);
    }
    ASSERT_TRUE(m_context->save());

    auto other = newContext();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        auto *item = static_cast<DataItem *>(other->existingObject(items[i]->objectID()));
        ASSERT_TRUE(item);
        EXPECT_EQ(item->title(), texts[i]) << i;
        EXPECT_EQ(item->itemDescription(), texts[i]) << i;
    }
    // Lookups find text as it was written.
    EXPECT_EQ(other->fetch(Query{Entity::DataItem, Predicate::equal(QStringLiteral("title"), texts[1])}).size(), 1);
    EXPECT_EQ(other->fetch(Query{Entity::DataItem, Predicate::equal(QStringLiteral("title"), texts[2])}).size(), 1);
}

TEST_F(ContextTest, OpeningAStoreRetiresTheIndexesItNoLongerKeeps)
{
    const auto indexes = [this] {
        SqliteDatabase db;
        EXPECT_TRUE(db.open(m_store->path()));
        QStringList names;
        SqliteStatement list = db.prepare("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'item' "
                                          "AND sql IS NOT NULL ORDER BY name");
        while (list.step())
            names.append(list.column(0).toString());
        return names;
    };
    const QStringList kept{QStringLiteral("item_datasource_guid_state"), QStringLiteral("item_hash"),
                           QStringLiteral("item_ordering")};
    EXPECT_EQ(indexes(), kept);
    // As an earlier version left them.
    m_context.reset();
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.open(m_store->path()));
        for (const char *sql : {"CREATE INDEX item_read ON item(read)", "CREATE INDEX item_deleted ON item(deleted)",
                                "CREATE INDEX item_guid ON item(guid)",
                                "CREATE INDEX item_datasource_guid ON item(datasource, guid)"})
            ASSERT_TRUE(db.exec(sql)) << sql;
    }
    m_store.reset();
    m_store = ObjectStore::open(m_dir.path());
    ASSERT_TRUE(m_store);
    EXPECT_EQ(indexes(), kept);
}

TEST_F(ContextTest, MembershipStampMovesWhenRecordsComeOrGoButNotWhenTheyChange)
{
    const auto stampOf = [](Context *context) { return context->membershipStamp(Entity::Datasource); };
    auto before = stampOf(m_context.get());
    RSSDatasource *source = addSource(m_context.get());
    EXPECT_NE(stampOf(m_context.get()), before) << "a pending insert";
    before = stampOf(m_context.get());
    ASSERT_TRUE(m_context->save());
    EXPECT_NE(stampOf(m_context.get()), before) << "the insert saved: the record has its row now";

    before = stampOf(m_context.get());
    source->setName(QStringLiteral("renamed"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(stampOf(m_context.get()), before) << "an update";
    EXPECT_EQ(m_context->membershipStamp(Entity::DataItem), m_context->membershipStamp(Entity::DataItem));

    // Commits of another connection, here another context's, count as well.
    auto other = newContext();
    before = stampOf(m_context.get());
    addSource(other.get(), QStringLiteral("http://b.org/rss"));
    EXPECT_EQ(stampOf(m_context.get()), before) << "not committed yet";
    ASSERT_TRUE(other->save());
    EXPECT_NE(stampOf(m_context.get()), before);

    before = stampOf(m_context.get());
    m_context->deleteObject(source);
    EXPECT_NE(stampOf(m_context.get()), before) << "a pending delete";
}
