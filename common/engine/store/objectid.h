#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

namespace corvane {

enum class Entity : quint8 { Category, Datasource, DataItem, Keyword };

// Identifies one record of a store. Saved records have their row id (> 0);
// records inserted and not yet saved carry a temporary id (< 0) that is only
// meaningful in the context that inserted them.
struct ObjectID
{
    Entity entity = Entity::DataItem;
    qint64 row = 0;

    bool isNull() const { return row == 0; }
    bool isTemporary() const { return row < 0; }

    friend bool operator==(const ObjectID &, const ObjectID &) = default;
};

inline size_t qHash(const ObjectID &id, size_t seed = 0) noexcept
{
    return qHashMulti(seed, quint8(id.entity), id.row);
}

QString entityName(Entity entity);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::ObjectID)
