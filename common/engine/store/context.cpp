#include "context.h"

#include "contextmanager.h"
#include "keywordhelper.h"
#include "objectstore.h"
#include "recordfactory.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "base/notificationcenter.h"

#include <algorithm>
#include <array>
#include <limits>

namespace corvane {

const QString kContextDidSaveNotification = QStringLiteral("ContextDidSave");

namespace {

constexpr Entity kSaveOrder[] = {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword};
constexpr qsizetype kIdsPerStatement = 500;

QByteArray makeColumnList(const EntityDescription &d)
{
    QByteArray columns = d.table + ".id";
    for (const Attribute &a : d.attributes)
        columns += ", " + d.table + ".\"" + a.name.toUtf8() + '"';
    return columns;
}

// The statements every context runs per row, written once per entity.
struct EntitySql
{
    QByteArray columns;    // "item.id, item.\"datasource\", ..."
    QByteArray selectById; // SELECT <columns> FROM <table> WHERE id = ?
    QByteArray insert;     // INSERT INTO <table> (<attributes>) VALUES (?, ...)
};

const EntitySql &entitySql(Entity entity)
{
    static const std::array<EntitySql, 4> all = [] {
        std::array<EntitySql, 4> sql;
        for (Entity e : {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword}) {
            const EntityDescription &d = describe(e);
            EntitySql &out = sql[size_t(e)];
            out.columns = makeColumnList(d);
            out.selectById = "SELECT " + out.columns + " FROM " + d.table + " WHERE id = ?";
            QByteArray names, marks;
            for (int i = 0; i < d.attributes.size(); ++i) {
                names += (i ? ", \"" : "\"") + d.attributes[i].name.toUtf8() + '"';
                marks += i ? ", ?" : "?";
            }
            out.insert = "INSERT INTO " + d.table + " (" + names + ") VALUES (" + marks + ")";
        }
        return sql;
    }();
    return all[size_t(entity)];
}

const QByteArray &columnList(const EntityDescription &d)
{
    return entitySql(d.entity).columns;
}

QVariant bindable(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<ObjectID>())
        return value;
    const qint64 row = value.value<ObjectID>().row;
    return row > 0 ? QVariant(row) : QVariant();
}

// Fills `values` (sized for the entity) from the row, in place.
template<typename Values>
void readRowValues(const EntityDescription &d, const SqliteStatement &statement, int firstColumn, Values &values)
{
    for (int i = 0; i < d.attributes.size(); ++i)
        values[size_t(i)] = attributeValueFromColumn(d.attributes[i], statement, firstColumn + i);
}

std::vector<QVariant> rowValues(const EntityDescription &d, const SqliteStatement &statement, int firstColumn)
{
    std::vector<QVariant> values(size_t(d.attributes.size()));
    readRowValues(d, statement, firstColumn, values);
    return values;
}

// The values of a new record: false and 0 for flags and integers, none
// for the rest.
const std::vector<QVariant> &emptyValues(Entity entity)
{
    static const std::array<std::vector<QVariant>, 4> all = [] {
        std::array<std::vector<QVariant>, 4> values;
        for (Entity e : {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword})
            for (const Attribute &a : describe(e).attributes)
                values[size_t(e)].push_back(normalizedAttributeValue(a.type, QVariant()));
        return values;
    }();
    return all[size_t(entity)];
}

int kindOf(Entity entity, const std::vector<QVariant> &values)
{
    return entity == Entity::Datasource ? int(values[0].toLongLong()) : 0;
}

} // namespace

bool SaveInfo::touched(Entity entity) const
{
    for (const auto *list : {&inserted, &updated, &deleted})
        for (const ObjectID &id : *list)
            if (id.entity == entity)
                return true;
    return false;
}

Context::Context(ObjectStore &store, const QString &name, ConnectionReads reads)
    : m_store(store)
    , m_name(name)
    , m_liveness(std::make_shared<Liveness>())
{
    m_liveness->context = this;
    QString error;
    if (!m_store.openConnection(m_db, &error, reads))
        logLine(QStringLiteral("error opening a connection to the store: %1").arg(error));
}

Record *&Context::IdentityMap::slot(ObjectID id)
{
    const qsizetype before = m_records.size();
    Record *&slot = m_records[id];
    if (m_records.size() != before)
        ++m_perEntity[size_t(id.entity)];
    return slot;
}

void Context::IdentityMap::insert(ObjectID id, std::unique_ptr<Record> record)
{
    Record *&slot = this->slot(id);
    CORVANE_ASSERT(!slot, "a second record for one object");
    slot = record.release();
}

