#pragma once

#include "objectid.h"
#include "objectstore.h"
#include "query.h"
#include "record.h"
#include "sqlitedatabase.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <array>
#include <functional>
#include <memory>
#include <mutex>

namespace corvane {

namespace dispatch { class Queue; }

// What one save changed, posted as the did-save notification and handed to
// the other context's mergeChanges().
struct SaveInfo
{
    QList<ObjectID> inserted;
    QList<ObjectID> updated;
    QList<ObjectID> deleted;
    bool touched(Entity entity) const;
};

// The did-save notification: object = the context, userInfo "info" = SaveInfo.
extern const QString kContextDidSaveNotification;

// A working set of records over the store: the identity map (one record per
// ObjectID), change tracking, fetching, and saving in one transaction.
//
// A context is confined to one queue and touched only there. It owns its
// records; pointers stay valid until the record is deleted and saved, the
// record is dropped by a merge, or the context is reset. Records deleted and
// saved or dropped are freed by a task of the context's queue, so they stay
// readable until the task that let them go has finished.
//
// Record states and their transitions:
//   inserted (temporary id) --save()--> saved (row id, loaded)
//   saved --refresh(false)--> fault --first access--> loaded
//   saved/fault --deleteObject()--> deleted --save()--> gone (unregistered)
//   any --reset()--> gone
class Context
{
public:
    Context(ObjectStore &store, const QString &name, ConnectionReads reads = ConnectionReads::ThroughMap);
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    ObjectStore &store() const { return m_store; }
    const QString &name() const { return m_name; }

    // The queue the context is confined to (registered with the ContextManager).
    void setQueue(dispatch::Queue *queue);
    dispatch::Queue &queue() const;
    void performBlockConfined(std::function<void()> block);
    void performBlockConfinedAndWait(const std::function<void()> &block);

    template<typename T>
    T *insert()
    {
        return static_cast<T *>(insertObject(T::kEntity, T::kKind));
    }
    Record *insertObject(Entity entity, int kind = 0);
    void deleteObject(Record *record);

    QList<Record *> fetch(const Query &query);
    template<typename T>
    QList<T *> fetchAs(const Query &query)
    {
        return recordsAs<T>(fetch(query));
    }
    qint64 count(const Query &query);
    // Plain values of the given attributes (indexes of the entity's
    // attributes) for every object the query matches, without making
    // records: the stored columns, or the in-memory values of a record with
    // unsaved changes here (inserted ones included, deleted ones left out).
    // `onRow` gets the row id (temporary for inserted records) and one value
    // per attribute, in the order asked. Stored rows come in the query's
    // order first, then the changed records; limit and offset count the
    // stored rows only.
    void fetchValues(const Query &query, const QList<int> &attributes,
                     const std::function<void(qint64 row, const QVariant *values)> &onRow);
    // The records the query matches, without its order, limit or offset:
    // their rows are found through an index that holds every column the
    // predicate reads, where there is one, and only those rows are read. A
    // query for a few rows of a large table (the starred items) then reads
    // neither the whole table nor its pages into memory.
    QList<Record *> fetchFew(const Query &query);
    template<typename T>
    QList<T *> fetchFewAs(const Query &query)
    {
        return recordsAs<T>(fetchFew(query));
    }
    // The stored records of `entity` with the given row ids, in that order
    // and loaded: registered records as they are (unsaved changes and
    // deletions included), faults filled, the others read and registered.
    // Rows the store does not have are left out.
    QList<Record *> objectsWithRows(Entity entity, const QList<qint64> &rows);
    // The records of `entity` with the given row ids, in that order, without
    // reading the store: registered records as they are, faults for the
    // others. Filling one of these faults fills the faults after it in the
    // list as well, a batch at a time, so walking the list reads its rows in
    // a few queries. Only the latest list batches; faults of an earlier one
    // are filled one by one. Not for subscriptions, whose record class
    // depends on the row.
    QList<Record *> faultsWithRows(Entity entity, const QList<qint64> &rows);

    // Changes whenever records of an entity may have come or gone: inserted or
    // deleted here, saved here (inserted records get their identifiers), or
    // any commit of another connection to the store. A caller that keeps the
    // identifiers of a fetch may reuse them while the stamp stays the same.
    struct MembershipStamp
    {
        qint64 dataVersion = -1;
        quint64 localChanges = 0;
        bool operator==(const MembershipStamp &) const = default;
    };
    MembershipStamp membershipStamp(Entity entity);

    // The record if it exists in the store (or is inserted here), loaded; else null.
    Record *existingObject(ObjectID id);
    // The records of those ids that exist, in that order, without loading
    // them: registered records as they are, faults for stored rows (found in
    // a few queries), subscriptions loaded (their class depends on the row).
    QList<Record *> existingObjectsAsFaults(const QList<ObjectID> &ids);
    // The registered record, or null; never touches the store.
    Record *objectRegistered(ObjectID id) const;
    // A registered record or a new fault for the id, without checking that the row exists.
    Record *objectWithID(ObjectID id);
    QList<Record *> registeredObjects() const;
    // Whether any record of the entity is registered.
    bool hasRegistered(Entity entity) const { return registeredCount(entity) > 0; }
    qsizetype registeredCount(Entity entity) const { return m_objects.count(entity); }

