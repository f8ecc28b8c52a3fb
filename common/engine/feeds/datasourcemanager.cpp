#include "datasourcemanager.h"

#include "net/httpfetch.h"
#include "legacyimport.h"
#include "opmlhandler.h"
#include "refreshschedule.h"
#include "rssparser.h"

#include "base/clock.h"
#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/urltext.h"
#include "platform/reachability.h"
#include "platform/systemwake.h"
#include "store/applifetimepropertymanager.h"
#include "store/category.h"
#include "store/commonimage.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/objectstore.h"
#include "store/query.h"
#include "store/storehooks.h"

#include <QDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace corvane {
namespace {

const QString kDefaultFeedsAlreadyCreated = QStringLiteral("DefaultFeedsAlreadyCreated");
const QString kMigratedFromLegacyDatastore = QStringLiteral("MigratedFromLegacyDatastore");
constexpr double kSnapshotIntervalSeconds = 12 * 3600.0;

std::atomic<DatasourceManager *> g_instance{nullptr};

// Reachability, polled once a second from the first question on.
std::mutex g_reachabilityMutex;
bool g_reachable = false;
std::once_flag g_monitorOnce;

struct DefaultFeed
{
    const char *category;
    const char *name;
    const char *url;
    const char *image;
};

const DefaultFeed kDefaultFeeds[] = {
    {"News", "USA TODAY", "http://rssfeeds.usatoday.com/usatoday-NewsTopStories", "usatoday"},
    {"Tech", "Engadget", "https://www.engadget.com/rss.xml", "engadget"},
    {"Tech", "Apple Hot News", "https://www.apple.com/main/rss/hotnews/hotnews.rss", nullptr},
    {"Sport", "ESPN", "https://www.espn.com/espn/rss/news", "espn"},
};

void setReachable(bool reachable)
{
    bool becameReachable = false;
    {
        std::lock_guard lock(g_reachabilityMutex);
        becameReachable = reachable && !g_reachable;
        g_reachable = reachable;
    }
    if (becameReachable)
        dispatch::main().async([] {
            if (DatasourceManager *manager = DatasourceManager::existingInstance())
                manager->update();
        });
}

void pollReachability()
{
    setReachable(platform::networkReachable());
    dispatch::global(dispatch::Priority::Low).after(1.0, pollReachability);
}

void resetRunFlags(const QList<Datasource *> &datasources)
{
    for (Datasource *datasource : datasources) {
        datasource->setWasDisplayed(false);
        datasource->setEverUpdatedThisRun(false);
    }
}

} // namespace

DatasourceManager &DatasourceManager::sharedInstance()
{
    if (DatasourceManager *existing = g_instance.load())
        return *existing;
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    // Never destroyed: the engine lives as long as the process.
    return *new DatasourceManager(Options{});
}

DatasourceManager *DatasourceManager::existingInstance()
{
    return g_instance.load();
}

std::function<void(Context *)> &DatasourceManager::legacyImport()
{
    static std::function<void(Context *)> import;
    return import;
}

DatasourceManager::DatasourceManager(const Options &options)
    : m_options(options)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    DatasourceManager *expected = nullptr;
    g_instance.compare_exchange_strong(expected, this);
    if (!legacyImport())
        installLegacyImport();
    initialise();
}

DatasourceManager::~DatasourceManager()
{
    m_timer.reset();
    m_wakeObserver.reset();
    waitForRefreshes();
    m_pool.reset();
    if (g_instance.load() == this) {
        StoreHooks::shared().refreshDatasource = nullptr;
        g_instance.store(nullptr);
    }
    m_stores.reset();
}

