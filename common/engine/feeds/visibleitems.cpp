#include "visibleitems.h"

#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include "store/entitydescription.h"
#include "store/itemsurvey.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

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
QList<DataItem *> filterVisible(const QList<DataItem *> &items, Date now)
{
    const int timeStamp = describe(Entity::DataItem).indexOf(DataItem::timeStampKey());
    struct Limits { qint32 count; Date cutOff; qint32 seen; };
    QHash<ObjectID, Limits> bySource;
    QList<DataItem *> visible;
    for (DataItem *item : items) {
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

// --- Selecting the visible items before any record is made ---
//
// One narrow pass reads, for every row the predicate matches, its id, its
// subscription, its star, its timestamp and its sort keys. The rule above is
// then worked out on those values: starred rows stay; rows without an
// existing subscription or too old drop out and, being invisible, never
// count; of the rest, each subscription keeps the first limit + 1 in the
// sort order. The rows kept come back as faults, so a caller that reads only
// the first entries of a long list reads only their rows (filled a batch at a
// time).
//
// A row the context holds a loaded record for is judged on the record's
// values, as filterVisible() would judge it (unsaved changes, or values not
// yet merged from another context's save); the predicate and the order are
// SQL's over the stored values, as for the fetch it replaces. The survey and
// the faults it hands out read in the survey's transaction, so they see the
// same rows.

struct Candidate
{
    qint64 id;
    ObjectID source;
    bool starred;
    qint32 group; // the subscription's place in Survey::sources; -1 for starred rows
};

struct SourceLimits
{
    ObjectID id;
    bool exists = false;
    qint64 quota = 0; // limit + 1 unstarred items are shown
    Date cutOff = 0;
};

// What the narrow pass found: the rows that may be visible; their keys are
// the item survey's.
struct Survey
{
    explicit Survey(ItemSurvey &items)
        : items(items)
    {
    }
    ItemSurvey &items;
    std::vector<Candidate> candidates; // starred ones and those passing the age test
    // The subscriptions met, found by row id: a table for the small row ids
    // they have, a hash for any others. (Hashing every row would cost more
    // than reading it.)
    std::vector<SourceLimits> sources;
    std::vector<qint32> sourceByRow;
    QHash<qint64, qint32> sourceByLargeRow;
};

// The place of a subscription in survey.sources, looked up on first sight.
qint32 sourceGroup(Survey &survey, Context *context, ObjectID id, Date now)
{
    constexpr qint64 kTableRows = 1 << 20;
    qint32 *slot = nullptr;
    if (id.row >= 0 && id.row < kTableRows) {
        if (size_t(id.row) >= survey.sourceByRow.size())
            survey.sourceByRow.resize(std::min(std::max(size_t(id.row) + 1, survey.sourceByRow.size() * 2), size_t(kTableRows)), -1);
        slot = &survey.sourceByRow[size_t(id.row)];
    } else {
        auto it = survey.sourceByLargeRow.find(id.row);
        if (it == survey.sourceByLargeRow.end())
            it = survey.sourceByLargeRow.insert(id.row, -1);
        slot = &it.value();
    }
    if (*slot >= 0)
        return *slot;
    SourceLimits limits;
    limits.id = id;
    if (const auto *source = static_cast<const Datasource *>(context->existingObject(id))) {
        limits.exists = true;
        limits.quota = qint64(source->limitOrDefault()) + 1;
        limits.cutOff = earliestDateForAgeLimit(source->ageLimitOrDefault(), now);
    }
    *slot = qint32(survey.sources.size());
    survey.sources.push_back(limits);
    return *slot;
}

// The narrow pass: starred rows, and unstarred rows of an existing
// subscription within its age limit.
void survey(Survey &out, Context *context, Date now)
{
    out.candidates.reserve(out.items.rowsAtMost());
    out.items.run([&](const ItemSurvey::Row &row) {
        qint32 group = -1;
        if (!row.starred) {
            group = sourceGroup(out, context, row.source, now);
            const SourceLimits &limits = out.sources[size_t(group)];
            if (!limits.exists || limits.quota <= 0 || !row.stamp || *row.stamp <= limits.cutOff)
                return false;
        }
        out.candidates.push_back(Candidate{row.id, row.source, row.starred, group});
        return true;
    });
}

// A sort key reduced to its class and 64 bits whose unsigned order is the
// key's order wherever the two differ: numbers by value (rounding an integer
// to a double never swaps it with a real), text and blobs by their first
// eight bytes. `exact` when equal reductions mean equal keys: NULL, reals and
// integers a double holds exactly. A descending key is stored complemented,
// so entries always compare ascending.
struct SortEntry
{
    static constexpr int kReduced = 3;
    quint64 bits[kReduced];
    quint8 cls[kReduced];
    bool exact[kReduced];
    quint32 index; // into the survey's candidates
};

quint64 orderedBits(double number)
{
    if (number == 0)
        number = 0; // -0 and 0 are one value
    quint64 bits;
    std::memcpy(&bits, &number, sizeof bits);
    return (bits >> 63) ? ~bits : bits | (quint64(1) << 63);
}

void reduceKey(const SurveyKey &key, const char *arena, bool ascending, SortEntry &entry, int k)
{
    quint64 bits = 0;
    bool exact = true;
    switch (key.cls) {
    case SurveyKey::Null:
        break;
    case SurveyKey::Number:
        bits = orderedBits(key.real ? key.number : double(key.integer));
        exact = key.real || (key.integer >= -(qint64(1) << 53) && key.integer <= (qint64(1) << 53));
        break;
    case SurveyKey::Text:
    case SurveyKey::Blob:
        // Zero-padded: a key ending inside the eight bytes is a prefix of
        // the other one up to there, so it sorts first either way.
        for (quint32 i = 0; i < 8; ++i)
            bits = (bits << 8) | (i < key.bytes.length ? quint8(arena[key.bytes.offset + i]) : 0);
        exact = false;
        break;
    }
    entry.cls[k] = ascending ? quint8(key.cls) : quint8(SurveyKey::Blob - key.cls);
    entry.bits[k] = ascending ? bits : ~bits;
    entry.exact[k] = exact;
}

// The ids of the visible rows, in the sort order (ties by id).
QList<qint64> visibleRows(const Survey &survey)
{
    const int stride = survey.items.keysPerRow();
    const SurveyKey *keys = survey.items.keys().data();
    const char *arena = survey.items.arena();
    const QList<bool> &ascending = survey.items.ascending();
    const std::vector<Candidate> &all = survey.candidates;
    const int reduced = std::min(stride, int(SortEntry::kReduced));

    // The keys compared in full from key `first` on, then the ids.
    const auto lessFrom = [&](const SortEntry &a, const SortEntry &b, int first) {
        const SurveyKey *x = keys + size_t(a.index) * size_t(stride);
        const SurveyKey *y = keys + size_t(b.index) * size_t(stride);
        for (int k = first; k < stride; ++k) {
            const int c = compareSurveyKeys(x[k], y[k], arena);
            if (c != 0)
                return ascending[k] ? c < 0 : c > 0;
        }
        return all[a.index].id < all[b.index].id;
    };
    // Most comparisons end on the reductions of the first keys.
    const auto less = [&](const SortEntry &a, const SortEntry &b) {
        for (int k = 0; k < reduced; ++k) {
            if (a.cls[k] != b.cls[k])
                return a.cls[k] < b.cls[k];
            if (a.bits[k] != b.bits[k])
                return a.bits[k] < b.bits[k];
            if (!a.exact[k] || !b.exact[k])
                return lessFrom(a, b, k);
        }
        return lessFrom(a, b, reduced);
    };

    // Unstarred rows grouped by subscription, starred rows apart: they are
    // all shown.
    std::vector<quint32> groupSize(survey.sources.size());
    size_t starred = 0;
    for (const Candidate &candidate : all) {
        if (candidate.starred)
            ++starred;
        else
            ++groupSize[size_t(candidate.group)];
    }
    std::vector<size_t> groupStart(groupSize.size() + 1, starred);
    for (size_t g = 0; g < groupSize.size(); ++g)
        groupStart[g + 1] = groupStart[g] + groupSize[g];
    std::vector<size_t> next(groupStart.begin(), groupStart.end() - 1);
    std::vector<SortEntry> entries(all.size());
    size_t nextStarred = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        SortEntry &entry = entries[all[i].starred ? nextStarred++ : next[size_t(all[i].group)]++];
        entry.index = quint32(i);
        for (int k = 0; k < reduced; ++k)
            reduceKey(keys[i * size_t(stride) + size_t(k)], arena, ascending[k], entry, k);
    }

    // Each subscription keeps the first limit + 1 of its rows.
    size_t kept = starred;
    for (size_t g = 0; g < groupSize.size(); ++g) {
        const auto first = entries.begin() + qsizetype(groupStart[g]);
        const auto last = entries.begin() + qsizetype(groupStart[g + 1]);
        const qint64 quota = survey.sources[g].quota;
        qint64 keep = last - first;
        if (keep > quota) {
            std::nth_element(first, first + quota, last, less);
            keep = quota;
        }
        std::move(first, first + keep, entries.begin() + qsizetype(kept));
        kept += size_t(keep);
    }
    entries.resize(kept);
    std::sort(entries.begin(), entries.end(), less);
    QList<qint64> ids;
    ids.reserve(qsizetype(kept));
    for (const SortEntry &entry : entries)
        ids.append(all[entry.index].id);
    return ids;
}

// The items' subscriptions, registered as a fetch with prefetchDatasource
// would leave them. Those of unstarred items were looked up by the survey;
// starred items are all shown.
void loadStarredSources(const Survey &survey, Context *context)
{
    for (const Candidate &candidate : survey.candidates)
        if (candidate.starred && candidate.source.row > 0 && !context->objectRegistered(candidate.source))
            context->existingObject(candidate.source);
}

// The count does not depend on the order: per subscription it is the
// number of unstarred rows passing the age test, up to limit + 1.
qint64 countVisible(const Predicate &predicate, Context *context, Date now,
                    std::optional<ObjectID> withinCategory = std::nullopt)
{
    ItemSurvey rows(context, predicate, {}, DataItem::timeStampKey(), withinCategory);
    Survey found(rows);
    survey(found, context, now);
    std::vector<qint64> perSource(found.sources.size());
    qint64 count = 0;
    for (const Candidate &candidate : found.candidates) {
        if (candidate.starred)
            ++count;
        else
            ++perSource[size_t(candidate.group)];
    }
    for (size_t g = 0; g < perSource.size(); ++g)
        count += std::min(perSource[g], found.sources[g].quota);
    return count;
}

// The rows of the visible items, in order.
QList<qint64> visibleRowsFor(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context, Date now)
{
    ItemSurvey rows(context, predicate, sort, DataItem::timeStampKey());
    Survey found(rows);
    survey(found, context, now);
    loadStarredSources(found, context);
    return visibleRows(found);
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
    QList<DataItem *> items;
    const QList<Record *> records = context->faultsWithRows(Entity::DataItem, visibleRowsFor(predicate, sort, context, now));
    items.reserve(records.size());
    for (Record *record : records)
        items.append(static_cast<DataItem *>(record));
    return items;
}

qint64 visibleDataItemsCount(const Predicate &predicate, Context *context, Date now)
{
    return countVisible(predicate, context, now);
}

QList<DataItem *> visibleDataItemsByFetch(const Predicate &predicate, const QList<SortDescriptor> &sort,
                                          Context *context, Date now)
{
    return filterVisible(context->fetchAs<DataItem>(listQuery(predicate, sort)), now);
}

QList<ObjectID> visibleDataItemIds(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                   Date now)
{
    const QList<qint64> visible = visibleRowsFor(predicate, sort, context, now);
    QList<ObjectID> ids;
    ids.reserve(visible.size());
    for (qint64 row : visible)
        ids.append(ObjectID{Entity::DataItem, row});
    return ids;
}

void visibleDataItemIdsWithBlock(const Predicate &predicate, const QList<SortDescriptor> &sort, Context *context,
                                 std::function<void(QList<ObjectID>)> block)
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    QList<ObjectID> ids = visibleDataItemIds(predicate, sort, context);
    dispatch::main().async([ids = std::move(ids), block = std::move(block)] { block(ids); });
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
    std::optional<ObjectID> withinCategory;
    if (record && record->entity() == Entity::Category) {
        predicate = predicate
                    && Predicate::equal(QStringLiteral("datasource.category"), QVariant::fromValue(record->objectID()));
        // The category's items, found through the subscription index.
        withinCategory = record->objectID();
    }
    else if (record && record->entity() == Entity::Datasource)
        predicate = predicate && Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(record->objectID()));
    if (onlyToday)
        predicate = predicate && Predicate::greaterOrEqual(DataItem::timeStampKey(), startOfToday(now));
    return countVisible(predicate, background, now, withinCategory);
}

void countForItemAsync(StoreManager &stores, ObjectID record, bool onlyToday, std::function<void(qint64)> done)
{
    Context *background = stores.contextBackground();
    background->performBlockConfined([&stores, background, record, onlyToday, done = std::move(done)] {
        qint64 count = 0;
        if (record.isNull())
            count = countForItemFromBackground(stores, nullptr, onlyToday);
        else if (const Record *found = background->existingObject(record))
            count = countForItemFromBackground(stores, found, onlyToday);
        dispatch::main().async([done, count] { done(count); });
    });
}

} // namespace corvane::visibleitems