std::unique_ptr<Record> Context::IdentityMap::take(ObjectID id)
{
    const auto it = m_records.find(id);
    if (it == m_records.end())
        return nullptr;
    std::unique_ptr<Record> record(it.value());
    m_records.erase(it);
    --m_perEntity[size_t(id.entity)];
    return record;
}

void Context::IdentityMap::clear()
{
    m_perEntity = {};
    // Freed in address order, which is about the order they were made in:
    // the allocator then merges neighbouring blocks as they come instead of
    // hopping across the heap in hash order.
    std::vector<Record *> records;
    records.reserve(size_t(m_records.size()));
    for (Record *record : std::as_const(m_records))
        records.push_back(record);
    m_records.clear();
    std::sort(records.begin(), records.end(), std::less<Record *>());
    for (Record *record : records)
        delete record;
}

Context::~Context()
{
    {
        std::lock_guard guard(m_liveness->lock);
        m_liveness->context = nullptr;
    }
    KeywordHelper::shared().forgetContext(this);
    ContextManager::shared().unregisterContext(this);
}

void Context::setQueue(dispatch::Queue *queue)
{
    ContextManager::shared().registerContext(this, queue);
}

dispatch::Queue &Context::queue() const
{
    dispatch::Queue *queue = ContextManager::shared().queueForContext(this);
    CORVANE_ASSERT(queue, "queues must have been initialized by now");
    return *queue;
}

void Context::performBlockConfined(std::function<void()> block)
{
    queue().async([this, block = std::move(block)] {
        std::lock_guard guard(m_lock);
        block();
    });
}

void Context::performBlockConfinedAndWait(const std::function<void()> &block)
{
    dispatch::Queue &q = queue();
    const auto run = [this, &block] {
        std::lock_guard guard(m_lock);
        block();
    };
    if (q.isCurrent())
        run();
    else
        q.sync(run);
}

Record *Context::create(ObjectID id, int kind)
{
    std::unique_ptr<Record> record = makeRecord(this, id, kind);
    Record *raw = record.get();
    m_objects.insert(id, std::move(record));
    return raw;
}

Record *Context::insertObject(Entity entity, int kind)
{
    Record *record = create(ObjectID{entity, m_nextTemporaryRow--}, kind);
    const std::vector<QVariant> &defaults = emptyValues(entity);
    for (size_t i = 0; i < defaults.size(); ++i)
        record->m_values[i] = defaults[i];
    if (entity == Entity::Datasource)
        record->m_values[0] = qint64(kind);
    record->m_loaded = true;
    record->m_inserted = true;
    m_changedObjects.insert(record);
    ++m_membershipChanges[size_t(entity)];
    record->awakeFromInsert();
    return record;
}

void Context::deleteObject(Record *record)
{
    if (!record || record->m_deleted)
        return;
    CORVANE_ASSERT(record->context() == this, "deleting a record of another context");
    record->prepareForDeletion();
    record->m_deleted = true;
    m_changedObjects.insert(record);
    ++m_membershipChanges[size_t(record->entity())];
    cascadeDelete(record);
}

Context::MembershipStamp Context::membershipStamp(Entity entity)
{
    // data_version moves when another connection (another context, another
    // process) commits; this context's own inserts and deletes are counted.
    SqliteStatement &statement = m_db.cached("PRAGMA data_version");
    const qint64 dataVersion = statement.step() ? statement.columnInt64(0) : -1;
    statement.reset();
    return {dataVersion, m_membershipChanges[size_t(entity)]};
}

// Registered records that depend on a deleted one follow it: a subscription's
// items are deleted with it; a category's subscriptions move to the top level.
void Context::cascadeDelete(Record *record)
{
    const ObjectID id = record->objectID();
    if (id.entity != Entity::Datasource && id.entity != Entity::Category)
        return;
    const Entity dependent = id.entity == Entity::Datasource ? Entity::DataItem : Entity::Datasource;
    const int attribute = describe(dependent).indexOf(id.entity == Entity::Datasource ? u"datasource" : u"category");
    const QList<Record *> registered = registeredObjects();
    for (Record *other : registered) {
        if (other->entity() != dependent || other->m_deleted || !other->m_loaded)
            continue;
        if (other->m_values[size_t(attribute)].value<ObjectID>() != id)
            continue;
        if (dependent == Entity::DataItem)
            deleteObject(other);
        else
            other->setValue(attribute, QVariant());
    }
}

void Context::recordChanged(Record *record)
{
    m_changedObjects.insert(record);
}

