#include "visibleitems.h"

#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include "store/entitydescription.h"
#include "store/sqlitedatabase.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace corvane::visibleitems {

namespace {

Query listQuery(const Predicate &predicate, const QList<SortDescriptor> &sort)
{
    Query query{Entity::DataItem, predicate, sort};
    query.includesPendingChanges = false;
    query.prefetchDatasource = true;
    return query;
}

// Applies the per-subscription limits to fetched items, in their order.
// `checkExists` drops items the context no longer has (the delayed variant).
QList<DataItem *> filterVisible(const QList<DataItem *> &items, Context *context, Date now, bool checkExists)
{
    const int timeStamp = describe(Entity::DataItem).indexOf(DataItem::timeStampKey());
    struct Limits { qint32 count; Date cutOff; qint32 seen; };
    QHash<ObjectID, Limits> bySource;
    QList<DataItem *> visible;
    for (DataItem *item : items) {
        if (checkExists && !context->existingObject(item->objectID()))
            continue;
        if (item->isStarred()) {
            visible.append(item);
            continue;
        }
        const Datasource *source = item->datasource();
        if (!source)
            continue;
        auto it = bySource.find(source->objectID());
        if (it == bySource.end())
            it = bySource.insert(source->objectID(),
                                 {source->limitOrDefault(), earliestDateForAgeLimit(source->ageLimitOrDefault(), now), 0});
        if (it->seen > it->count)
            continue;
        const QVariant stamp = item->value(timeStamp);
        if (!stamp.isValid() || stamp.toDouble() <= it->cutOff)
            continue;
        visible.append(item);
        ++it->seen;
    }
    return visible;
}

Date startOfToday(Date now)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(now * 1000.0));
    return double(local.date().startOfDay().toMSecsSinceEpoch()) / 1000.0;
}

// --- Selecting the visible items before any record is made ---
//
// One narrow pass reads, for every row the predicate matches, its id, its
// subscription, its star, its timestamp and its sort keys. The rule above is
// then worked out on those values: starred rows stay; rows without an
// existing subscription or too old drop out and, being invisible, never
// count; of the rest, each subscription keeps the first limit + 1 in the
// sort order. Only the rows kept are loaded as records, and filterVisible()
// runs over them once more as the authority.
//
// A row the context holds a loaded record for is judged on the record's
// values, as filterVisible() would judge it (unsaved changes, or values not
// yet merged from another context's save); the predicate and the order are
// SQL's over the stored values, as for the fetch it replaces. Both passes run
// in one read transaction, so they see the same rows.

// A sort key as ORDER BY compares it: NULL, then numbers (integers and
// reals by value), text and blobs by their bytes.
struct KeyValue
{
    enum Class : quint8 { Null, Number, Text, Blob };
    Class cls = Null;
    bool real = false;
    qint64 integer = 0;
    double number = 0;
    quint32 offset = 0;
    quint32 length = 0;
};

template<typename T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int compareKeys(const KeyValue &a, const KeyValue &b, const char *arena)
{
    if (a.cls != b.cls)
        return a.cls < b.cls ? -1 : 1;
    switch (a.cls) {
    case KeyValue::Null:
        return 0;
    case KeyValue::Number:
        if (!a.real && !b.real)
            return threeWay(a.integer, b.integer);
        if (a.real && b.real)
            return threeWay(a.number, b.number);
        return a.real ? -compareIntegerReal(b.integer, a.number) : compareIntegerReal(a.integer, b.number);
    case KeyValue::Text:
    case KeyValue::Blob:
        break;
    }
    const quint32 n = std::min(a.length, b.length);
    const int c = n ? std::memcmp(arena + a.offset, arena + b.offset, n) : 0;
    return c != 0 ? (c < 0 ? -1 : 1) : threeWay(a.length, b.length);
}

struct Candidate
{
    qint64 id;
    ObjectID source;
    bool starred;
};

struct SourceLimits
{
    bool exists = false;
    qint64 quota = 0; // limit + 1 unstarred items are shown
    Date cutOff = 0;
};

// What the narrow pass found: the rows that may be visible, with their keys.
struct Survey
{
    std::vector<Candidate> candidates; // starred ones and those passing the age test
    std::vector<KeyValue> keys;        // keysPerRow for each candidate
    QByteArray arena;                  // the bytes of text and blob keys
    int keysPerRow = 0;
    QList<bool> ascending;
    QHash<ObjectID, SourceLimits> limits;
};

