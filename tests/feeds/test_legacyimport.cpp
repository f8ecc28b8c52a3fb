#include "keyedarchivebuilder.h"

#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/subscriptionlist.h"
#include "feeds/legacy/keyedarchive.h"
#include "feeds/legacy/legacyimport.h"

#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/stringhash.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/query.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

using namespace corvane;
using corvane::test::KeyedArchiveBuilder;
using corvane::test::rawArray;
using corvane::test::rawAsciiString;
using corvane::test::rawBinaryPlist;

namespace {

QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

// ---------------------------------------------------------------------------
// The reader

TEST(KeyedArchiveReader, ReadsFoundationValuesSubclassesAndCustomObjects)
{
    KeyedArchiveBuilder archive;
    const auto shared = archive.string(QStringLiteral("twice"));
    const auto list = archive.array({shared, shared, archive.integer(-7), KeyedArchiveBuilder::kNull},
                                    QStringLiteral("NSMutableArray"));
    // A subclass of NSMutableArray is read as its first known class.
    archive.classRef(QStringLiteral("FeedList"), {QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"),
                                                  QStringLiteral("NSObject")});
    const auto ownList = archive.array({archive.boolean(true)}, QStringLiteral("FeedList"));
    const auto thing = archive.object(QStringLiteral("Thing"),
                                      {{QStringLiteral("count"), plist_new_uint(3)},
                                       {QStringLiteral("label"), KeyedArchiveBuilder::uid(archive.mutableString(QStringLiteral("ünï")))}});
    const auto root = archive.dictionary({
        {QStringLiteral("list"), list},
        {QStringLiteral("own"), ownList},
        {QStringLiteral("thing"), thing},
        {QStringLiteral("real"), archive.value(2.5)},
        {QStringLiteral("bytes"), archive.data(QByteArray("\x00\x01\xff", 3))},
        {QStringLiteral("when"), archive.date(utc(2012, 3, 4, 5, 6, 7))},
        {QStringLiteral("nested"), archive.value(QVariantMap{{QStringLiteral("flag"), false}})},
    });
    archive.setRoot(root);

    const KeyedArchiveResult result = readKeyedArchive(archive.binary());
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    const QVariantMap map = result.root.toMap();
    EXPECT_EQ(map.value(QStringLiteral("list")).toList(),
              (QVariantList{QStringLiteral("twice"), QStringLiteral("twice"), qint64(-7), QVariant()}));
    EXPECT_EQ(map.value(QStringLiteral("own")).toList(), (QVariantList{true}));
    const QVariantMap custom = map.value(QStringLiteral("thing")).toMap();
    EXPECT_EQ(custom.value(kKeyedArchiveClassNameKey).toString(), QStringLiteral("Thing"));
    EXPECT_EQ(custom.value(QStringLiteral("count")).toLongLong(), 3);
    EXPECT_EQ(custom.value(QStringLiteral("label")).toString(), QStringLiteral("ünï"));
    EXPECT_EQ(map.value(QStringLiteral("real")).toDouble(), 2.5);
    EXPECT_EQ(map.value(QStringLiteral("bytes")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(map.value(QStringLiteral("when")).toDateTime(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(map.value(QStringLiteral("nested")).toMap().value(QStringLiteral("flag")), QVariant(false));
}

// Each damaged archive fails with a text, never a crash.
void expectFailure(const QByteArray &bytes, const char *needle, const KeyedArchiveLimits &limits = {})
{
    const KeyedArchiveResult result = readKeyedArchive(bytes, limits);
    EXPECT_FALSE(result.ok()) << "expected a failure mentioning " << needle;
    EXPECT_TRUE(result.error.contains(QLatin1String(needle))) << result.error.toStdString();
    EXPECT_FALSE(result.root.isValid());
}

TEST(KeyedArchiveReader, HostileReferencesInsideTheArchiveFailCleanly)
{
    {
        KeyedArchiveBuilder archive;
        const auto slot = archive.reserve();
        const auto loop = archive.array({slot});
        // The reserved object becomes an array holding the array that holds it.
        plist_t inner = plist_new_dict();
        plist_t objects = plist_new_array();
        plist_array_append_item(objects, KeyedArchiveBuilder::uid(loop));
        plist_dict_set_item(inner, "$class", KeyedArchiveBuilder::uid(archive.classRef(QStringLiteral("NSArray"))));
        plist_dict_set_item(inner, "NS.objects", objects);
        archive.set(slot, inner);
        archive.setRoot(loop);
        expectFailure(archive.binary(), "loop");
    }
    {
        KeyedArchiveBuilder archive;
        archive.setRoot(archive.array({4711}));
        expectFailure(archive.binary(), "reference to object 4711");
    }
    {
        KeyedArchiveBuilder archive;
        const auto notAClass = archive.string(QStringLiteral("NSArray"));
        plist_t odd = plist_new_dict();
        plist_dict_set_item(odd, "$class", KeyedArchiveBuilder::uid(notAClass));
        archive.setRoot(archive.add(odd));
        expectFailure(archive.binary(), "no class description");
    }
    {
        KeyedArchiveBuilder archive;
        plist_t keys = plist_new_array();
        plist_array_append_item(keys, KeyedArchiveBuilder::uid(archive.string(QStringLiteral("k"))));
        archive.setRoot(archive.object(QStringLiteral("NSDictionary"),
                                       {{QStringLiteral("NS.keys"), keys}, {QStringLiteral("NS.objects"), plist_new_array()}}));
        expectFailure(archive.binary(), "1 keys and 0 values");
    }
    {
        KeyedArchiveBuilder archive;
        archive.setRoot(archive.string(QStringLiteral("x")));
        archive.overrideEntry(QStringLiteral("$archiver"), plist_new_string("SomethingElse"));
        expectFailure(archive.binary(), "unknown archiver");
        KeyedArchiveBuilder noObjects;
        noObjects.overrideEntry(QStringLiteral("$objects"), plist_new_string("none"));
        expectFailure(noObjects.binary(), "no $objects");
    }
    {
        // Each level refers twice to the one below: 2^40 values from 40 objects.
        KeyedArchiveBuilder archive;
        auto level = archive.string(QStringLiteral("leaf"));
        for (int i = 0; i < 40; ++i)
            level = archive.array({level, level});
        archive.setRoot(level);
        expectFailure(archive.binary(), "more than 500000 values");
    }
    {
        KeyedArchiveBuilder archive;
        auto level = archive.string(QStringLiteral("bottom"));
        for (int i = 0; i < 300; ++i)
            level = archive.array({level});
        archive.setRoot(level);
        expectFailure(archive.binary(), "nested deeper");
        KeyedArchiveLimits roomy;
        roomy.maxDepth = 1000;
        EXPECT_TRUE(readKeyedArchive(archive.binary(), roomy).ok());
    }
}

TEST(KeyedArchiveReader, DamagedBinaryStructuresFailCleanly)
{
    expectFailure(QByteArray(), "not a binary property list");
    expectFailure(QByteArray("<?xml version=\"1.0\"?><plist/>"), "not a binary property list");
    // An array that holds itself.
    expectFailure(rawBinaryPlist({rawArray({0})}, 0), "reference loop");
    // Shared objects: 2^30 values from 31 objects once every reference is copied.
    QList<QByteArray> fanOut{rawAsciiString("leaf")};
    for (quint64 i = 1; i <= 30; ++i)
        fanOut.append(rawArray({i - 1, i - 1}));
    expectFailure(rawBinaryPlist(fanOut, 30), "more than 500000 values");
    // Deep nesting, which libplist would follow with its own recursion.
    QList<QByteArray> deep{rawAsciiString("bottom")};
    for (quint64 i = 1; i < 5000; ++i)
        deep.append(rawArray({i - 1}, 2));
    expectFailure(rawBinaryPlist(deep, 4999, 2), "nested deeper");
    // An array claiming 2^40 entries, and a reference past the last object.
    QByteArray huge("\xAF\x13", 2);
    huge.append(QByteArray::fromHex("0000010000000000"));
    expectFailure(rawBinaryPlist({huge}, 0), "more entries than the file holds");
    expectFailure(rawBinaryPlist({rawArray({9})}, 0), "reference to object 9 of 1");
    // libplist hands out keys as C strings, so a NUL inside one is refused.
    expectFailure(rawBinaryPlist({QByteArray("\xD1\x01\x02", 3), rawAsciiString(QByteArray("a\0b", 3)),
                                  rawAsciiString("v")},
                                 0),
                  "without NUL characters");
    QByteArray badTrailer = rawBinaryPlist({rawAsciiString("x")}, 0);
    badTrailer[badTrailer.size() - 25] = 3; // reference size
    expectFailure(badTrailer, "unsupported offset or reference size");
    KeyedArchiveLimits small;
    small.maxInputBytes = 16;
    expectFailure(rawBinaryPlist({rawAsciiString("x")}, 0), "larger than 16", small);
}

TEST(KeyedArchiveReader, EveryTruncationAndRandomDamageOfARealArchiveIsHandled)
{
    KeyedArchiveBuilder archive;
    archive.setRoot(archive.array({archive.legacyItem({{QStringLiteral("title"), QStringLiteral("One")},
                                                        {QStringLiteral("originalDate"), utc(2011, 1, 2)}},
                                                       false, true, false, true)}));
    const QByteArray bytes = archive.binary();
    ASSERT_TRUE(readKeyedArchive(bytes).ok());
    for (qsizetype length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(readKeyedArchive(bytes.left(length)).ok()) << "cut at " << length;
    // Byte changes may still give a readable archive; what matters is a clean answer.
    QRandomGenerator random(20240611);
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = bytes;
        for (int flips = 1 + int(random.bounded(3)); flips > 0; --flips)
            damaged[qsizetype(random.bounded(quint32(damaged.size())))] = char(random.bounded(256));
        const KeyedArchiveResult result = readKeyedArchive(damaged);
        EXPECT_EQ(result.ok(), result.error.isEmpty());
        failures += result.ok() ? 0 : 1;
    }
    EXPECT_GT(failures, 0);
}

// ---------------------------------------------------------------------------
// The import, run by a datasource manager at start

std::mutex g_logMutex;
QStringList g_log;

void captureLog(const QString &line)
{
    std::lock_guard lock(g_logMutex);
    g_log.append(line);
}

const QString kA = QStringLiteral("http://alpha.example/rss");
const QString kB = QStringLiteral("http://beta.example/rss");
const QString kC = QStringLiteral("http://gamma.example/rss");
const QString kD = QStringLiteral("http://delta.example/rss");

QVariantMap feed(const QString &url, const QString &uuid, const QVariantMap &more = {})
{
    QVariantMap configuration = more;
    configuration.insert(QStringLiteral("url"), url);
    if (!uuid.isEmpty())
        configuration.insert(QStringLiteral("uuid"), uuid);
    return configuration;
}

class LegacyImport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_store.isValid());
        Settings &settings = Settings::shared();
        for (const QString &key : {kLegacyFeedsKey, kLegacyStarredKey, kLegacyKeywordsKey, kMigratedFromLegacyKey,
                                   kMigratedWithNoErrorKey})
            settings.removeValue(key);
        settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
        QDir caches(paths::cachesDir());
        for (const QString &name : caches.entryList(QDir::Files))
            caches.remove(name);
        DatasourceManager::legacyImport() = importLegacyDatastore;
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        setLogSink(captureLog);
    }

    void TearDown() override
    {
        manager.reset();
        Clock::sharedClock().flush();
        setLogSink(nullptr);
    }

    // A start of the engine over this test's store, waiting for its first work.
    void start()
    {
        manager.reset();
        DatasourceManager::Options options;
        options.storeDirectory = m_store.path();
        options.startTimer = false;
        options.commitDelaySeconds = 0.05;
        manager = std::make_unique<DatasourceManager>(options);
        manager->waitForRefreshes();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    static QString itemFile(const QString &uuid) { return QDir(paths::cachesDir()).filePath(uuid + QStringLiteral(".db")); }

    static void writeItems(const QString &uuid, const QList<QVariantMap> &properties, const QList<QList<bool>> &flags)
    {
        KeyedArchiveBuilder archive;
        QList<KeyedArchiveBuilder::Ref> items;
        for (qsizetype i = 0; i < properties.size(); ++i) {
            const QList<bool> f = flags.value(i, {false, false, false, false});
            items.append(archive.legacyItem(properties[i], f[0], f[1], f[2], f[3]));
        }
        archive.setRoot(archive.array(items, QStringLiteral("NSMutableArray")));
        ASSERT_TRUE(archive.write(itemFile(uuid)));
    }

    QList<Datasource *> sources() { return subscriptionlist::datasourcesForContext(manager->contextMain()); }

    QList<DataItem *> items(const Datasource *datasource = nullptr)
    {
        QList<DataItem *> result;
        const QList<DataItem *> all = manager->contextMain()->fetchAs<DataItem>(
            Query{Entity::DataItem, Predicate(), {{QStringLiteral("title"), true}}});
        for (DataItem *item : all)
            if (item->datasource() == datasource)
                result.append(item);
        return result;
    }

    QList<Keyword *> keywords()
    {
        return manager->contextMain()->fetchAs<Keyword>(
            Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}});
    }

    static QStringList logLines()
    {
        std::lock_guard lock(g_logMutex);
        return g_log;
    }

    static bool logged(const QString &needle)
    {
        for (const QString &line : logLines())
            if (line.contains(needle))
                return true;
        return false;
    }

    std::unique_ptr<DatasourceManager> manager;

private:
    QTemporaryDir m_store;
};

TEST_F(LegacyImport, SubscriptionsAndTheirItemFilesComeIntoTheStore)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey,
                      QVariantList{feed(kA, QStringLiteral("file-a"),
                                        {{QStringLiteral("name"), QStringLiteral("Alpha")},
                                         {QStringLiteral("customName"), QStringLiteral("My alpha")}}),
                                   feed(kB, QStringLiteral("file-b"), {{QStringLiteral("enabled"), false}}),
                                   feed(kC, QString(), {{QStringLiteral("enabled"), QStringLiteral("NO")}}),
                                   // The same address again adds no second subscription.
                                   feed(QStringLiteral("feed://alpha.example/rss"), QString())});
    writeItems(QStringLiteral("file-a"),
               {{{QStringLiteral("title"), QStringLiteral("A unread")},
                 {QStringLiteral("description"), QStringLiteral("<p>text</p>")},
                 {QStringLiteral("content:encoded"), QStringLiteral("<p>full text</p>")},
                 {QStringLiteral("guid"), QStringLiteral("g-1")},
                 {QStringLiteral("link"), QStringLiteral("  http://alpha.example/1\n")},
                 {QStringLiteral("originalDate"), utc(2012, 3, 4, 5, 6, 7)},
                 {QStringLiteral("parsedDate"), utc(2012, 3, 4, 6, 0, 0)},
                 {QStringLiteral("enclosureUrl"), QStringLiteral("http://alpha.example/1.mp3")},
                 {QStringLiteral("enclosureMime"), QStringLiteral("audio/mpeg")}},
                {{QStringLiteral("title"), QStringLiteral("B read")}, {QStringLiteral("link"), QStringLiteral("http://alpha.example/ 2")}},
                {{QStringLiteral("title"), QStringLiteral("C hidden")}}},
               {{false, true, false, false}, {false, false, true, false}, {false, true, false, true}});
    start();

    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0]->url(), kA);
    EXPECT_EQ(all[0]->name(), QStringLiteral("Alpha"));
    EXPECT_EQ(all[0]->customName(), QStringLiteral("My alpha"));
    EXPECT_EQ(all[0]->uuid(), Datasource::uuidForUrl(kA)) << "the legacy uuid only names the item file";
    EXPECT_TRUE(all[0]->enabled()) << "enabled when the key is absent";
    EXPECT_FALSE(all[1]->enabled());
    EXPECT_EQ(all[2]->url(), kC);
    EXPECT_FALSE(all[2]->enabled()) << "\"NO\" from a settings file is no";

    const QList<DataItem *> alpha = items(all[0]);
    ASSERT_EQ(alpha.size(), 3);
    const DataItem *first = alpha[0];
    EXPECT_EQ(first->itemDescription(), QStringLiteral("<p>text</p>"));
    EXPECT_EQ(first->previewContent(), QStringLiteral("<p>full text</p>"));
    EXPECT_EQ(first->guid(), QStringLiteral("g-1"));
    EXPECT_EQ(first->link(), QStringLiteral("http://alpha.example/1"));
    EXPECT_EQ(first->originalDate(), Date(utc(2012, 3, 4, 5, 6, 7).toSecsSinceEpoch()));
    EXPECT_EQ(first->parsedDate(), Date(utc(2012, 3, 4, 6).toSecsSinceEpoch()));
    EXPECT_EQ(first->enclosureMime(), QStringLiteral("audio/mpeg"));
    EXPECT_FALSE(first->orderingDate().has_value());
    EXPECT_FALSE(first->isRead());
    EXPECT_EQ(first->itemHash(), calculateHashFromTitleAndLink(QStringLiteral("A unread"), QStringLiteral("http://alpha.example/1")));
    EXPECT_EQ(alpha[1]->link(), QStringLiteral("http://alpha.example/2")) << "a link that is no URL loses its spaces";
    EXPECT_TRUE(alpha[1]->isRead());
    EXPECT_TRUE(alpha[2]->isRead()) << "hidden but unread comes in as read";
    EXPECT_TRUE(items(all[1]).isEmpty()) << "no item file, no items";

    EXPECT_FALSE(QFile::exists(itemFile(QStringLiteral("file-a"))));
    EXPECT_TRUE(settings.boolean(kMigratedFromLegacyKey));
    EXPECT_TRUE(settings.boolean(kMigratedWithNoErrorKey));
    EXPECT_TRUE(logged(QStringLiteral("3 subscriptions, 3 items")));
}