SqliteStatement &Context::entityStatement(std::array<std::unique_ptr<SqliteStatement>, 4> &statements, Entity entity,
                                          const QByteArray &sql)
{
    std::unique_ptr<SqliteStatement> &slot = statements[size_t(entity)];
    if (!slot)
        slot = std::make_unique<SqliteStatement>(m_db.prepare(sql));
    else
        slot->reset();
    return *slot;
}

bool Context::readRow(ObjectID id, std::vector<QVariant> &values)
{
    const EntityDescription &d = describe(id.entity);
    SqliteStatement &statement = entityStatement(m_selectById, id.entity, entitySql(id.entity).selectById);
    statement.bind(1, id.row);
    const bool found = statement.step();
    if (found)
        values = rowValues(d, statement, 1);
    statement.reset();
    return found;
}

void Context::loadValues(Record *record)
{
    if (!record->m_inserted && record->m_faultBatchGeneration != 0
        && record->m_faultBatchGeneration == m_faultBatchGeneration) {
        fillFaultBatch(record->m_faultBatchIndex);
        if (record->m_loaded)
            return;
    }
    std::vector<QVariant> values;
    if (!record->m_inserted && readRow(record->objectID(), values)) {
        record->m_values = std::move(values);
    } else {
        // The row is gone: the record reads as empty, as a fault of a
        // deleted object would.
        const EntityDescription &d = record->description();
        for (int i = 0; i < d.attributes.size(); ++i)
            record->m_values[size_t(i)] = normalizedAttributeValue(d.attributes[i].type, QVariant());
    }
    record->m_loaded = true;
}

Record *Context::fillNewRecord(Record *&slot, ObjectID id, const SqliteStatement &statement,
                               int firstColumn)
{
    const EntityDescription &d = describe(id.entity);
    // Subscriptions come in kinds with record classes of their own.
    const int kind = id.entity == Entity::Datasource
                         ? int(attributeValueFromColumn(d.attributes[0], statement, firstColumn).toLongLong())
                         : 0;
    Record *record = makeRecord(this, id, kind).release();
    slot = record; // owned by the identity map from here
    readRowValues(d, statement, firstColumn, record->m_values);
    record->m_loaded = true;
    return record;
}

Record *Context::registerLoaded(ObjectID id, int kind, std::vector<QVariant> &&values)
{
    Record *record = create(id, kind);
    record->m_values = std::move(values);
    record->m_loaded = true;
    return record;
}

Record *Context::objectRegistered(ObjectID id) const
{
    return m_objects.find(id);
}

QList<Record *> Context::registeredObjects() const
{
    QList<Record *> list;
    list.reserve(m_objects.size());
    m_objects.forEach([&list](Record *record) { list.append(record); });
    return list;
}

Record *Context::objectWithID(ObjectID id)
{
    if (Record *record = objectRegistered(id))
        return record;
    if (id.row <= 0)
        return nullptr;
    std::vector<QVariant> values;
    if (id.entity == Entity::Datasource) {
        // The record class depends on the row's kind, so read it now.
        if (!readRow(id, values))
            return nullptr;
        return registerLoaded(id, kindOf(id.entity, values), std::move(values));
    }
    return create(id, 0);
}

Record *Context::existingObject(ObjectID id)
{
    Record *record = objectRegistered(id);
    if (record)
        return record->m_deleted ? nullptr : record;
    if (id.row <= 0)
        return nullptr;
    SqliteStatement &statement = entityStatement(m_selectById, id.entity, entitySql(id.entity).selectById);
    statement.bind(1, id.row);
    if (statement.step()) {
        Record *&slot = m_objects.slot(id);
        record = fillNewRecord(slot, id, statement, 1);
    }
    statement.reset();
    return record;
}

void Context::fetchValues(const Query &query, const QList<int> &attributes,
                          const std::function<void(qint64 row, const QVariant *values)> &onRow)
{
    const EntityDescription &d = describe(query.entity);
    const bool withPending = query.includesPendingChanges && !m_changedObjects.isEmpty();
    QByteArray columns = d.table + ".id";
    for (int attribute : attributes)
        columns += ", " + d.table + ".\"" + d.attributes[attribute].name.toUtf8() + '"';
    const SqlFragment select = selectSql(query, columns);
    SqliteStatement statement = m_db.reusable(select.sql);
    statement.bindAll(select.parameters);
    std::vector<QVariant> values(size_t(attributes.size()));
    while (statement.step()) {
        const qint64 row = statement.columnInt64(0);
        if (withPending) {
            const Record *record = m_objects.find(ObjectID{query.entity, row});
            if (record && m_changedObjects.contains(const_cast<Record *>(record)))
                continue; // judged below on its in-memory values
        }
        for (qsizetype i = 0; i < attributes.size(); ++i)
            values[size_t(i)] = attributeValueFromColumn(d.attributes[attributes[i]], statement, int(i) + 1);
        onRow(row, values.data());
    }
    m_db.recycle(select.sql, std::move(statement));
    if (!withPending)
        return;

    for (Record *record : std::as_const(m_changedObjects)) {
        if (record->entity() != query.entity || record->m_deleted
            || !query.predicate.evaluate([record](QStringView key) { return record->valueForKeyPath(key); }))
            continue;
        for (qsizetype i = 0; i < attributes.size(); ++i)
            values[size_t(i)] = record->value(attributes[i]);
        onRow(record->objectID().row, values.data());
    }
}

