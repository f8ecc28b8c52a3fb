#pragma once

#include "feeds/refresh/fetchpool.h"

#include "base/notificationcenter.h"
#include "store/context.h"
#include "store/predicate.h"
#include "store/storemanager.h"

#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;

namespace corvane {

class Category;
class Context;
class Datasource;
class HttpFetcher;
class Record;
class RSSDatasource;

// The engine behind the bar: owns the store and its two contexts, creates
// the first-run subscriptions and keywords, adds, finds and deletes
// subscriptions, and every 3 seconds hands the subscriptions that are due to
// the fetch pool.
class DatasourceManager
{
public:
    struct Options
    {
        QString storeDirectory;  // empty: the user's store folder
        bool resetStore = false; // move the existing store aside and start empty
        bool startTimer = true;  // the 3-second refresh tick
        bool fetches = true;     // false: no subscription is ever fetched (fuzzing)
        double commitDelaySeconds = 2.0;
        double trimIntervalSeconds = 3600.0;
        ConnectionReads backgroundReads = ConnectionReads::ThroughMap; // see StoreManager::Options
    };

    // The process's manager, created on first request with the default options.
    static DatasourceManager &sharedInstance();
    static DatasourceManager *existingInstance();

    // Main thread. The manager made first becomes the shared instance while it lives.
    explicit DatasourceManager(const Options &options);
    ~DatasourceManager();
    DatasourceManager(const DatasourceManager &) = delete;
    DatasourceManager &operator=(const DatasourceManager &) = delete;

    // False when the store could not be opened: then nothing but
    // openErrorText() may be used.
    bool isOpen() const { return m_stores->isOpen(); }
    // "cannot open the store at PATH: REASON"
    QString openErrorText() const;
    StoreManager &stores() { return *m_stores; }
    Context *contextMain() const;
    Context *contextBackground() const;
    FetchPool &fetchPool() { return *m_pool; }
    HttpFetcher &fetcher();

    // Scheduling.
    void update();
    bool updateNeeded();
    void didWake();
    void clearCaches();
    // Blocks until the refreshes started so far have stored their results (tests, shutdown).
    void waitForRefreshes();

    // Subscriptions (the list itself: subscriptionlist.h). Adding answers
    // none for an address that is no feed address (isSubscribableAddress:
    // web and Twitter forms only).
    RSSDatasource *addFeedWithURL(const QString &url, const std::function<void(RSSDatasource *)> &then = {});
    void addFeedsFromConfigurations(const QList<QVariantMap> &configurations, Context *context);
    void deleteDatasourceOrCategory(Record *record);
    void deleteDatasourceOrCategoryNotUser(Record *record);
    RSSDatasource *dataSourceForUrl(const QString &url);
    QList<Datasource *> datasourcesForMain();
    QList<Datasource *> datasourcesForBackground();
    qint64 datasourcesCountForBackground();

    // Cloud sync. The key-value handler's first merge, made while it blocks,
    // reports whether the cloud holds any record: none ends the blocking at
    // once; some make a snapshot of the store first (on the background
    // queue), so the state before the cloud's data came in can be restored.
    // The blocking ends through the release the sync layer set.
    void setCloudItemCount(bool cloudHasRecords);
    void setCloudBlockingRelease(std::function<void()> release);

    bool isFiltered() const { return m_filterPredicate.has_value(); }
    const std::optional<Predicate> &filterPredicate() const { return m_filterPredicate; }

    // Where the import of the earlier data format plugs in; runs on the
    // background queue before the first-run test.
    static std::function<void(Context *background)> &legacyImport();

private:
    void initialise();
    void runRound();
    void resetRunFlagsOfMainContext();
    bool startRefresh(RSSDatasource *datasource);

    Options m_options;
    std::shared_ptr<StoreManager> m_stores;
    std::unique_ptr<FetchPool> m_pool;
    std::unique_ptr<QTimer> m_timer;
    ScopedObserver m_wakeObserver;
    ScopedObserver m_refreshRequests;
    ScopedObserver m_networkObserver;
    std::optional<Predicate> m_filterPredicate;
    // The background context's subscriptions as the last fetch found them;
    // rounds reuse them while nothing came or went (background queue only).
    QList<ObjectID> m_backgroundDatasourceIds;
    std::optional<Context::MembershipStamp> m_backgroundDatasourceStamp;
    std::mutex m_cloudLock;
    std::function<void()> m_cloudBlockingRelease;
};

} // namespace corvane
