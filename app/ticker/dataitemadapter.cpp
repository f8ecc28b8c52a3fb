#include "dataitemadapter.h"

#include "enginebridge.h"
#include "previewpresenter.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"
#include "base/relativetime.h"
#include "base/settings.h"
#include "feeds/itemmarking.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/visibleitems.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include <QSet>

#include <algorithm>

namespace corvane::desktop {

namespace {

DataItemAdapter *g_shared = nullptr;

const QString kShouldRefreshCategoryCounts = QStringLiteral("ShouldRefreshCategoryCounts");

// orderingDate descending, then originalDate descending; NULL dates last.
bool newerFirst(const DataItem *a, const DataItem *b)
{
    const auto order = [](OptionalDate x, OptionalDate y) {
        if (x.has_value() != y.has_value())
            return x.has_value() ? -1 : 1;
        if (!x || *x == *y)
            return 0;
        return *x > *y ? -1 : 1;
    };
    if (int c = order(a->orderingDate(), b->orderingDate()))
        return c < 0;
    return order(a->originalDate(), b->originalDate()) < 0;
}

} // namespace

DataItemAdapter::DataItemAdapter(DatasourceManager &engine, EngineBridge &bridge, AppClock &clock, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_clock(clock)
    , m_sortDescriptors(visibleitems::sortDescriptors())
{
    g_shared = this;
    reloadItems();
    connect(&bridge, &EngineBridge::datasourcesChanged, this, [this] { setNeedsRefresh(true); });
    connect(&bridge, &EngineBridge::itemsChangedFromCloud, this, [this] { setNeedsRefresh(true); });
    connect(&bridge, &EngineBridge::systemDidWake, this, [this] { setNeedsRefresh(true); });
    connect(&bridge, &EngineBridge::itemTurnedIntoFault, this, [this](ObjectID id) {
        if (!id.isNull())
            m_items.removeAll(id);
    });
    connect(&bridge, &EngineBridge::objectsUpdated, this, &DataItemAdapter::objectsUpdated);
    bridge.watchSettings({QStringLiteral("limit"), QStringLiteral("ageLimit")});
    connect(&bridge, &EngineBridge::settingChanged, this, [this](const QString &key) {
        if (key == u"limit" || key == u"ageLimit")
            setNeedsRefresh(true);
    });
    connect(&PreviewPresenter::shared(), &PreviewPresenter::didDisappear, this, [this] {
        if (m_reloadPending)
            setNeedsRefresh(true);
    });
}

DataItemAdapter::~DataItemAdapter()
{
    if (g_shared == this)
        g_shared = nullptr;
}

DataItemAdapter *DataItemAdapter::sharedAdapter()
{
    return g_shared;
}

Context *DataItemAdapter::context() const
{
    return m_engine.contextMain();
}

DataItem *DataItemAdapter::item(ObjectID id) const
{
    if (id.isNull() || id.entity != Entity::DataItem)
        return nullptr;
    return static_cast<DataItem *>(context()->existingObject(id));
}

void DataItemAdapter::removeNew()
{
    if (m_newItems.isEmpty())
        return;
    m_items.prepend(m_newItems.takeLast());
}

void DataItemAdapter::removeNewAndReorderInPlace()
{
    if (m_newItems.isEmpty())
        return;
    const ObjectID id = m_newItems.takeLast();
    if (DataItem *record = item(id)) {
        const OptionalDate original = record->originalDate();
        const OptionalDate ordering = record->orderingDate();
        if (original && ordering && *original < *ordering) {
            record->setOrderingDate(original);
            if (!m_reorderSavePending) {
                m_reorderSavePending = true;
                m_clock.after(5.0, this, [this] {
                    m_reorderSavePending = false;
                    StoreManager::saveFromContext(context());
                });
            }
        }
    }
    addToItemsSorted(id);
}

void DataItemAdapter::dropDeletedItems()
{
    m_newItems.removeIf([this](ObjectID id) {
        const DataItem *record = item(id);
        return !record || record->isDeleted();
    });
}

void DataItemAdapter::addToItemsSorted(ObjectID id)
{
    DataItem *record = item(id);
    m_items.removeAll(id);
    if (!record || record->isDeleted())
        return;
    // The list is in order: a binary search finds the place after every
    // item at least as new, reading only the few items it compares with
    // (the list may hold a hundred thousand, most never loaded).
    qsizetype low = 0;
    qsizetype high = m_items.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const DataItem *other = item(m_items.at(middle));
        if (other && !newerFirst(record, other))
            low = middle + 1;
        else
            high = middle;
    }
    m_items.insert(low, id);
}

void DataItemAdapter::keepOnlyItems(const QList<ObjectID> &keep)
{
    const QSet<ObjectID> kept(keep.begin(), keep.end());
    Context *main = context();
    for (Record *record : main->registeredObjects())
        if (record->entity() == Entity::DataItem && record->holdsValues() && !record->hasChanges()
            && !kept.contains(record->objectID()))
            main->refresh(record, false);
}

void DataItemAdapter::setNeedsRefresh(bool refresh)
{
    if (refresh)
        reloadItems();
    else
        m_needsRefresh = false;
}

void DataItemAdapter::setNeedsRefreshButNoReload()
{
    m_needsRefresh = true;
    NotificationCenter::defaultCenter().post(kShouldRefreshCategoryCounts);
}

void DataItemAdapter::hideRead()
{
    m_autoHide = true;
    setNeedsRefresh(true);
}

void DataItemAdapter::showHidden()
{
    m_autoHide = false;
    setNeedsRefresh(true);
}

void DataItemAdapter::setFilter(const QString &text)
{
    if (text == m_filter && text.isNull() == m_filter.isNull())
        return;
    m_filter = text;
    setNeedsRefresh(true);
}

void DataItemAdapter::changeSelection(ObjectID &field, ObjectID id)
{
    if (field == id)
        return;
    field = id;
    setNeedsRefresh(true);
    m_items.clear();
    setNeedsRefreshButNoReload();
    Q_EMIT selectionChanged();
}

void DataItemAdapter::setSelectedCategoryId(ObjectID id)
{
    changeSelection(m_selectedCategoryId, id);
}

void DataItemAdapter::setSelectedDatasourceId(ObjectID id)
{
    changeSelection(m_selectedDatasourceId, id);
}

Predicate DataItemAdapter::predicateForCategoryOrSource(const Record *selection, bool ignoreRead) const
{
    QList<Predicate> parts{Predicate::equal(QStringLiteral("datasource.enabled"), true),
                           Predicate::equal(QStringLiteral("deleted"), false)};
    if (m_showStarredOnly) {
        parts.append(Predicate::equal(QStringLiteral("starred"), true));
    } else {
        if (m_showMarkedOnly)
            parts.append(Predicate::equal(QStringLiteral("mark"), true));
        else if (!m_filter.isEmpty())
            parts.append(DataItem::filterPredicate(m_filter));
        if (m_autoHide && !ignoreRead)
            parts.append(Predicate::equal(QStringLiteral("read"), false));
    }
    if (selection && selection->entity() == Entity::Category)
        parts.append(Predicate::equal(QStringLiteral("datasource.category"), QVariant::fromValue(selection->objectID())));
    else if (selection && selection->entity() == Entity::Datasource)
        parts.append(Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(selection->objectID())));
    return Predicate::andAll(parts);
}

