#include "record.h"

#include "context.h"
#include "sqlitedatabase.h"

#include "base/corvaneassert.h"

#include <bit>

namespace corvane {

namespace {

// Values are kept in one canonical type per attribute type, so comparing a
// value read from SQLite with one set in code is meaningful.
QVariant normalized(AttributeType type, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        switch (type) {
        case AttributeType::Boolean:
            return false;
        case AttributeType::Integer:
            return qint64(0);
        default:
            return QVariant();
        }
    }
    switch (type) {
    case AttributeType::String:
        return value.toString();
    case AttributeType::Integer:
        return value.toLongLong();
    case AttributeType::Double:
        return value.toDouble();
    case AttributeType::Boolean:
        return value.toBool();
    case AttributeType::Blob:
        return value.toByteArray();
    case AttributeType::ToOne:
        return value.canConvert<ObjectID>() ? value : QVariant();
    }
    return value;
}

} // namespace

QVariant normalizedAttributeValue(AttributeType type, const QVariant &value)
{
    return normalized(type, value);
}

QList<int> AttributeSet::toList() const
{
    QList<int> list;
    for (quint64 bits = m_bits; bits; bits &= bits - 1)
        list.append(std::countr_zero(bits));
    return list;
}

QSet<int> AttributeSet::toSet() const
{
    QSet<int> set;
    for (quint64 bits = m_bits; bits; bits &= bits - 1)
        set.insert(std::countr_zero(bits));
    return set;
}

RecordValues::RecordValues(size_t count)
    : m_size(count)
{
}

RecordValues::~RecordValues()
{
    delete[] m_data;
}

void RecordValues::allocate()
{
    m_data = new QVariant[m_size];
}

void RecordValues::release()
{
    delete[] m_data;
    m_data = nullptr;
}

const QVariant &RecordValues::none()
{
    static const QVariant invalid;
    return invalid;
}

RecordValues &RecordValues::operator=(std::vector<QVariant> &&values)
{
    CORVANE_ASSERT(values.size() == m_size, "values of another entity");
    if (!m_data)
        allocate();
    for (size_t i = 0; i < m_size && i < values.size(); ++i)
        m_data[i] = std::move(values[i]);
    return *this;
}

// The usual storage class of each type is read directly; anything else
// takes the general conversion.
QVariant attributeValueFromColumn(const Attribute &a, const SqliteStatement &statement, int column)
{
    using Type = SqliteValue::Type;
    const SqliteValue value = statement.value(column);
    const Type type = value.type();
    switch (a.type) {
    case AttributeType::String:
        if (type == Type::Text)
            return value.toText();
        if (type == Type::Null)
            return QVariant();
        break;
    case AttributeType::Integer:
        if (type == Type::Integer || type == Type::Null)
            return value.toInt64();
        break;
    case AttributeType::Boolean:
        if (type == Type::Integer || type == Type::Null)
            return value.toInt64() != 0;
        break;
    case AttributeType::Double:
        if (type == Type::Real || type == Type::Integer)
            return value.toDouble();
        if (type == Type::Null)
            return QVariant();
        break;
    case AttributeType::Blob:
        if (type == Type::Blob)
            return value.toBlob();
        if (type == Type::Null)
            return QVariant();
        break;
    case AttributeType::ToOne:
        if (type == Type::Null)
            return QVariant();
        return QVariant::fromValue(ObjectID{a.target, value.toVariant().toLongLong()});
    }
    return normalizedAttributeValue(a.type, value.toVariant());
}

Record::Record(Context *context, ObjectID id)
    : m_context(context)
    , m_id(id)
    , m_values(size_t(describe(id.entity).attributes.size()))
{
    CORVANE_ASSERT(describe(id.entity).attributes.size() <= 64, "changes are tracked for 64 attributes at most");
}

Record::~Record() = default;

void Record::ensureLoaded() const
{
    if (!m_loaded)
        m_context->loadValues(const_cast<Record *>(this));
}

QVariant Record::value(int attribute) const
{
    return valueRef(attribute);
}

const QVariant &Record::valueRef(int attribute) const
{
    CORVANE_ASSERT(attribute >= 0 && attribute < int(m_values.size()), "no such attribute");
    ensureLoaded();
    return m_values[size_t(attribute)];
}

void Record::setValue(int attribute, const QVariant &value)
{
    CORVANE_ASSERT(attribute >= 0 && attribute < int(m_values.size()), "no such attribute");
    ensureLoaded();
    QVariant v = normalized(description().attributes[attribute].type, value);
    QVariant &slot = m_values[size_t(attribute)];
    if (slot.isValid() == v.isValid() && slot == v)
        return;
    slot = std::move(v);
    m_changed.insert(attribute);
    m_context->recordChanged(this);
}

QVariant Record::value(QStringView key) const
{
    const int index = description().indexOf(key);
    return index < 0 ? QVariant() : value(index);
}

void Record::setValue(QStringView key, const QVariant &value)
{
    const int index = description().indexOf(key);
    CORVANE_ASSERT(index >= 0, "no such attribute");
    if (index >= 0)
        setValue(index, value);
}

QVariant Record::valueForKeyPath(QStringView keyPath) const
{
    const qsizetype dot = keyPath.indexOf(u'.');
    const QStringView head = dot < 0 ? keyPath : keyPath.left(dot);
    const int index = description().indexOf(head);
    if (index < 0)
        return QVariant();
    if (dot < 0)
        return value(index);
    const Record *target = related(index);
    return target ? target->valueForKeyPath(keyPath.mid(dot + 1)) : QVariant();
}

Record *Record::related(int attribute) const
{
    const QVariant v = value(attribute);
    if (!v.isValid())
        return nullptr;
    return m_context->existingObject(v.value<ObjectID>());
}

void Record::setRelated(int attribute, const Record *target)
{
    CORVANE_ASSERT(!target || target->context() == m_context, "records of different contexts");
    setValue(attribute, target ? QVariant::fromValue(target->objectID()) : QVariant());
}

const QSet<int> &Record::changedAttributes() const
{
    m_changedSet = m_changed.toSet();
    return m_changedSet;
}

QSet<QString> Record::changedKeys() const
{
    QSet<QString> keys;
    for (int index : m_changed.toList())
        keys.insert(description().attributes[index].name);
    return keys;
}

QString Record::stringValue(int attribute) const
{
    return value(attribute).toString();
}

qint64 Record::integerValue(int attribute) const
{
    return value(attribute).toLongLong();
}

double Record::doubleValue(int attribute) const
{
    return value(attribute).toDouble();
}

bool Record::boolValue(int attribute) const
{
    return value(attribute).toBool();
}

QByteArray Record::blobValue(int attribute) const
{
    return value(attribute).toByteArray();
}

std::optional<double> Record::optionalDouble(int attribute) const
{
    const QVariant v = value(attribute);
    if (!v.isValid())
        return std::nullopt;
    return v.toDouble();
}

} // namespace corvane
