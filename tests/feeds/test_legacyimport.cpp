#include "keyedarchivebuilder.h"
#include "logcapture.h"
#include "testfiles.h"

#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/subscriptionlist.h"
#include "feeds/legacy/keyedarchive.h"
#include "feeds/legacy/legacyimport.h"

#include "base/clock.h"
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

#include <algorithm>
#include <memory>
#include <optional>

using namespace corvane;
using namespace Qt::StringLiterals;
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
    const auto shared = archive.string(u"twice"_s);
    const auto list = archive.array({shared, shared, archive.value(qint64(-7)), KeyedArchiveBuilder::kNull},
                                    u"NSMutableArray"_s);
    // A subclass of NSMutableArray is read as its first known class.
    archive.classRef(u"FeedList"_s, {u"NSMutableArray"_s, u"NSArray"_s,
                                                  u"NSObject"_s});
    const auto ownList = archive.array({archive.value(true)}, u"FeedList"_s);
    const auto thing = archive.object(u"Thing"_s,
                                      {{u"count"_s, plist_new_uint(3)},
                                       {u"label"_s, KeyedArchiveBuilder::uid(archive.mutableString(u"ünï"_s))}});
    const auto root = archive.dictionary({
        {u"list"_s, list},
        {u"own"_s, ownList},
        {u"thing"_s, thing},
        {u"real"_s, archive.value(2.5)},
        {u"bytes"_s, archive.value(QByteArray("\x00\x01\xff", 3))},
        {u"when"_s, archive.date(utc(2012, 3, 4, 5, 6, 7))},
        {u"nested"_s, archive.value(QVariantMap{{u"flag"_s, false}})},
    });
    archive.setRoot(root);

    const KeyedArchiveResult result = readKeyedArchive(archive.binary());
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    const QVariantMap map = result.root.toMap();
    EXPECT_EQ(map.value(u"list"_s).toList(),
              (QVariantList{u"twice"_s, u"twice"_s, qint64(-7), QVariant()}));
    EXPECT_EQ(map.value(u"own"_s).toList(), (QVariantList{true}));
    const QVariantMap custom = map.value(u"thing"_s).toMap();
    EXPECT_EQ(custom.value(kKeyedArchiveClassNameKey).toString(), u"Thing"_s);
    EXPECT_EQ(custom.value(u"count"_s).toLongLong(), 3);
    EXPECT_EQ(custom.value(u"label"_s).toString(), u"ünï"_s);
    EXPECT_EQ(map.value(u"real"_s).toDouble(), 2.5);
    EXPECT_EQ(map.value(u"bytes"_s).toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(map.value(u"when"_s).toDateTime(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(map.value(u"nested"_s).toMap().value(u"flag"_s), QVariant(false));
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
        plist_dict_set_item(inner, "$class", KeyedArchiveBuilder::uid(archive.classRef(u"NSArray"_s)));
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
        const auto notAClass = archive.string(u"NSArray"_s);
        plist_t odd = plist_new_dict();
        plist_dict_set_item(odd, "$class", KeyedArchiveBuilder::uid(notAClass));
        archive.setRoot(archive.add(odd));
        expectFailure(archive.binary(), "no class description");
    }
    {
        KeyedArchiveBuilder archive;
        plist_t keys = plist_new_array();
        plist_array_append_item(keys, KeyedArchiveBuilder::uid(archive.string(u"k"_s)));
        archive.setRoot(archive.object(u"NSDictionary"_s,
                                       {{u"NS.keys"_s, keys}, {u"NS.objects"_s, plist_new_array()}}));
        expectFailure(archive.binary(), "1 keys and 0 values");
    }
    {
        KeyedArchiveBuilder archive;
        archive.setRoot(archive.string(u"x"_s));
        archive.overrideEntry(u"$archiver"_s, plist_new_string("SomethingElse"));
        expectFailure(archive.binary(), "unknown archiver");
        KeyedArchiveBuilder noObjects;
        noObjects.overrideEntry(u"$objects"_s, plist_new_string("none"));
        expectFailure(noObjects.binary(), "no $objects");
    }
    {
        // Each level refers twice to the one below: 2^40 values from 40 objects.
        KeyedArchiveBuilder archive;
        auto level = archive.string(u"leaf"_s);
        for (int i = 0; i < 40; ++i)
            level = archive.array({level, level});
        archive.setRoot(level);
        expectFailure(archive.binary(), "more than 500000 values");
    }
    {
        KeyedArchiveBuilder archive;
        auto level = archive.string(u"bottom"_s);
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
    archive.setRoot(archive.array({archive.legacyItem({{u"title"_s, u"One"_s},
                                                        {u"originalDate"_s, utc(2011, 1, 2)}},
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

const QString kA = u"http://alpha.example/rss"_s;
const QString kB = u"http://beta.example/rss"_s;
const QString kC = u"http://gamma.example/rss"_s;
const QString kD = u"http://delta.example/rss"_s;

QVariantMap feed(const QString &url, const QString &uuid, const QVariantMap &more = {})
{
    QVariantMap configuration = more;
    configuration.insert(u"url"_s, url);
    if (!uuid.isEmpty())
        configuration.insert(u"uuid"_s, uuid);
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
        settings.setValue(u"DefaultFeedsAlreadyCreated"_s, true);
        QDir caches(paths::cachesDir());
        for (const QString &name : caches.entryList(QDir::Files))
            caches.remove(name);
        DatasourceManager::legacyImport() = importLegacyDatastore;
        m_log.emplace();
    }

    void TearDown() override
    {
        manager.reset();
        Clock::sharedClock().flush();
        m_log.reset();
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

    static QString itemFile(const QString &uuid) { return QDir(paths::cachesDir()).filePath(uuid + u".db"_s); }

    static void writeItems(const QString &uuid, const QList<QVariantMap> &properties, const QList<QList<bool>> &flags = {})
    {
        KeyedArchiveBuilder archive;
        QList<KeyedArchiveBuilder::Ref> items;
        for (qsizetype i = 0; i < properties.size(); ++i) {
            const QList<bool> f = flags.value(i, {false, false, false, false});
            items.append(archive.legacyItem(properties[i], f[0], f[1], f[2], f[3]));
        }
        archive.setRoot(archive.array(items, u"NSMutableArray"_s));
        ASSERT_TRUE(archive.write(itemFile(uuid)));
    }

    QList<Datasource *> sources() { return subscriptionlist::datasourcesForContext(manager->contextMain()); }

    QList<DataItem *> items(const Datasource *datasource = nullptr)
    {
        QList<DataItem *> result;
        const QList<DataItem *> all = manager->contextMain()->fetchAs<DataItem>(
            Query{Entity::DataItem, Predicate(), {{u"title"_s, true}}});
        for (DataItem *item : all)
            if (item->datasource() == datasource)
                result.append(item);
        return result;
    }

    QList<Keyword *> keywords()
    {
        return manager->contextMain()->fetchAs<Keyword>(
            Query{Entity::Keyword, Predicate(), {{u"position"_s, true}}});
    }

    void clearLog() { m_log->clear(); }
    bool logged(const QString &needle) const { return m_log->contains(needle); }

    std::unique_ptr<DatasourceManager> manager;
    std::optional<test::LogCapture> m_log;

private:
    QTemporaryDir m_store;
};

TEST_F(LegacyImport, SubscriptionsAndTheirItemFilesComeIntoTheStore)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey,
                      QVariantList{feed(kA, u"file-a"_s, {{u"name"_s, u"Alpha"_s}, {u"customName"_s, u"My alpha"_s}}),
                                   feed(kB, u"file-b"_s, {{u"enabled"_s, false}}),
                                   feed(kC, QString(), {{u"enabled"_s, u"NO"_s}}),
                                   // The same address again adds no second subscription.
                                   feed(u"feed://alpha.example/rss"_s, QString())});
    writeItems(u"file-a"_s,
               {{{u"title"_s, u"A unread"_s}, {u"description"_s, u"<p>text</p>"_s},
                 {u"content:encoded"_s, u"<p>full text</p>"_s}, {u"guid"_s, u"g-1"_s},
                 {u"link"_s, u"  http://alpha.example/1\n"_s}, {u"originalDate"_s, utc(2012, 3, 4, 5, 6, 7)},
                 {u"parsedDate"_s, utc(2012, 3, 4, 6, 0, 0)}, {u"enclosureUrl"_s, u"http://alpha.example/1.mp3"_s},
                 {u"enclosureMime"_s, u"audio/mpeg"_s}},
                {{u"title"_s, u"B read"_s}, {u"link"_s, u"http://alpha.example/ 2"_s}},
                {{u"title"_s, u"C hidden"_s}}},
               {{false, true, false, false}, {false, false, true, false}, {false, true, false, true}});
    start();

    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0]->url(), kA);
    EXPECT_EQ(all[0]->name(), u"Alpha"_s);
    EXPECT_EQ(all[0]->customName(), u"My alpha"_s);
    EXPECT_EQ(all[0]->uuid(), Datasource::uuidForUrl(kA)) << "the legacy uuid only names the item file";
    EXPECT_TRUE(all[0]->enabled()) << "enabled when the key is absent";
    EXPECT_FALSE(all[1]->enabled());
    EXPECT_EQ(all[2]->url(), kC);
    EXPECT_FALSE(all[2]->enabled()) << "\"NO\" from a settings file is no";

    const QList<DataItem *> alpha = items(all[0]);
    ASSERT_EQ(alpha.size(), 3);
    const DataItem *first = alpha[0];
    EXPECT_EQ(first->itemDescription(), u"<p>text</p>"_s);
    EXPECT_EQ(first->previewContent(), u"<p>full text</p>"_s);
    EXPECT_EQ(first->guid(), u"g-1"_s);
    EXPECT_EQ(first->link(), u"http://alpha.example/1"_s);
    EXPECT_EQ(first->originalDate(), Date(utc(2012, 3, 4, 5, 6, 7).toSecsSinceEpoch()));
    EXPECT_EQ(first->parsedDate(), Date(utc(2012, 3, 4, 6).toSecsSinceEpoch()));
    EXPECT_EQ(first->enclosureMime(), u"audio/mpeg"_s);
    EXPECT_FALSE(first->orderingDate().has_value());
    EXPECT_FALSE(first->isRead());
    EXPECT_EQ(first->itemHash(), calculateHashFromTitleAndLink(u"A unread"_s, u"http://alpha.example/1"_s));
    EXPECT_EQ(alpha[1]->link(), u"http://alpha.example/2"_s) << "a link that is no URL loses its spaces";
    EXPECT_TRUE(alpha[1]->isRead());
    EXPECT_TRUE(alpha[2]->isRead()) << "hidden but unread comes in as read";
    EXPECT_TRUE(items(all[1]).isEmpty()) << "no item file, no items";

    EXPECT_FALSE(QFile::exists(itemFile(u"file-a"_s)));
    EXPECT_TRUE(settings.boolean(kMigratedFromLegacyKey));
    EXPECT_TRUE(settings.boolean(kMigratedWithNoErrorKey));
    EXPECT_TRUE(logged(u"3 subscriptions, 3 items"_s));
}

TEST_F(LegacyImport, StarredItemsFindTheirSubscriptionOrComeInWithout)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey, QVariantList{feed(kA, u"file-a"_s)});
    writeItems(u"file-a"_s, {{{u"title"_s, u"Kept"_s}, {u"guid"_s, u"g-1"_s}},
                             {{u"title"_s, u"No guid"_s}, {u"link"_s, u"http://alpha.example/n"_s}}});
    settings.setValue(kLegacyStarredKey,
                      QVariantList{
                          QVariantMap{{u"DataSourceUrl"_s, kA}, {u"guid"_s, u"g-1"_s}, {u"title"_s, u"Kept"_s}},
                          QVariantMap{{u"DataSourceUrl"_s, kA}, {u"title"_s, u"No guid"_s},
                                      {u"link"_s, u" http://alpha.example/n "_s}},
                          QVariantMap{{u"DataSourceUrl"_s, kA}, {u"guid"_s, u"g-2"_s}, {u"title"_s, u"New star"_s},
                                      {u"hidden"_s, true}},
                          QVariantMap{{u"DataSourceUrl"_s, u"http://gone.example/rss"_s}, {u"title"_s, u"Orphan"_s},
                                      {u"link"_s, u" http://gone.example/1 "_s}, {u"originalDate"_s, utc(2010, 5, 6)}},
                      });
    start();

    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 1);
    const QList<DataItem *> alpha = items(all[0]);
    ASSERT_EQ(alpha.size(), 3) << "items also in the file are starred there, not stored twice";
    EXPECT_EQ(alpha[0]->title(), u"Kept"_s);
    EXPECT_TRUE(alpha[0]->isStarred());
    EXPECT_FALSE(alpha[0]->isRead());
    EXPECT_EQ(alpha[1]->title(), u"New star"_s);
    EXPECT_TRUE(alpha[1]->isStarred());
    EXPECT_TRUE(alpha[1]->isRead()) << "hidden counts as read";
    EXPECT_TRUE(alpha[2]->isStarred());

    const QList<DataItem *> orphans = items(nullptr);
    ASSERT_EQ(orphans.size(), 1);
    EXPECT_EQ(orphans[0]->title(), u"Orphan"_s);
    EXPECT_TRUE(orphans[0]->isStarred());
    EXPECT_EQ(orphans[0]->link(), u"http://gone.example/1"_s) << "canonised on save";
    EXPECT_EQ(orphans[0]->originalDate(), Date(utc(2010, 5, 6).toSecsSinceEpoch()));
    EXPECT_TRUE(logged(u"4 starred items (1 without a subscription)"_s));
}

