#include "query.h"

#include "store/entitydescription.h"

#include "base/corvaneassert.h"
#include "base/log.h"

#include <utility>

namespace corvane {

namespace {

const QString kDatasourceKey = QStringLiteral("datasource");


void appendWhere(const Query &query, SqlFragment &out)
{
    if (query.predicate.matchesEverything())
        return;
    const SqlFragment where = query.predicate.toSql(query.entity);
    out.sql += " WHERE " + where.sql;
    out.parameters.append(where.parameters);
}

void appendOrderBy(const Query &query, SqlFragment &out)
{
    bool first = true;
    for (const SortDescriptor &descriptor : query.sortDescriptors) {
        const QByteArray expr = keyPathSql(query.entity, descriptor.key);
        if (expr.isEmpty()) {
            logLine(QStringLiteral("query: %1 has no sort key \"%2\"").arg(entityName(query.entity), descriptor.key));
            CORVANE_ASSERT(false, "unknown sort key in a query");
            continue;
        }
        out.sql += (first ? " ORDER BY " : ", ") + expr + (descriptor.ascending ? " ASC" : " DESC");
        first = false;
    }
}

void appendLimit(const Query &query, SqlFragment &out)
{
    if (query.fetchLimit <= 0 && query.fetchOffset <= 0)
        return;
    // SQLite accepts OFFSET only after a LIMIT; -1 stands for none.
    out.sql += " LIMIT ?";
    out.parameters.append(qint64(query.fetchLimit > 0 ? query.fetchLimit : -1));
    if (query.fetchOffset > 0) {
        out.sql += " OFFSET ?";
        out.parameters.append(qint64(query.fetchOffset));
    }
}

} // namespace

Query itemWithGuid(const QString &guid, ObjectID datasource)
{
    return Query(Entity::DataItem, Predicate::equal(kDatasourceKey, QVariant::fromValue(datasource))
                     && Predicate::equal(QStringLiteral("guid"), guid));
}

Query itemWithHash(qint64 hash, ObjectID datasource)
{
    return Query(Entity::DataItem, Predicate::equal(kDatasourceKey, QVariant::fromValue(datasource))
                     && Predicate::equal(QStringLiteral("itemHash"), hash));
}

Query Query::fetchRequestTemplate(const QString &name, const QVariantHash &substitutions)
{
    const QVariant datasource = substitutions.value(QStringLiteral("DATASOURCE"));
    const bool hasDatasource = datasource.metaType() == QMetaType::fromType<ObjectID>();
    if (name == QLatin1String("ItemWithGuid")) {
        const QVariant guid = substitutions.value(QStringLiteral("GUID"));
        CORVANE_ASSERT(hasDatasource && guid.isValid(), "ItemWithGuid needs GUID and DATASOURCE");
        if (hasDatasource && guid.isValid())
            return itemWithGuid(guid.toString(), datasource.value<ObjectID>());
    } else if (name == QLatin1String("ItemWithHash")) {
        const QVariant hash = substitutions.value(QStringLiteral("HASH"));
        CORVANE_ASSERT(hasDatasource && hash.isValid(), "ItemWithHash needs HASH and DATASOURCE");
        if (hasDatasource && hash.isValid())
            return itemWithHash(hash.toLongLong(), datasource.value<ObjectID>());
    } else {
        logLine(QStringLiteral("query: no fetch template named \"%1\"").arg(name));
        CORVANE_ASSERT(false, "unknown fetch template");
    }
    return Query(Entity::DataItem, Predicate::alwaysFalse());
}

SqlFragment selectSql(const Query &query, const QByteArray &columns)
{
    SqlFragment out;
    out.sql = "SELECT " + columns + " FROM " + describe(query.entity).table;
    appendWhere(query, out);
    appendOrderBy(query, out);
    appendLimit(query, out);
    return out;
}

SqlFragment countSql(const Query &query)
{
    if (query.fetchLimit <= 0 && query.fetchOffset <= 0) {
        SqlFragment out;
        out.sql = "SELECT COUNT(*) FROM " + describe(query.entity).table;
        appendWhere(query, out);
        return out;
    }
    // Limit and offset cut the row list, so count the rows of the cut list;
    // the order does not change how many there are.
    Query unordered = query;
    unordered.sortDescriptors.clear();
    SqlFragment out = selectSql(unordered, "1");
    out.sql = "SELECT COUNT(*) FROM (" + out.sql + ')';
    return out;
}

bool lessThanForSort(const QList<SortDescriptor> &sortDescriptors, const KeyPathLookup &a, const KeyPathLookup &b)
{
    for (const SortDescriptor &descriptor : sortDescriptors) {
        const int c = compareForSort(a(descriptor.key), b(descriptor.key));
        if (c != 0)
            return descriptor.ascending ? c < 0 : c > 0;
    }
    return false;
}

} // namespace corvane
