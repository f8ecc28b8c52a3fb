#pragma once

#include "base/date.h"
#include "base/dispatch.h"
#include "base/notificationcenter.h"
#include "objectstore.h"

#include <QDate>
#include <QSemaphore>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

class Context;
struct SaveInfo;

extern const QString kObjectsUpdatedNotification;        // "NotificationObjectsUpdated"
extern const QString kKeywordsChangedNotification;       // "NotificationKeywordsChanged"
extern const QString kKeywordChangeFromCloudNotification; // "NotificationKeywordChangeFromCloud"

// The store side of the datasource manager: the store file, the main
// context (main thread) and the background context (its serial queue), the
// merging of each context's saves into the others (every context of the
// store registered with the ContextManager takes part), the deferred commit of
// background writers, and the daily snapshot and OPML backup files.
//
// Deferred commit (processChangesFromContext): at most one commit is pending
// per process. It runs 2 s after it was asked for, holding the processing
// token, so a stream of background changes becomes one save every 2 s at
// most; trimming runs with it at most once an hour. deferProcessing() holds
// the token while the user scrolls, so commits wait until 2 s after the last
// scroll step.
class StoreManager
{
public:
    struct Options
    {
        QString directory;      // the store directory; created if missing
        bool resetStore = false; // move the existing store aside and start empty
        // The earliest moment the deferred commit may trim (tests move it).
        double commitDelaySeconds = 2.0;
        double trimIntervalSeconds = 3600.0;
        // How the background context reads the file. Through the map the
        // bar's surveys of every item are fast, and each page they or a
        // refresh touched stays resident; a process without a bar (the
        // command-line refresh) reads through the bounded page cache.
        ConnectionReads backgroundReads = ConnectionReads::ThroughMap;
    };

    // Must be created on the main thread.
    explicit StoreManager(const Options &options);
    ~StoreManager();
    StoreManager(const StoreManager &) = delete;
    StoreManager &operator=(const StoreManager &) = delete;

    // Without a store nothing else may be used; openError() says why, in
    // words for the user.
    bool isOpen() const { return m_store != nullptr; }
    QString openError() const { return m_openError; }
    ObjectStore &store() const { return *m_store; }
    QString directory() const { return m_directory; }
    bool migratedFromOldStore() const { return m_migrated; }

    Context *contextMain() const;
    Context *contextBackground() const;
    dispatch::SerialQueue &queue() { return *m_queue; }

    // Saves when the context has changes; logs a failure.
    static bool saveFromContext(Context *context);
    // On the main thread: saves the background context on its queue and waits.
    void saveFromMainThread();

    void processChangesFromContext(Context *context);
    void deferProcessing();
    // Blocks until every commit asked for so far has run (tests, shutdown).
    void waitForPendingCommit();

    // Deletes every subscription, then every category, then saves.
    static void clearAllFromContext(Context *context);

    // Snapshots and backups ("Corvane-v3.yyyy-MM-dd.db" / ".xml").
    static QString dateStringForDay(const QDate &day);
    QString snapshotPathForDay(const QDate &day) const;
    QString opmlBackupUrlForDay(const QDate &day) const;
    QString opmlBackupForTodayUrl() const;
    bool isOpmlBackupPresentForToday() const;
    QStringList opmlBackups() const;
    void purgeOldOpmlBackups();
    void createDbSnapshotFromContextIfNecessary(Context *context);
    bool createDbSnapshotFromContext(Context *context);
    // Empties a copied store of its items and compacts it, on a low-priority
    // thread; `done` (optional) runs there afterwards.
    static void cleanSnapshotAtUrl(const QString &path, std::function<void()> done = {});
    // Writes today's OPML backup if missing (the exporter is plugged in by the
    // OPML code; without one nothing is written).
    void exportOpml();
    std::function<bool(const QString &path)> opmlExporter;

    // The "today" of the backup names; tests pin it.
    std::function<QDate()> today = [] { return QDate::currentDate(); };

private:
    void openContexts();
    void observeSaves();
    void mergeSave(Context *saver, const SaveInfo &info);
    void mergeIntoMain(Context *saver, const SaveInfo &info);
    void mergeIntoBackground(Context *saver, const SaveInfo &info);
    void releaseSavedItems(const SaveInfo &info);
    void runDeferredCommit(Context *context);
    void migrateItems();

    Options m_options;
    QString m_directory;
    QString m_openError;
    bool m_migrated = false;
    std::unique_ptr<ObjectStore> m_store;
    std::unique_ptr<dispatch::SerialQueue> m_queue;
    std::unique_ptr<Context> m_main;
    std::unique_ptr<Context> m_background;
    ScopedObserver m_saves;

    std::atomic<bool> m_commitPending{false};
    QSemaphore m_processingToken{1};
    std::mutex m_commitMutex;
    std::condition_variable m_commitsDone;
    int m_commitsScheduled = 0;
    std::optional<Date> m_lastTrim;

    std::unique_ptr<dispatch::SerialQueue> m_guiActionQueue;
    std::once_flag m_guiActionOnce;
    Date m_deferDeadline = 0;
    bool m_deferRunning = false;
    bool m_deferHoldsToken = false;
    // Work posted to the main queue checks it: a manager may go away first.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace corvane
