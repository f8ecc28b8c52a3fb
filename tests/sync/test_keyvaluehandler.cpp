#include "sync/keyvalueentries.h"
#include "sync/keyvaluefile.h"
#include "sync/keyvaluehandler.h"
#include "sync/keyvaluemerge.h"
#include "sync/keyvaluestore.h"

#include "base/clock.h"
#include "base/digest.h"
#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/storemanager.h"

#include "quietengine.h"
#include "spinuntil.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::sync;
using corvane::test::spinUntil;

namespace {

QTemporaryDir *g_cloud = nullptr;

class KeyValueHandlerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        g_cloud = new QTemporaryDir;
        Settings &settings = Settings::shared();
        settings.setValue(QStringLiteral("CloudContainerPath"), g_cloud->path());
        settings.setValue(QStringLiteral("CloudKeyValueTickSeconds"), 0.02);
        settings.setValue(QStringLiteral("CloudKeyValueWriteSeconds"), 0.05);
        settings.setValue(QStringLiteral("CloudKeyValueScanTicks"), 1);
        settings.setValue(QStringLiteral("CloudRetrySeconds"), 0.1);
    }
    static void TearDownTestSuite()
    {
        KeyValueHandler::shared()->setEnabled(false);
        KeyValueHandler::shared()->drain();
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_storeDir.isValid());
        Settings::shared().setValue(QStringLiteral("CloudContainerPath"), g_cloud->path());
        m_manager = std::make_unique<DatasourceManager>(test::quietEngine(m_storeDir.path(), 0.02));
        ASSERT_TRUE(m_manager->isOpen());
        m_manager->stores().queue().drain();
        dispatch::global().sync([this] { m_handler = KeyValueHandler::shared(); });
        m_handler->attach(m_manager.get());
        m_handler->cloudItemCountReported = nullptr;
        m_handler->setBlocking(false);
        m_handler->setEnabled(true);
        settle();
        ASSERT_FALSE(m_handler->failing());
    }
    void TearDown() override
    {
        settle();
        m_handler->detach();
        m_manager.reset();
    }

    // Lets every hop between the queues, the store's timer and the main
    // context finish.
    void settle()
    {
        for (int i = 0; i < 3; ++i) {
            m_handler->drain();
            QCoreApplication::processEvents();
        }
    }

    Context *main() { return m_manager->contextMain(); }
    KeyValueStore &store() { return m_handler->store(); }
    std::optional<KeyValueRecord> held(const QString &key) { return store().dictionaryForKey(key); }

    void save()
    {
        StoreManager::saveFromContext(main());
        settle();
    }

    // A file of another machine, read at the next scan.
    void plantRemote(const KeyValueDictionary &dictionary)
    {
        test::writeFile(QDir(g_cloud->path()).filePath(QStringLiteral("keyvalue/REMOTE--") + uuid()),
                        writeKeyValueFile(dictionary));
        const int applied = store().status().filesApplied;
        store().updateQuery();
        ASSERT_TRUE(spinUntil([&] { return store().status().filesApplied > applied; }));
        // A change the file made is reported at the store's next tick,
        // which queues the handler's pass.
        ASSERT_TRUE(spinUntil([&] { return !store().changePending(); }));
    }

    template<typename T, typename F>
    T *find(F &&match)
    {
        for (T *record : main()->fetchAs<T>(Query{T::kEntity}))
            if (match(record))
                return record;
        return nullptr;
    }
    Category *category(const QString &name)
    {
        return find<Category>([&](Category *c) { return c->name() == name; });
    }
    Datasource *feed(const QString &uuid)
    {
        return find<Datasource>([&](Datasource *d) { return d->uuid() == uuid; });
    }

    QTemporaryDir m_storeDir;
    std::unique_ptr<DatasourceManager> m_manager;
    KeyValueHandler *m_handler = nullptr;
};

KeyValueRecord categoryRecord(const QString &name, qint64 clock)
{
    return {{QStringLiteral("name"), name}, {QStringLiteral("position"), 1.0}, {QStringLiteral("clock"), clock}};
}

KeyValueRecord feedRecord(const QString &url, const QString &categoryUuid, qint64 clock)
{
    return {{QStringLiteral("name"), QString()},       {QStringLiteral("customName"), QStringLiteral("Custom")},
            {QStringLiteral("position"), 4.0},         {QStringLiteral("url"), url},
            {QStringLiteral("clock"), clock},          {QStringLiteral("categoryUuid"), categoryUuid}};
}

} // namespace