class ReadTransaction
{
public:
    explicit ReadTransaction(SqliteDatabase &db)
        : m_db(db)
        , m_began(!db.inTransaction() && db.exec("BEGIN"))
    {
    }
    ~ReadTransaction()
    {
        if (m_began)
            m_db.exec("COMMIT");
    }
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    SqliteDatabase &m_db;
    bool m_began;
};

SourceLimits &limitsOf(Survey &survey, Context *context, ObjectID id, Date now)
{
    auto it = survey.limits.find(id);
    if (it != survey.limits.end())
        return *it;
    SourceLimits limits;
    if (const auto *source = static_cast<const Datasource *>(context->existingObject(id))) {
        limits.exists = true;
        limits.quota = qint64(source->limitOrDefault()) + 1;
        limits.cutOff = earliestDateForAgeLimit(source->ageLimitOrDefault(), now);
    }
    return *survey.limits.insert(id, limits);
}

void readKey(const SqliteStatement &statement, int column, Survey &survey)
{
    using Type = SqliteValue::Type;
    const SqliteValue value = statement.value(column);
    KeyValue key;
    switch (value.type()) {
    case Type::Integer:
        key.cls = KeyValue::Number;
        key.integer = value.toInt64();
        break;
    case Type::Real:
        key.cls = KeyValue::Number;
        key.real = true;
        key.number = value.toDouble();
        break;
    case Type::Text:
    case Type::Blob: {
        key.cls = value.type() == Type::Text ? KeyValue::Text : KeyValue::Blob;
        const QByteArrayView bytes = value.bytes();
        key.offset = quint32(survey.arena.size());
        key.length = quint32(bytes.size());
        survey.arena.append(bytes);
        break;
    }
    case Type::Null:
        break;
    }
    survey.keys.push_back(key);
}

// The narrow pass. `sort` empty: no keys are read (counting needs none).
// `narrowing`, when given, is a condition the predicate implies, written so
// that an index can find the rows.
Survey survey(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context, Date now,
              const SqlFragment &narrowing = {})
{
    Survey out;
    const EntityDescription &d = describe(Entity::DataItem);
    const int timeStamp = d.indexOf(DataItem::timeStampKey());
    const Attribute &sourceAttribute = d.attributes[DataItem::DatasourceRef];
    const Attribute &starredAttribute = d.attributes[DataItem::Starred];
    const Attribute &stampAttribute = d.attributes[timeStamp];

    QByteArray sql = "SELECT item.id, item.\"datasource\", item.\"starred\", item.\"" + stampAttribute.name.toUtf8() + '"';
    for (const SortDescriptor &descriptor : sort) {
        const QByteArray expr = keyPathSql(Entity::DataItem, descriptor.key);
        if (expr.isEmpty()) {
            logLine(QStringLiteral("query: %1 has no sort key \"%2\"").arg(entityName(Entity::DataItem), descriptor.key));
            CORVANE_ASSERT(false, "unknown sort key in a query");
            continue;
        }
        sql += ", " + expr;
        out.ascending.append(descriptor.ascending);
    }
    out.keysPerRow = int(out.ascending.size());
    sql += " FROM item";
    QVariantList parameters;
    QByteArray glue = " WHERE ";
    if (!narrowing.sql.isEmpty()) {
        sql += glue + narrowing.sql;
        parameters = narrowing.parameters;
        glue = " AND ";
    }
    if (!predicate.matchesEverything()) {
        const SqlFragment where = predicate.toSql(Entity::DataItem);
        sql += glue + where.sql;
        parameters.append(where.parameters);
    }

    // Rows the context has no record for are judged on the stored values.
    const bool anyRegistered = context->hasRegistered(Entity::DataItem);
    SqliteDatabase &db = context->database();
    SqliteStatement statement = db.reusable(sql);
    statement.bindAll(parameters);
    using Type = SqliteValue::Type;
    while (statement.step()) {
        const qint64 id = statement.columnInt64(0);
        bool starred;
        const Record *record =
            anyRegistered ? context->objectRegistered(ObjectID{Entity::DataItem, id}) : nullptr;
        ObjectID source{Entity::Datasource, 0};
        std::optional<double> stamp;
        if (record && !record->isFault()) {
            starred = record->value(DataItem::Starred).toBool();
            if (!starred) {
                const QVariant sourceValue = record->value(DataItem::DatasourceRef);
                if (!sourceValue.isValid())
                    continue;
                source = sourceValue.value<ObjectID>();
                const QVariant value = record->value(timeStamp);
                if (value.isValid())
                    stamp = value.toDouble();
            }
        } else {
            // The storage classes the columns normally hold are read as
            // they are; anything else converts as a record would.
            const SqliteValue starredColumn = statement.value(2);
            starred = starredColumn.type() == Type::Integer
                          ? starredColumn.toInt64() != 0
                          : attributeValueFromColumn(starredAttribute, statement, 2).toBool();
            if (!starred) {
                const SqliteValue sourceColumn = statement.value(1);
                if (sourceColumn.type() == Type::Null)
                    continue;
                source = sourceColumn.type() == Type::Integer
                             ? ObjectID{Entity::Datasource, sourceColumn.toInt64()}
                             : attributeValueFromColumn(sourceAttribute, statement, 1).value<ObjectID>();
                const SqliteValue stampColumn = statement.value(3);
                if (stampColumn.type() == Type::Real || stampColumn.type() == Type::Integer) {
                    stamp = stampColumn.toDouble();
                } else if (stampColumn.type() != Type::Null) {
                    const QVariant value = attributeValueFromColumn(stampAttribute, statement, 3);
                    if (value.isValid())
                        stamp = value.toDouble();
                }
            }
        }
        if (!starred) {
            const SourceLimits &limits = limitsOf(out, context, source, now);
            if (!limits.exists || limits.quota <= 0 || !stamp || *stamp <= limits.cutOff)
                continue;
        }
        out.candidates.push_back(Candidate{id, source, starred});
        for (int k = 0; k < out.keysPerRow; ++k)
            readKey(statement, 4 + k, out);
    }
    db.recycle(sql, std::move(statement));
    return out;
}

