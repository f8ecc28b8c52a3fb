#include "sync/keyvalueentries.h"

#include "store/category.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"

#include <QDateTime>

namespace corvane::sync::entries {

namespace {

// Absent values travel as the empty string.
QVariant dateOrEmpty(OptionalDate date)
{
    if (!date)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(qint64(*date * 1000.0), Qt::UTC);
}

} // namespace

QString identityFromKey(const QString &key)
{
    const qsizetype dot = key.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : key.mid(dot + 1);
}

std::optional<qint64> hashFromKey(const QString &key)
{
    if (!key.startsWith(kDataItemPrefix))
        return std::nullopt;
    bool ok = false;
    const qint64 hash = identityFromKey(key).toLongLong(&ok);
    return ok ? std::optional<qint64>(hash) : std::nullopt;
}

QString keyForCategoryUuid(const QString &uuid)
{
    return uuid.isEmpty() ? QString() : kCategoryPrefix + uuid;
}

QString keyForDatasourceUuid(const QString &uuid)
{
    return uuid.isEmpty() ? QString() : kFeedPrefix + uuid;
}

QString keyForCategory(const Category *category)
{
    return keyForCategoryUuid(category->uuid());
}

QString keyForDatasource(const Datasource *datasource)
{
    return keyForDatasourceUuid(datasource->uuid());
}

QString keyForItemHash(qint64 hash)
{
    return kDataItemPrefix + QString::number(hash);
}

QString keyForDataItem(const DataItem *item)
{
    return keyForItemHash(item->itemHash());
}

QString keyForKeyword(const Keyword *keyword)
{
    return keyword->name().isEmpty() ? QString() : kKeywordPrefix + keyword->name();
}

void setupObject(Record *record)
{
    if (auto *category = dynamic_cast<Category *>(record)) {
        category->updateTimestamp();
        category->setupUuid();
    } else if (auto *datasource = dynamic_cast<Datasource *>(record)) {
        datasource->updateTimestamp();
        datasource->setupUuid();
        if (Category *category = datasource->category())
            setupObject(category);
    } else if (auto *keyword = dynamic_cast<Keyword *>(record)) {
        keyword->updateTimestamp();
    }
}

KeyValueRecord entryForCategory(const Category *category)
{
    return {{QStringLiteral("name"), category->name()},
            {QStringLiteral("position"), category->position()},
            {record::kClock, category->clock()}};
}

KeyValueRecord entryForDatasource(const Datasource *datasource)
{
    const Category *category = datasource->category();
    return {{QStringLiteral("name"), datasource->name()},
            {QStringLiteral("customName"), datasource->customName()},
            {QStringLiteral("position"), datasource->position()},
            {QStringLiteral("url"), datasource->url()},
            {record::kClock, datasource->clock()},
            {QStringLiteral("categoryUuid"), category ? category->uuid() : QString()}};
}

KeyValueRecord entryForDataItem(const DataItem *item)
{
    if (!item->isStarred())
        return {{QStringLiteral("starred"), false}, {record::kClock, item->clock()}};
    const Datasource *datasource = item->datasource();
    return {{QStringLiteral("read"), item->isRead()},
            {QStringLiteral("previewContent"), item->previewContent()},
            {QStringLiteral("title"), item->title()},
            {QStringLiteral("itemDescription"), item->itemDescription()},
            {QStringLiteral("starred"), true},
            {record::kClock, item->clock()},
            {QStringLiteral("parsedDate"), dateOrEmpty(item->parsedDate())},
            {QStringLiteral("orderingDate"), dateOrEmpty(item->orderingDate())},
            {QStringLiteral("originalDate"), dateOrEmpty(item->originalDate())},
            {QStringLiteral("link"), item->link()},
            {QStringLiteral("enclosureUrl"), item->enclosureUrl()},
            {QStringLiteral("enclosureMime"), item->enclosureMime()},
            {QStringLiteral("datasource"), datasource ? datasource->uuid() : QString()}};
}

KeyValueRecord entryForKeyword(const Keyword *keyword)
{
    return {{QStringLiteral("position"), double(keyword->position())}, {record::kClock, keyword->clock()}};
}

std::optional<std::pair<QString, KeyValueRecord>> keyAndEntry(Record *record)
{
    QString key;
    KeyValueRecord entry;
    if (auto *category = dynamic_cast<Category *>(record)) {
        setupObject(category);
        key = keyForCategory(category);
        entry = entryForCategory(category);
    } else if (auto *datasource = dynamic_cast<Datasource *>(record)) {
        setupObject(datasource);
        key = keyForDatasource(datasource);
        entry = entryForDatasource(datasource);
    } else if (auto *keyword = dynamic_cast<Keyword *>(record)) {
        setupObject(keyword);
        key = keyForKeyword(keyword);
        entry = entryForKeyword(keyword);
    } else if (auto *item = dynamic_cast<DataItem *>(record)) {
        key = keyForDataItem(item);
        entry = entryForDataItem(item);
    }
    if (key.isEmpty())
        return std::nullopt;
    return std::make_pair(key, entry);
}

} // namespace corvane::sync::entries
