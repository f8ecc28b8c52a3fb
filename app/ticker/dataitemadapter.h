#pragma once

#include "appclock.h"

#include "store/objectid.h"
#include "store/predicate.h"
#include "store/query.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace corvane {
class Context;
class DataItem;
class DatasourceManager;
class Record;
}

namespace corvane::desktop {

class EngineBridge;
class PreviewPresenter;

// Which items the bar shows and in which order: the shown list (newest
// first), the queue of items that arrived while the bar was showing and wait
// to be brought in one at a time, the view filters and the selection, and
// the refresh flag the ticker polls.
//
// Items are held by identifier and resolved in the main context when used,
// so a merge that deletes one never leaves a dangling pointer here. Main
// thread only.
class DataItemAdapter : public QObject
{
    Q_OBJECT
public:
    DataItemAdapter(DatasourceManager &engine, EngineBridge &bridge, AppClock &clock = AppClock::system(),
                    QObject *parent = nullptr);
    ~DataItemAdapter() override;

    // The adapter made last, while it lives.
    static DataItemAdapter *sharedAdapter();

    Context *context() const;
    DatasourceManager &engine() const { return m_engine; }
    AppClock &clock() const { return m_clock; }
    // The item in the main context, or null when it is gone.
    DataItem *item(ObjectID id) const;

    const QList<SortDescriptor> &sortDescriptors() const { return m_sortDescriptors; }
    const QList<ObjectID> &items() const { return m_items; }
    void setItems(const QList<ObjectID> &items) { m_items = items; }

    // The waiting items in list order; the last one is the oldest.
    const QList<ObjectID> &theNewItems() const { return m_newItems; }
    ObjectID theNewItem() const { return m_newItems.isEmpty() ? ObjectID{} : m_newItems.last(); }
    bool hasNew() const { return !m_newItems.isEmpty(); }
    // The oldest waiting item goes to the top of the list.
    void removeNew();
    // The oldest waiting item goes to its sorted place; an item dated later
    // than it was published is re-dated to its publication first.
    void removeNewAndReorderInPlace();
    void dropDeletedItems();
    void addToItemsSorted(ObjectID item);
    // Every loaded item of the main context not among these lets go of its values.
    void keepOnlyItems(const QList<ObjectID> &keep);

    bool needsRefresh() const { return m_needsRefresh; }
    // true reloads; false only clears the flag.
    void setNeedsRefresh(bool refresh);
    void setNeedsRefreshButNoReload();
    bool reloadPending() const { return m_reloadPending; }

    bool autoHide() const { return m_autoHide; }
    void hideRead();
    void showHidden();
    const QString &filter() const { return m_filter; }
    void setFilter(const QString &text);
    const Predicate &filterPredicate() const { return m_filterPredicate; }
    bool showMarkedOnly() const { return m_showMarkedOnly; }
    void setShowMarkedOnly(bool value) { m_showMarkedOnly = value; }
    bool showStarredOnly() const { return m_showStarredOnly; }
    void setShowStarredOnly(bool value) { m_showStarredOnly = value; }

    ObjectID selectedCategoryId() const { return m_selectedCategoryId; }
    void setSelectedCategoryId(ObjectID id);
    ObjectID selectedDatasourceId() const { return m_selectedDatasourceId; }
    void setSelectedDatasourceId(ObjectID id);

    // Marks every item of the selection (read ones included) read or unread
    // on the background context, then reloads.
    void markAllRead(bool read);
    void markRead() { markAllRead(true); }
    void markUnread() { markAllRead(false); }
    void mergeSync() { reloadItems(); }

    // The selection in the main context as a predicate.
    Predicate computePredicate(bool ignoreRead) const;
    Predicate predicateForCategoryOrSource(const Record *selection, bool ignoreRead) const;

Q_SIGNALS:
    // The selection changed: the bar must drop its views at once.
    void selectionChanged();

private:
    void reloadItems();
    void objectsUpdated(const QList<ObjectID> &inserted, const QList<ObjectID> &updated,
                        const QList<ObjectID> &deleted);
    bool matchesFilter(const Record *record) const;
    void sortNewItems();
    void changeSelection(ObjectID &field, ObjectID id);

    DatasourceManager &m_engine;
    AppClock &m_clock;
    QList<SortDescriptor> m_sortDescriptors;
    QList<ObjectID> m_items;
    QList<ObjectID> m_newItems;
    bool m_autoHide = false;
    QString m_filter;
    Predicate m_filterPredicate;
    bool m_showMarkedOnly = false;
    bool m_showStarredOnly = false;
    bool m_needsRefresh = false;
    bool m_reloadPending = false;
    ObjectID m_selectedCategoryId;
    ObjectID m_selectedDatasourceId;
    bool m_reorderSavePending = false;
    quint64 m_reloadGeneration = 0;
};

} // namespace corvane::desktop
