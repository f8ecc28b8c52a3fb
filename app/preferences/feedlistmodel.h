#pragma once

#include "store/objectid.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>

#include <functional>

namespace corvane {
class Category;
class Context;
class DatasourceManager;
class Datasource;
class Record;
}

namespace corvane::desktop {

// The two-level tree of the feed list: the categories by position, then the
// subscriptions filed in none, by position; each category holds its
// subscriptions. Works on the main context only. The rows are read by
// reload() and kept until the next one: a view needs the same rows until it
// is told of a change, and a row left from an earlier list must not reach
// the record that took its place.
class FeedListModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { NameColumn, EnabledColumn, SidebarColumn, UrlColumn, ColumnCount };
    enum Role { InfoRole = Qt::UserRole + 1, ErrorRole, ObjectIDRole };
    static const QString kDragType; // "application/x-corvane.private.datasourcedrag"

    explicit FeedListModel(DatasourceManager &engine, QObject *parent = nullptr);

    Context *context() const;
    // Rebuilds the root list and resets the views.
    void reload();
    // The record of a row, loaded; null when it is gone.
    Record *recordAt(const QModelIndex &index) const;
    QModelIndex indexOf(ObjectID id, int column = 0) const;
    const QList<ObjectID> &rootItems() const { return m_roots; }
    int categoryCount() const { return m_categoryCount; }

    // Tells the user something (a refused address, an existing feed).
    std::function<void(const QString &message)> onMessage;

    // A drop with Qt's terms: a row of `parent`, or -1 for "on `parent`".
    bool dropRecords(const QList<ObjectID> &dragged, int row, const QModelIndex &parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData *, Qt::DropAction, int, int, const QModelIndex &) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    struct Target
    {
        ObjectID item; // null: the root
        int index = -1; // -1: no index (on the item)
    };
    Target retarget(const QList<Record *> &dragged, int row, const QModelIndex &parent) const;
    void placeDatasource(Datasource *datasource, const Target &target);
    void placeCategory(Category *category, const Target &target);
    QList<Datasource *> rootDatasources() const;
    // Whether the record is a row of the tree as last rebuilt.
    bool isInTree(const Record *record) const;
    ObjectID idAt(const QModelIndex &index) const;
    bool applyEdit(Record *record, int column, const QVariant &value);
    void reloadSoon();

    DatasourceManager &m_engine;
    QList<ObjectID> m_roots;
    int m_categoryCount = 0;
    QHash<ObjectID, QList<ObjectID>> m_children;
    QSet<ObjectID> m_rows;
    bool m_reloadQueued = false;
};

} // namespace corvane::desktop