TEST_F(LegacyImport, StarredItemsFindTheirSubscriptionOrComeInWithout)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey, QVariantList{feed(kA, QStringLiteral("file-a"))});
    writeItems(QStringLiteral("file-a"),
               {{{QStringLiteral("title"), QStringLiteral("Kept")}, {QStringLiteral("guid"), QStringLiteral("g-1")}},
                {{QStringLiteral("title"), QStringLiteral("No guid")}, {QStringLiteral("link"), QStringLiteral("http://alpha.example/n")}}},
               {});
    settings.setValue(kLegacyStarredKey,
                      QVariantList{
                          QVariantMap{{QStringLiteral("DataSourceUrl"), kA},
                                      {QStringLiteral("guid"), QStringLiteral("g-1")},
                                      {QStringLiteral("title"), QStringLiteral("Kept")}},
                          QVariantMap{{QStringLiteral("DataSourceUrl"), kA},
                                      {QStringLiteral("title"), QStringLiteral("No guid")},
                                      {QStringLiteral("link"), QStringLiteral(" http://alpha.example/n ")}},
                          QVariantMap{{QStringLiteral("DataSourceUrl"), kA},
                                      {QStringLiteral("guid"), QStringLiteral("g-2")},
                                      {QStringLiteral("title"), QStringLiteral("New star")},
                                      {QStringLiteral("hidden"), true}},
                          QVariantMap{{QStringLiteral("DataSourceUrl"), QStringLiteral("http://gone.example/rss")},
                                      {QStringLiteral("title"), QStringLiteral("Orphan")},
                                      {QStringLiteral("link"), QStringLiteral(" http://gone.example/1 ")},
                                      {QStringLiteral("originalDate"), utc(2010, 5, 6)}},
                      });
    start();

    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 1);
    const QList<DataItem *> alpha = items(all[0]);
    ASSERT_EQ(alpha.size(), 3) << "items also in the file are starred there, not stored twice";
    EXPECT_EQ(alpha[0]->title(), QStringLiteral("Kept"));
    EXPECT_TRUE(alpha[0]->isStarred());
    EXPECT_FALSE(alpha[0]->isRead());
    EXPECT_EQ(alpha[1]->title(), QStringLiteral("New star"));
    EXPECT_TRUE(alpha[1]->isStarred());
    EXPECT_TRUE(alpha[1]->isRead()) << "hidden counts as read";
    EXPECT_TRUE(alpha[2]->isStarred());

    const QList<DataItem *> orphans = items(nullptr);
    ASSERT_EQ(orphans.size(), 1);
    EXPECT_EQ(orphans[0]->title(), QStringLiteral("Orphan"));
    EXPECT_TRUE(orphans[0]->isStarred());
    EXPECT_EQ(orphans[0]->link(), QStringLiteral("http://gone.example/1")) << "canonised on save";
    EXPECT_EQ(orphans[0]->originalDate(), Date(utc(2010, 5, 6).toSecsSinceEpoch()));
    EXPECT_TRUE(logged(QStringLiteral("4 starred items (1 without a subscription)")));
}