TEST_F(LegacyImport, KeywordsJoinTheStoredOnesWithTheDefaultPastStamp)
{
    Settings &settings = Settings::shared();
    settings.setValue(kMigratedFromLegacyKey, true);
    start();
    Context *background = manager->contextBackground();
    background->performBlockConfinedAndWait(
        [background] { ASSERT_TRUE(KeywordHelper::insertKeywords({u"Qt"_s}, background, false)); });

    settings.removeValue(kMigratedFromLegacyKey);
    settings.setValue(kLegacyKeywordsKey, QStringList{u"linux"_s, u"Apple"_s,
                                                      u"linux"_s, QString()});
    start();

    QStringList names;
    for (const Keyword *keyword : keywords()) {
        names.append(keyword->name());
        if (keyword->name() == u"Qt")
            EXPECT_NE(keyword->clock(), Clock::defaultPast()) << "a stored keyword is kept as it was";
        else
            EXPECT_EQ(keyword->clock(), Clock::defaultPast());
    }
    EXPECT_EQ(names, (QStringList{u"Qt"_s, u"linux"_s, u"Apple"_s}));
    EXPECT_TRUE(settings.boolean(kMigratedWithNoErrorKey));
}

TEST_F(LegacyImport, RunsOnceAndKeepsTheFirstRunDefaultsAway)
{
    Settings &settings = Settings::shared();
    settings.removeValue(u"DefaultFeedsAlreadyCreated"_s);
    settings.setValue(kLegacyFeedsKey, QVariantList{feed(kA, u"file-a"_s)});
    writeItems(u"file-a"_s, {{{u"title"_s, u"Only"_s}}});
    start();
    ASSERT_EQ(sources().size(), 1) << "imported subscriptions count as existing ones";
    EXPECT_TRUE(settings.boolean(u"DefaultFeedsAlreadyCreated"_s));
    ASSERT_EQ(items(sources()[0]).size(), 1);

    // The legacy settings are still there, and a file appears again.
    writeItems(u"file-a"_s, {{{u"title"_s, u"Again"_s}}});
    settings.setValue(kLegacyKeywordsKey, QStringList{u"late"_s});
    clearLog();
    start();
    ASSERT_EQ(sources().size(), 1);
    EXPECT_EQ(items(sources()[0]).size(), 1);
    EXPECT_TRUE(keywords().isEmpty());
    EXPECT_FALSE(logged(u"imported from the earlier data format"_s));
}