    // merge = false: drop the values and pending changes (the record becomes
    // a fault). merge = true: reload the values that have no pending change.
    void refresh(Record *record, bool merge);
    void reset();
    // Turns the loaded records of `entity` that have no unsaved changes into
    // faults, read again when next touched: bounds what a long-lived context
    // holds between the resets.
    void releaseValues(Entity entity);

    bool hasChanges() const;
    // The records with unsaved changes: inserted, changed or deleted here.
    QList<Record *> changedObjects() const { return m_changedObjects.values(); }
    bool save(QString *error = nullptr);

    // From a save hook: work to run once in this save, after the hooks of
    // every changed record and before the changes are written, so work over
    // many records (the items of every renamed subscription) runs once
    // instead of once per record. Tasks under one key run once; the records
    // they change get their hooks as well.
    void beforeWrite(const void *key, std::function<void()> task);

    // Brings in another context's save: registered records reload the values
    // they did not change themselves (in-memory values win property by
    // property); deleted ones are dropped.
    void mergeChanges(const SaveInfo &info);

    SqliteDatabase &database() { return m_db; }

    // Records let go of and not yet freed.
    qsizetype goneCount() const { return qsizetype(m_gone.size()); }

private:
    friend class Record;
    template<typename T>
    static QList<T *> recordsAs(const QList<Record *> &records)
    {
        QList<T *> result;
        result.reserve(records.size());
        for (Record *r : records)
            result.append(static_cast<T *>(r));
        return result;
    }

    void loadValues(Record *record);
    // Runs `onRow` for each stored row of `entity` among `rows`, selecting
    // `columns` (the id first), a batch of rows per query.
    void selectRows(Entity entity, const QByteArray &columns, QList<qint64> rows,
                    const std::function<void(const SqliteStatement &)> &onRow);
    // Fills the faults of the latest faultsWithRows() list from `index` on.
    void fillFaultBatch(qsizetype index);
    bool readRow(ObjectID id, std::vector<QVariant> &values);
    Record *registerLoaded(ObjectID id, int kind, std::vector<QVariant> &&values);
    // Makes the record of a row the identity map has just made room for.
    Record *fillNewRecord(Record *&slot, ObjectID id, const SqliteStatement &statement,
                          int firstColumn);
    Record *create(ObjectID id, int kind);
    void recordChanged(Record *record);
    void unregister(ObjectID id);
    // Frees the records let go of, from a task queued after the current one.
    void scheduleReleaseOfGone();
    void cascadeDelete(Record *record);
    void dropCascaded(const QList<ObjectID> &deleted);
    bool writeChanges(QList<Record *> &inserted, QList<Record *> &updated, QList<Record *> &deleted,
                      QString *error);

    ObjectStore &m_store;
    QString m_name;
    SqliteDatabase m_db;
    std::array<quint64, 4> m_membershipChanges{};
    std::recursive_mutex m_lock;
    // The identity map: one owned record per ObjectID, in a hash table of
    // pointers, with a count per entity.
    class IdentityMap
    {
    public:
        IdentityMap() = default;
        IdentityMap(const IdentityMap &) = delete;
        IdentityMap &operator=(const IdentityMap &) = delete;
        ~IdentityMap() { clear(); }

        Record *find(ObjectID id) const { return m_records.value(id, nullptr); }
        // The slot of `id`, null when the map had no record for it (the
        // caller fills it); valid until the map changes.
        Record *&slot(ObjectID id);
        void insert(ObjectID id, std::unique_ptr<Record> record);
        std::unique_ptr<Record> take(ObjectID id);
        void reserve(qsizetype size) { m_records.reserve(size); }
        qsizetype size() const { return m_records.size(); }
        qsizetype count(Entity entity) const { return m_perEntity[size_t(entity)]; }
        template<typename F>
        void forEach(F &&f) const
        {
            for (Record *record : m_records)
                f(record);
        }
        void clear();

    private:
        QHash<ObjectID, Record *> m_records;
        std::array<qsizetype, 4> m_perEntity{};
    };
    IdentityMap m_objects;
    // The single-row read and the insert of each entity, kept prepared.
    std::array<std::unique_ptr<SqliteStatement>, 4> m_selectById;
    std::array<std::unique_ptr<SqliteStatement>, 4> m_insertRow;
    SqliteStatement &entityStatement(std::array<std::unique_ptr<SqliteStatement>, 4> &statements, Entity entity,
                                     const QByteArray &sql);
    QSet<Record *> m_changedObjects;
    std::vector<std::pair<const void *, std::function<void()>>> m_beforeWrite;
    std::vector<std::unique_ptr<Record>> m_gone; // unregistered, not freed yet
    // Lets a queued release find out whether the context still exists.
    struct Liveness
    {
        std::mutex lock;
        Context *context = nullptr;
    };
    std::shared_ptr<Liveness> m_liveness;
    bool m_releaseScheduled = false;
    qint64 m_nextTemporaryRow = -1;
    // The latest faultsWithRows() list; records remember their place in it
    // together with its generation, which changes with every list.
    std::vector<qint64> m_faultBatchRows;
    Entity m_faultBatchEntity = Entity::DataItem;
    quint32 m_faultBatchGeneration = 0;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::SaveInfo)