void DatasourceManager::initialise()
{
    StoreManager::Options storeOptions;
    storeOptions.directory = m_options.storeDirectory.isEmpty() ? paths::storeDir() : m_options.storeDirectory;
    storeOptions.resetStore = m_options.resetStore;
    storeOptions.commitDelaySeconds = m_options.commitDelaySeconds;
    storeOptions.trimIntervalSeconds = m_options.trimIntervalSeconds;
    m_stores = std::make_shared<StoreManager>(storeOptions);
    m_pool = std::make_unique<FetchPool>();

    StoreManager *storesForBackup = m_stores.get();
    m_stores->opmlExporter = [storesForBackup](const QString &path) {
        return OPMLHandler(*storesForBackup).exportURL(path);
    };

    if (g_instance.load() == this)
        StoreHooks::shared().refreshDatasource = [](RSSDatasource *datasource) {
            DatasourceManager *manager = existingInstance();
            return manager ? manager->startRefresh(datasource) : false;
        };

    Context *background = contextBackground();
    background->performBlockConfined([background] {
        if (!Settings::shared().boolean(kMigratedFromLegacyDatastore) && legacyImport())
            legacyImport()(background);
    });
    // The legacy import reads its item files from the caches folder, so the
    // folder is emptied after it, on the same queue.
    background->performBlockConfined([this] { clearCaches(); });

    if (m_options.startTimer) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(3000);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] { update(); });
        m_timer->start();
    }

    StoreManager *stores = m_stores.get();
    background->performBlockConfined([background, stores] {
        if (shouldCreateDefaultDatasourcesFromContext(background)) {
            createDefaultDatasourcesFromContext(background);
            createDefaultKeywordsFromContext(background);
            return;
        }
        stores->createDbSnapshotFromContextIfNecessary(background);
    });
    if (m_options.startTimer) {
        std::weak_ptr<StoreManager> weakStores = m_stores;
        std::function<void()> *snapshotTick = new std::function<void()>;
        *snapshotTick = [weakStores, snapshotTick] {
            std::shared_ptr<StoreManager> alive = weakStores.lock();
            if (!alive) {
                delete snapshotTick;
                return;
            }
            alive->createDbSnapshotFromContextIfNecessary(alive->contextBackground());
            alive->queue().after(kSnapshotIntervalSeconds, *snapshotTick);
        };
        m_stores->queue().after(kSnapshotIntervalSeconds, *snapshotTick);
    }

    platform::startWatchingSystemWake();
    m_wakeObserver = ScopedObserver(NotificationCenter::defaultCenter(), platform::kSystemDidWakeNotification,
                                    nullptr, [this](const Notification &) {
                                        dispatch::main().async([this] { didWake(); });
                                    });
}

Context *DatasourceManager::contextMain() const
{
    return m_stores->contextMain();
}

Context *DatasourceManager::contextBackground() const
{
    return m_stores->contextBackground();
}

HttpFetcher &DatasourceManager::fetcher()
{
    return HttpFetcher::shared();
}

void DatasourceManager::startReachabilityMonitor()
{
    std::call_once(g_monitorOnce, [] {
        // The first answer comes at once, so a reachable machine starts refreshing on the first tick.
        setReachable(platform::networkReachable());
        dispatch::global(dispatch::Priority::Low).after(1.0, pollReachability);
    });
}

bool DatasourceManager::internetAvailable()
{
    startReachabilityMonitor();
    std::lock_guard lock(g_reachabilityMutex);
    return g_reachable;
}

void DatasourceManager::internetMightBeUnavailable()
{
    std::lock_guard lock(g_reachabilityMutex);
    g_reachable = false;
}

void DatasourceManager::update()
{
    if (!internetAvailable())
        return;
    contextBackground()->performBlockConfined([this] { runRound(); });
}

void DatasourceManager::runRound()
{
    const double last = refreshschedule::lastUpdateSince1970();
    QList<Datasource *> datasources = datasourcesForBackground();
    // After an hour without any successful refresh every subscription is due
    // again. The run flags live in the process-wide table, so resetting them
    // here is seen by the main context too.
    if (last > 0 && currentDate() - last > 3600.0)
        resetRunFlags(datasources);

    std::stable_sort(datasources.begin(), datasources.end(), [](Datasource *a, Datasource *b) {
        const bool aVisible = a->currentlyVisible();
        const bool bVisible = b->currentlyVisible();
        if (aVisible != bVisible)
            return aVisible;
        const OptionalDate aDate = a->lastUpdateDate();
        const OptionalDate bDate = b->lastUpdateDate();
        if (!aDate || !bDate)
            return !aDate && bDate;
        return *aDate < *bDate;
    });
    for (Datasource *datasource : std::as_const(datasources)) {
        if (datasource->enabled() && !datasource->updateData())
            break;
    }
}

bool DatasourceManager::updateNeeded()
{
    bool needed = false;
    Context *background = contextBackground();
    background->performBlockConfinedAndWait([&] {
        for (Datasource *datasource : datasourcesForContext(background))
            if (datasource->enabled() && refreshschedule::updateNeeded(*datasource)) {
                needed = true;
                break;
            }
    });
    return needed;
}

