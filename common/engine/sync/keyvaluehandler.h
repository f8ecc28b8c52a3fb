#pragma once

#include "sync/keyvaluerecord.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {
class Category;
class Context;
class DataItem;
class DatasourceManager;
class Datasource;
class Keyword;
class Record;
struct SaveInfo;
struct SyncDeletion;
} // namespace corvane

namespace corvane::sync {

class KeyValueStore;

extern const QString kItemsChangedFromCloudNotification; // "NotificationItemsChangedFromCloud"

// Keeps subscriptions, categories, keywords and starred items in step with
// the user's other machines through the key-value store.
//
// Outgoing: the saves of the main and background contexts become stamped
// records ("Category.<uuid>", "Feed.<uuid>", "DataItem.<hash>",
// "Keyword.<name>"); a user deletion becomes {"deleted": true, "clock": n},
// and its stamp is remembered under "DeletedCloudItemStamps" so it outlives
// the entity. Incoming (KeyValueMerge): every change of the store applies
// the whole merged dictionary to the local entities on the background
// context, by stamp.
//
// States:
//   failing  - set until the store's folder has been reached once
//              (startSync, handleRemoteChanges, uploadLocalInitially clear it);
//              local changes are not written meanwhile, retried every 40 s.
//   blocking - set by the start-up wiring before enabling after a migration or
//              when sync is switched on while running: nothing is applied or
//              written; the first merge only reports whether the cloud holds
//              records (cloudItemCountReported), and clearing it runs the
//              first merge (uploadLocalInitially).
//   enabled  - setEnabled(true) starts the sync; false forgets the deletions.
//
// All traffic with the store runs on the handler's serial queue
// ("corvane.keyvaluesync"); entities are only touched on their context's queue.
class KeyValueHandler
{
public:
    // The process's handler, created on first use (from any thread; its
    // creation reaches for the cloud folder and never waits for the main
    // thread, whose loop the folder watch is then started on).
    static KeyValueHandler *shared();
    // The handler if it was created, else null.
    static KeyValueHandler *existing();

    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled.load(); }
    void setBlocking(bool blocking);
    bool blocking() const { return m_blocking.load(); }
    bool failing() const { return m_failing.load(); }

    // Called by the first merge while blocking, with whether the cloud
    // holds any record. Empty (the default): stop blocking at once when it
    // holds none, and otherwise save a snapshot of the local store first.
    std::function<void(bool cloudHasRecords)> cloudItemCountReported;

    // Seconds between retries while the folder cannot be reached: 40, or
    // the setting "CloudRetrySeconds" when set (tests).
    void setRetryInterval(double seconds) { m_retrySeconds = seconds; }

    // The deletion memory ("DeletedCloudItemStamps"): key -> stamp.
    static qint64 storeDeletedStateForKey(const QString &key);
    static void storeDeletedStateForKey(const QString &key, qint64 stamp);
    static void undeleteKey(const QString &key);
    static QHash<QString, qint64> deletedStamps();
    // Remembers deletions of built-in categories and feeds the local store
    // no longer has (after a migration), so the first merge sends them.
    static void deleteCategoriesWithNames(const QStringList &names, const QStringList &feedUrls);

    // A user deletion of a category, subscription or keyword.
    void deleteByUser(const SyncDeletion &deletion);

    // The single write path of local records into the store: writes only a
    // record newer than the one held, and forgets a remembered deletion of
    // the key when a live record goes in.
    void setDictionary(const KeyValueRecord &record, const QString &key);

    // The first full merge: replays remembered deletions, applies the cloud,
    // repairs positions and uploads every local entity.
    void uploadLocalInitially();
    // Applies the store's dictionary; runs on every "StoreChangedExternally".
    void handleRemoteChanges();

    // The engine whose store the handler applies the cloud to. Without
    // attach() it is the datasource manager's shared instance. Call detach()
    // on the main thread before the engine goes: it waits for the passes
    // under way, and later ones find no engine and do nothing.
    void attach(DatasourceManager *engine);
    void detach();

    // Blocks until the handler's queue has run everything submitted so far,
    // and the background passes it started (tests, shutdown).
    void drain();

    dispatch::SerialQueue &queue() { return *m_queue; }
    KeyValueStore &store() { return *m_store; }

private:
    KeyValueHandler();
    ~KeyValueHandler();

    void setup();
    void startSync();
    void doDeleteKey(const QString &key, qint64 stamp);
    void contextDidSave(Context *context, const SaveInfo &info);
    void itemPropertiesChanged(DataItem *item);
    // Whether local changes may be written now.
    bool writing() const;
    void defaultCloudItemCountReported(bool cloudHasRecords);
    void applyPass(const KeyValueDictionary &dictionary);
    void uploadAll();
    // The attached engine when its store is open, else null.
    DatasourceManager *engine() const;

    std::unique_ptr<dispatch::SerialQueue> m_queue;
    KeyValueStore *m_store = nullptr;
    std::vector<ScopedObserver> m_observers;
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_failing{true};
    std::atomic<bool> m_blocking{false};
    std::atomic<double> m_retrySeconds{40.0};
    std::atomic<DatasourceManager *> m_engine{nullptr};
    std::atomic<bool> m_detached{false};
};

} // namespace corvane::sync
