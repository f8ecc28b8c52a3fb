#include "itemcreation.h"

#include "base/itemdate.h"
#include "base/stringhash.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"

namespace corvane {
namespace {

QString valueOf(const ItemRecord &record, const QString &key)
{
    const auto it = record.constFind(key);
    return it == record.constEnd() ? QString() : *it;
}

// Missing and stored-as-none are equal; otherwise the texts must match.
bool sameText(const QString &a, const QString &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return a == b;
}

template<typename Getter, typename Setter>
void copyField(DataItem *item, const QString &value, Getter get, Setter set)
{
    if (!sameText((item->*get)(), value))
        (item->*set)(value);
}

} // namespace

QString ItemCreation::storedLink(const ItemRecord &record) const
{
    const auto it = record.constFind(QStringLiteral("link"));
    if (it == record.constEnd())
        return QString();
    const std::optional<QString> canonical = canonizedLinkFromLink(*it);
    if (!canonical)
        return QString();
    if (canonical->startsWith(u'/') && !feedURL.host().isEmpty())
        return QStringLiteral("http://%1%2").arg(feedURL.host(), *canonical);
    return *canonical;
}

void ItemCreation::setItemByDictionary(DataItem *item, const ItemRecord &record) const
{
    copyField(item, valueOf(record, QStringLiteral("title")), &DataItem::title, &DataItem::setTitle);
    copyField(item, valueOf(record, QStringLiteral("content:encoded")), &DataItem::previewContent,
              &DataItem::setPreviewContent);
    copyField(item, valueOf(record, QStringLiteral("description")), &DataItem::itemDescription,
              &DataItem::setItemDescription);
    copyField(item, storedLink(record), &DataItem::link, &DataItem::setLink);
    copyField(item, valueOf(record, QStringLiteral("guid")), &DataItem::guid, &DataItem::setGuid);
    copyField(item, valueOf(record, QStringLiteral("enclosureUrl")), &DataItem::enclosureUrl,
              &DataItem::setEnclosureUrl);
    copyField(item, valueOf(record, QStringLiteral("enclosureMime")), &DataItem::enclosureMime,
              &DataItem::setEnclosureMime);
    copyField(item, valueOf(record, QStringLiteral("dc:creator")), &DataItem::creator, &DataItem::setCreator);
}

DataItem *ItemCreation::createDataItemFromDictionary(const ItemRecord &record) const
{
    Context *context = datasource->context();
    const ObjectID owner = datasource->objectID();

    auto update = [&](DataItem *item) {
        setItemByDictionary(item, record);
        if (item->hasChanges()) {
            item->setParsedDate(parseMoment);
            item->setOriginalDate(dateForDictionary(record, parseMoment));
        }
    };

    if (const auto guid = record.constFind(QStringLiteral("guid")); guid != record.constEnd()) {
        const QList<DataItem *> found = context->fetchAs<DataItem>(itemWithGuid(*guid, owner));
        if (!found.isEmpty()) {
            for (DataItem *item : found)
                update(item);
            return found.last();
        }
    }
    // No guid, or one not seen before: the same title and link mean the same item.
    {
        const QString link = storedLink(record);
        const QString title = valueOf(record, QStringLiteral("title"));
        const QList<DataItem *> found = context->fetchAs<DataItem>(itemWithHash(calculateHash(record), owner));
        for (DataItem *item : found) {
            if (sameText(item->link(), link) && sameText(item->title(), title)) {
                update(item);
                return item;
            }
        }
    }

    auto *item = context->insert<DataItem>();
    item->setDatasource(datasource);
    setItemByDictionary(item, record);
    const Date original = dateForDictionary(record, parseMoment);
    item->setOriginalDate(original);
    item->setParsedDate(parseMoment);
    item->setOrderingDate(datasource->everUpdatedThisRun() ? parseMoment : std::min(original, parseMoment));
    datasource->addItem(item);
    return item;
}

} // namespace corvane
