#include "sync/keyvaluehandler.h"

#include "sync/keyvalueentries.h"
#include "sync/keyvaluemerge.h"
#include "sync/keyvaluestore.h"

#include "base/clock.h"
#include "base/digest.h"
#include "base/log.h"
#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/recordevents.h"
#include "store/storemanager.h"

#include <mutex>

namespace corvane::sync {

const QString kItemsChangedFromCloudNotification = QStringLiteral("NotificationItemsChangedFromCloud");

namespace {

const QString kDeletedStampsKey = QStringLiteral("DeletedCloudItemStamps");

// The deletion memory is read and written from the handler's queue and from
// callers' threads; the lock keeps read-modify-write steps whole.
std::mutex &deletedStampsLock()
{
    static std::mutex lock;
    return lock;
}

QVariantMap readStamps()
{
    return Settings::shared().value(kDeletedStampsKey).toMap();
}

void writeStamps(const QVariantMap &stamps)
{
    Settings::shared().setValue(kDeletedStampsKey, stamps);
}

std::atomic<KeyValueHandler *> g_handler{nullptr};

} // namespace

KeyValueHandler *KeyValueHandler::shared()
{
    static std::once_flag once;
    std::call_once(once, [] {
        auto *handler = new KeyValueHandler;
        g_handler.store(handler);
        handler->setup();
    });
    return g_handler.load();
}

KeyValueHandler *KeyValueHandler::existing()
{
    return g_handler.load();
}

KeyValueHandler::KeyValueHandler()
    : m_queue(std::make_unique<dispatch::SerialQueue>(QStringLiteral("corvane.keyvaluesync")))
{
    const double retry = Settings::shared().real(QStringLiteral("CloudRetrySeconds"));
    if (retry > 0)
        m_retrySeconds = retry;
}

KeyValueHandler::~KeyValueHandler() = default;

void KeyValueHandler::setup()
{
    m_store = &KeyValueStore::defaultStore();
    m_failing = true;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_observers.emplace_back(center, kContextDidSaveNotification, nullptr, [this](const Notification &n) {
        contextDidSave(n.objectAs<Context>(), n.userInfo.value(QStringLiteral("info")).value<SaveInfo>());
    });
    m_observers.emplace_back(center, kStoreChangedExternallyNotification, m_store, [this](const Notification &) {
        m_queue->async([this] { handleRemoteChanges(); });
    });
    m_observers.emplace_back(center, kItemPropertiesChangedNotification, nullptr, [this](const Notification &n) {
        itemPropertiesChanged(n.objectAs<DataItem>());
    });
    m_observers.emplace_back(center, kSyncDeletionNotification, nullptr, [this](const Notification &n) {
        deleteByUser(n.userInfo.value(QStringLiteral("deletion")).value<SyncDeletion>());
    });
}

void KeyValueHandler::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled) {
        startSync();
        return;
    }
    std::lock_guard lock(deletedStampsLock());
    Settings::shared().removeValue(kDeletedStampsKey);
}

void KeyValueHandler::startSync()
{
    m_queue->async([this] {
        if (!enabled())
            return;
        if (m_store->synchronize()) {
            m_failing = false;
            uploadLocalInitially();
            return;
        }
        logLine(QStringLiteral("failed synchronizing with store"));
        m_failing = true;
        dispatch::main().after(m_retrySeconds.load(), [this] { startSync(); });
    });
}

void KeyValueHandler::setBlocking(bool blocking)
{
    // The value goes in first, so the merge queued below finds it cleared.
    m_blocking = blocking;
    if (!blocking)
        m_queue->async([this] { uploadLocalInitially(); });
}

bool KeyValueHandler::writing() const
{
    return enabled() && !failing() && !blocking();
}

// ---------------------------------------------------------------------------
// The deletion memory.

qint64 KeyValueHandler::storeDeletedStateForKey(const QString &key)
{
    std::lock_guard lock(deletedStampsLock());
    QVariantMap stamps = readStamps();
    if (stamps.contains(key))
        return stamps.value(key).toLongLong();
    const qint64 stamp = Clock::sharedClock().currentIncreased();
    stamps.insert(key, stamp);
    writeStamps(stamps);
    return stamp;
}