TEST_F(KeyValueHandlerTest, LocalSavesBecomeTheRecordsOfTheirKeys)
{
    auto *category = main()->insert<Category>();
    category->setName(QStringLiteral("Outgoing"));
    category->setPosition(7);
    Datasource::ExplicitPositionScope explicitPosition;
    auto *datasource = main()->insert<RSSDatasource>();
    datasource->setUrl(QStringLiteral("http://127.0.0.1:9/outgoing.xml"));
    auto *keyword = main()->insert<Keyword>();
    keyword->setName(QStringLiteral("dotted.name"));
    save();

    const std::optional<KeyValueRecord> categoryEntry = held(entries::keyForCategory(category));
    ASSERT_TRUE(categoryEntry);
    EXPECT_EQ(categoryEntry->value(QStringLiteral("name")).toString(), u"Outgoing");
    EXPECT_EQ(categoryEntry->value(QStringLiteral("position")).toDouble(), 7.0);
    EXPECT_EQ(record::clock(*categoryEntry), category->clock());
    const std::optional<KeyValueRecord> feedEntry =
        held(QStringLiteral("Feed.") + MD5(QStringLiteral("http://127.0.0.1:9/outgoing.xml")));
    ASSERT_TRUE(feedEntry);
    EXPECT_EQ(feedEntry->value(QStringLiteral("categoryUuid")).toString(), QString()) << "no category travels as the empty text";
    EXPECT_TRUE(held(QStringLiteral("Keyword.dotted.name")));
    EXPECT_EQ(entries::identityFromKey(QStringLiteral("Keyword.dotted.name")), u"dotted.name");

    auto *item = main()->insert<DataItem>();
    item->setDatasource(datasource);
    item->setTitle(QStringLiteral("Outgoing item"));
    item->setLink(QStringLiteral("http://127.0.0.1:9/outgoing/1"));
    save();
    const QString itemKey = entries::keyForDataItem(item);
    item->setRead(true);
    settle();
    EXPECT_FALSE(held(itemKey)) << "an item never starred has no record";

    item->setStarred(true);
    settle();
    std::optional<KeyValueRecord> itemEntry = held(itemKey);
    ASSERT_TRUE(itemEntry);
    EXPECT_EQ(itemEntry->value(QStringLiteral("title")).toString(), u"Outgoing item");
    EXPECT_EQ(itemEntry->value(QStringLiteral("datasource")).toString(), datasource->uuid());
    EXPECT_TRUE(itemEntry->value(QStringLiteral("read")).toBool());
    item->setStarred(false);
    settle();
    itemEntry = held(itemKey);
    ASSERT_TRUE(itemEntry);
    EXPECT_TRUE(record::equal(*itemEntry, {{QStringLiteral("starred"), false}, {QStringLiteral("clock"), item->clock()}}));
}

TEST_F(KeyValueHandlerTest, UserDeletionsAreStampedOnceAndRevivedByNewerRecords)
{
    auto *doomed = main()->insert<Category>();
    doomed->setName(QStringLiteral("Deleted by user"));
    save();
    const QString key = entries::keyForCategory(doomed);
    m_manager->deleteDatasourceOrCategory(doomed);
    settle();
    const std::optional<KeyValueRecord> deletion = held(key);
    ASSERT_TRUE(deletion);
    EXPECT_TRUE(record::isDeletion(*deletion));
    const qint64 stamp = record::clock(*deletion);
    EXPECT_EQ(KeyValueHandler::deletedStamps().value(key), stamp);
    EXPECT_EQ(KeyValueHandler::storeDeletedStateForKey(key), stamp) << "a second deletion reuses the stamp";

    // A record older than the deletion stays hidden; a newer one brings the category back.
    plantRemote({{key, categoryRecord(QStringLiteral("Deleted by user"), stamp - 1)}});
    settle();
    EXPECT_FALSE(find<Category>([&](Category *c) { return entries::keyForCategory(c) == key; }));
    plantRemote({{key, categoryRecord(QStringLiteral("Back again"), stamp + 100)}});
    settle();
    EXPECT_TRUE(category(QStringLiteral("Back again")));
    EXPECT_FALSE(KeyValueHandler::deletedStamps().contains(key));
    EXPECT_GT(KeyValueHandler::storeDeletedStateForKey(key), stamp + 100) << "the next deletion takes a new stamp";
    KeyValueHandler::undeleteKey(key);
}