bool DatasourceManager::startRefresh(RSSDatasource *datasource)
{
    CORVANE_ASSERT(!dispatch::isMainThread(), "this shouldn't be the main thread!");
    // Without a free slot the feed stays due for a later tick, as a refused submission would leave it.
    if (!m_pool->hasFreeSlot() || datasource->isRunning() || !refreshschedule::updateNeeded(*datasource))
        return true;
    datasource->setRunning(true);
    const QString uri = datasource->context()->store().uriForID(datasource->objectID());
    auto parser = std::make_shared<RSSParser>(*datasource, m_stores, fetcher());
    auto work = [parser, uri] {
        AppLifetimePropertyManager &flags = AppLifetimePropertyManager::shared();
        if (Datasource::isBeingDeleted(uri))
            return;
        flags.setValue(uri, QStringLiteral("fetching"), true);
        parser->update();
        flags.setValue(uri, QStringLiteral("fetching"), false);
    };
    auto completion = [uri] { AppLifetimePropertyManager::shared().setValue(uri, QStringLiteral("running"), false); };
    m_pool->submit(std::move(work), std::move(completion), datasourcesCountForBackground());
    return true;
}

void DatasourceManager::waitForRefreshes()
{
    CORVANE_ASSERT(!contextBackground() || !contextBackground()->queue().isCurrent(),
                   "waiting for refreshes from the background queue");
    if (!m_stores)
        return;
    // A round may still be handing subscriptions to the pool.
    m_stores->queue().drain();
    if (m_pool)
        m_pool->waitUntilIdle();
    m_stores->queue().drain();
    m_stores->waitForPendingCommit();
}

void DatasourceManager::resetRunFlagsOfMainContext()
{
    resetRunFlags(datasourcesForMain());
}

void DatasourceManager::didWake()
{
    dispatch::main().async([this] { resetRunFlagsOfMainContext(); });
}

void DatasourceManager::clearCaches()
{
    // Everything in the caches folder goes except the HTTP cache, which is
    // what lets icons and home pages come from the cache across restarts.
    QDir caches(paths::cachesDir());
    const QFileInfoList entries = caches.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir()) {
            if (entry.fileName() != u"http")
                QDir(entry.absoluteFilePath()).removeRecursively();
        } else {
            QFile::remove(entry.absoluteFilePath());
        }
    }
}

RSSDatasource *DatasourceManager::addFeedWithURL(const QString &url, const std::function<void(RSSDatasource *)> &then)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    Context *main = contextMain();
    RSSDatasource *datasource = addFeedWithURL(url, main);
    if (!datasource)
        return nullptr;
    if (then)
        then(datasource);
    StoreManager::saveFromContext(main);
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
    return datasource;
}

RSSDatasource *DatasourceManager::addFeedWithURL(const QString &url, Context *context, Category *category)
{
    if (!isSubscribableAddress(url))
        return nullptr;
    const QList<Datasource *> candidates = category ? category->datasources() : datasourcesForContext(context);
    const std::optional<QUrl> wanted = feedURL(url);
    double highest = 0;
    for (Datasource *candidate : candidates) {
        highest = std::max(highest, candidate->position());
        const bool same = wanted ? feedURL(candidate->url()) == wanted : candidate->url() == url;
        if (same)
            if (auto *feed = dynamic_cast<RSSDatasource *>(candidate))
                return feed;
    }
    return insertFeed(url, context, category, highest + 1);
}

RSSDatasource *DatasourceManager::insertFeed(const QString &url, Context *context, Category *category, double position)
{
    Datasource::ExplicitPositionScope positioned;
    auto *datasource = context->insert<RSSDatasource>();
    datasource->setUrl(url);
    datasource->setEnabled(true);
    datasource->setPosition(position);
    datasource->setCategory(category);
    return datasource;
}

void DatasourceManager::addFeedsFromConfigurations(const QList<QVariantMap> &configurations, Context *context)
{
    for (const QVariantMap &configuration : configurations) {
        auto *datasource = context->insert<RSSDatasource>();
        datasource->updateWithConfiguration(configuration);
    }
    StoreManager::saveFromContext(context);
}