void KeyValueHandler::storeDeletedStateForKey(const QString &key, qint64 stamp)
{
    std::lock_guard lock(deletedStampsLock());
    QVariantMap stamps = readStamps();
    if (stamps.contains(key))
        return;
    stamps.insert(key, stamp);
    writeStamps(stamps);
}

void KeyValueHandler::undeleteKey(const QString &key)
{
    std::lock_guard lock(deletedStampsLock());
    QVariantMap stamps = readStamps();
    if (stamps.remove(key) > 0)
        writeStamps(stamps);
}

QHash<QString, qint64> KeyValueHandler::deletedStamps()
{
    std::lock_guard lock(deletedStampsLock());
    QHash<QString, qint64> result;
    const QVariantMap stamps = readStamps();
    for (auto it = stamps.cbegin(); it != stamps.cend(); ++it)
        result.insert(it.key(), it.value().toLongLong());
    return result;
}

void KeyValueHandler::deleteCategoriesWithNames(const QStringList &names, const QStringList &feedUrls)
{
    for (const QString &name : names)
        storeDeletedStateForKey(entries::keyForCategoryUuid(MD5(name)));
    for (const QString &url : feedUrls)
        storeDeletedStateForKey(entries::keyForDatasourceUuid(MD5(url)));
}

// ---------------------------------------------------------------------------
// Local changes.

void KeyValueHandler::deleteByUser(const SyncDeletion &deletion)
{
    QString key;
    switch (deletion.entity) {
    case Entity::Category:
        if (!deletion.uuid.isEmpty())
            key = entries::keyForCategoryUuid(deletion.uuid);
        else if (Category::defaultNames().contains(deletion.name))
            key = entries::keyForCategoryUuid(Category::uuidForDefaultName(deletion.name));
        break;
    case Entity::Datasource:
        if (!deletion.uuid.isEmpty())
            key = entries::keyForDatasourceUuid(deletion.uuid);
        else if (!deletion.url.isEmpty())
            key = entries::keyForDatasourceUuid(Datasource::uuidForUrl(deletion.url));
        break;
    case Entity::Keyword:
        if (!deletion.name.isEmpty())
            key = entries::kKeywordPrefix + deletion.name;
        break;
    case Entity::DataItem:
        break;
    }
    if (key.isEmpty())
        return;
    m_queue->async([this, key] { doDeleteKey(key, storeDeletedStateForKey(key)); });
}

void KeyValueHandler::doDeleteKey(const QString &key, qint64 stamp)
{
    if (writing())
        setDictionary(record::deletion(stamp), key);
}

void KeyValueHandler::setDictionary(const KeyValueRecord &entry, const QString &key)
{
    m_store->setDictionaryIf(
        [&](const std::optional<KeyValueRecord> &held) -> std::optional<KeyValueRecord> {
            if (!record::isNewer(entry, held) || (held && record::equal(*held, entry)))
                return std::nullopt;
            if (!record::isDeletion(entry))
                undeleteKey(key);
            return entry;
        },
        key);
}

void KeyValueHandler::contextDidSave(Context *context, const SaveInfo &info)
{
    if (!writing() || !context)
        return;
    DatasourceManager *manager = engine();
    if (!manager)
        return;
    // The main context saves on the main thread, the background one on its queue.
    if (context != manager->contextBackground() && !(dispatch::isMainThread() && context == manager->contextMain()))
        return;
    const auto visit = [&](const QList<ObjectID> &ids, Entity entity, bool starredOnly) {
        for (const ObjectID &id : ids) {
            if (id.entity != entity)
                continue;
            Record *record = context->objectRegistered(id);
            if (!record || record->isDeleted())
                continue;
            if (starredOnly && !static_cast<DataItem *>(record)->isStarred())
                continue;
            std::optional<std::pair<QString, KeyValueRecord>> keyed = entries::keyAndEntry(record);
            if (!keyed)
                continue;
            const bool unstarredItem = entity == Entity::DataItem
                                       && !keyed->second.value(QStringLiteral("starred")).toBool();
            m_queue->async([this, key = keyed->first, entry = keyed->second, unstarredItem] {
                const std::optional<KeyValueRecord> held = m_store->dictionaryForKey(key);
                if (unstarredItem && !held)
                    return;
                if (held && record::equal(*held, entry))
                    return;
                setDictionary(entry, key);
            });
        }
    };
    for (Entity entity : {Entity::Category, Entity::Datasource, Entity::Keyword}) {
        visit(info.inserted, entity, false);
        visit(info.updated, entity, false);
    }
    visit(info.updated, Entity::DataItem, false);
    // Items saved starred when they are first saved (fetched items never
    // are, but items made by other syncs can be) would otherwise go out
    // only with the next first merge.
    visit(info.inserted, Entity::DataItem, true);
}

