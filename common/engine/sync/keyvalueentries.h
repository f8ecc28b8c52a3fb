#pragma once

#include "sync/keyvaluerecord.h"

#include <QString>

#include <optional>

namespace corvane {
class Category;
class DataItem;
class Datasource;
class Keyword;
class Record;
} // namespace corvane

namespace corvane::sync::entries {

// Key prefixes; the identity is the text after the first ".".
inline const QString kCategoryPrefix = QStringLiteral("Category.");
inline const QString kFeedPrefix = QStringLiteral("Feed.");
inline const QString kDataItemPrefix = QStringLiteral("DataItem.");
inline const QString kKeywordPrefix = QStringLiteral("Keyword.");

QString identityFromKey(const QString &key);
// The hash of a "DataItem." key (signed decimal); none when it is not one.
std::optional<qint64> hashFromKey(const QString &key);

// Keys: empty when the entity has no identity yet.
QString keyForCategoryUuid(const QString &uuid);
QString keyForDatasourceUuid(const QString &uuid);
QString keyForCategory(const Category *category);
QString keyForDatasource(const Datasource *datasource);
QString keyForDataItem(const DataItem *item);
QString keyForItemHash(qint64 hash);
QString keyForKeyword(const Keyword *keyword);

// Gives a category, subscription or keyword its stamp and identity before
// it becomes a record (a subscription's category too).
void setupObject(Record *record);

KeyValueRecord entryForCategory(const Category *category);
KeyValueRecord entryForDatasource(const Datasource *datasource);
KeyValueRecord entryForDataItem(const DataItem *item);
KeyValueRecord entryForKeyword(const Keyword *keyword);

// The key and record of a category, subscription, starred item or keyword
// record; none for anything else or an entity without identity.
std::optional<std::pair<QString, KeyValueRecord>> keyAndEntry(Record *record);

} // namespace corvane::sync::entries
