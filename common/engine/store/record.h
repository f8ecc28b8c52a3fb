#pragma once

#include "entitydescription.h"
#include "objectid.h"

#include <QSet>
#include <QVariant>

#include <optional>
#include <vector>

namespace corvane {

class Context;
class SqliteStatement;

// The canonical form of a value of the given attribute type (booleans as
// bool, integers as qint64, NULL booleans and integers as false and 0).
QVariant normalizedAttributeValue(AttributeType type, const QVariant &value);
// The value a record of the attribute holds for column `column` of the
// statement's current row (its canonical form, as above).
QVariant attributeValueFromColumn(const Attribute &attribute, const SqliteStatement &statement, int column);

// A set of attribute indexes (below 64) as bits.
class AttributeSet
{
public:
    bool isEmpty() const { return m_bits == 0; }
    bool contains(int attribute) const { return attribute >= 0 && attribute < 64 && (m_bits >> attribute) & 1; }
    void insert(int attribute) { m_bits |= quint64(1) << attribute; }
    void clear() { m_bits = 0; }
    // Ascending.
    QList<int> toList() const;
    QSet<int> toSet() const;

private:
    quint64 m_bits = 0;
};

// The attribute values of one record, indexed like the entity's attributes.
// A fault holds none: the values are allocated, in one block, when first
// written (loading the row, inserting, setting a value), so the many faults
// of a long list cost little more than their identity.
class RecordValues
{
public:
    explicit RecordValues(size_t count);
    ~RecordValues();
    RecordValues(const RecordValues &) = delete;
    RecordValues &operator=(const RecordValues &) = delete;
    RecordValues &operator=(std::vector<QVariant> &&values);

    size_t size() const { return m_size; }
    bool isAllocated() const { return m_data != nullptr; }
    QVariant &operator[](size_t index)
    {
        if (!m_data)
            allocate();
        return m_data[index];
    }
    const QVariant &operator[](size_t index) const { return m_data ? m_data[index] : none(); }
    // Frees the values; reading gives invalid values until they are written again.
    void release();

private:
    void allocate();
    static const QVariant &none();

    size_t m_size;
    QVariant *m_data = nullptr;
};

// One stored object, confined to the context that holds it and touched only
// on that context's queue. Attribute values live in a vector indexed like the
// entity's attributes; a record whose values are not loaded is a fault and
// loads them on first access. Relationships hold the target's ObjectID.
//
// Change tracking: every set of a value that differs from the current one
// records the attribute index; save() writes only those columns and clears
// the set. The record classes (Category, Datasource, DataItem, Keyword) add
// typed accessors and their save hooks on top.
class Record
{
public:
    virtual ~Record();
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;

    Entity entity() const { return m_id.entity; }
    const EntityDescription &description() const { return describe(m_id.entity); }
    ObjectID objectID() const { return m_id; }
    Context *context() const { return m_context; }

    bool isFault() const { return !m_loaded; }
    // Whether the attribute values occupy memory (faults hold none).
    bool holdsValues() const { return m_values.isAllocated(); }
    bool isInserted() const { return m_inserted; }
    bool isDeleted() const { return m_deleted; }
    bool hasChanges() const { return m_inserted || m_deleted || !m_changed.isEmpty(); }

    QVariant value(int attribute) const;
    // The value in place, without a copy: valid until the record changes or
    // turns into a fault. For loops over many records.
    const QVariant &valueRef(int attribute) const;
    void setValue(int attribute, const QVariant &value);
    QVariant value(QStringView key) const;
    void setValue(QStringView key, const QVariant &value);

    // "title", or one hop through a to-one relationship: "datasource.name".
    // A relationship itself answers its target's ObjectID.
    QVariant valueForKeyPath(QStringView keyPath) const;

    // The target of a to-one relationship in this record's context, or null.
    Record *related(int attribute) const;
    void setRelated(int attribute, const Record *target);

    // Attributes changed since the last save (indexes and names).
    const QSet<int> &changedAttributes() const;
    bool isChanged(int attribute) const { return m_changed.contains(attribute); }
    QSet<QString> changedKeys() const;

    // Hooks called by the context.
    virtual void awakeFromInsert() {}
    virtual void prepareForDeletion() {}
    virtual void willSave() {}
    virtual void didSave() {}
    virtual void didTurnIntoFault() {}

protected:
    Record(Context *context, ObjectID id);

    // Typed reads used by the record classes.
    QString stringValue(int attribute) const;
    qint64 integerValue(int attribute) const;
    double doubleValue(int attribute) const;
    bool boolValue(int attribute) const;
    QByteArray blobValue(int attribute) const;
    // None when the attribute holds no value (dates, optional numbers).
    std::optional<double> optionalDouble(int attribute) const;

private:
    friend class Context;

    void ensureLoaded() const;

    Context *m_context;
    ObjectID m_id;
    mutable RecordValues m_values;
    mutable bool m_loaded = false;
    bool m_inserted = false;
    bool m_deleted = false;
    AttributeSet m_changed;
    // The record's place in its context's latest list of faults (0: none).
    quint32 m_faultBatchGeneration = 0;
    qint32 m_faultBatchIndex = 0;
    mutable QSet<int> m_changedSet; // changedAttributes() as a QSet
};

} // namespace corvane