TEST_F(LegacyImport, DamagedItemFilesAndOddSettingsAreSkippedWithALogLine)
{
    Settings &settings = Settings::shared();
    settings.setValue(kLegacyFeedsKey,
                      QVariantList{feed(kA, u"cut"_s), feed(kB, u"loop"_s),
                                   feed(kC, u"mixed"_s), feed(kD, u"../escape"_s),
                                   u"not a dictionary"_s, feed(u"  "_s, QString())});
    settings.setValue(kLegacyStarredKey, u"not a list"_s);

    KeyedArchiveBuilder valid;
    valid.setRoot(valid.array({valid.legacyItem({{u"title"_s, u"x"_s}}, false, false, false, false)}));
    const QByteArray whole = valid.binary();
    test::writeFile(itemFile(u"cut"_s), whole.left(whole.size() - 5));

    KeyedArchiveBuilder loop;
    const auto slot = loop.reserve();
    const auto item = loop.object(u"DataItem"_s, {{u"$0"_s, KeyedArchiveBuilder::uid(slot)}});
    loop.set(slot, KeyedArchiveBuilder::uid(item));
    loop.setRoot(loop.array({item}));
    ASSERT_TRUE(loop.write(itemFile(u"loop"_s)));

    KeyedArchiveBuilder mixed;
    mixed.setRoot(mixed.array({mixed.string(u"stray"_s),
                               mixed.legacyItem({{u"title"_s, u"Good"_s}}, false, false, true, false)}));
    ASSERT_TRUE(mixed.write(itemFile(u"mixed"_s)));

    const QString outside = QDir(paths::cachesDir()).filePath(u"../escape.db"_s);
    ASSERT_TRUE(valid.write(outside));

    start();
    const QList<Datasource *> all = sources();
    ASSERT_EQ(all.size(), 4);
    EXPECT_TRUE(items(all[0]).isEmpty());
    EXPECT_TRUE(items(all[1]).isEmpty());
    ASSERT_EQ(items(all[2]).size(), 1);
    EXPECT_EQ(items(all[2])[0]->title(), u"Good"_s);
    EXPECT_TRUE(items(all[3]).isEmpty());
    EXPECT_TRUE(QFile::exists(outside)) << "a settings value cannot name a file outside the caches folder";
    QFile::remove(outside);

    EXPECT_TRUE(logged(itemFile(u"cut"_s) + u" skipped"_s));
    EXPECT_TRUE(logged(itemFile(u"loop"_s) + u" skipped: reference loop"_s));
    EXPECT_TRUE(logged(u"1 entries are no items"_s));
    EXPECT_TRUE(logged(u"\"../escape\" is no plain file name"_s));
    EXPECT_TRUE(logged(u"legacy subscription that is no dictionary skipped"_s));
    EXPECT_TRUE(logged(u"legacy subscription without an address skipped"_s));
    EXPECT_TRUE(logged(u"\"starred\" is no list"_s));
    EXPECT_TRUE(settings.boolean(kMigratedFromLegacyKey));
    EXPECT_FALSE(settings.boolean(kMigratedWithNoErrorKey)) << "the import had errors";
}

} // namespace