TEST_F(LegacyImport, KeywordsJoinTheStoredOnesWithTheDefaultPastStamp)
{
    Settings &settings = Settings::shared();
    settings.setValue(kMigratedFromLegacyKey, true);
    start();
    Context *background = manager->contextBackground();
    background->performBlockConfinedAndWait(
        [background] { ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("Qt")}, background, false)); });

    settings.removeValue(kMigratedFromLegacyKey);
    settings.setValue(kLegacyKeywordsKey, QStringList{QStringLiteral("linux"), QStringLiteral("Apple"),
                                                      QStringLiteral("linux"), QString()});
    start();

    QStringList names;
    for (const Keyword *keyword : keywords()) {
        names.append(keyword->name());
        if (keyword->name() == u"Qt")
            EXPECT_NE(keyword->clock(), Clock::defaultPast()) << "a stored keyword is kept as it was";
        else
            EXPECT_EQ(keyword->clock(), Clock::defaultPast());
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Qt"), QStringLiteral("linux"), QStringLiteral("Apple")}));
    EXPECT_TRUE(settings.boolean(kMigratedWithNoErrorKey));
}

TEST_F(LegacyImport, RunsOnceAndKeepsTheFirstRunDefaultsAway)
{
    Settings &settings = Settings::shared();
    settings.removeValue(QStringLiteral("DefaultFeedsAlreadyCreated"));
    settings.setValue(kLegacyFeedsKey, QVariantList{feed(kA, QStringLiteral("file-a"))});
    writeItems(QStringLiteral("file-a"), {{{QStringLiteral("title"), QStringLiteral("Only")}}}, {});
    start();
    ASSERT_EQ(sources().size(), 1) << "imported subscriptions count as existing ones";
    EXPECT_TRUE(settings.boolean(QStringLiteral("DefaultFeedsAlreadyCreated")));
    ASSERT_EQ(items(sources()[0]).size(), 1);

    // The legacy settings are still there, and a file appears again.
    writeItems(QStringLiteral("file-a"), {{{QStringLiteral("title"), QStringLiteral("Again")}}}, {});
    settings.setValue(kLegacyKeywordsKey, QStringList{QStringLiteral("late")});
    {
        std::lock_guard lock(g_logMutex);
        g_log.clear();
    }
    start();
    ASSERT_EQ(sources().size(), 1);
    EXPECT_EQ(items(sources()[0]).size(), 1);
    EXPECT_TRUE(keywords().isEmpty());
    EXPECT_FALSE(logged(QStringLiteral("imported from the earlier data format")));
}

