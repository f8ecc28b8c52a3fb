#pragma once

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace corvane::sync {

// One stamped record of the key-value store: property-list values (QString,
// qint64, double, bool, QDateTime) by field name, always with "clock".
using KeyValueRecord = QVariantMap;
// Key -> record: the store's current dictionary and the content of one file.
using KeyValueDictionary = QHash<QString, KeyValueRecord>;

namespace record {

inline const QString kClock = QStringLiteral("clock");
inline const QString kDeleted = QStringLiteral("deleted");

qint64 clock(const KeyValueRecord &record);
bool isDeletion(const KeyValueRecord &record);
KeyValueRecord deletion(qint64 stamp);

// Whether `a` replaces the held record `b` when a local change is written:
// true without `b`, else only for a strictly greater stamp.
bool isNewer(const KeyValueRecord &a, const std::optional<KeyValueRecord> &b);

// Whether `a`, read from another machine's file, replaces the held `b`: a
// strictly greater stamp wins; of two different records with the same stamp
// (two machines stamped concurrent changes alike) the one whose canonical
// text sorts higher wins, so every machine settles on the same one.
bool winsMerge(const KeyValueRecord &a, const std::optional<KeyValueRecord> &b);

// Field-for-field equality (numbers compared by value, whatever their type).
bool equal(const KeyValueRecord &a, const KeyValueRecord &b);

} // namespace record

} // namespace corvane::sync