void DatasourceManager::deleteDatasourceOrCategory(Record *record)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    if (!record)
        return;
    if (auto *datasource = dynamic_cast<Datasource *>(record))
        datasource->deleteObjectByUser();
    else if (auto *category = dynamic_cast<Category *>(record))
        category->deleteObjectByUser();
    else
        record->context()->deleteObject(record);
    StoreManager::saveFromContext(contextMain());
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
}

void DatasourceManager::deleteDatasourceOrCategoryNotUser(Record *record)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    if (!record)
        return;
    if (const auto &report = StoreHooks::shared().reportCloudDeletion)
        report(record);
    contextMain()->deleteObject(record);
    StoreManager::saveFromContext(contextMain());
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
}

RSSDatasource *DatasourceManager::dataSourceForUrl(const QString &url)
{
    CORVANE_ASSERT(contextBackground()->queue().isCurrent(), "should be called from background queue!");
    for (Datasource *datasource : datasourcesForContext(contextBackground()))
        if (datasource->url() == url)
            if (auto *feed = dynamic_cast<RSSDatasource *>(datasource))
                return feed;
    return nullptr;
}

QList<Datasource *> DatasourceManager::datasourcesForMain()
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    return datasourcesForContext(contextMain());
}

QList<Datasource *> DatasourceManager::datasourcesForBackground()
{
    CORVANE_ASSERT(contextBackground()->queue().isCurrent(), "should be called from background queue!");
    return datasourcesForContext(contextBackground());
}

QList<Datasource *> DatasourceManager::datasourcesForContext(Context *context)
{
    Query query{Entity::Datasource, Predicate(), {{QStringLiteral("position"), true}}};
    return context->fetchAs<Datasource>(query);
}

qint64 DatasourceManager::datasourcesCountForBackground()
{
    CORVANE_ASSERT(contextBackground()->queue().isCurrent(), "should be called from background queue!");
    return contextBackground()->count(Query{Entity::Datasource, Predicate(), {}});
}

QStringList DatasourceManager::defaultSourceUrls()
{
    QStringList urls;
    for (const DefaultFeed &feed : kDefaultFeeds)
        urls.append(QString::fromLatin1(feed.url));
    return urls;
}

QStringList DatasourceManager::defaultCategoryNames()
{
    return Category::defaultNames();
}

bool DatasourceManager::shouldCreateDefaultDatasourcesFromContext(Context *context)
{
    Settings &settings = Settings::shared();
    if (settings.boolean(kDefaultFeedsAlreadyCreated))
        return false;
    const qint64 count = context->count(Query{Entity::Datasource, Predicate(), {}});
    settings.setValue(kDefaultFeedsAlreadyCreated, true);
    return count == 0;
}

void DatasourceManager::createDefaultDatasourcesFromContext(Context *context)
{
    QHash<QString, Category *> categories;
    double categoryPosition = 0;
    for (const QString &name : Category::defaultNames()) {
        auto *category = context->insert<Category>();
        category->setName(name);
        category->setPosition(++categoryPosition);
        category->setUuid(Category::uuidForDefaultName(name));
        category->setClock(Clock::defaultPast());
        categories.insert(name, category);
    }
    double position = 0;
    for (const DefaultFeed &feed : kDefaultFeeds) {
        auto *datasource = context->insert<RSSDatasource>();
        const QString name = QString::fromLatin1(feed.name);
        datasource->setUrl(QString::fromLatin1(feed.url));
        datasource->setName(name);
        datasource->setCustomName(name);
        datasource->setEnabled(true);
        datasource->setPosition(++position);
        datasource->setCategory(categories.value(QString::fromLatin1(feed.category)));
        if (feed.image)
            if (const auto image = CommonImage::imageNamed(QString::fromLatin1(feed.image)))
                datasource->setImageData(image->archive());
        datasource->setClock(Clock::defaultPast());
    }
    StoreManager::saveFromContext(context);
    dispatch::main().async([] { NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification); });
}

bool DatasourceManager::insertKeywords(const QStringList &names, Context *context, bool clear)
{
    return KeywordHelper::insertKeywords(names, context, clear);
}

bool DatasourceManager::createDefaultKeywordsFromContext(Context *context)
{
    return KeywordHelper::createDefaultKeywordsFromContext(context);
}

} // namespace corvane
