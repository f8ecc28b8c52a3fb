#include "sync/keyvaluefile.h"

#include "sync/cloudfolder.h"

#include "feeds/legacy/keyedarchive.h"

#include "feeds/legacy/plistnode.h"

#include <plist/plist.h>

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace corvane::sync {

namespace {

// Binary property-list dates count seconds from 2001-01-01 UTC.
constexpr qint64 kSecondsFrom1970To2001 = 978307200;

using PlistHandle = plistnode::Handle;
using plistnode::forEachEntry;
using plistnode::isType;

// A field value as a record holds it; invalid for a kind records never hold.
QVariant fieldValue(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        return text ? QString::fromUtf8(text, qsizetype(length)) : QString();
    }
    case PLIST_UINT: {
        // Binary property lists store signed 64-bit integers; libplist hands
        // them out unsigned.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return qint64(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return std::isfinite(value) ? QVariant(value) : QVariant();
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        const qint64 ms = (qint64(seconds) + kSecondsFrom1970To2001) * 1000 + micros / 1000;
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }
    default:
        return QVariant();
    }
}

std::optional<KeyValueRecord> recordFrom(plist_t node)
{
    if (!isType(node, PLIST_DICT))
        return std::nullopt;
    KeyValueRecord result;
    bool usable = true;
    forEachEntry(node, [&](const QString &field, plist_t value) {
        const QVariant converted = fieldValue(value);
        if (!converted.isValid())
            usable = false;
        else
            result.insert(field, converted);
    });
    if (!usable || result.value(record::kClock).typeId() != QMetaType::LongLong)
        return std::nullopt;
    return result;
}

plist_t nodeFor(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kSecondsFrom1970To2001 * 1000;
        const qint64 seconds = qint64(std::floor(double(ms) / 1000.0));
        const qint64 clamped = std::clamp<qint64>(seconds, INT32_MIN, INT32_MAX);
        return plist_new_date(int32_t(clamped), clamped == seconds ? int32_t((ms - seconds * 1000) * 1000) : 0);
    }
    default:
        // Texts; libplist takes C strings, so a NUL character ends one.
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

} // namespace

KeyValueFileContent readKeyValueFile(QByteArrayView bytes)
{
    KeyValueFileContent content;
    KeyedArchiveLimits limits;
    limits.maxInputBytes = CloudFolder::kMaxFileSize;
    // Top level, record, and one more level that is skipped per record.
    limits.maxDepth = 8;
    if (!checkBinaryPropertyList(bytes, limits, &content.error))
        return content;
    plist_t parsed = nullptr;
    plist_from_bin(bytes.data(), uint32_t(bytes.size()), &parsed);
    PlistHandle root(parsed);
    if (!isType(root.get(), PLIST_DICT)) {
        content.error = root ? QStringLiteral("the top level is no dictionary")
                             : QStringLiteral("the property list could not be parsed");
        return content;
    }
    content.dictionary.reserve(plist_dict_get_size(root.get()));
    forEachEntry(root.get(), [&](const QString &key, plist_t value) {
        if (std::optional<KeyValueRecord> entry = recordFrom(value); entry && !key.isEmpty())
            content.dictionary.insert(key, std::move(*entry));
        else
            ++content.skippedRecords;
    });
    return content;
}

QByteArray writeKeyValueFile(const KeyValueDictionary &dictionary)
{
    PlistHandle root(plist_new_dict());
    QStringList keys = dictionary.keys();
    keys.sort();
    for (const QString &key : std::as_const(keys)) {
        plist_t entry = plist_new_dict();
        const KeyValueRecord &fields = dictionary[key];
        for (auto it = fields.cbegin(); it != fields.cend(); ++it)
            plist_dict_set_item(entry, it.key().toUtf8().constData(), nodeFor(it.value()));
        plist_dict_set_item(root.get(), key.toUtf8().constData(), entry);
    }
    char *data = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &data, &length);
    QByteArray bytes(data, qsizetype(length));
    plist_to_bin_free(data);
    return bytes;
}

} // namespace corvane::sync