TEST_F(LegacyImport, DamagedItemFilesAndOddSettingsAreSkippedWithALogLine)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey,
                      QVariantList{feed(kA, QStringLiteral("cut")), feed(kB, QStringLiteral("loop")),
                                   feed(kC, QStringLiteral("mixed")), feed(kD, QStringLiteral("../escape")),
                                   QStringLiteral("not a dictionary"), feed(QStringLiteral("  "), QString())});
    settings.setValue(kLegacyStarredKey, QStringLiteral("not a list"));

    KeyedArchiveBuilder valid;
    valid.setRoot(valid.array({valid.legacyItem({{QStringLiteral("title"), QStringLiteral("x")}}, false, false, false, false)}));
    const QByteArray whole = valid.binary();
    QFile cut(itemFile(QStringLiteral("cut")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.left(whole.size() - 5));
    cut.close();

    KeyedArchiveBuilder loop;
    const auto slot = loop.reserve();
    const auto item = loop.object(QStringLiteral("DataItem"), {{QStringLiteral("$0"), KeyedArchiveBuilder::uid(slot)}});
    loop.set(slot, KeyedArchiveBuilder::uid(item));
    loop.setRoot(loop.array({item}));
    ASSERT_TRUE(loop.write(itemFile(QStringLiteral("loop"))));

    KeyedArchiveBuilder mixed;
    mixed.setRoot(mixed.array({mixed.string(QStringLiteral("stray")),
                               mixed.legacyItem({{QStringLiteral("title"), QStringLiteral("Good")}}, false, false, true, false)}));
    ASSERT_TRUE(mixed.write(itemFile(QStringLiteral("mixed"))));

    const QString outside = QDir(paths::cachesDir()).filePath(QStringLiteral("../escape.db"));
    ASSERT_TRUE(valid.write(outside));

    start();
    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 4);
    EXPECT_TRUE(items(all[0]).isEmpty());
    EXPECT_TRUE(items(all[1]).isEmpty());
    ASSERT_EQ(items(all[2]).size(), 1);
    EXPECT_EQ(items(all[2])[0]->title(), QStringLiteral("Good"));
    EXPECT_TRUE(items(all[3]).isEmpty());
    EXPECT_TRUE(QFile::exists(outside)) << "a settings value cannot name a file outside the caches folder";
    QFile::remove(outside);

    EXPECT_TRUE(logged(itemFile(QStringLiteral("cut")) + QStringLiteral(" skipped")));
    EXPECT_TRUE(logged(itemFile(QStringLiteral("loop")) + QStringLiteral(" skipped: reference loop")));
    EXPECT_TRUE(logged(QStringLiteral("1 entries are no items")));
    EXPECT_TRUE(logged(QStringLiteral("\"../escape\" is no plain file name")));
    EXPECT_TRUE(logged(QStringLiteral("legacy subscription that is no dictionary skipped")));
    EXPECT_TRUE(logged(QStringLiteral("legacy subscription without an address skipped")));
    EXPECT_TRUE(logged(QStringLiteral("\"starred\" is no list")));
    EXPECT_TRUE(settings.boolean(kMigratedFromLegacyKey));
    EXPECT_FALSE(settings.boolean(kMigratedWithNoErrorKey)) << "the import had errors";
}

} // namespace