QList<Record *> Context::fetchFew(const Query &query)
{
    Query rowsOnly = query;
    rowsOnly.sortDescriptors.clear();
    rowsOnly.fetchLimit = 0;
    rowsOnly.fetchOffset = 0;
    QList<qint64> stored;
    QList<Record *> inserted;
    fetchValues(rowsOnly, {}, [&](qint64 row, const QVariant *) {
        if (row > 0)
            stored.append(row);
        else if (Record *record = objectRegistered(ObjectID{query.entity, row}))
            inserted.append(record);
    });
    return objectsWithRows(query.entity, stored) + inserted;
}

QList<Record *> Context::fetch(const Query &query)
{
    const EntityDescription &d = describe(query.entity);
    QList<Record *> pending;
    if (query.includesPendingChanges)
        for (Record *record : std::as_const(m_changedObjects))
            if (record->entity() == query.entity)
                pending.append(record);

    // With pending records in play, limit and offset apply to the merged
    // list. Stored rows skipped below are all pending ones, so the first
    // offset + limit + (pending count) rows in SQL's order hold every stored
    // row the merged list can keep.
    Query sqlQuery = query;
    if (!pending.isEmpty()) {
        sqlQuery.fetchOffset = 0;
        if (query.fetchLimit > 0)
            sqlQuery.fetchLimit = int(std::min<qint64>(qint64(query.fetchOffset) + query.fetchLimit + pending.size(),
                                                       std::numeric_limits<int>::max()));
    }
    const SqlFragment select = selectSql(sqlQuery, columnList(d));
    SqliteStatement statement = m_db.reusable(select.sql);
    statement.bindAll(select.parameters);

    QList<Record *> result;
    while (statement.step()) {
        const ObjectID id{query.entity, statement.columnInt64(0)};
        Record *&slot = m_objects.slot(id);
        if (!slot) {
            result.append(fillNewRecord(slot, id, statement, 1));
            continue;
        }
        Record *record = slot;
        if (record->m_deleted && query.includesPendingChanges)
            continue;
        if (query.includesPendingChanges && record->hasChanges())
            continue; // judged below on its in-memory values
        if (!record->m_loaded) {
            readRowValues(d, statement, 1, record->m_values);
            record->m_loaded = true;
        }
        result.append(record);
    }
    m_db.recycle(select.sql, std::move(statement));

    if (!pending.isEmpty()) {
        for (Record *record : std::as_const(pending)) {
            if (record->m_deleted)
                continue;
            if (query.predicate.evaluate([record](QStringView key) { return record->valueForKeyPath(key); }))
                result.append(record);
        }
        if (!query.sortDescriptors.isEmpty()) {
            const auto less = [&](Record *a, Record *b) {
                return lessThanForSort(query.sortDescriptors,
                                       [a](QStringView key) { return a->valueForKeyPath(key); },
                                       [b](QStringView key) { return b->valueForKeyPath(key); });
            };
            const qint64 kept = qint64(query.fetchOffset) + query.fetchLimit;
            if (query.fetchLimit > 0 && kept < result.size()) {
                // Only the first `kept` are wanted: select them, ties in
                // their present order as the stable sort would leave them.
                std::vector<std::pair<Record *, qsizetype>> order;
                order.reserve(size_t(result.size()));
                for (qsizetype i = 0; i < result.size(); ++i)
                    order.emplace_back(result[i], i);
                std::partial_sort(order.begin(), order.begin() + kept, order.end(), [&](const auto &a, const auto &b) {
                    if (less(a.first, b.first))
                        return true;
                    if (less(b.first, a.first))
                        return false;
                    return a.second < b.second;
                });
                result.resize(qsizetype(kept));
                for (qsizetype i = 0; i < result.size(); ++i)
                    result[i] = order[size_t(i)].first;
            } else {
                std::stable_sort(result.begin(), result.end(), less);
            }
        }
        if (query.fetchOffset > 0)
            result.remove(0, std::min<qsizetype>(query.fetchOffset, result.size()));
        if (query.fetchLimit > 0 && result.size() > query.fetchLimit)
            result.resize(query.fetchLimit);
    }

    if (query.prefetchDatasource && query.entity == Entity::DataItem) {
        const int attribute = describe(Entity::DataItem).indexOf(u"datasource");
        QList<qint64> missing;
        QSet<qint64> seen;
        for (Record *item : std::as_const(result)) {
            const ObjectID target = item->m_values[size_t(attribute)].value<ObjectID>();
            if (target.row > 0 && !seen.contains(target.row) && !objectRegistered(target)) {
                seen.insert(target.row);
                missing.append(target.row);
            }
        }
        const EntityDescription &ds = describe(Entity::Datasource);
        for (qsizetype start = 0; start < missing.size(); start += kIdsPerStatement) {
            const qsizetype n = std::min(kIdsPerStatement, missing.size() - start);
            QByteArray sql = "SELECT " + columnList(ds) + " FROM datasource WHERE id IN (?";
            for (qsizetype i = 1; i < n; ++i)
                sql += ",?";
            sql += ")";
            SqliteStatement load = m_db.prepare(sql);
            for (qsizetype i = 0; i < n; ++i)
                load.bind(int(i + 1), missing[start + i]);
            while (load.step()) {
                const ObjectID id{Entity::Datasource, load.columnInt64(0)};
                Record *&slot = m_objects.slot(id);
                if (!slot)
                    fillNewRecord(slot, id, load, 1);
            }
        }
    }
    return result;
}

