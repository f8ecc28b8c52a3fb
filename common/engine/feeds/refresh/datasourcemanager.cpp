#include "feeds/refresh/datasourcemanager.h"

#include "feeds/legacy/legacyimport.h"
#include "feeds/refresh/networkstate.h"
#include "feeds/subscriptions/opmlhandler.h"
#include "feeds/refresh/refreshschedule.h"
#include "feeds/refresh/rssparser.h"
#include "feeds/subscriptions/subscriptionlist.h"

#include "base/clock.h"
#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "net/httpfetch.h"
#include "platform/systemwake.h"
#include "store/applifetimepropertymanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/objectstore.h"
#include "store/query.h"
#include "store/recordevents.h"

#include <QDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace corvane {
namespace {

const QString kMigratedFromLegacyDatastore = QStringLiteral("MigratedFromLegacyDatastore");
constexpr double kSnapshotIntervalSeconds = 12 * 3600.0;

std::atomic<DatasourceManager *> g_instance{nullptr};

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
        legacyImport() = importLegacyDatastore;
    initialise();
}

DatasourceManager::~DatasourceManager()
{
    m_timer.reset();
    m_wakeObserver.reset();
    m_refreshRequests.reset();
    m_networkObserver.reset();
    waitForRefreshes();
    m_pool.reset();
    if (g_instance.load() == this)
        g_instance.store(nullptr);
    m_stores.reset();
}