void KeyValueHandler::itemPropertiesChanged(DataItem *item)
{
    if (!item || !writing())
        return;
    const QString key = entries::keyForDataItem(item);
    const bool starred = item->isStarred();
    const KeyValueRecord entry = entries::entryForDataItem(item);
    m_queue->async([this, key, starred, entry] {
        m_store->setDictionaryIf(
            [&](const std::optional<KeyValueRecord> &held) -> std::optional<KeyValueRecord> {
                const bool heldStarred = held && held->value(QStringLiteral("starred")).toBool();
                // Only a newer local star state goes in: an older one would
                // undo a change another machine made later.
                if (heldStarred == starred || !record::isNewer(entry, held))
                    return std::nullopt;
                return entry;
            },
            key);
    });
}

// ---------------------------------------------------------------------------
// Cloud records.

void KeyValueHandler::handleRemoteChanges()
{
    if (!enabled())
        return;
    if (blocking()) {
        uploadLocalInitially();
        return;
    }
    if (failing()) {
        if (!m_store->synchronize()) {
            logLine(QStringLiteral("icloud still failing"));
            m_queue->after(m_retrySeconds.load(), [this] { handleRemoteChanges(); });
            return;
        }
        m_failing = false;
        uploadLocalInitially();
    }
    applyPass(m_store->dictionaryRepresentation());
}

void KeyValueHandler::applyPass(const KeyValueDictionary &dictionary)
{
    DatasourceManager *manager = engine();
    if (!manager)
        return;
    Context *background = manager->contextBackground();
    StoreManager *stores = &manager->stores();
    background->performBlockConfined([this, background, stores, dictionary] {
        KeyValueMerge merge(background, [this](const QString &key, const KeyValueRecord &entry) {
            m_queue->async([this, key, entry] { setDictionary(entry, key); });
        });
        merge.fetchLocal(dictionary.keys());
        merge.handleItems(dictionary);
        if (!background->hasChanges())
            return;
        const bool keywordsChanged = merge.keywordsChanged();
        stores->processChangesFromContext(background);
        // The events follow the commit, once the main context has the changes.
        m_queue->async([stores, keywordsChanged] {
            stores->waitForPendingCommit();
            if (keywordsChanged)
                NotificationCenter::defaultCenter().post(kKeywordChangeFromCloudNotification);
            dispatch::main().async([] {
                NotificationCenter::defaultCenter().post(kItemsChangedFromCloudNotification);
                NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
            });
        });
    });
}