void Context::selectRows(Entity entity, const QByteArray &columns, QList<qint64> rows,
                         const std::function<void(const SqliteStatement &)> &onRow)
{
    // Rows in ascending order walk the table once; batches of one size
    // share a prepared statement (the last id repeats to fill a batch).
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty())
        return;
    constexpr qsizetype kBatch = 256;
    const qsizetype batch = std::min(kBatch, rows.size());
    QByteArray sql = "SELECT " + columns + " FROM " + describe(entity).table + " WHERE id IN (?";
    for (qsizetype i = 1; i < batch; ++i)
        sql += ",?";
    sql += ")";
    SqliteStatement load = m_db.reusable(sql);
    for (qsizetype start = 0; start < rows.size(); start += batch) {
        for (qsizetype i = 0; i < batch; ++i)
            load.bind(int(i + 1), rows[std::min(start + i, rows.size() - 1)]);
        while (load.step())
            onRow(load);
        load.reset();
    }
    m_db.recycle(sql, std::move(load));
}

QList<Record *> Context::objectsWithRows(Entity entity, const QList<qint64> &rows)
{
    const EntityDescription &d = describe(entity);
    QList<qint64> missing;
    for (qint64 row : rows) {
        const Record *record = row > 0 ? objectRegistered(ObjectID{entity, row}) : nullptr;
        if (row > 0 && (!record || !record->m_loaded))
            missing.append(row);
    }
    m_objects.reserve(m_objects.size() + missing.size());
    selectRows(entity, columnList(d), missing, [&](const SqliteStatement &load) {
        const ObjectID id{entity, load.columnInt64(0)};
        Record *&slot = m_objects.slot(id);
        if (!slot) {
            fillNewRecord(slot, id, load, 1);
        } else if (!slot->m_loaded) {
            readRowValues(d, load, 1, slot->m_values);
            slot->m_loaded = true;
        }
    });
    QList<Record *> result;
    result.reserve(rows.size());
    for (qint64 row : rows) {
        Record *record = row > 0 ? objectRegistered(ObjectID{entity, row}) : nullptr;
        if (record && record->m_loaded)
            result.append(record);
    }
    return result;
}

QList<Record *> Context::existingObjectsAsFaults(const QList<ObjectID> &ids)
{
    std::array<QList<qint64>, 4> unknown;
    for (const ObjectID &id : ids)
        if (id.row > 0 && id.entity != Entity::Datasource && !objectRegistered(id))
            unknown[size_t(id.entity)].append(id.row);
    QSet<ObjectID> stored;
    for (Entity entity : {Entity::Category, Entity::DataItem, Entity::Keyword})
        selectRows(entity, "id", unknown[size_t(entity)],
                   [&](const SqliteStatement &row) { stored.insert(ObjectID{entity, row.columnInt64(0)}); });
    QList<Record *> result;
    result.reserve(ids.size());
    for (const ObjectID &id : ids) {
        Record *record = nullptr;
        if (id.entity == Entity::Datasource || objectRegistered(id))
            record = existingObject(id);
        else if (stored.contains(id))
            record = objectWithID(id);
        if (record)
            result.append(record);
    }
    return result;
}