Predicate DataItemAdapter::computePredicate(bool ignoreRead) const
{
    const Record *selection = nullptr;
    if (!m_selectedCategoryId.isNull())
        selection = context()->existingObject(m_selectedCategoryId);
    else if (!m_selectedDatasourceId.isNull())
        selection = context()->existingObject(m_selectedDatasourceId);
    return predicateForCategoryOrSource(selection, ignoreRead);
}

void DataItemAdapter::reloadItems()
{
    PreviewPresenter &preview = PreviewPresenter::shared();
    const ObjectID previewed = preview.shownItem();
    if (!previewed.isNull()) {
        m_reloadPending = true;
        if (m_autoHide)
            m_items.removeIf([&](ObjectID id) {
                const DataItem *record = item(id);
                return id != previewed && (!record || record->isRead());
            });
        return;
    }
    m_reloadPending = false;
    m_filterPredicate = computePredicate(false);
    const quint64 generation = ++m_reloadGeneration;
    visibleitems::visibleDataItemIdsWithBlock(
        m_filterPredicate, m_sortDescriptors, context(),
        [self = QPointer<DataItemAdapter>(this), generation](QList<ObjectID> ids) {
            // A later reload supersedes this one.
            if (!self || generation != self->m_reloadGeneration)
                return;
            self->m_items = std::move(ids);
            self->m_newItems.clear();
            self->setNeedsRefreshButNoReload();
        });
}

