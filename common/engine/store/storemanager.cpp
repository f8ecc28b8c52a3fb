#include "storemanager.h"

#include "category.h"
#include "context.h"
#include "contextmanager.h"
#include "dataitem.h"
#include "datasource.h"
#include "keyword.h"
#include "objectstore.h"
#include "trimming.h"

#include "base/clock.h"
#include "base/corvaneassert.h"
#include "base/log.h"
#include "base/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvane {

const QString kObjectsUpdatedNotification = QStringLiteral("NotificationObjectsUpdated");
const QString kKeywordsChangedNotification = QStringLiteral("NotificationKeywordsChanged");
const QString kKeywordChangeFromCloudNotification = QStringLiteral("NotificationKeywordChangeFromCloud");

namespace {

const QString kOldStoreFileName = QStringLiteral("Corvane.db");
const QString kStoreBaseName = QStringLiteral("Corvane-v3");
constexpr int kBackupsKept = 10;
constexpr int kPageSize = 100;

SaveInfo saveInfoOf(const Notification &notification)
{
    return notification.userInfo.value(QStringLiteral("info")).value<SaveInfo>();
}

QVariant recordList(const QList<Record *> &records)
{
    return QVariant::fromValue(records);
}

// Copies an old-format store to the current path; the schema is brought up
// to date when the store opens.
bool copyOldStore(const QString &from, const QString &to)
{
    SqliteDatabase old;
    if (!old.open(from))
        return false;
    QString error;
    if (!old.backupTo(to, &error)) {
        logLine(QStringLiteral("error migrating store: %1").arg(error));
        QFile::remove(to);
        return false;
    }
    return true;
}

} // namespace

StoreManager::StoreManager(const Options &options)
    : m_options(options)
    , m_directory(options.directory)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    const QString oldStore = QDir(m_directory).filePath(kOldStoreFileName);
    const QString currentStore = QDir(m_directory).filePath(ObjectStore::kStoreFileName);
    if (QFile::exists(oldStore) && !QFile::exists(currentStore) && !options.resetStore)
        m_migrated = copyOldStore(oldStore, currentStore);

    m_store = ObjectStore::open(m_directory, {options.resetStore}, &m_openError);
    if (!m_store)
        return;
    openContexts();
    if (m_migrated)
        cleanSnapshotAtUrl(oldStore);
}

StoreManager::~StoreManager()
{
    waitForPendingCommit();
    m_alive.reset();
    m_saves.reset();
    if (m_background)
        m_queue->sync([this] { m_background.reset(); });
    m_main.reset();
}

void StoreManager::openContexts()
{
    m_main = std::make_unique<Context>(*m_store, QStringLiteral("main"));
    m_main->setQueue(&dispatch::main());

    if (m_migrated) {
        // Give migrated records their sync identifiers and stamps.
        for (Category *category : m_main->fetchAs<Category>(Query{Entity::Category}))
            category->setupUuid();
        for (Datasource *source : m_main->fetchAs<Datasource>(Query{Entity::Datasource}))
            source->setupUuid();
        for (Keyword *keyword : m_main->fetchAs<Keyword>(Query{Entity::Keyword}))
            keyword->setClock(Clock::sharedClock().currentIncreased());
        saveFromContext(m_main.get());
    }

    m_queue = std::make_unique<dispatch::SerialQueue>(QStringLiteral("org.corvane.backgrounddb"));
    m_queue->sync([this] {
        m_background = std::make_unique<Context>(*m_store, QStringLiteral("background"), m_options.backgroundReads);
        m_background->setQueue(m_queue.get());
    });
    if (m_migrated)
        m_queue->async([this] {
            purgeOutdatedItemsWithContext(m_background.get());
            migrateItems();
        });
    observeSaves();
}

Context *StoreManager::contextMain() const
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    return m_main.get();
}

Context *StoreManager::contextBackground() const
{
    return m_background.get();
}

bool StoreManager::saveFromContext(Context *context)
{
    if (!context->hasChanges())
        return true;
    QString error;
    if (context->save(&error))
        return true;
    logLine(QStringLiteral("error saving context: %1").arg(error));
    return false;
}