QList<Record *> Context::faultsWithRows(Entity entity, const QList<qint64> &rows)
{
    CORVANE_ASSERT(entity != Entity::Datasource, "subscriptions cannot be made as faults");
    if (++m_faultBatchGeneration == 0)
        ++m_faultBatchGeneration;
    m_faultBatchEntity = entity;
    m_faultBatchRows.assign(rows.cbegin(), rows.cend());
    m_objects.reserve(m_objects.size() + rows.size());
    QList<Record *> result;
    result.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ObjectID id{entity, rows[i]};
        if (id.row <= 0)
            continue;
        Record *&slot = m_objects.slot(id);
        if (!slot)
            slot = makeRecord(this, id, 0).release(); // owned by the identity map
        slot->m_faultBatchGeneration = m_faultBatchGeneration;
        slot->m_faultBatchIndex = qint32(i);
        result.append(slot);
    }
    return result;
}

void Context::fillFaultBatch(qsizetype index)
{
    // As many rows as one of objectsWithRows()'s batched reads takes.
    constexpr qsizetype kBatch = 256;
    QList<qint64> rows;
    rows.reserve(kBatch);
    const qsizetype total = qsizetype(m_faultBatchRows.size());
    for (qsizetype i = index; i < total && rows.size() < kBatch; ++i) {
        const Record *record = objectRegistered(ObjectID{m_faultBatchEntity, m_faultBatchRows[size_t(i)]});
        if (record && !record->m_loaded && !record->m_inserted)
            rows.append(record->objectID().row);
    }
    if (!rows.isEmpty())
        objectsWithRows(m_faultBatchEntity, rows);
}

qint64 Context::count(const Query &query)
{
    if (query.includesPendingChanges)
        for (Record *record : std::as_const(m_changedObjects))
            if (record->entity() == query.entity)
                return fetch(query).size();
    const SqlFragment select = countSql(query);
    return m_db.scalar(select.sql, select.parameters).toLongLong();
}

void Context::refresh(Record *record, bool merge)
{
    if (!record || record->context() != this || record->m_inserted)
        return;
    if (!merge) {
        record->m_changed.clear();
        record->m_deleted = false;
        m_changedObjects.remove(record);
        const bool wasLoaded = record->m_loaded;
        record->m_loaded = false;
        if (wasLoaded)
            record->didTurnIntoFault();
        record->m_values.release(); // read again when next touched
        return;
    }
    std::vector<QVariant> values;
    if (!readRow(record->objectID(), values))
        return;
    for (size_t i = 0; i < values.size(); ++i)
        if (!record->m_changed.contains(int(i)))
            record->m_values[i] = std::move(values[i]);
    record->m_loaded = true;
}

void Context::releaseValues(Entity entity)
{
    m_objects.forEach([this, entity](Record *record) {
        if (record->entity() == entity && record->m_loaded && !record->m_inserted
            && !m_changedObjects.contains(record))
            refresh(record, false);
    });
}

void Context::beforeWrite(const void *key, std::function<void()> task)
{
    const auto sameKey = [key](const auto &entry) { return entry.first == key; };
    if (std::none_of(m_beforeWrite.cbegin(), m_beforeWrite.cend(), sameKey))
        m_beforeWrite.emplace_back(key, std::move(task));
}

void Context::reset()
{
    KeywordHelper::shared().forgetContext(this);
    m_changedObjects.clear();
    m_beforeWrite.clear();
    m_objects.forEach([](Record *record) {
        if (record->m_loaded)
            record->didTurnIntoFault();
    });
    m_objects.clear();
    m_gone.clear();
    m_faultBatchRows.clear();
    m_faultBatchRows.shrink_to_fit();
}

bool Context::hasChanges() const
{
    return !m_changedObjects.isEmpty();
}

void Context::unregister(ObjectID id)
{
    std::unique_ptr<Record> record = m_objects.take(id);
    if (!record)
        return;
    m_changedObjects.remove(record.get());
    record->m_deleted = true;
    // Callers may still hold the pointer for the rest of the current task.
    m_gone.push_back(std::move(record));
    scheduleReleaseOfGone();
}

void Context::scheduleReleaseOfGone()
{
    if (m_releaseScheduled)
        return;
    // Without a queue (a context used before its queue is set) the records
    // wait for reset().
    dispatch::Queue *queue = ContextManager::shared().queueForContext(this);
    if (!queue)
        return;
    m_releaseScheduled = true;
    queue->async([liveness = m_liveness] {
        std::lock_guard guard(liveness->lock);
        if (Context *context = liveness->context) {
            std::lock_guard confined(context->m_lock);
            context->m_releaseScheduled = false;
            context->m_gone.clear();
        }
    });
}