void KeyValueHandler::uploadLocalInitially()
{
    if (!enabled())
        return;
    if (!m_store->synchronize()) {
        m_queue->after(m_retrySeconds.load(), [this] { uploadLocalInitially(); });
        return;
    }
    m_failing = false;
    KeyValueDictionary dictionary = m_store->dictionaryRepresentation();
    if (blocking()) {
        if (cloudItemCountReported)
            cloudItemCountReported(!dictionary.isEmpty());
        else
            defaultCloudItemCountReported(!dictionary.isEmpty());
        return;
    }

    // Deletions made here while the store could not hear of them.
    bool deleted = false;
    const QHash<QString, qint64> stamps = deletedStamps();
    for (auto it = stamps.cbegin(); it != stamps.cend(); ++it) {
        if (it.value() == 0)
            continue;
        const auto held = dictionary.constFind(it.key());
        if (held != dictionary.cend() && record::isDeletion(held.value()))
            continue;
        const qint64 heldStamp = held != dictionary.cend() ? record::clock(held.value()) : 0;
        Clock::sharedClock().remote(heldStamp);
        if (heldStamp < it.value()) {
            doDeleteKey(it.key(), it.value());
            deleted = true;
        }
    }
    if (deleted)
        dictionary = m_store->dictionaryRepresentation();

    DatasourceManager *manager = engine();
    if (!manager)
        return;
    Context *background = manager->contextBackground();
    background->performBlockConfinedAndWait([&] {
        KeyValueMerge merge(background, [this](const QString &key, const KeyValueRecord &entry) {
            m_queue->async([this, key, entry] { setDictionary(entry, key); });
        });
        merge.fetchLocal(dictionary.keys());
        merge.handleItems(dictionary);
        KeyValueMerge::fixPosition(background, Entity::Category);
        KeyValueMerge::fixPosition(background, Entity::Datasource, QStringLiteral("category.uuid"));
        KeyValueMerge::fixPosition(background, Entity::Keyword);
        if (background->hasChanges()) {
            QString error;
            if (!background->save(&error))
                logLine(QStringLiteral("error saving fetched items from cloud: %1").arg(error));
        }
        if (merge.keywordsChanged())
            NotificationCenter::defaultCenter().post(kKeywordChangeFromCloudNotification);
    });
    uploadAll();
}

void KeyValueHandler::uploadAll()
{
    DatasourceManager *manager = engine();
    if (!manager)
        return;
    Context *background = manager->contextBackground();
    StoreManager *stores = &manager->stores();
    const KeyValueDictionary dictionary = m_store->dictionaryRepresentation();
    background->performBlockConfined([this, background, stores, dictionary] {
        QList<Record *> records;
        for (Entity entity : {Entity::Category, Entity::Datasource, Entity::Keyword})
            records += background->fetch(Query{entity});
        records += background->fetchFew(Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)});
        for (Record *record : std::as_const(records)) {
            std::optional<std::pair<QString, KeyValueRecord>> keyed = entries::keyAndEntry(record);
            if (!keyed)
                continue;
            const auto held = dictionary.constFind(keyed->first);
            if (held != dictionary.cend() && record::equal(held.value(), keyed->second))
                continue;
            m_queue->async([this, key = keyed->first, entry = keyed->second] { setDictionary(entry, key); });
        }
        // Setting up may have given out identities or stamps.
        if (background->hasChanges())
            stores->processChangesFromContext(background);
    });
}

void KeyValueHandler::defaultCloudItemCountReported(bool cloudHasRecords)
{
    if (!cloudHasRecords) {
        setBlocking(false);
        return;
    }
    // A snapshot of the local store comes before anything of the cloud is merged.
    dispatch::main().async([this] {
        DatasourceManager *manager = engine();
        if (!manager) {
            setBlocking(false);
            return;
        }
        Context *background = manager->contextBackground();
        StoreManager *stores = &manager->stores();
        background->performBlockConfined([this, background, stores] {
            stores->createDbSnapshotFromContext(background);
            setBlocking(false);
        });
    });
}

DatasourceManager *KeyValueHandler::engine() const
{
    DatasourceManager *manager = m_engine.load();
    if (!manager && !m_detached.load())
        manager = DatasourceManager::existingInstance();
    return manager && manager->isOpen() ? manager : nullptr;
}

void KeyValueHandler::attach(DatasourceManager *manager)
{
    m_engine = manager;
    m_detached = false;
}

void KeyValueHandler::detach()
{
    DatasourceManager *manager = engine();
    m_engine = nullptr;
    m_detached = true;
    if (!manager)
        return;
    // Passes that found the engine before finish while it still exists.
    for (int round = 0; round < 2; ++round) {
        m_queue->drain();
        manager->stores().queue().drain();
        manager->stores().waitForPendingCommit();
    }
}

void KeyValueHandler::drain()
{
    // Work moves between the handler's queue, the store's queue and the
    // background context; a few rounds let every hop finish.
    for (int round = 0; round < 4; ++round) {
        m_queue->drain();
        m_store->drain();
        if (DatasourceManager *manager = engine()) {
            manager->stores().queue().drain();
            manager->stores().waitForPendingCommit();
        }
    }
    m_queue->drain();
}

} // namespace corvane::sync
