#include "visibleitems.h"

#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>

namespace corvane::visibleitems {

namespace {

Query listQuery(const Predicate &predicate, const QList<SortDescriptor> &sort)
{
    Query query{Entity::DataItem, predicate, sort};
    query.includesPendingChanges = false;
    query.prefetchDatasource = true;
    return query;
}

// Applies the per-subscription limits to fetched items, in their order.
// `checkExists` drops items the context no longer has (the delayed variant).
QList<DataItem *> filterVisible(const QList<DataItem *> &items, Context *context, Date now, bool checkExists)
{
    const int timeStamp = describe(Entity::DataItem).indexOf(DataItem::timeStampKey());
    struct Limits { qint32 count; Date cutOff; qint32 seen; };
    QHash<ObjectID, Limits> bySource;
    QList<DataItem *> visible;
    for (DataItem *item : items) {
        if (checkExists && !context->existingObject(item->objectID()))
            continue;
        if (item->isStarred()) {
            visible.append(item);
            continue;
        }
        const Datasource *source = item->datasource();
        if (!source)
            continue;
        auto it = bySource.find(source->objectID());
        if (it == bySource.end())
            it = bySource.insert(source->objectID(),
                                 {source->limitOrDefault(), earliestDateForAgeLimit(source->ageLimitOrDefault(), now), 0});
        if (it->seen > it->count)
            continue;
        const QVariant stamp = item->value(timeStamp);
        if (!stamp.isValid() || stamp.toDouble() <= it->cutOff)
            continue;
        visible.append(item);
        ++it->seen;
    }
    return visible;
}

Date startOfToday(Date now)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(now * 1000.0));
    return double(local.date().startOfDay().toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

QList<SortDescriptor> sortDescriptors()
{
    return {{QStringLiteral("orderingDate"), false},
            {QStringLiteral("originalDate"), false},
            {QStringLiteral("guid"), true},
            {QStringLiteral("itemHash"), true}};
}

QList<DataItem *> visibleDataItems(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                   Date now)
{
    return filterVisible(context->fetchAs<DataItem>(listQuery(predicate, sort)), context, now, false);
}

qint64 visibleDataItemsCount(const Predicate &predicate, Context *context, Date now)
{
    return filterVisible(context->fetchAs<DataItem>(listQuery(predicate, {})), context, now, false).size();
}

void visibleDataItemsWithBlock(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                               std::function<void(QList<DataItem *>)> block)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    QList<DataItem *> fetched = context->fetchAs<DataItem>(listQuery(predicate, sort));
    dispatch::main().async([fetched = std::move(fetched), context, block = std::move(block)] {
        block(filterVisible(fetched, context, currentDate(), true));
    });
}

qint64 countForItemFromBackground(StoreManager &stores, const Record *record, bool onlyToday,
                                  const Predicate &extraPredicate, Date now)
{
    Context *background = stores.contextBackground();
    CORVANE_ASSERT(background->queue().isCurrent(), "should be called from background queue!");
    Predicate predicate = Predicate::equal(QStringLiteral("datasource.enabled"), true)
                          && Predicate::equal(QStringLiteral("deleted"), false);
    if (const std::optional<bool> allRead = DataItem::allRead()) {
        if (*allRead)
            return 0;
    } else {
        predicate = predicate && Predicate::equal(QStringLiteral("read"), false);
    }
    if (!extraPredicate.matchesEverything())
        predicate = predicate && extraPredicate;
    if (record && record->entity() == Entity::Category)
        predicate = predicate
                    && Predicate::equal(QStringLiteral("datasource.category"), QVariant::fromValue(record->objectID()));
    else if (record && record->entity() == Entity::Datasource)
        predicate = predicate && Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(record->objectID()));
    if (onlyToday)
        predicate = predicate && Predicate::greaterOrEqual(DataItem::timeStampKey(), startOfToday(now));
    return visibleDataItemsCount(predicate, background, now);
}

} // namespace corvane::visibleitems