void DatasourceManager::initialise()
{
    StoreManager::Options storeOptions;
    storeOptions.directory = m_options.storeDirectory.isEmpty() ? paths::storeDir() : m_options.storeDirectory;
    storeOptions.resetStore = m_options.resetStore;
    storeOptions.commitDelaySeconds = m_options.commitDelaySeconds;
    storeOptions.trimIntervalSeconds = m_options.trimIntervalSeconds;
    storeOptions.backgroundReads = m_options.backgroundReads;
    m_stores = std::make_shared<StoreManager>(storeOptions);
    m_pool = std::make_unique<FetchPool>();
    if (!m_stores->isOpen())
        return;

    StoreManager *storesForBackup = m_stores.get();
    m_stores->opmlExporter = [storesForBackup](const QString &path) {
        return OPMLHandler(*storesForBackup).exportURL(path);
    };

    // Subscriptions of this manager's store ask for their refresh on their
    // context's queue; the request is answered there.
    const ObjectStore *store = &m_stores->store();
    // The shared manager refreshes as soon as the network comes back.
    m_networkObserver = ScopedObserver(NotificationCenter::defaultCenter(), networkstate::kNetworkBecameReachableNotification,
                                       nullptr, [this](const Notification &) {
                                           if (g_instance.load() == this)
                                               update();
                                       });
    if (m_options.fetches)
        m_refreshRequests = ScopedObserver(NotificationCenter::defaultCenter(), kRefreshRequestedNotification, nullptr,
                                       [this, store](const Notification &notification) {
                                           auto *datasource = static_cast<RSSDatasource *>(notification.object);
                                           if (&datasource->context()->store() == store)
                                               startRefresh(datasource);
                                       });

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
        if (subscriptionlist::shouldCreateDefaultDatasourcesFromContext(background)) {
            subscriptionlist::createDefaultDatasourcesFromContext(background);
            KeywordHelper::createDefaultKeywordsFromContext(background);
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

QString DatasourceManager::openErrorText() const
{
    return QStringLiteral("cannot open the store at %1: %2").arg(m_stores->directory(), m_stores->openError());
}

Context *DatasourceManager::contextMain() const
{
    return m_stores->contextMain();
}

Context *DatasourceManager::contextBackground() const
{
    return m_stores->contextBackground();
}

void DatasourceManager::setCloudBlockingRelease(std::function<void()> release)
{
    std::lock_guard lock(m_cloudLock);
    m_cloudBlockingRelease = std::move(release);
}

void DatasourceManager::setCloudItemCount(bool cloudHasRecords)
{
    std::function<void()> release;
    {
        std::lock_guard lock(m_cloudLock);
        release = m_cloudBlockingRelease;
    }
    if (!cloudHasRecords) {
        if (release)
            release();
        return;
    }
    std::weak_ptr<StoreManager> weakStores = m_stores;
    dispatch::main().async([weakStores, release] {
        std::shared_ptr<StoreManager> stores = weakStores.lock();
        if (!stores)
            return;
        Context *background = stores->contextBackground();
        background->performBlockConfined([stores, background, release] {
            stores->createDbSnapshotFromContext(background);
            if (release)
                release();
        });
    });
}

HttpFetcher &DatasourceManager::fetcher()
{
    return HttpFetcher::shared();
}

void DatasourceManager::update()
{
    if (!networkstate::internetAvailable())
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

    // Visible subscriptions first, then the least recently updated (never
    // updated before any). The keys are read once per subscription, not once
    // per comparison: a round runs every tick over every subscription.
    struct Due
    {
        bool visible;
        OptionalDate lastUpdate;
        Datasource *datasource;
    };
    std::vector<Due> order;
    order.reserve(size_t(datasources.size()));
    for (Datasource *datasource : std::as_const(datasources))
        order.push_back({datasource->currentlyVisible(), datasource->lastUpdateDate(), datasource});
    std::stable_sort(order.begin(), order.end(), [](const Due &a, const Due &b) {
        if (a.visible != b.visible)
            return a.visible;
        if (!a.lastUpdate || !b.lastUpdate)
            return !a.lastUpdate && b.lastUpdate;
        return *a.lastUpdate < *b.lastUpdate;
    });
    for (const Due &due : order) {
        // A full pool takes no more this round; the rest stay due.
        if (m_pool && !m_pool->hasFreeSlot())
            break;
        if (due.datasource->enabled() && !due.datasource->updateData())
            break;
    }
}

bool DatasourceManager::updateNeeded()
{
    bool needed = false;
    Context *background = contextBackground();
    background->performBlockConfinedAndWait([&] {
        for (Datasource *datasource : subscriptionlist::datasourcesForContext(background))
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
    if (!m_stores || !m_stores->isOpen())
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
    RSSDatasource *datasource = subscriptionlist::addFeedWithURL(url, main);
    if (!datasource)
        return nullptr;
    if (then)
        then(datasource);
    StoreManager::saveFromContext(main);
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
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
    SyncDeletion::post(record, false);
    contextMain()->deleteObject(record);
    StoreManager::saveFromContext(contextMain());
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
}

RSSDatasource *DatasourceManager::dataSourceForUrl(const QString &url)
{
    CORVANE_ASSERT(contextBackground()->queue().isCurrent(), "should be called from background queue!");
    for (Datasource *datasource : subscriptionlist::datasourcesForContext(contextBackground()))
        if (datasource->url() == url)
            if (auto *feed = dynamic_cast<RSSDatasource *>(datasource))
                return feed;
    return nullptr;
}

QList<Datasource *> DatasourceManager::datasourcesForMain()
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    return subscriptionlist::datasourcesForContext(contextMain());
}

QList<Datasource *> DatasourceManager::datasourcesForBackground()
{
    Context *background = contextBackground();
    CORVANE_ASSERT(background->queue().isCurrent(), "should be called from background queue!");
    // Every 3-second round walks all subscriptions: while none came or went,
    // their records are taken from the context instead of the store file.
    const Context::MembershipStamp stamp = background->membershipStamp(Entity::Datasource);
    if (stamp != m_backgroundDatasourceStamp) {
        const QList<Datasource *> fetched = subscriptionlist::datasourcesForContext(background);
        m_backgroundDatasourceIds.clear();
        for (const Datasource *datasource : fetched)
            m_backgroundDatasourceIds.append(datasource->objectID());
        m_backgroundDatasourceStamp = stamp;
        return fetched;
    }
    QList<Datasource *> datasources;
    datasources.reserve(m_backgroundDatasourceIds.size());
    for (const ObjectID &id : std::as_const(m_backgroundDatasourceIds))
        if (auto *datasource = static_cast<Datasource *>(background->existingObject(id)))
            datasources.append(datasource);
    // Positions may have changed since the fetch; its order was by position.
    std::stable_sort(datasources.begin(), datasources.end(),
                     [](const Datasource *a, const Datasource *b) { return a->position() < b->position(); });
    return datasources;
}

qint64 DatasourceManager::datasourcesCountForBackground()
{
    Context *background = contextBackground();
    CORVANE_ASSERT(background->queue().isCurrent(), "should be called from background queue!");
    if (background->membershipStamp(Entity::Datasource) == m_backgroundDatasourceStamp)
        return m_backgroundDatasourceIds.size();
    return background->count(Query{Entity::Datasource, Predicate(), {}});
}

} // namespace corvane