TEST_F(KeyValueHandlerTest, CloudRecordsApplyOnlyWhereTheyAreSound)
{
    auto *local = main()->insert<Category>();
    local->setName(QStringLiteral("Incoming"));
    save();
    const QString categoryUuid = local->uuid();
    const QString base = QStringLiteral("http://127.0.0.1:9/incoming/");
    const QString unknownCategory = QStringLiteral("Feed.") + MD5(base + u"unknown-category");
    const QString topLevel = QStringLiteral("Feed.") + MD5(base + u"top-level");
    const QString filed = QStringLiteral("Feed.") + MD5(base + u"filed");
    const QString date = QStringLiteral("parsedDate");
    KeyValueDictionary cloud = {
        {unknownCategory, feedRecord(base + u"unknown-category", QStringLiteral("NO-SUCH-CATEGORY"), 50)},
        {topLevel, feedRecord(base + u"top-level", QString(), 50)},
        {filed, feedRecord(base + u"filed", categoryUuid, 50)},
        {QStringLiteral("Category.GONE"), record::deletion(40)},
        {QStringLiteral("Feed.") + MD5(base + u"orphan"), feedRecord(base + u"orphan", QStringLiteral("GONE"), 50)},
    };
    const struct
    {
        const char *name;
        QString url;
    } refused[] = {
        {"file", QStringLiteral("file:///etc/passwd")},
        {"data", QStringLiteral("data:text/xml,<rss/>")},
        {"javascript", QStringLiteral("javascript:alert(1)")},
        {"ftp", QStringLiteral("ftp://127.0.0.1/feed")},
    };
    for (const auto &row : refused)
        cloud.insert(QStringLiteral("Feed.refused-%1").arg(QLatin1String(row.name)), feedRecord(row.url, QString(), 50));
    // A starred item of a feed known here, with one date that is no date.
    const QString title = QStringLiteral("Starred elsewhere");
    const QString link = base + u"item";
    auto *probe = main()->insert<DataItem>();
    probe->setTitle(title);
    probe->setLink(link);
    const qint64 hash = probe->calculateHash();
    main()->deleteObject(probe);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
    cloud.insert(entries::keyForItemHash(hash),
                 {{QStringLiteral("starred"), true}, {QStringLiteral("clock"), qint64(60)},
                  {QStringLiteral("title"), title}, {QStringLiteral("link"), link},
                  {QStringLiteral("datasource"), MD5(base + u"top-level")}, {date, when},
                  {QStringLiteral("orderingDate"), QStringLiteral("yesterday")}});
    cloud.insert(entries::keyForItemHash(hash + 1), {{QStringLiteral("starred"), false}, {QStringLiteral("clock"), qint64(61)}});
    // Records of unknown prefixes or without the fields of their kind.
    cloud.insert(QStringLiteral("Mystery.1"), {{QStringLiteral("clock"), qint64(1)}});
    cloud.insert(QStringLiteral("Category.badly-typed"), {{QStringLiteral("name"), qint64(5)}, {QStringLiteral("clock"), qint64(1)}});
    plantRemote(cloud);
    settle();

    EXPECT_FALSE(feed(MD5(base + u"unknown-category"))) << "a feed of an unknown category waits for it";
    Datasource *top = feed(MD5(base + u"top-level"));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->category(), nullptr);
    EXPECT_EQ(top->customName(), u"Custom");
    Datasource *orphan = feed(MD5(base + u"orphan"));
    ASSERT_TRUE(orphan) << "a feed of a deleted category lies at the top level";
    EXPECT_EQ(orphan->category(), nullptr);
    Datasource *inCategory = feed(MD5(base + u"filed"));
    ASSERT_TRUE(inCategory);
    ASSERT_TRUE(inCategory->category());
    EXPECT_EQ(inCategory->category()->uuid(), categoryUuid);
    for (const auto &row : refused) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(find<Datasource>([&](Datasource *d) { return d->url() == row.url; }));
    }
    EXPECT_FALSE(find<Category>([](Category *c) { return c->uuid() == u"badly-typed"; }));
    const QList<DataItem *> items = top->items();
    ASSERT_EQ(items.size(), 1) << "the unstarred record of an unknown item creates nothing";
    EXPECT_TRUE(items.first()->isStarred());
    EXPECT_EQ(items.first()->itemHash(), hash);
    EXPECT_EQ(items.first()->parsedDate(), 1700000000.0);
    EXPECT_FALSE(items.first()->orderingDate()) << "a date field that holds no date stays empty";

    // A remote deletion removes the category here and is remembered.
    const QString categoryKey = entries::keyForCategoryUuid(categoryUuid);
    plantRemote({{categoryKey, record::deletion(local->clock() + 1000)}});
    settle();
    EXPECT_FALSE(category(QStringLiteral("Incoming")));
    EXPECT_EQ(KeyValueHandler::deletedStamps().value(categoryKey), local->clock() + 1000);
    KeyValueHandler::undeleteKey(categoryKey);
}

