#include "itemsurvey.h"

#include "context.h"
#include "dataitem.h"
#include "entitydescription.h"
#include "record.h"
#include "sqlitedatabase.h"

#include "base/corvaneassert.h"
#include "base/log.h"

#include <algorithm>
#include <cstring>

namespace corvane {
namespace {

template<typename T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

void appendKey(const SqliteStatement &statement, int column, std::vector<SurveyKey> &keys, QByteArray &arena)
{
    using Type = SqliteValue::Type;
    const SqliteValue value = statement.value(column);
    SurveyKey key;
    switch (value.type()) {
    case Type::Integer:
        key.cls = SurveyKey::Number;
        key.integer = value.toInt64();
        break;
    case Type::Real:
        key.cls = SurveyKey::Number;
        key.real = true;
        key.number = value.toDouble();
        break;
    case Type::Text:
    case Type::Blob: {
        key.cls = value.type() == Type::Text ? SurveyKey::Text : SurveyKey::Blob;
        const QByteArrayView bytes = value.bytes();
        key.bytes.offset = quint32(arena.size());
        key.bytes.length = quint32(bytes.size());
        arena.append(bytes);
        break;
    }
    case Type::Null:
        break;
    }
    keys.push_back(key);
}

} // namespace

int compareSurveyKeys(const SurveyKey &a, const SurveyKey &b, const char *arena)
{
    if (a.cls != b.cls)
        return a.cls < b.cls ? -1 : 1;
    switch (a.cls) {
    case SurveyKey::Null:
        return 0;
    case SurveyKey::Number:
        if (!a.real && !b.real)
            return threeWay(a.integer, b.integer);
        if (a.real && b.real)
            return threeWay(a.number, b.number);
        return a.real ? -compareIntegerReal(b.integer, a.number) : compareIntegerReal(a.integer, b.number);
    case SurveyKey::Text:
    case SurveyKey::Blob:
        break;
    }
    const quint32 n = std::min(a.bytes.length, b.bytes.length);
    const int c = n ? std::memcmp(arena + a.bytes.offset, arena + b.bytes.offset, n) : 0;
    return c != 0 ? (c < 0 ? -1 : 1) : threeWay(a.bytes.length, b.bytes.length);
}

ItemSurvey::ItemSurvey(Context *context, const Predicate &predicate, const QList<SortDescriptor> &sort,
                       QStringView timeStampKey, std::optional<ObjectID> withinCategory)
    : m_context(context)
{
    const EntityDescription &d = describe(Entity::DataItem);
    m_timeStamp = d.indexOf(timeStampKey);
    m_sql = "SELECT item.id, item.\"datasource\", item.\"starred\", item.\""
            + d.attributes[m_timeStamp].name.toUtf8() + '"';
    for (const SortDescriptor &descriptor : sort) {
        const QByteArray expr = keyPathSql(Entity::DataItem, descriptor.key);
        if (expr.isEmpty()) {
            logLine(QStringLiteral("query: %1 has no sort key \"%2\"").arg(entityName(Entity::DataItem), descriptor.key));
            CORVANE_ASSERT(false, "unknown sort key in a query");
            continue;
        }
        m_sql += ", " + expr;
        m_ascending.append(descriptor.ascending);
    }
    m_sql += " FROM item";
    QByteArray glue = " WHERE ";
    if (withinCategory) {
        m_sql += glue + "item.\"datasource\" IN (SELECT id FROM datasource WHERE \"category\" IS ?)";
        m_parameters.append(withinCategory->row);
        glue = " AND ";
    }
    if (!predicate.matchesEverything()) {
        const SqlFragment where = predicate.toSql(Entity::DataItem);
        m_sql += glue + where.sql;
        m_parameters.append(where.parameters);
    }

    SqliteDatabase &db = context->database();
    m_began = !db.inTransaction() && db.exec("BEGIN");
    // Room for every row between the lowest and the highest id (both found
    // through the table's b-tree, not by counting), up to a million, so the
    // callers' vectors rarely move. Reserved memory not used is not touched.
    constexpr qint64 kReserveAtMost = 1 << 20;
    m_firstRow = db.scalar("SELECT min(id) FROM item").toLongLong();
    m_span = db.scalar("SELECT max(id) FROM item").toLongLong() - m_firstRow + 1;
    m_rowsAtMost = size_t(std::clamp<qint64>(m_span, 0, kReserveAtMost));
}

ItemSurvey::~ItemSurvey()
{
    if (m_began)
        m_context->database().exec("COMMIT");
}

void ItemSurvey::run(const std::function<bool(const Row &row)> &keep)
{
    Context *context = m_context;
    const EntityDescription &d = describe(Entity::DataItem);
    const Attribute &sourceAttribute = d.attributes[DataItem::DatasourceRef];
    const Attribute &starredAttribute = d.attributes[DataItem::Starred];
    const Attribute &stampAttribute = d.attributes[m_timeStamp];
    const int keysPerRow = this->keysPerRow();

    // Rows the context has no loaded record for are judged on the stored
    // values. When the context holds records for a good part of the rows,
    // they are looked up in a table by row over that span (hashing every
    // row costs more than reading it); otherwise, or for a wider span, in
    // the identity map, so a few records cost no table.
    constexpr qint64 kTableAtMost = 1 << 20;
    const qsizetype registered = context->registeredCount(Entity::DataItem);
    const bool anyRegistered = registered > 0;
    std::vector<const Record *> loadedByRow;
    if (registered > m_span / 8 && m_span > 0 && m_span <= kTableAtMost) {
        loadedByRow.assign(size_t(m_span), nullptr);
        for (const Record *record : context->registeredObjects()) {
            const qint64 row = record->objectID().row;
            if (record->entity() == Entity::DataItem && !record->isFault() && row >= m_firstRow && row - m_firstRow < m_span)
                loadedByRow[size_t(row - m_firstRow)] = record;
        }
    }
    const auto loadedRecord = [&](qint64 id) -> const Record * {
        if (!loadedByRow.empty())
            return id >= m_firstRow && id - m_firstRow < qint64(loadedByRow.size())
                       ? loadedByRow[size_t(id - m_firstRow)]
                       : nullptr;
        if (!anyRegistered)
            return nullptr;
        const Record *record = context->objectRegistered(ObjectID{Entity::DataItem, id});
        return record && !record->isFault() ? record : nullptr;
    };
    m_keys.reserve(m_rowsAtMost * size_t(keysPerRow));
    if (keysPerRow > 0)
        m_arena.reserve(qsizetype(m_rowsAtMost) * 32); // text keys: guids, mostly

    SqliteDatabase &db = context->database();
    SqliteStatement statement = db.reusable(m_sql);
    statement.bindAll(m_parameters);
    using Type = SqliteValue::Type;
    while (statement.step()) {
        Row row{statement.columnInt64(0), ObjectID{Entity::Datasource, 0}, false, std::nullopt};
        if (const Record *record = loadedRecord(row.id)) {
            row.starred = record->valueRef(DataItem::Starred).toBool();
            const QVariant &sourceValue = record->valueRef(DataItem::DatasourceRef);
            if (!sourceValue.isValid() && !row.starred)
                continue;
            if (sourceValue.isValid())
                row.source = sourceValue.value<ObjectID>();
            if (!row.starred) {
                const QVariant &value = record->valueRef(m_timeStamp);
                if (value.isValid())
                    row.stamp = value.toDouble();
            }
        } else {
            // The storage classes the columns normally hold are read as
            // they are; anything else converts as a record would.
            const SqliteValue starredColumn = statement.value(2);
            row.starred = starredColumn.type() == Type::Integer
                              ? starredColumn.toInt64() != 0
                              : attributeValueFromColumn(starredAttribute, statement, 2).toBool();
            const SqliteValue sourceColumn = statement.value(1);
            if (sourceColumn.type() == Type::Null && !row.starred)
                continue;
            if (sourceColumn.type() == Type::Integer)
                row.source = ObjectID{Entity::Datasource, sourceColumn.toInt64()};
            else if (sourceColumn.type() != Type::Null)
                row.source = attributeValueFromColumn(sourceAttribute, statement, 1).value<ObjectID>();
            if (!row.starred) {
                const SqliteValue stampColumn = statement.value(3);
                if (stampColumn.type() == Type::Real || stampColumn.type() == Type::Integer) {
                    row.stamp = stampColumn.toDouble();
                } else if (stampColumn.type() != Type::Null) {
                    const QVariant value = attributeValueFromColumn(stampAttribute, statement, 3);
                    if (value.isValid())
                        row.stamp = value.toDouble();
                }
            }
        }
        if (!keep(row))
            continue;
        for (int k = 0; k < keysPerRow; ++k)
            appendKey(statement, 4 + k, m_keys, m_arena);
    }
    db.recycle(m_sql, std::move(statement));
}

} // namespace corvane
