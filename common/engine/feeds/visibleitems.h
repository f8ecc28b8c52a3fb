#pragma once

#include "store/objectid.h"
#include "store/predicate.h"
#include "store/query.h"

#include "base/date.h"

#include <QList>

#include <functional>

namespace corvane {

class Context;
class DataItem;
class Record;
class StoreManager;

// Which stored items the user sees. Items are limited per subscription by
// its age limit (hides and, through trimming, deletes) and its count limit
// (only hides); starred items escape both.
namespace visibleitems {

// orderingDate desc, originalDate desc, guid asc, itemHash asc.
QList<SortDescriptor> sortDescriptors();

// The visible items matching the predicate, in the given order, from the
// context (on its queue).
QList<DataItem *> visibleDataItems(const Predicate &predicate, const QList<SortDescriptor> &sort,
                                   Context *context, Date now = currentDate());
qint64 visibleDataItemsCount(const Predicate &predicate, Context *context, Date now = currentDate());
// The same list the plain way: every matching item fetched in order, the
// limits applied one subscription counter at a time. Slower for large
// stores; the bar uses visibleDataItems().
QList<DataItem *> visibleDataItemsByFetch(const Predicate &predicate, const QList<SortDescriptor> &sort,
                                          Context *context, Date now = currentDate());
// The identifiers of visibleDataItems(), without making a record of each
// (the bar lists many more items than it shows).
QList<ObjectID> visibleDataItemIds(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                   Date now = currentDate());
// The identifiers of visibleDataItems() of the main context, found at once
// and delivered later on the main queue. Identifiers, not records: a merge
// may free a record before the delivery runs.
void visibleDataItemIdsWithBlock(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                 std::function<void(QList<ObjectID>)> block);

// The unread visible items of a category or a subscription (or, for any
// other record or none, of everything), counted in the background context on
// its queue.
qint64 countForItemFromBackground(StoreManager &stores, const Record *record, bool onlyToday,
                                  const Predicate &extraPredicate = Predicate(), Date now = currentDate());

// countForItemFromBackground() of the record with that identifier (null:
// everything), run on the background queue; `done` gets the count on the
// main queue. A record that is gone gets 0.
void countForItemAsync(StoreManager &stores, ObjectID record, bool onlyToday, std::function<void(qint64)> done);

} // namespace visibleitems
} // namespace corvane