TEST_F(KeyValueHandlerTest, FirstMergeAdoptsNamesandSendsNewerLocalVersionsBack)
{
    m_handler->setEnabled(false);
    settle();
    auto *named = main()->insert<Category>();
    named->setName(QStringLiteral("Same name"));
    auto *edited = main()->insert<Category>();
    edited->setName(QStringLiteral("Edited here"));
    save();
    // The edited category's key is in the cloud with an older version.
    const QString editedKey = entries::keyForCategory(edited);
    plantRemote({{QStringLiteral("Category.REMOTE-UUID"), categoryRecord(QStringLiteral("Same name"), 0)},
                 {editedKey, categoryRecord(QStringLiteral("Old name"), edited->clock() - 1)}});
    m_handler->setEnabled(true);
    settle();

    int sameName = 0;
    for (Category *c : main()->fetchAs<Category>(Query{Entity::Category}))
        sameName += c->name() == u"Same name";
    EXPECT_EQ(sameName, 1) << "no second category appears";
    EXPECT_EQ(category(QStringLiteral("Same name"))->uuid(), u"REMOTE-UUID");
    EXPECT_EQ(category(QStringLiteral("Edited here"))->uuid(), entries::identityFromKey(editedKey));
    EXPECT_EQ(held(editedKey)->value(QStringLiteral("name")).toString(), u"Edited here") << "the newer local version went back";
}

TEST_F(KeyValueHandlerTest, BlockingOnlyReportsWhetherTheCloudHoldsRecords)
{
    std::atomic<int> reports{0};
    std::atomic<bool> reported{false};
    m_handler->cloudItemCountReported = [&](bool hasRecords) {
        reported = hasRecords;
        ++reports;
    };
    m_handler->setBlocking(true);
    plantRemote({{QStringLiteral("Category.WHILE-BLOCKING"), categoryRecord(QStringLiteral("While blocking"), 5)}});
    settle();
    ASSERT_TRUE(spinUntil([&] { return reports.load() > 0; }));
    EXPECT_TRUE(reported.load());
    EXPECT_FALSE(category(QStringLiteral("While blocking"))) << "nothing is applied while blocking";
    m_handler->cloudItemCountReported = nullptr;
    m_handler->setBlocking(false);
    settle();
    EXPECT_TRUE(category(QStringLiteral("While blocking")));
}

TEST_F(KeyValueHandlerTest, FixPositionMakesEqualPositionsDistinctPerGroup)
{
    const struct
    {
        const char *name;
        std::vector<double> before;
        std::vector<double> after;
    } rows[] = {
        {"three equal after one", {1, 3, 3, 3}, {1, 3, 2, 2.5}},
        {"two equal from the start", {2, 2}, {2, 1}},
        {"distinct stay", {1, 2, 5}, {1, 2, 5}},
    };
    Context *background = m_manager->contextBackground();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<double> after;
        background->performBlockConfinedAndWait([&] {
            // One group per row: each row's feeds in a category of their own.
            auto *group = background->insert<Category>();
            group->setName(QString::fromLatin1(row.name));
            Datasource::ExplicitPositionScope explicitPosition;
            std::vector<Datasource *> feeds;
            for (size_t i = 0; i < row.before.size(); ++i) {
                auto *datasource = background->insert<RSSDatasource>();
                datasource->setUrl(QStringLiteral("http://127.0.0.1:9/%1/%2").arg(QLatin1String(row.name)).arg(i));
                datasource->setCategory(group);
                datasource->setPosition(row.before[i]);
                feeds.push_back(datasource);
            }
            ASSERT_TRUE(background->save());
            KeyValueMerge::fixPosition(background, Entity::Datasource, QStringLiteral("category.uuid"));
            for (Datasource *datasource : feeds)
                after.push_back(datasource->position());
            background->save();
        });
        EXPECT_EQ(after, row.after);
    }
}

TEST_F(KeyValueHandlerTest, AppliedRecordsKeepTheirStampAndAreNotSentBack)
{
    // This machine's clock runs far ahead of the record's stamp.
    for (int i = 0; i < 50; ++i)
        Clock::sharedClock().currentIncreased();
    const QString key = QStringLiteral("Category.LOW-STAMP");
    const qint64 stamp = 3;
    plantRemote({{key, categoryRecord(QStringLiteral("Low stamp"), stamp)}});
    settle();
    Category *applied = category(QStringLiteral("Low stamp"));
    ASSERT_TRUE(applied);
    EXPECT_EQ(applied->clock(), stamp);
    // Had the entity taken the clock's value, its save would have sent the
    // record out again under a new stamp, and every machine would do the
    // same in turn.
    EXPECT_EQ(record::clock(*held(key)), stamp);
}