void StoreManager::saveFromMainThread()
{
    CORVANE_ASSERT(dispatch::isMainThread(), "must be called from main thread");
    m_queue->sync([this] { saveFromContext(m_background.get()); });
}

// Every context of this store registered with the ContextManager takes in
// the saves of the others: the main context announces them to the bar, the
// background context re-marks items after keyword changes and starts the
// first refresh of new subscriptions, any other context (a sync queue's)
// merges them plainly on its own queue.
void StoreManager::observeSaves()
{
    m_saves = ScopedObserver(NotificationCenter::defaultCenter(), kContextDidSaveNotification, nullptr,
                             [this](const Notification &n) {
                                 auto *saver = static_cast<Context *>(n.object);
                                 if (&saver->store() == m_store.get())
                                     mergeSave(saver, saveInfoOf(n));
                             });
}

// Runs on the saver's queue, right after its save.
void StoreManager::mergeSave(Context *saver, const SaveInfo &info)
{
    for (const ContextManager::Registration &other : ContextManager::shared().registrations()) {
        if (other.context == saver || &other.context->store() != m_store.get())
            continue;
        if (other.context == m_main.get())
            mergeIntoMain(saver, info);
        else if (other.context == m_background.get())
            mergeIntoBackground(saver, info);
        else
            other.queue->async([context = other.context, queue = other.queue, store = m_store.get(), info] {
                // The context may have gone away since the save.
                if (ContextManager::shared().queueForContext(context) != queue)
                    return;
                std::lock_guard guard(store->lock());
                context->mergeChanges(info);
            });
    }
    if (saver == m_background.get())
        releaseSavedItems(info);
}

void StoreManager::mergeIntoMain(Context *saver, const SaveInfo &info)
{
    // Keywords saved by the background context came from the cloud; its
    // items are re-marked once the main context has the change.
    const bool remarkBackground = saver == m_background.get() && info.touched(Entity::Keyword);
    dispatch::main().async([this, alive = std::weak_ptr<int>(m_alive), info, remarkBackground] {
        if (alive.expired())
            return;
        Context *main = m_main.get();
        QList<Record *> updated, deleted;
        for (const ObjectID &id : info.updated)
            if (Record *record = main->objectRegistered(id))
                updated.append(record);
        for (const ObjectID &id : info.deleted)
            if (Record *record = main->objectRegistered(id))
                deleted.append(record);
        {
            std::lock_guard guard(m_store->lock());
            main->mergeChanges(info);
        }
        // New records arrive as faults: the bar reads the few it shows,
        // nothing else needs their values in memory.
        const QList<Record *> inserted = main->existingObjectsAsFaults(info.inserted);
        NotificationCenter::defaultCenter().post(kObjectsUpdatedNotification, main,
                                                 {{QStringLiteral("inserted"), recordList(inserted)},
                                                  {QStringLiteral("updated"), recordList(updated)},
                                                  {QStringLiteral("deleted"), recordList(deleted)}});
        if (remarkBackground)
            m_background->performBlockConfined([this] {
                Keyword::updateMarkInContext(m_background.get());
                saveFromContext(m_background.get());
                NotificationCenter::defaultCenter().post(kKeywordChangeFromCloudNotification);
            });
    });
}

// The items a refresh stored are not needed in memory once saved (later
// refreshes find known items through the store), so they turn back into
// faults and hold only their identity until something reads them again.
void StoreManager::releaseSavedItems(const SaveInfo &info)
{
    Context *background = m_background.get();
    for (const ObjectID &id : info.inserted)
        if (id.entity == Entity::DataItem)
            if (Record *record = background->objectRegistered(id); record && !record->hasChanges())
                background->refresh(record, false);
}