// A sort key reduced to its class and a double, ordered as the key itself
// wherever the two differ (rounding an integer to a double never swaps it
// with a real). `exact` when equal reductions mean equal keys: NULL, reals
// and integers a double holds exactly.
struct Reduced
{
    quint8 cls = KeyValue::Null;
    bool exact = true;
    double number = 0;
};

Reduced reduce(const KeyValue &key)
{
    Reduced r;
    r.cls = key.cls;
    if (key.cls == KeyValue::Number) {
        r.number = key.real ? key.number : double(key.integer);
        r.exact = key.real || (key.integer >= -(qint64(1) << 53) && key.integer <= (qint64(1) << 53));
    } else {
        r.exact = key.cls == KeyValue::Null;
    }
    return r;
}

// The ids of the visible rows, in the sort order (ties by id).
QList<qint64> visibleRows(const Survey &survey)
{
    const int stride = survey.keysPerRow;
    const KeyValue *keys = survey.keys.data();
    const char *arena = survey.arena.constData();
    const std::vector<Candidate> &all = survey.candidates;
    std::vector<char> ascending(survey.ascending.cbegin(), survey.ascending.cend());
    // Most comparisons end on the reductions of the first two keys.
    const int reducedPerRow = std::min(stride, 2);
    std::vector<Reduced> reduced(all.size() * size_t(reducedPerRow));
    for (size_t i = 0; i < all.size(); ++i)
        for (int k = 0; k < reducedPerRow; ++k)
            reduced[i * size_t(reducedPerRow) + size_t(k)] = reduce(keys[i * size_t(stride) + size_t(k)]);
    const auto less = [&](quint32 a, quint32 b) {
        for (int k = 0; k < reducedPerRow; ++k) {
            const Reduced &x = reduced[size_t(a) * size_t(reducedPerRow) + size_t(k)];
            const Reduced &y = reduced[size_t(b) * size_t(reducedPerRow) + size_t(k)];
            if (x.cls != y.cls || x.number != y.number) {
                const bool before = x.cls != y.cls ? x.cls < y.cls : x.number < y.number;
                return ascending[size_t(k)] ? before : !before;
            }
            if (!x.exact || !y.exact)
                break; // equal reductions, keys perhaps not: compare them
        }
        for (int k = 0; k < stride; ++k) {
            const int c = compareKeys(keys[size_t(a) * stride + k], keys[size_t(b) * stride + k], arena);
            if (c != 0)
                return ascending[size_t(k)] ? c < 0 : c > 0;
        }
        return all[a].id < all[b].id;
    };

    std::vector<quint32> kept;
    QHash<ObjectID, std::vector<quint32>> bySource;
    for (quint32 i = 0; i < all.size(); ++i) {
        if (all[i].starred)
            kept.push_back(i);
        else
            bySource[all[i].source].push_back(i);
    }
    for (auto it = bySource.begin(); it != bySource.end(); ++it) {
        std::vector<quint32> &rows = it.value();
        const qint64 quota = survey.limits.value(it.key()).quota;
        if (qint64(rows.size()) > quota) {
            std::nth_element(rows.begin(), rows.begin() + quota, rows.end(), less);
            rows.resize(size_t(quota));
        }
        kept.insert(kept.end(), rows.begin(), rows.end());
    }
    std::sort(kept.begin(), kept.end(), less);
    QList<qint64> ids;
    ids.reserve(qsizetype(kept.size()));
    for (quint32 i : kept)
        ids.append(all[i].id);
    return ids;
}

