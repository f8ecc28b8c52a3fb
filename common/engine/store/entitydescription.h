#pragma once

#include "objectid.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvane {

enum class AttributeType : quint8 {
    String,
    Integer, // signed 64-bit
    Double,  // also dates: seconds since 1970
    Boolean,
    Blob,
    ToOne, // a relationship: the target's ObjectID
};

struct Attribute
{
    QString name;
    AttributeType type;
    Entity target = Entity::Category; // for ToOne
};

// The stored shape of one record type: its table and columns, in the order
// the record classes index them.
struct EntityDescription
{
    Entity entity;
    QString name;
    QByteArray table;
    QList<Attribute> attributes;

    // Index of the attribute, or -1.
    int indexOf(QStringView attributeName) const;
};

const EntityDescription &describe(Entity entity);

// The statements creating the current schema (tables, then indexes).
QList<QByteArray> schemaStatements();
// The tables only; without the sync attributes they are the schema of the
// previous store version "Corvane.db".
QList<QByteArray> tableStatements(bool withSyncAttributes);
QList<QByteArray> indexStatements();
// Drops the indexes earlier versions made that the store no longer keeps.
QList<QByteArray> retiredIndexStatements();
// uuid, clock, itemHash, readLocalStamp, feedlyId and the pending flags:
// the attributes the previous store version did not have.
bool isSyncAttribute(const QString &name);
// `"name" TYPE` as in CREATE TABLE and ALTER TABLE ADD COLUMN.
QByteArray columnDefinition(const Attribute &attribute);

} // namespace corvane