void StoreManager::mergeIntoBackground(Context *saver, const SaveInfo &info)
{
    const bool fromUser = saver == m_main.get();
    const bool keywordChanged = info.touched(Entity::Keyword);
    QList<ObjectID> insertedSources;
    if (fromUser)
        for (const ObjectID &id : info.inserted)
            if (id.entity == Entity::Datasource)
                insertedSources.append(id);
    m_background->performBlockConfined([this, info, keywordChanged, fromUser, insertedSources] {
        Context *background = m_background.get();
        {
            std::lock_guard guard(m_store->lock());
            background->mergeChanges(info);
        }
        if (keywordChanged)
            Keyword::updateMarkInContext(background);
        saveFromContext(background);
        if (keywordChanged)
            NotificationCenter::defaultCenter().post(fromUser ? kKeywordsChangedNotification
                                                              : kKeywordChangeFromCloudNotification);
        for (const ObjectID &id : insertedSources)
            if (auto *source = dynamic_cast<RSSDatasource *>(background->existingObject(id)); source && source->enabled())
                source->updateData();
    });
}

void StoreManager::processChangesFromContext(Context *context)
{
    if (!context->hasChanges() || m_commitPending.exchange(true))
        return;
    {
        std::lock_guard lock(m_commitMutex);
        ++m_commitsScheduled;
    }
    dispatch::global().after(m_options.commitDelaySeconds, [this, context] {
        m_processingToken.acquire();
        context->performBlockConfinedAndWait([this, context] { runDeferredCommit(context); });
        m_processingToken.release();
        {
            std::lock_guard lock(m_commitMutex);
            --m_commitsScheduled;
        }
        m_commitsDone.notify_all();
    });
}

void StoreManager::runDeferredCommit(Context *context)
{
    m_commitPending = false;
    const Date now = currentDate();
    // The moment of the last trim is kept in the store, so that programs
    // started often (the command line's refresh) do not scan every item on
    // each start; a clock set back trims at once.
    SqliteDatabase &db = context->database();
    if (!m_lastTrim) {
        const QVariant stored = db.scalar("SELECT value FROM metadata WHERE key = 'lastTrim'");
        if (stored.isValid())
            m_lastTrim = stored.toDouble();
    }
    const bool trim = !m_lastTrim || now < *m_lastTrim || now - *m_lastTrim > m_options.trimIntervalSeconds;
    if (trim) {
        purgeOutdatedItemsWithContext(context, now);
        m_lastTrim = now;
        db.exec("INSERT OR REPLACE INTO metadata(key, value) VALUES ('lastTrim', ?)", {now});
    }
    saveFromContext(context);
    if (trim)
        context->reset();
    else
        context->releaseValues(Entity::DataItem); // the saved items are in the store now
}

void StoreManager::waitForPendingCommit()
{
    std::unique_lock lock(m_commitMutex);
    m_commitsDone.wait(lock, [this] { return m_commitsScheduled == 0; });
}

// While the user scrolls, the deferral holds the processing token, and
// gives it back 2 s after the last scroll step. A deferral that could not
// take the token (a commit was running) gives nothing back.
void StoreManager::deferProcessing()
{
    std::call_once(m_guiActionOnce, [this] {
        m_guiActionQueue = std::make_unique<dispatch::SerialQueue>(QStringLiteral("org.corvane.guiaction"));
    });
    m_guiActionQueue->async([this] {
        m_deferDeadline = currentDate() + 2.0;
        if (m_deferRunning)
            return;
        m_deferRunning = true;
        m_deferHoldsToken = m_processingToken.tryAcquire();
        std::shared_ptr<std::function<void()>> check = std::make_shared<std::function<void()>>();
        *check = [this, check] {
            const Date now = currentDate();
            if (now < m_deferDeadline) {
                m_guiActionQueue->after(m_deferDeadline - now, *check);
                return;
            }
            m_deferRunning = false;
            if (m_deferHoldsToken)
                m_processingToken.release();
            *check = nullptr; // break the cycle
        };
        m_guiActionQueue->after(2.0, *check);
    });
}

void StoreManager::migrateItems()
{
    Context *context = m_background.get();
    const qint64 stamp = Clock::sharedClock().currentIncreased();
    const Date cutOff = earliestDateForAgeLimit(int(Settings::shared().integer(QStringLiteral("ageLimit"))));
    const qint64 nowSeconds = qint64(currentDate());
    Query page{Entity::DataItem, Predicate(),
               {{QStringLiteral("orderingDate"), true}, {QStringLiteral("title"), true}}};
    page.fetchLimit = kPageSize;
    page.includesPendingChanges = false;
    for (int offset = 0;; offset += kPageSize) {
        page.fetchOffset = offset;
        const QList<DataItem *> items = context->fetchAs<DataItem>(page);
        if (items.isEmpty())
            break;
        for (DataItem *item : items) {
            item->updateHash();
            item->setClock(stamp);
            if (item->isRead() && !item->isStarred() && item->orderingDate() && *item->orderingDate() > cutOff)
                item->setReadLocalStamp(nowSeconds);
        }
        saveFromContext(context);
        context->reset();
    }
}