// The items' subscriptions, registered as a fetch with prefetchDatasource
// would leave them. Those of unstarred items were looked up by the survey.
void loadSources(const QList<DataItem *> &items, Context *context)
{
    QSet<ObjectID> seen;
    for (const DataItem *item : items) {
        if (!item->isStarred())
            continue;
        const QVariant value = item->value(DataItem::DatasourceRef);
        if (!value.isValid())
            continue;
        const ObjectID id = value.value<ObjectID>();
        if (id.row > 0 && !seen.contains(id) && !context->objectRegistered(id)) {
            seen.insert(id);
            context->existingObject(id);
        }
    }
}

// The count does not depend on the order: per subscription it is the
// number of unstarred rows passing the age test, up to limit + 1.
qint64 countVisible(const Predicate &predicate, Context *context, Date now, const SqlFragment &narrowing)
{
    ReadTransaction snapshot(context->database());
    const Survey found = survey(predicate, {}, context, now, narrowing);
    QHash<ObjectID, qint64> perSource;
    qint64 count = 0;
    for (const Candidate &candidate : found.candidates) {
        if (candidate.starred)
            ++count;
        else
            ++perSource[candidate.source];
    }
    for (auto it = perSource.cbegin(); it != perSource.cend(); ++it)
        count += std::min(it.value(), found.limits.value(it.key()).quota);
    return count;
}

} // namespace

QList<SortDescriptor> sortDescriptors()
{
    return {{QStringLiteral("orderingDate"), false},
            {QStringLiteral("originalDate"), false},
            {QStringLiteral("guid"), true},
            {QStringLiteral("itemHash"), true}};
}

QList<DataItem *> visibleDataItems(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                   Date now)
{
    QList<DataItem *> items;
    {
        ReadTransaction snapshot(context->database());
        Survey found = survey(predicate, sort, context, now);
        const QList<qint64> rows = visibleRows(found);
        for (Record *record : context->objectsWithRows(Entity::DataItem, rows))
            items.append(static_cast<DataItem *>(record));
        loadSources(items, context);
    }
    return filterVisible(items, context, now, false);
}

qint64 visibleDataItemsCount(const Predicate &predicate, Context *context, Date now)
{
    return countVisible(predicate, context, now, {});
}

void visibleDataItemsWithBlock(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                               std::function<void(QList<DataItem *>)> block)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    QList<DataItem *> fetched = context->fetchAs<DataItem>(listQuery(predicate, sort));
    dispatch::main().async([fetched = std::move(fetched), context, block = std::move(block)] {
        block(filterVisible(fetched, context, currentDate(), true));
    });
}

qint64 countForItemFromBackground(StoreManager &stores, const Record *record, bool onlyToday,
                                  const Predicate &extraPredicate, Date now)
{
    Context *background = stores.contextBackground();
    CORVANE_ASSERT(background->queue().isCurrent(), "should be called from background queue!");
    Predicate predicate = Predicate::equal(QStringLiteral("datasource.enabled"), true)
                          && Predicate::equal(QStringLiteral("deleted"), false);
    if (const std::optional<bool> allRead = DataItem::allRead()) {
        if (*allRead)
            return 0;
    } else {
        predicate = predicate && Predicate::equal(QStringLiteral("read"), false);
    }
    if (!extraPredicate.matchesEverything())
        predicate = predicate && extraPredicate;
    SqlFragment narrowing;
    if (record && record->entity() == Entity::Category) {
        predicate = predicate
                    && Predicate::equal(QStringLiteral("datasource.category"), QVariant::fromValue(record->objectID()));
        // The category's items, found through the subscription index.
        narrowing.sql = "item.\"datasource\" IN (SELECT id FROM datasource WHERE \"category\" IS ?)";
        narrowing.parameters.append(record->objectID().row);
    }
    else if (record && record->entity() == Entity::Datasource)
        predicate = predicate && Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(record->objectID()));
    if (onlyToday)
        predicate = predicate && Predicate::greaterOrEqual(DataItem::timeStampKey(), startOfToday(now));
    return countVisible(predicate, background, now, narrowing);
}

} // namespace corvane::visibleitems
