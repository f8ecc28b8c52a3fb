#include "sync/keyvaluerecord.h"

#include <QDateTime>
#include <QStringList>

namespace corvane::sync::record {

namespace {

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isInteger(const QVariant &value)
{
    return isNumber(value) && value.typeId() != QMetaType::Double && value.typeId() != QMetaType::Float;
}

bool equalValues(const QVariant &a, const QVariant &b)
{
    if (isNumber(a) && isNumber(b)) {
        if (isInteger(a) && isInteger(b))
            return a.toLongLong() == b.toLongLong();
        return a.toDouble() == b.toDouble();
    }
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
        return a.toDateTime().toMSecsSinceEpoch() == b.toDateTime().toMSecsSinceEpoch();
    return a.typeId() == b.typeId() && a == b;
}

// A text that orders records the same way on every machine.
QString canonicalText(const KeyValueRecord &record)
{
    QStringList keys = record.keys();
    keys.sort();
    QString text;
    for (const QString &key : std::as_const(keys)) {
        const QVariant &value = record[key];
        text += key;
        text += QLatin1Char('=');
        if (value.typeId() == QMetaType::QDateTime)
            text += QStringLiteral("d%1").arg(value.toDateTime().toMSecsSinceEpoch());
        else if (value.typeId() == QMetaType::Bool)
            text += value.toBool() ? QStringLiteral("b1") : QStringLiteral("b0");
        else if (isInteger(value))
            text += QStringLiteral("i%1").arg(value.toLongLong());
        else if (isNumber(value))
            text += QStringLiteral("r%1").arg(value.toDouble(), 0, 'g', 17);
        else
            text += QLatin1Char('s') + value.toString();
        text += QChar(0);
    }
    return text;
}

} // namespace

qint64 clock(const KeyValueRecord &record)
{
    return record.value(kClock).toLongLong();
}

bool isDeletion(const KeyValueRecord &record)
{
    const QVariant deleted = record.value(kDeleted);
    return deleted.typeId() == QMetaType::Bool ? deleted.toBool() : deleted.toLongLong() != 0;
}

KeyValueRecord deletion(qint64 stamp)
{
    return {{kDeleted, true}, {kClock, stamp}};
}

bool isNewer(const KeyValueRecord &a, const std::optional<KeyValueRecord> &b)
{
    return !b || clock(a) > clock(*b);
}

bool winsMerge(const KeyValueRecord &a, const std::optional<KeyValueRecord> &b)
{
    if (!b || clock(a) > clock(*b))
        return true;
    if (clock(a) < clock(*b) || equal(a, *b))
        return false;
    return canonicalText(a) > canonicalText(*b);
}

bool equal(const KeyValueRecord &a, const KeyValueRecord &b)
{
    if (a.size() != b.size())
        return false;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        const auto other = b.constFind(it.key());
        if (other == b.cend() || !equalValues(it.value(), other.value()))
            return false;
    }
    return true;
}

} // namespace corvane::sync::record
