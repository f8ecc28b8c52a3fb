#include "feeds/refresh/itemcreation.h"

#include "base/itemdate.h"
#include "base/stringhash.h"
#include "base/urltext.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"

#include <QSet>

namespace corvane {

// The subscription's items with unsaved changes, under the guid and the
// item hash they had when noted. An item may be noted again under new
// values; lookups check the values, so entries left under old ones are
// passed over.
struct ItemCreation::UnsavedItems
{
    QHash<QString, QList<DataItem *>> byGuid;
    QHash<qint64, QList<DataItem *>> byHash;
    QSet<QPair<const DataItem *, QString>> notedGuids;
    QSet<QPair<const DataItem *, qint64>> notedHashes;
};

namespace {

QString valueOf(const ItemRecord &record, const QString &key)
{
    const auto it = record.constFind(key);
    return it == record.constEnd() ? QString() : *it;
}

std::optional<QString> presentText(const QString &text)
{
    return text.isNull() ? std::nullopt : std::optional<QString>(text);
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

ItemCreation::ItemCreation(RSSDatasource *datasource, QUrl feedURL, Date parseMoment)
    : datasource(datasource)
    , feedURL(std::move(feedURL))
    , parseMoment(parseMoment)
{
}

ItemCreation::UnsavedItems &ItemCreation::unsavedItems() const
{
    if (m_unsaved)
        return *m_unsaved;
    m_unsaved = std::make_shared<UnsavedItems>();
    const Predicate mine = Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(datasource->objectID()));
    for (Record *record : datasource->context()->changedObjects()) {
        if (record->entity() != Entity::DataItem || record->isDeleted() || !record->hasChanges())
            continue;
        if (mine.evaluate([record](QStringView key) { return record->valueForKeyPath(key); }))
            noteUnsaved(static_cast<DataItem *>(record));
    }
    return *m_unsaved;
}

void ItemCreation::noteUnsaved(DataItem *item) const
{
    UnsavedItems &unsaved = *m_unsaved;
    const QString guid = item->guid();
    const qint64 hash = item->itemHash();
    if (!unsaved.notedGuids.contains({item, guid})) {
        unsaved.notedGuids.insert({item, guid});
        unsaved.byGuid[guid].append(item);
    }
    if (!unsaved.notedHashes.contains({item, hash})) {
        unsaved.notedHashes.insert({item, hash});
        unsaved.byHash[hash].append(item);
    }
}

QList<DataItem *> ItemCreation::itemsMatching(const Query &query, const QList<DataItem *> &unsavedCandidates) const
{
    // Stored rows as the store has them; those with unsaved changes are
    // judged on their values in memory below, as the context would.
    Query stored = query;
    stored.includesPendingChanges = false;
    QList<DataItem *> found;
    for (DataItem *item : datasource->context()->fetchAs<DataItem>(stored))
        if (!item->isDeleted() && !item->hasChanges())
            found.append(item);
    QSet<const DataItem *> taken;
    for (DataItem *item : unsavedCandidates) {
        if (item->isDeleted() || !item->hasChanges() || taken.contains(item))
            continue;
        if (query.predicate.evaluate([item](QStringView key) { return item->valueForKeyPath(key); })) {
            taken.insert(item);
            found.append(item);
        }
    }
    return found;
}

QString ItemCreation::storedLink(const ItemRecord &record) const
{
    const auto it = record.constFind(QStringLiteral("link"));
    if (it == record.constEnd())
        return QString();
    const std::optional<QString> canonical = canonizedLinkFromLink(*it);
    if (!canonical)
        return QString();
    // An xml:base in scope of the item, already absolute, takes the place of
    // the document's address.
    const auto base = record.constFind(QStringLiteral("xml:base"));
    return resolvedReference(*canonical, base != record.constEnd() ? QUrl(*base) : feedURL);
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

    UnsavedItems &unsaved = unsavedItems();

    if (const auto guid = record.constFind(QStringLiteral("guid")); guid != record.constEnd()) {
        const QList<DataItem *> found = itemsMatching(itemWithGuid(*guid, owner), unsaved.byGuid.value(*guid));
        if (!found.isEmpty()) {
            for (DataItem *item : found) {
                update(item);
                if (item->hasChanges())
                    noteUnsaved(item);
            }
            return found.last();
        }
    }
    // No guid, or one not seen before: the same title and link mean the same item.
    {
        // Stored items carry the hash of their stored link, so the lookup
        // hashes the link in that form too, not as the feed wrote it.
        const QString link = storedLink(record);
        const QString title = valueOf(record, QStringLiteral("title"));
        const qint64 hash = calculateHashFromTitleAndLink(presentText(title), presentText(link));
        const QList<DataItem *> found = itemsMatching(itemWithHash(hash, owner), unsaved.byHash.value(hash));
        for (DataItem *item : found) {
            if (sameText(item->link(), link) && sameText(item->title(), title)) {
                update(item);
                if (item->hasChanges())
                    noteUnsaved(item);
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
    noteUnsaved(item);
    return item;
}

} // namespace corvane
