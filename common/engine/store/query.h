#pragma once

#include "store/objectid.h"
#include "store/predicate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantHash>

#include <utility>

namespace corvane {

// One sort key: an attribute or a one-hop key path ("datasource.position").
struct SortDescriptor
{
    QString key;
    bool ascending = true;
};

// What a context fetches: the objects of one entity matching the predicate,
// in the given order. A fetchLimit of 0 means no limit.
struct Query
{
    // Spelled out so Query{entity, predicate} needs no trailing fields
    // (-Wmissing-field-initializers).
    Query() = default;
    Query(Entity entity, Predicate predicate = {}, QList<SortDescriptor> sortDescriptors = {}, int fetchLimit = 0,
          int fetchOffset = 0)
        : entity(entity)
        , predicate(std::move(predicate))
        , sortDescriptors(std::move(sortDescriptors))
        , fetchLimit(fetchLimit)
        , fetchOffset(fetchOffset)
    {
    }

    Entity entity = Entity::DataItem;
    Predicate predicate;
    QList<SortDescriptor> sortDescriptors;
    int fetchLimit = 0;
    int fetchOffset = 0;
    // Load the items' subscriptions along with them (DataItem only).
    bool prefetchDatasource = false;
    // Include objects inserted, changed or deleted in the context but not yet saved.
    bool includesPendingChanges = true;

    // The store's named fetch templates: "ItemWithGuid" (variables "GUID",
    // "DATASOURCE") and "ItemWithHash" ("HASH", "DATASOURCE"). An unknown
    // name or a missing variable is a programming error and gives a query
    // that matches nothing.
    static Query fetchRequestTemplate(const QString &name, const QVariantHash &substitutions);
};

// The items of `datasource` whose guid equals `guid`.
Query itemWithGuid(const QString &guid, ObjectID datasource);
// The items of `datasource` whose itemHash equals `hash`.
Query itemWithHash(qint64 hash, ObjectID datasource);

// SELECT <columns> FROM <table> [WHERE ...] [ORDER BY ...] [LIMIT ? OFFSET ?];
// `columns` are written by the caller from the entity description.
SqlFragment selectSql(const Query &query, const QByteArray &columns);
// SELECT COUNT(*) of the same rows, limit and offset included.
SqlFragment countSql(const Query &query);

// The in-memory order of ORDER BY: true when the object behind `a` sorts
// before the one behind `b`. Ascending puts NULL first, descending last.
bool lessThanForSort(const QList<SortDescriptor> &sortDescriptors, const KeyPathLookup &a, const KeyPathLookup &b);

} // namespace corvane
