#pragma once

#include "sync/changedbrecords.h"
#include "sync/cloudfolder.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace corvane {
class Context;
class DatasourceManager;
}

namespace corvane::sync {

// Keeps read states in step between the user's machines. Every machine
// writes, whenever a read state changed, a snapshot of the read state of all
// its items (24 bytes an item: hash, stamp, state) into the "changedb"
// folder of the cloud container, and applies the snapshots of the others:
// an item takes the incoming state when its stamp is at least as new.
// Items are matched by their item hash, so machines that fetched the same
// article agree on it with no other identity.
//
// State lives on the handler's serial queue ("changedb"); items are read
// and changed on the background store context; the folder watch lives on
// the main thread. Nothing here blocks the main thread.
class ChangeDbHandler
{
public:
    struct Options
    {
        double idleTickSeconds = 5.0;  // the tick while nothing waits to be written
        double writeTickSeconds = 6.0; // the tick after a snapshot was written
        double retrySeconds = 40.0;    // a scan again after a snapshot could not be read
        // This machine's snapshots older than this go at its next write.
        double ownSnapshotLifetimeSeconds = 120.0;
        // Applying saves and empties the background context every this many
        // records, so a large snapshot never holds all its items at once.
        int recordsPerSave = 2000;
    };

    // What the handler has done in this process (sync-status).
    struct Status
    {
        bool reachable = false;
        QString directory; // the folder, or where it should be when unreachable
        int filesSeen = 0;    // other machines' snapshots in the folder at the last scan
        int filesApplied = 0; // snapshots applied since the handler started
        QDateTime lastWrite;  // of this machine's latest snapshot
        QDateTime lastApplied;
    };

    // The process's handler over the shared datasource manager, created on
    // first use; not on the main thread ("this shouldn't be the main
    // thread!"). Null while there is no datasource manager.
    static ChangeDbHandler *shared();

    explicit ChangeDbHandler(DatasourceManager &manager);
    ChangeDbHandler(DatasourceManager &manager, Options options);
    ~ChangeDbHandler();
    ChangeDbHandler(const ChangeDbHandler &) = delete;
    ChangeDbHandler &operator=(const ChangeDbHandler &) = delete;

    // The machine identity naming this machine's files, and a new UUID text
    // (upper case, 8-4-4-4-12) for each write.
    static QString thisMachine();
    static QString uuid();

    // On: watches the folder, applies the other machines' snapshots and
    // writes a full snapshot at the next tick. Off: stops watching;
    // snapshots already written stay. Applied on the handler's queue.
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled.load(); }

    void performBlock(dispatch::Task block) { m_queue.async(std::move(block)); }
    void performBlockAndWait(const dispatch::Task &block) { m_queue.sync(block); }

    Status status();
    // For a process that runs no handler: the folder and the other
    // machines' snapshots in it now, and what the last handler of this home
    // applied and wrote.
    static Status savedStatus();

    // Blocks until the work queued so far, the snapshots being applied and
    // the work those queued in turn have run (ticks waiting excepted).
    void waitUntilIdle();
    // Writes a snapshot when a change waits for one, then disables the
    // handler for good and waits for its work: before the engine goes away.
    void stop();

    // What a tick does: writes a snapshot when enabled and a read state
    // changed since the last one; whether it wrote.
    bool writeIfChanged();
    // The snapshot of this machine's items as it would be written now.
    QByteArray snapshot();
    // Applies another machine's snapshot on the background context (queued
    // there). Hashes no local item has are kept for items that arrive later.
    void applySnapshot(const QByteArray &bytes);

private:
    struct WatchBox;

    void schedule(double seconds);
    void tick();
    void itemsChanged();
    void updateQuery();
    void doUpdateQuery();
    bool handleBinary(const QString &path);
    void applyOnBackground(const QByteArray &bytes);
    void setup();
    void teardown();
    void lateItemsSaved(const QList<qint64> &hashes);
    void saveStatus();

    DatasourceManager &m_manager;
    Context *m_background;
    const Options m_options;
    const CloudFolder m_folder{QStringLiteral("changedb")};
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_pendingOutChanges{false};
    std::atomic<bool> m_scanQueued{false};
    std::atomic<qsizetype> m_pendingIncomingCount{0};
    // Only on the queue.
    bool m_setUp = false;
    bool m_retryScheduled = false;
    QSet<qint64> m_pendingIncomingRead;
    QStringList m_alreadyCheckedItems;
    Status m_status;
    ScopedObserver m_itemObserver;
    ScopedObserver m_saveObserver;
    std::shared_ptr<WatchBox> m_watch;
    dispatch::SerialQueue m_queue{QStringLiteral("changedb")};
};

} // namespace corvane::sync
