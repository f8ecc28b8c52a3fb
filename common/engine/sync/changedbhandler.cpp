#include "changedbhandler.h"

#include "feeds/refresh/datasourcemanager.h"

#include "base/clock.h"
#include "base/corvaneassert.h"
#include "base/digest.h"
#include "base/log.h"
#include "base/machineidentity.h"
#include "base/settings.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/objectstore.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QDir>
#include <QHash>

#include <algorithm>
#include <limits>
#include <mutex>

namespace corvane::sync {

namespace {

const QString kStatusKey = QStringLiteral("ChangeDbStatus");
constexpr qsizetype kRecordsPerChunk = 500;
// A snapshot naming at least one item in this many is compared in one pass.
constexpr qsizetype kScanFraction = 8;
constexpr qsizetype kMaxCheckedItems = 200;

} // namespace

// The folder watch, touched on the main thread only; the handler reaches it
// through tasks that hold the box, so a task left over after the handler is
// gone finds an empty callback.
struct ChangeDbHandler::WatchBox
{
    std::unique_ptr<CloudFolderWatch> watch;
    std::mutex lock;
    std::function<void()> changed;

    void notify()
    {
        std::lock_guard guard(lock);
        if (changed)
            changed();
    }
};

ChangeDbHandler *ChangeDbHandler::shared()
{
    static std::mutex lock;
    static ChangeDbHandler *instance = nullptr;
    std::lock_guard guard(lock);
    if (!instance) {
        CORVANE_ASSERT(!dispatch::isMainThread(), "this shouldn't be the main thread!");
        DatasourceManager *manager = DatasourceManager::existingInstance();
        if (!manager)
            return nullptr;
        // Lives as long as the process, like the engine it serves.
        instance = new ChangeDbHandler(*manager);
    }
    return instance;
}

ChangeDbHandler::ChangeDbHandler(DatasourceManager &manager)
    : ChangeDbHandler(manager, Options())
{
}

ChangeDbHandler::ChangeDbHandler(DatasourceManager &manager, Options options)
    : m_manager(manager)
    , m_background(manager.contextBackground())
    , m_options(options)
    , m_watch(std::make_shared<WatchBox>())
{
    m_watch->changed = [this] { updateQuery(); };
    schedule(m_options.idleTickSeconds);
}

ChangeDbHandler::~ChangeDbHandler()
{
    stop();
    std::lock_guard guard(m_watch->lock);
    m_watch->changed = nullptr;
}

QString ChangeDbHandler::thisMachine()
{
    return corvane::thisMachine();
}

QString ChangeDbHandler::uuid()
{
    return corvane::uuid();
}

void ChangeDbHandler::setEnabled(bool enabled)
{
    m_queue.async([this, enabled] {
        if (m_stopped || m_enabled == enabled)
            return;
        m_enabled = enabled;
        if (enabled)
            setup();
        else
            teardown();
    });
}

void ChangeDbHandler::schedule(double seconds)
{
    m_queue.after(seconds, [this] { tick(); });
}

// Checks a flag and sleeps again, so an idle machine never touches the disk.
void ChangeDbHandler::tick()
{
    if (m_stopped)
        return;
    schedule(writeIfChanged() ? m_options.writeTickSeconds : m_options.idleTickSeconds);
}

bool ChangeDbHandler::writeIfChanged()
{
    bool wrote = false;
    m_queue.sync([&] {
        if (m_stopped || !m_enabled || !m_pendingOutChanges.exchange(false))
            return;
        itemsChanged();
        wrote = true;
    });
    return wrote;
}

QByteArray ChangeDbHandler::snapshot()
{
    QByteArray bytes;
    m_background->performBlockConfinedAndWait([&] {
        const QList<int> attributes{DataItem::ItemHash, DataItem::Read, DataItem::ReadLocalStamp};
        const WholeTableReadScope scope(m_background->database());
        m_background->fetchValues(Query(Entity::DataItem), attributes, [&bytes](qint64, const QVariant *values) {
            changedb::appendRecord(bytes, {values[0].toLongLong(), values[2].toLongLong(), values[1].toBool()});
        });
    });
    return bytes;
}

void ChangeDbHandler::itemsChanged()
{
    const QByteArray bytes = snapshot();
    const QString machine = thisMachine();
    // This machine's earlier snapshots go once they are old enough that
    // every peer had the time to take the newer one.
    const QDateTime cutOff = QDateTime::currentDateTimeUtc().addMSecs(qint64(-m_options.ownSnapshotLifetimeSeconds * 1000));
    QStringList old;
    for (const CloudFile &file : m_folder.files())
        if (file.name.startsWith(machine) && file.modified < cutOff)
            old.append(file.path);
    if (!old.isEmpty()) {
        const CloudFolder folder = m_folder;
        dispatch::global(dispatch::Priority::Low).async([folder, old] {
            for (const QString &path : old)
                folder.remove(path);
        });
    }
    QString error;
    if (!m_folder.write(machine + QStringLiteral("--") + uuid(), bytes, &error)) {
        // The next change writes a complete snapshot again.
        logLine(QStringLiteral("error updating change database: %1").arg(error));
        return;
    }
    m_status.lastWrite = QDateTime::currentDateTimeUtc();
    saveStatus();
}

void ChangeDbHandler::updateQuery()
{
    if (m_scanQueued.exchange(true))
        return;
    m_queue.async([this] {
        m_scanQueued = false;
        doUpdateQuery();
    });
}

void ChangeDbHandler::doUpdateQuery()
{
    if (m_stopped || !m_setUp)
        return;
    const QString machine = thisMachine();
    int seen = 0;
    int applied = 0;
    bool failed = false;
    for (const CloudFile &file : m_folder.files()) {
        if (file.name.startsWith(machine))
            continue;
        ++seen;
        if (m_alreadyCheckedItems.contains(file.path))
            continue;
        if (!handleBinary(file.path)) {
            failed = true;
            continue;
        }
        if (m_alreadyCheckedItems.size() > kMaxCheckedItems)
            m_alreadyCheckedItems.removeFirst();
        m_alreadyCheckedItems.append(file.path);
        ++applied;
    }
    m_status.filesSeen = seen;
    if (applied) {
        m_status.filesApplied += applied;
        m_status.lastApplied = QDateTime::currentDateTimeUtc();
        saveStatus();
    }
    if (failed && !m_retryScheduled) {
        m_retryScheduled = true;
        m_queue.after(m_options.retrySeconds, [this] {
            m_retryScheduled = false;
            updateQuery();
        });
    }
}

bool ChangeDbHandler::handleBinary(const QString &path)
{
    QString error;
    std::optional<QByteArray> bytes = m_folder.read(path, &error);
    if (!bytes) {
        logLine(QStringLiteral("cannot read change database snapshot: %1").arg(error));
        return false;
    }
    applySnapshot(*bytes);
    return true;
}

void ChangeDbHandler::applySnapshot(const QByteArray &bytes)
{
    m_background->performBlockConfined([this, bytes] { applyOnBackground(bytes); });
}

namespace {

// Whether an item holding `read` with `local` as its stamp takes the record's
// state.
bool takesState(const ReadStateRecord &record, bool read, qint64 local)
{
    return record.read != read && (record.read ? record.stamp >= local : record.stamp > local);
}

} // namespace

// Of several records of one item the newest counts; where the stamps are
// equal, read wins: two machines holding the same stamp with different
// states then settle on one state instead of handing theirs to each other at
// every write. A query per chunk of items finds the stored rows whose state
// changes; those are then changed in row order, so each save rewrites a run
// of neighbouring pages rather than pages all over the file. The items keep
// the incoming stamp.
void ChangeDbHandler::applyOnBackground(const QByteArray &bytes)
{
    const std::vector<ReadStateRecord> records = changedb::readRecords(bytes);
    if (records.empty())
        return;
    QHash<qint64, ReadStateRecord> incoming;
    incoming.reserve(qsizetype(records.size()));
    qint64 highest = records.front().stamp;
    for (const ReadStateRecord &record : records) {
        highest = std::max(highest, record.stamp);
        auto it = incoming.find(record.itemHash);
        if (it == incoming.end())
            incoming.insert(record.itemHash, record);
        else if (record.stamp > it->stamp || (record.stamp == it->stamp && record.read))
            *it = record;
    }
    // The next local change outranks every state seen here.
    Clock::sharedClock().remote(highest);
    // The pass may read every row.
    const WholeTableReadScope scope(m_background->database());

    // Stored rows only: an item inserted and not saved yet counts as late,
    // and takes its state again once its save is seen. A snapshot naming a
    // good part of the items is compared in one pass over the table, a
    // smaller one through the hash index, a chunk of items per query.
    QList<qint64> rows;
    QSet<qint64> present;
    const QList<int> columns{DataItem::ItemHash, DataItem::Read, DataItem::ReadLocalStamp};
    const auto consider = [&](qint64 row, const QVariant *values) {
        const auto it = incoming.constFind(values[0].toLongLong());
        if (it == incoming.cend())
            return;
        present.insert(it.key());
        if (takesState(*it, values[1].toBool(), values[2].toLongLong()))
            rows.append(row);
    };
    const auto storedWith = [](const Predicate &predicate) {
        Query query(Entity::DataItem, predicate);
        query.includesPendingChanges = false;
        return query;
    };
    if (incoming.size() * kScanFraction >= m_background->count(storedWith(Predicate()))) {
        m_background->fetchValues(storedWith(Predicate()), columns, consider);
    } else {
        QVariantList hashes;
        for (auto it = incoming.cbegin(); it != incoming.cend(); ++it) {
            hashes.append(it.key());
            if (hashes.size() == kRecordsPerChunk || std::next(it) == incoming.cend()) {
                m_background->fetchValues(storedWith(Predicate::in(QStringLiteral("itemHash"), hashes)), columns,
                                          consider);
                hashes.clear();
            }
        }
    }
    QList<qint64> missing;
    for (auto it = incoming.cbegin(); it != incoming.cend(); ++it)
        if (!present.contains(it.key()))
            missing.append(it.key());

    std::sort(rows.begin(), rows.end());
    for (qsizetype start = 0; start < rows.size(); start += m_options.recordsPerSave) {
        for (Record *row : m_background->objectsWithRows(Entity::DataItem, rows.mid(start, m_options.recordsPerSave))) {
            auto *item = static_cast<DataItem *>(row);
            // Looked at again: this machine may have changed it meanwhile.
            const ReadStateRecord &record = incoming[item->itemHash()];
            if (!takesState(record, item->isRead(), item->readLocalStamp()))
                continue;
            // The incoming stamp replaces the one the read setter would
            // take, so the clock is not raised once per item for nothing;
            // the change is announced as the setter does.
            item->setValue(DataItem::Read, record.read);
            item->setReadLocalStamp(record.stamp);
            NotificationCenter::defaultCenter().post(kItemPropertiesChangedNotification, item);
        }
        StoreManager::saveFromContext(m_background);
        m_background->reset();
    }

    if (!missing.isEmpty()) {
        m_pendingIncomingCount += missing.size();
        m_queue.async([this, missing] {
            for (qint64 hash : missing)
                m_pendingIncomingRead.insert(hash);
            m_pendingIncomingCount = m_pendingIncomingRead.size();
        });
    }
}

// Items that a snapshot named before they existed here: once one of them
// arrives, every snapshot is applied again.
void ChangeDbHandler::lateItemsSaved(const QList<qint64> &hashes)
{
    m_queue.async([this, hashes] {
        const bool known = std::any_of(hashes.cbegin(), hashes.cend(),
                                       [this](qint64 hash) { return m_pendingIncomingRead.contains(hash); });
        if (!known)
            return;
        m_pendingIncomingRead.clear();
        m_pendingIncomingCount = 0;
        m_alreadyCheckedItems.clear();
        doUpdateQuery();
    });
}

void ChangeDbHandler::setup()
{
    const std::optional<QString> directory = m_folder.directory();
    m_status.directory = directory.value_or(QDir(CloudFolder::containerRoot()).filePath(m_folder.subfolder()));
    m_status.reachable = directory.has_value();
    if (!directory) {
        logLine(QStringLiteral("can't reach change database"));
        return;
    }
    m_setUp = true;
    m_alreadyCheckedItems.clear();
    const std::shared_ptr<WatchBox> box = m_watch;
    const CloudFolder folder = m_folder;
    dispatch::main().async([box, folder] {
        box->watch = std::make_unique<CloudFolderWatch>(folder);
        QObject::connect(box->watch.get(), &CloudFolderWatch::changed, [box] { box->notify(); });
        box->watch->start();
        // Files that came after the first look and before the watch.
        box->notify();
    });
    m_pendingOutChanges = true;

    Context *background = m_background;
    m_saveObserver = ScopedObserver(
        NotificationCenter::defaultCenter(), kContextDidSaveNotification, background,
        [this, background](const Notification &notification) {
            if (m_pendingIncomingCount.load() == 0)
                return;
            const SaveInfo info = notification.userInfo.value(QStringLiteral("info")).value<SaveInfo>();
            QList<qint64> hashes;
            for (const ObjectID &id : info.inserted)
                if (id.entity == Entity::DataItem)
                    if (const Record *record = background->objectRegistered(id))
                        hashes.append(static_cast<const DataItem *>(record)->itemHash());
            if (!hashes.isEmpty())
                lateItemsSaved(hashes);
        });
    const ObjectStore *store = &m_manager.stores().store();
    m_itemObserver = ScopedObserver(NotificationCenter::defaultCenter(), kItemPropertiesChangedNotification, nullptr,
                                    [this, store](const Notification &notification) {
                                        const auto *item = notification.objectAs<DataItem>();
                                        if (item && &item->context()->store() == store)
                                            m_pendingOutChanges = true;
                                    });
    // What the folder holds already: the first look of a new watch, at once,
    // so a short run applies the other machines' states before it ends.
    doUpdateQuery();
}

void ChangeDbHandler::teardown()
{
    m_setUp = false;
    m_itemObserver.reset();
    m_saveObserver.reset();
    const std::shared_ptr<WatchBox> box = m_watch;
    dispatch::main().async([box] { box->watch.reset(); });
}

ChangeDbHandler::Status ChangeDbHandler::status()
{
    Status status;
    m_queue.sync([&] { status = m_status; });
    return status;
}

void ChangeDbHandler::saveStatus()
{
    Settings::shared().setValue(kStatusKey, QVariantMap{
                                                {QStringLiteral("filesApplied"), m_status.filesApplied},
                                                {QStringLiteral("lastWrite"), m_status.lastWrite},
                                                {QStringLiteral("lastApplied"), m_status.lastApplied},
                                            });
}

ChangeDbHandler::Status ChangeDbHandler::savedStatus()
{
    const QVariantMap saved = Settings::shared().value(kStatusKey).toMap();
    Status status;
    const CloudFolder folder(QStringLiteral("changedb"));
    const std::optional<QString> directory = folder.directory();
    status.reachable = directory.has_value();
    status.directory = directory.value_or(QDir(CloudFolder::containerRoot()).filePath(folder.subfolder()));
    const QString machine = thisMachine();
    for (const CloudFile &file : folder.files())
        status.filesSeen += !file.name.startsWith(machine);
    status.filesApplied = saved.value(QStringLiteral("filesApplied")).toInt();
    status.lastWrite = saved.value(QStringLiteral("lastWrite")).toDateTime();
    status.lastApplied = saved.value(QStringLiteral("lastApplied")).toDateTime();
    return status;
}

void ChangeDbHandler::waitUntilIdle()
{
    m_queue.drain();
    m_background->performBlockConfinedAndWait([] {});
    m_queue.drain();
}

void ChangeDbHandler::stop()
{
    m_queue.sync([this] {
        // A change not written yet goes out now rather than with the next run.
        if (m_enabled && !m_stopped && m_pendingOutChanges.exchange(false))
            itemsChanged();
        if (m_enabled) {
            m_enabled = false;
            teardown();
        }
        m_stopped = true;
    });
    waitUntilIdle();
}

} // namespace corvane::sync
