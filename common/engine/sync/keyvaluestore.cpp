#include "sync/keyvaluestore.h"

#include "sync/keyvaluefile.h"

#include "base/digest.h"
#include "base/log.h"
#include "base/machineidentity.h"
#include "base/notificationcenter.h"
#include "base/settings.h"

#include <QThread>

#include <atomic>

namespace corvane::sync {

const QString kStoreChangedExternallyNotification = QStringLiteral("StoreChangedExternally");

namespace {

constexpr int kCheckedItemsKept = 200;

double settingOr(const char *key, double fallback)
{
    const double value = Settings::shared().real(QString::fromLatin1(key));
    return value > 0 ? value : fallback;
}

QString ownPrefix()
{
    return thisMachine() + QStringLiteral("--");
}

} // namespace

KeyValueStore &KeyValueStore::defaultStore()
{
    static KeyValueStore *store = [] {
        Timing timing;
        timing.tickInterval = settingOr("CloudKeyValueTickSeconds", timing.tickInterval);
        timing.writeInterval = settingOr("CloudKeyValueWriteSeconds", timing.writeInterval);
        timing.scanEvery = int(settingOr("CloudKeyValueScanTicks", timing.scanEvery));
        timing.ownFileAge = settingOr("CloudKeyValueOwnFileSeconds", timing.ownFileAge);
        // Lives as long as the process: the handler and the watch refer to it.
        auto *created = new KeyValueStore(timing);
        created->synchronize();
        return created;
    }();
    return *store;
}

KeyValueStore::KeyValueStore(const Timing &timing)
    : m_timing(timing)
    , m_folder(QStringLiteral("keyvalue"))
    , m_queue(QStringLiteral("corvane.keyvaluestore"))
{
    if (m_timing.scanEvery < 1)
        m_timing.scanEvery = 1;
    m_liveness->store(this);
    m_queue.after(m_timing.tickInterval, [this] { timer(); });
}

KeyValueStore::~KeyValueStore()
{
    m_stopping.store(true);
    m_liveness->store(nullptr);
    drain();
    if (CloudFolderWatch *watch = m_watch.exchange(nullptr)) {
        if (dispatch::isMainThread())
            delete watch;
        else
            watch->deleteLater();
    }
}

bool KeyValueStore::synchronize()
{
    bool result = false;
    m_queue.sync([&] {
        if (m_alive && m_changed) {
            result = true;
            return;
        }
        if (!m_folder.directory()) {
            logLine(QStringLiteral("can't reach key-value store"));
            return;
        }
        m_alive = true;
        m_alreadyCheckedItems.clear();
        startWatch();
        result = true;
    });
    // The first look at the folder, as a new watch's first results would give it.
    if (result)
        updateQuery();
    return result;
}

void KeyValueStore::startWatch()
{
    std::shared_ptr<std::atomic<KeyValueStore *>> liveness = m_liveness;
    std::atomic<CloudFolderWatch *> *slot = &m_watch;
    const CloudFolder folder = m_folder;
    dispatch::main().async([liveness, slot, folder] {
        if (!liveness->load())
            return;
        CloudFolderWatch *watch = slot->load();
        if (!watch) {
            watch = new CloudFolderWatch(folder);
            QObject::connect(watch, &CloudFolderWatch::changed, watch, [liveness] {
                if (KeyValueStore *store = liveness->load())
                    store->updateQuery();
            });
            slot->store(watch);
        }
        watch->start();
    });
}

std::optional<KeyValueRecord> KeyValueStore::dictionaryForKey(const QString &key)
{
    std::optional<KeyValueRecord> result;
    m_queue.sync([&] {
        if (m_current) {
            const auto it = m_current->constFind(key);
            if (it != m_current->cend())
                result = it.value();
        }
    });
    return result;
}

void KeyValueStore::setDictionaryIf(const Decision &decide, const QString &key)
{
    m_queue.sync([&] {
        if (!m_current)
            m_current.emplace();
        std::optional<KeyValueRecord> held;
        const auto it = m_current->constFind(key);
        if (it != m_current->cend())
            held = it.value();
        if (std::optional<KeyValueRecord> chosen = decide(held)) {
            m_current->insert(key, std::move(*chosen));
            m_changed = true;
        }
    });
}

KeyValueDictionary KeyValueStore::dictionaryRepresentation()
{
    KeyValueDictionary copy;
    m_queue.sync([&] {
        if (m_current)
            copy = *m_current;
    });
    return copy;
}

void KeyValueStore::updateQuery()
{
    m_queue.async([this] { doUpdateQuery(); });
}

void KeyValueStore::timer()
{
    if (m_stopping.load())
        return;
    if (m_changed)
        NotificationCenter::defaultCenter().post(kStoreChangedExternallyNotification, this);
    if (m_changed && m_current) {
        KeyValueDictionary copy = *m_current;
        m_changed = false;
        m_writesInFlight->fetch_add(1);
        dispatch::global().async([this, copy = std::move(copy)] {
            const bool written = write(copy);
            m_queue.async([this, written] {
                // A failed write goes out again with the next one.
                if (!written)
                    m_changed = true;
                scheduleNextTick(m_timing.writeInterval);
            });
            m_writesInFlight->fetch_sub(1);
        });
        return;
    }
    scheduleNextTick(m_timing.tickInterval);
}

void KeyValueStore::scheduleNextTick(double interval)
{
    if (m_stopping.load())
        return;
    ++m_ticks;
    if (m_shouldUpdate) {
        m_shouldUpdate = false;
        m_ticks = 0;
    }
    if (m_ticks % quint32(m_timing.scanEvery) == 0)
        doUpdateQuery();
    m_queue.after(interval, [this] { timer(); });
}

void KeyValueStore::doUpdateQuery()
{
    if (!m_alive)
        return;
    const QString prefix = ownPrefix();
    bool failed = false;
    int seen = 0;
    for (const CloudFile &file : m_folder.files()) {
        if (file.name.startsWith(prefix))
            continue;
        ++seen;
        if (m_alreadyCheckedItems.contains(file.path))
            continue;
        const auto unusable = m_unusableFiles.constFind(file.name);
        if (unusable != m_unusableFiles.cend() && unusable->first == file.modified && unusable->second == file.size)
            continue;
        switch (readFile(file)) {
        case ReadOutcome::Merged:
            m_unusableFiles.remove(file.name);
            if (m_alreadyCheckedItems.size() > kCheckedItemsKept)
                m_alreadyCheckedItems.removeFirst();
            m_alreadyCheckedItems.append(file.path);
            break;
        case ReadOutcome::Unreadable:
            failed = true;
            break;
        case ReadOutcome::Unusable:
            m_unusableFiles.insert(file.name, {file.modified, file.size});
            break;
        }
    }
    m_filesSeen = seen;
    if (failed)
        m_shouldUpdate = true;
}

bool KeyValueStore::updateDictionary(const CloudFile &file)
{
    bool merged = false;
    m_queue.sync([&] { merged = readFile(file) == ReadOutcome::Merged; });
    return merged;
}

KeyValueStore::ReadOutcome KeyValueStore::readFile(const CloudFile &file)
{
    QString error;
    const std::optional<QByteArray> bytes = m_folder.read(file.path, &error);
    if (!bytes)
        return ReadOutcome::Unreadable;
    const KeyValueFileContent content = readKeyValueFile(*bytes);
    if (!content.ok()) {
        logLine(QStringLiteral("key-value file %1 skipped: %2").arg(file.name, content.error));
        return ReadOutcome::Unusable;
    }
    if (content.skippedRecords > 0)
        logLine(QStringLiteral("key-value file %1: %2 records skipped").arg(file.name).arg(content.skippedRecords));
    if (!m_current)
        m_current.emplace();
    for (auto it = content.dictionary.cbegin(); it != content.dictionary.cend(); ++it) {
        std::optional<KeyValueRecord> held;
        const auto found = m_current->constFind(it.key());
        if (found != m_current->cend())
            held = found.value();
        if (record::winsMerge(it.value(), held)) {
            m_current->insert(it.key(), it.value());
            m_changed = true;
        }
    }
    ++m_filesApplied;
    return ReadOutcome::Merged;
}

bool KeyValueStore::write(const KeyValueDictionary &copy)
{
    const QString prefix = ownPrefix();
    const QString name = prefix + uuid();
    QString error;
    if (!m_folder.write(name, writeKeyValueFile(copy), &error)) {
        logLine(QStringLiteral("error updating icloud contents: %1").arg(error));
        return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    {
        std::lock_guard lock(m_writeLock);
        m_lastWrite = now;
    }
    // This machine's earlier files, once the new one is in place: each holds
    // less than the newest, and two minutes give the sync engine time to
    // hand them on.
    const QDateTime cutoff = now.addMSecs(-qint64(m_timing.ownFileAge * 1000));
    for (const CloudFile &file : m_folder.files())
        if (file.name.startsWith(prefix) && file.name != name && file.modified < cutoff)
            m_folder.remove(file.path);
    return true;
}

KeyValueStore::Status KeyValueStore::status()
{
    Status status;
    m_queue.sync([&] {
        status.reachable = m_folder.directory().has_value();
        status.filesSeen = m_filesSeen;
        status.filesApplied = m_filesApplied;
    });
    std::lock_guard lock(m_writeLock);
    status.lastWrite = m_lastWrite;
    return status;
}

bool KeyValueStore::changePending()
{
    bool pending = false;
    m_queue.sync([&] { pending = m_changed; });
    return pending;
}

void KeyValueStore::drain()
{
    m_queue.drain();
    while (m_writesInFlight->load() > 0)
        QThread::msleep(1);
    m_queue.drain();
}

} // namespace corvane::sync