void StoreManager::clearAllFromContext(Context *context)
{
    for (Record *source : context->fetch(Query{Entity::Datasource}))
        context->deleteObject(source);
    for (Record *category : context->fetch(Query{Entity::Category}))
        context->deleteObject(category);
    saveFromContext(context);
}

QString StoreManager::dateStringForDay(const QDate &day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString StoreManager::snapshotPathForDay(const QDate &day) const
{
    return QDir(m_directory).filePath(kStoreBaseName + u'.' + dateStringForDay(day) + QStringLiteral(".db"));
}

QString StoreManager::opmlBackupUrlForDay(const QDate &day) const
{
    return QDir(m_directory).filePath(kStoreBaseName + u'.' + dateStringForDay(day) + QStringLiteral(".xml"));
}

QString StoreManager::opmlBackupForTodayUrl() const
{
    return opmlBackupUrlForDay(today());
}

bool StoreManager::isOpmlBackupPresentForToday() const
{
    return QFile::exists(opmlBackupForTodayUrl());
}

QStringList StoreManager::opmlBackups() const
{
    QStringList paths;
    const QDir dir(m_directory);
    for (const QString &name : dir.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Unsorted))
        paths.append(dir.filePath(name));
    return paths;
}

void StoreManager::purgeOldOpmlBackups()
{
    const QDir dir(m_directory);
    QStringList backups = dir.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    while (backups.size() > kBackupsKept)
        QFile::remove(dir.filePath(backups.takeFirst()));
    if (backups.size() < kBackupsKept)
        return;
    const QString oldestKept = QFileInfo(backups.first()).completeBaseName();
    const QString prefix = kStoreBaseName + u'.';
    const QStringList files = dir.entryList({QStringLiteral("*.xml"), QStringLiteral("*.db"), QStringLiteral("*.db-shm"),
                                             QStringLiteral("*.db-wal")},
                                            QDir::Files);
    for (const QString &name : files)
        if (name.startsWith(prefix) && name < oldestKept)
            QFile::remove(dir.filePath(name));
}

void StoreManager::createDbSnapshotFromContextIfNecessary(Context *context)
{
    if (isOpmlBackupPresentForToday())
        return;
    createDbSnapshotFromContext(context);
    exportOpml();
}

bool StoreManager::createDbSnapshotFromContext(Context *)
{
    const QString path = snapshotPathForDay(today());
    QString error;
    if (!m_store->copyTo(path, &error))
        return false;
    cleanSnapshotAtUrl(path);
    return true;
}

void StoreManager::cleanSnapshotAtUrl(const QString &path, std::function<void()> done)
{
    dispatch::global(dispatch::Priority::Low).async([path, done = std::move(done)] {
        SqliteDatabase db;
        if (!db.open(path) || !db.exec("PRAGMA foreign_keys=ON")) {
            logLine(QStringLiteral("error trimming old database: %1").arg(db.errorString()));
        } else {
            // Items go in pages, so a large snapshot never needs a large transaction.
            bool more = true;
            while (more) {
                more = db.exec("DELETE FROM item WHERE id IN (SELECT id FROM item LIMIT ?)", {kPageSize})
                       && db.scalar("SELECT EXISTS (SELECT 1 FROM item)").toBool();
            }
            if (!db.exec("PRAGMA journal_mode=DELETE") || !db.exec("VACUUM"))
                logLine(QStringLiteral("error trimming old database: %1").arg(db.errorString()));
        }
        db.close();
        if (done)
            done();
    });
}

void StoreManager::exportOpml()
{
    if (isOpmlBackupPresentForToday() || !opmlExporter)
        return;
    purgeOldOpmlBackups();
    opmlExporter(opmlBackupForTodayUrl());
}

} // namespace corvane