bool Context::save(QString *error)
{
    if (m_changedObjects.isEmpty())
        return true;

    // Save hooks may change further records; run them until no record is
    // left whose hook has not run in this save.
    QSet<Record *> prepared;
    for (int round = 0; round < 16; ++round) {
        bool ranHook = false;
        const QList<Record *> changed(m_changedObjects.cbegin(), m_changedObjects.cend());
        for (Record *record : changed) {
            if (prepared.contains(record))
                continue;
            prepared.insert(record);
            if (!record->m_deleted) {
                record->willSave();
                ranHook = true;
            }
        }
        if (!ranHook) {
            if (m_beforeWrite.empty())
                break;
            const auto tasks = std::exchange(m_beforeWrite, {});
            for (const auto &task : tasks)
                task.second();
        }
    }
    m_beforeWrite.clear();

    QList<Record *> inserted, updated, deleted;
    for (Entity entity : kSaveOrder)
        for (Record *record : std::as_const(m_changedObjects)) {
            if (record->entity() != entity)
                continue;
            if (record->m_deleted)
                deleted.append(record);
            else if (record->m_inserted)
                inserted.append(record);
            else if (!record->m_changed.isEmpty())
                updated.append(record);
        }
    // Inserts must follow the targets of their relationships; sort by
    // temporary id within an entity so creation order is kept.
    std::stable_sort(inserted.begin(), inserted.end(), [](Record *a, Record *b) {
        if (a->entity() != b->entity())
            return int(a->entity()) < int(b->entity());
        return a->objectID().row > b->objectID().row;
    });

    // Updates in row order walk the table's pages once, not at random.
    std::sort(updated.begin(), updated.end(), [](Record *a, Record *b) {
        if (a->entity() != b->entity())
            return int(a->entity()) < int(b->entity());
        return a->objectID().row < b->objectID().row;
    });

    if (!writeChanges(inserted, updated, deleted, error))
        return false;
    // Inserted records change their identifiers, deleted ones leave.
    for (const QList<Record *> *gone : {&inserted, &deleted})
        for (const Record *record : *gone)
            ++m_membershipChanges[size_t(record->entity())];

    SaveInfo info;
    for (Record *record : std::as_const(inserted))
        info.inserted.append(record->objectID());
    for (Record *record : std::as_const(updated))
        info.updated.append(record->objectID());
    for (Record *record : std::as_const(deleted))
        if (!record->m_inserted)
            info.deleted.append(record->objectID());

    m_changedObjects.clear();
    for (Record *record : std::as_const(inserted)) {
        record->m_inserted = false;
        record->m_changed.clear();
    }
    for (Record *record : std::as_const(updated))
        record->m_changed.clear();
    for (Record *record : std::as_const(inserted))
        record->didSave();
    for (Record *record : std::as_const(updated))
        record->didSave();
    for (Record *record : std::as_const(deleted)) {
        record->didSave();
        unregister(record->objectID());
    }
    // Cached keyword lists hold records this save may have freed, and miss
    // the keywords it added; every context fetches its list again.
    const auto isKeyword = [](const Record *record) { return record->entity() == Entity::Keyword; };
    if (info.touched(Entity::Keyword) || std::any_of(deleted.cbegin(), deleted.cend(), isKeyword))
        KeywordHelper::shared().didSaveFromContext(this);

    NotificationCenter::defaultCenter().post(kContextDidSaveNotification, this,
                                             {{QStringLiteral("info"), QVariant::fromValue(info)}});
    return true;
}