bool DataItemAdapter::matchesFilter(const Record *record) const
{
    return m_filterPredicate.evaluate([record](QStringView keyPath) { return record->valueForKeyPath(keyPath); });
}

void DataItemAdapter::objectsUpdated(const QList<ObjectID> &inserted, const QList<ObjectID> &updated,
                                     const QList<ObjectID> &deleted)
{
    const Date now = m_clock.now();
    for (const ObjectID &id : inserted) {
        if (id.entity != Entity::DataItem)
            continue;
        DataItem *record = item(id);
        if (!record || !matchesFilter(record))
            continue;
        Datasource *source = record->datasource();
        if (!source)
            continue;
        const OptionalDate original = record->originalDate();
        const OptionalDate parsed = record->parsedDate();
        const qint64 gap = (original ? hoursSinceNow(*original, now) : 0) - (parsed ? hoursSinceNow(*parsed, now) : 0);
        if (source->wasDisplayed() && gap > -5) {
            if (!m_newItems.contains(id))
                m_newItems.append(id);
            continue;
        }
        if (!record->isStarred()) {
            const ObjectID sourceId = source->objectID();
            dispatch::main().async([self = QPointer<DataItemAdapter>(this), sourceId] {
                if (!self)
                    return;
                if (auto *s = static_cast<Datasource *>(self->context()->existingObject(sourceId)))
                    s->setWasDisplayed(true);
            });
        }
        if (!m_items.contains(id))
            addToItemsSorted(id);
        setNeedsRefreshButNoReload();
    }
    bool changed = false;
    for (const ObjectID &id : deleted) {
        if (id.entity != Entity::DataItem)
            continue;
        changed = true;
        m_items.removeAll(id);
        m_newItems.removeAll(id);
    }
    dropDeletedItems();
    sortNewItems();
    for (const ObjectID &id : updated)
        changed = changed || id.entity == Entity::DataItem;
    if (changed)
        setNeedsRefreshButNoReload();
}

void DataItemAdapter::sortNewItems()
{
    if (m_newItems.size() < 2)
        return;
    QList<DataItem *> records;
    for (const ObjectID &id : std::as_const(m_newItems))
        if (DataItem *record = item(id))
            records.append(record);
    const QList<SortDescriptor> sort = m_sortDescriptors;
    std::stable_sort(records.begin(), records.end(), [&sort](const DataItem *a, const DataItem *b) {
        return lessThanForSort(sort, [a](QStringView k) { return a->valueForKeyPath(k); },
                               [b](QStringView k) { return b->valueForKeyPath(k); });
    });
    m_newItems.clear();
    for (const DataItem *record : std::as_const(records))
        m_newItems.append(record->objectID());
}

void DataItemAdapter::markAllRead(bool read)
{
    const Predicate predicate = computePredicate(true);
    itemmarking::markAll(m_engine.stores(), predicate, read, [self = QPointer<DataItemAdapter>(this)] {
        if (self)
            self->setNeedsRefresh(true);
    });
}

} // namespace corvane::desktop
