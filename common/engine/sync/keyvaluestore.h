#pragma once

#include "sync/cloudfolder.h"
#include "sync/keyvaluerecord.h"

#include "base/dispatch.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane::sync {

extern const QString kStoreChangedExternallyNotification; // "StoreChangedExternally"

// The dictionary of stamped records that all of the user's machines share
// through the "keyvalue" folder of the cloud container.
//
// Each machine keeps the merged dictionary in memory and, at most once per
// write interval, writes it whole as a new file "<thisMachine>--<uuid>"
// (a binary property list, KeyValueFile); its own files older than two
// minutes go at the next write. Files of the other machines are read once
// each and merged record by record (record::winsMerge). The store knows
// nothing of what the records mean.
//
// Timer (all on the queue "keyvaluestore"): every tick posts
// "StoreChangedExternally" when the dictionary changed and hands a copy to
// the writer, which waits `writeInterval` before the next tick; otherwise
// the next tick follows after `tickInterval`. Every `scanEvery` ticks, and
// at once after a read failed, the folder is scanned.
class KeyValueStore
{
public:
    struct Timing
    {
        double tickInterval = 1.0;
        double writeInterval = 6.0;
        int scanEvery = 20;
        double ownFileAge = 120.0; // seconds before this machine's older files go
    };

    struct Status
    {
        bool reachable = false;
        int filesSeen = 0;    // files of other machines in the folder at the last scan
        int filesApplied = 0; // files of other machines read and merged in this process
        QDateTime lastWrite;  // of this machine's latest file; invalid before the first
    };

    // The process's store, created on first use. Its timing comes from the
    // settings "CloudKeyValueTickSeconds", "CloudKeyValueWriteSeconds",
    // "CloudKeyValueScanTicks" and "CloudKeyValueOwnFileSeconds" where they
    // are set (tests), else the defaults above.
    static KeyValueStore &defaultStore();

    explicit KeyValueStore(const Timing &timing);
    ~KeyValueStore();
    KeyValueStore(const KeyValueStore &) = delete;
    KeyValueStore &operator=(const KeyValueStore &) = delete;

    // Reaches for the folder and starts its watch; false (and the log line
    // "can't reach key-value store") when it cannot be reached.
    bool synchronize();

    std::optional<KeyValueRecord> dictionaryForKey(const QString &key);
    // The only way local records enter: `decide` sees the held record (or
    // none) and returns the record to store, or none to change nothing.
    using Decision = std::function<std::optional<KeyValueRecord>(const std::optional<KeyValueRecord> &held)>;
    void setDictionaryIf(const Decision &decide, const QString &key);
    // A copy of the whole dictionary; empty before the first record.
    KeyValueDictionary dictionaryRepresentation();

    // Scans the folder for files of other machines (asynchronously).
    void updateQuery();
    // Merges one file of another machine; false when it could not be read.
    bool updateDictionary(const CloudFile &file);

    Status status();
    // Whether a change waits for the next tick to be reported and written.
    bool changePending();

    void performBlock(dispatch::Task task) { m_queue.async(std::move(task)); }
    void performBlockAndWait(const dispatch::Task &task) { m_queue.sync(task); }
    // Blocks until the queue and a write in progress have finished.
    void drain();

    const CloudFolder &folder() const { return m_folder; }

private:
    enum class ReadOutcome { Merged, Unreadable, Unusable };

    void timer();
    void scheduleNextTick(double interval);
    void doUpdateQuery();
    ReadOutcome readFile(const CloudFile &file);
    bool write(const KeyValueDictionary &copy);
    void startWatch();

    Timing m_timing;
    CloudFolder m_folder;
    dispatch::SerialQueue m_queue;
    // The members below are touched on m_queue only.
    std::optional<KeyValueDictionary> m_current;
    bool m_changed = false;
    bool m_shouldUpdate = false;
    bool m_alive = false;
    quint32 m_ticks = 0;
    QStringList m_alreadyCheckedItems; // oldest first, at most 201
    // Files that were read whole but did not hold a key-value dictionary,
    // by name, with the modification time and size they had: read again
    // only once they change, so one bad file costs no scan per second.
    QHash<QString, QPair<QDateTime, qint64>> m_unusableFiles;
    int m_filesSeen = 0;
    int m_filesApplied = 0;
    std::atomic<bool> m_stopping{false};
    // Null once the store is going; the watch and queued work check it.
    std::shared_ptr<std::atomic<KeyValueStore *>> m_liveness = std::make_shared<std::atomic<KeyValueStore *>>(nullptr);
    std::atomic<CloudFolderWatch *> m_watch{nullptr}; // created and used on the main thread
    // Shared with the writer thread.
    std::mutex m_writeLock;
    QDateTime m_lastWrite;
    std::shared_ptr<std::atomic<int>> m_writesInFlight = std::make_shared<std::atomic<int>>(0);
};

} // namespace corvane::sync