bool Context::writeChanges(QList<Record *> &inserted, QList<Record *> &updated, QList<Record *> &deleted,
                           QString *error)
{
    const auto fail = [&] {
        const QString message = m_db.errorString();
        m_db.exec("ROLLBACK");
        if (error)
            *error = message;
        return false;
    };
    if (!m_db.exec("BEGIN IMMEDIATE"))
        return fail();

    QHash<ObjectID, ObjectID> permanent; // temporary id -> row id
    const auto resolved = [&permanent](const QVariant &value) {
        if (value.metaType() != QMetaType::fromType<ObjectID>())
            return value;
        const ObjectID id = value.value<ObjectID>();
        return id.isTemporary() ? QVariant::fromValue(permanent.value(id, ObjectID{id.entity, 0})) : value;
    };

    for (Record *record : std::as_const(inserted)) {
        const EntityDescription &d = record->description();
        SqliteStatement &statement = entityStatement(m_insertRow, record->entity(), entitySql(record->entity()).insert);
        for (int i = 0; i < d.attributes.size(); ++i) {
            QVariant &slot = record->m_values[size_t(i)];
            if (slot.metaType() == QMetaType::fromType<ObjectID>()) {
                slot = resolved(slot);
                statement.bind(i + 1, bindable(slot));
            } else {
                statement.bind(i + 1, slot);
            }
        }
        if (!statement.isValid() || !statement.exec())
            return fail();
        permanent.insert(record->objectID(), ObjectID{record->entity(), m_db.lastInsertRowId()});
    }

    for (Record *record : std::as_const(updated)) {
        const EntityDescription &d = record->description();
        const QList<int> columns = record->m_changed.toList();
        QByteArray sql = "UPDATE " + d.table + " SET ";
        for (int i = 0; i < columns.size(); ++i)
            sql += (i ? ", \"" : "\"") + d.attributes[columns[i]].name.toUtf8() + "\" = ?";
        sql += " WHERE id = ?";
        SqliteStatement &statement = m_db.cached(sql);
        for (int i = 0; i < columns.size(); ++i) {
            QVariant &slot = record->m_values[size_t(columns[i])];
            if (slot.metaType() == QMetaType::fromType<ObjectID>()) {
                slot = resolved(slot);
                statement.bind(i + 1, bindable(slot));
            } else {
                statement.bind(i + 1, slot);
            }
        }
        statement.bind(int(columns.size()) + 1, record->objectID().row);
        if (!statement.isValid() || !statement.exec())
            return fail();
    }

    for (Record *record : std::as_const(deleted)) {
        if (record->m_inserted)
            continue;
        SqliteStatement &statement = m_db.cached("DELETE FROM " + record->description().table + " WHERE id = ?");
        statement.bind(1, record->objectID().row);
        if (!statement.isValid() || !statement.exec())
            return fail();
    }

    if (!m_db.exec("COMMIT"))
        return fail();

    // The rows exist now: move inserted records to their permanent ids.
    for (Record *record : std::as_const(inserted)) {
        const ObjectID temporary = record->objectID();
        std::unique_ptr<Record> owned = m_objects.take(temporary);
        const ObjectID id = permanent.value(temporary);
        owned->m_id = id;
        m_objects.insert(id, std::move(owned));
    }
    // Inserted-then-deleted records never reached the store.
    for (Record *record : std::as_const(deleted))
        if (record->m_inserted)
            record->m_changed.clear();
    return true;
}

void Context::mergeChanges(const SaveInfo &info)
{
    for (const ObjectID &id : info.updated) {
        Record *record = objectRegistered(id);
        if (!record || !record->m_loaded || record->m_deleted)
            continue;
        std::vector<QVariant> values;
        if (!readRow(id, values)) {
            unregister(id);
            continue;
        }
        for (size_t i = 0; i < values.size(); ++i)
            if (!record->m_changed.contains(int(i)))
                record->m_values[i] = std::move(values[i]);
    }
    for (const ObjectID &id : info.deleted)
        if (objectRegistered(id))
            unregister(id);
    dropCascaded(info.deleted);
    if (info.touched(Entity::Keyword))
        KeywordHelper::shared().forgetContext(this);
}

// Rows the store deleted or changed along with a deleted record: items of a
// deleted subscription are gone; subscriptions of a deleted category are now
// at the top level.
void Context::dropCascaded(const QList<ObjectID> &deleted)
{
    QSet<ObjectID> datasources, categories;
    for (const ObjectID &id : deleted) {
        if (id.entity == Entity::Datasource)
            datasources.insert(id);
        else if (id.entity == Entity::Category)
            categories.insert(id);
    }
    if (datasources.isEmpty() && categories.isEmpty())
        return;
    const int itemDatasource = describe(Entity::DataItem).indexOf(u"datasource");
    const int datasourceCategory = describe(Entity::Datasource).indexOf(u"category");
    const QList<Record *> registered = registeredObjects();
    for (Record *record : registered) {
        if (!record->m_loaded)
            continue;
        if (record->entity() == Entity::DataItem
            && datasources.contains(record->m_values[size_t(itemDatasource)].value<ObjectID>()))
            unregister(record->objectID());
        else if (record->entity() == Entity::Datasource
                 && categories.contains(record->m_values[size_t(datasourceCategory)].value<ObjectID>())
                 && !record->m_changed.contains(datasourceCategory))
            record->m_values[size_t(datasourceCategory)] = QVariant();
    }
}

} // namespace corvane
