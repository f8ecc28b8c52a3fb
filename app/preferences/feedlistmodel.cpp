#include "feedlistmodel.h"

#include "addfeedtext.h"
#include "feedpositions.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/notificationcenter.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/subscriptionlist.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/objectstore.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QApplication>
#include <QMimeData>
#include <QSize>
#include <QTimer>
#include <QUrl>

namespace corvane::desktop {

const QString FeedListModel::kDragType = QStringLiteral("application/x-corvane.private.datasourcedrag");

namespace {

void postDatasourcesChanged()
{
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
}

Qt::CheckState checkState(bool on)
{
    return on ? Qt::Checked : Qt::Unchecked;
}

} // namespace

FeedListModel::FeedListModel(DatasourceManager &engine, QObject *parent)
    : QAbstractItemModel(parent)
    , m_engine(engine)
{
    reload();
}

Context *FeedListModel::context() const
{
    return m_engine.contextMain();
}

void FeedListModel::reload()
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread");
    beginResetModel();
    m_roots.clear();
    m_children.clear();
    m_rows.clear();
    const QList<Category *> categories =
        context()->fetchAs<Category>(Query{Entity::Category, Predicate(), {{QStringLiteral("position"), true}}});
    for (const Category *category : categories) {
        m_roots.append(category->objectID());
        QList<ObjectID> &children = m_children[category->objectID()];
        for (const Datasource *datasource : category->datasources()) {
            children.append(datasource->objectID());
            m_rows.insert(datasource->objectID());
        }
    }
    m_categoryCount = int(categories.size());
    for (const Datasource *datasource : rootDatasources())
        m_roots.append(datasource->objectID());
    for (const ObjectID &id : std::as_const(m_roots))
        m_rows.insert(id);
    endResetModel();
}

QList<Datasource *> FeedListModel::rootDatasources() const
{
    QList<Datasource *> root;
    for (Datasource *datasource : subscriptionlist::datasourcesForContext(context()))
        if (!datasource->category())
            root.append(datasource);
    return root;
}

ObjectID FeedListModel::idAt(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    if (index.internalId() == 0)
        return m_roots.value(index.row());
    return m_children.value(m_roots.value(int(index.internalId()) - 1)).value(index.row());
}

Record *FeedListModel::recordAt(const QModelIndex &index) const
{
    const ObjectID id = idAt(index);
    if (id.isNull())
        return nullptr;
    Record *record = context()->existingObject(id);
    return record && !record->isDeleted() ? record : nullptr;
}

QModelIndex FeedListModel::indexOf(ObjectID id, int column) const
{
    const qsizetype rootRow = m_roots.indexOf(id);
    if (rootRow >= 0)
        return index(int(rootRow), column);
    for (int row = 0; row < m_categoryCount; ++row) {
        const qsizetype child = m_children.value(m_roots[row]).indexOf(id);
        if (child >= 0)
            return index(int(child), column, index(row, 0));
    }
    return {};
}

bool FeedListModel::isInTree(const Record *record) const
{
    return record && record->context() && m_rows.contains(record->objectID());
}

int FeedListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_roots.size());
    if (parent.column() != 0 || parent.internalId() != 0 || parent.row() >= m_categoryCount)
        return 0;
    return int(m_children.value(m_roots.value(parent.row())).size());
}

int FeedListModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

QModelIndex FeedListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return row < m_roots.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
    if (parent.internalId() != 0)
        return {};
    return createIndex(row, column, quintptr(parent.row() + 1));
}

QModelIndex FeedListModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(int(child.internalId()) - 1, 0, quintptr(0));
}

bool FeedListModel::hasChildren(const QModelIndex &parent) const
{
    // Only categories open, even when empty.
    if (!parent.isValid())
        return !m_roots.isEmpty();
    return parent.internalId() == 0 && parent.column() == 0 && parent.row() < m_categoryCount;
}

QVariant FeedListModel::data(const QModelIndex &index, int role) const
{
    Record *record = recordAt(index);
    if (!record)
        return {};
    auto *category = dynamic_cast<Category *>(record);
    auto *datasource = dynamic_cast<Datasource *>(record);
    if (role == Qt::SizeHintRole)
        return QSize(-1, category ? 20 : 44);
    if (role == ObjectIDRole)
        return QVariant::fromValue(record->objectID());
    switch (index.column()) {
    case NameColumn:
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            if (category)
                return category->name();
            const QString name = datasource->customName().isEmpty() ? datasource->name() : datasource->customName();
            if (role == Qt::DisplayRole && datasource->category())
                return QStringLiteral("    %1").arg(name);
            return name;
        }
        if (role == Qt::ToolTipRole && datasource)
            return datasource->visibleName();
        break;
    case EnabledColumn:
        if (role == Qt::CheckStateRole) {
            if (datasource)
                return checkState(datasource->enabled());
            const int state = category->enabledButtonState();
            return state < 0 ? Qt::PartiallyChecked : checkState(state == 1);
        }
        break;
    case SidebarColumn:
        if (role == Qt::CheckStateRole)
            return checkState(category ? category->sidebar() : datasource->sidebar());
        break;
    case UrlColumn:
        if (!datasource)
            break;
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return datasource->url();
        if (role == InfoRole)
            return datasource->infoString();
        if (role == ErrorRole || role == Qt::ToolTipRole)
            return datasource->errorString().isEmpty() ? QVariant() : QVariant(datasource->errorString());
        break;
    default:
        break;
    }
    return {};
}

QVariant FeedListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn: return tr("Name");
    case EnabledColumn: return tr("On");
    case SidebarColumn: return tr("Tab");
    case UrlColumn: return tr("Address");
    default: return {};
    }
}

Qt::ItemFlags FeedListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    const bool isCategory = index.internalId() == 0 && index.row() < m_categoryCount;
    switch (index.column()) {
    case NameColumn: flags |= Qt::ItemIsEditable; break;
    case EnabledColumn:
    case SidebarColumn: flags |= Qt::ItemIsUserCheckable; break;
    case UrlColumn:
        if (!isCategory)
            flags |= Qt::ItemIsEditable;
        break;
    default: break;
    }
    return flags;
}

bool FeedListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole && role != Qt::CheckStateRole)
        return false;
    Record *record = recordAt(index);
    // Only rows of the tree as it stands; a row left over from an earlier
    // list, or a record gone from its context, takes no edit.
    if (!isInTree(record))
        return false;
    QVariant applied = value;
    if (role == Qt::CheckStateRole)
        applied = value.toInt() != Qt::Unchecked;
    const bool accepted = applyEdit(record, index.column(), applied);
    reloadSoon();
    return accepted;
}

bool FeedListModel::applyEdit(Record *record, int column, const QVariant &value)
{
    Context *main = context();
    if (auto *category = dynamic_cast<Category *>(record)) {
        switch (column) {
        case NameColumn: category->setName(value.toString()); break;
        case EnabledColumn:
            for (Datasource *datasource : category->datasources())
                datasource->setEnabled(value.toBool());
            break;
        case SidebarColumn: category->setSidebar(value.toBool()); break;
        default: return false;
        }
        StoreManager::saveFromContext(main);
        postDatasourcesChanged();
        return true;
    }
    auto *datasource = dynamic_cast<Datasource *>(record);
    if (!datasource)
        return false;
    switch (column) {
    case NameColumn: {
        // Blanks give the feed its own name back.
        const QString text = value.toString();
        datasource->setCustomName(text.trimmed().isEmpty() ? QString() : text);
        break;
    }
    case EnabledColumn:
    case SidebarColumn:
        if (column == EnabledColumn)
            datasource->setEnabled(value.toBool());
        else
            datasource->setSidebar(value.toBool());
        StoreManager::saveFromContext(main);
        postDatasourcesChanged();
        return true;
    default: {
        // A new address goes through the same checks as an added one.
        const addfeedtext::Result checked = addfeedtext::addressFromText(value.toString());
        if (!checked.ok()) {
            if (onMessage)
                onMessage(checked.error);
            return false;
        }
        datasource->setUrl(checked.address);
        break;
    }
    }
    StoreManager::saveFromContext(main);
    return true;
}

void FeedListModel::reloadSoon()
{
    // An edit ends in a reload, but not while the view is still inside the
    // edit's call chain.
    if (m_reloadQueued)
        return;
    m_reloadQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_reloadQueued = false;
        reload();
    });
}

QStringList FeedListModel::mimeTypes() const
{
    return {kDragType, QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};
}

QMimeData *FeedListModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList uris;
    for (const QModelIndex &index : indexes) {
        const Record *record = recordAt(index);
        if (!record || record->objectID().isTemporary())
            continue;
        const QString uri = context()->store().uriForID(record->objectID());
        if (!uris.contains(uri))
            uris.append(uri);
    }
    if (uris.isEmpty())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setData(kDragType, uris.join(u'\n').toUtf8());
    return mime;
}

Qt::DropActions FeedListModel::supportedDropActions() const
{
    return Qt::MoveAction | Qt::CopyAction | Qt::LinkAction;
}

Qt::DropActions FeedListModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

bool FeedListModel::canDropMimeData(const QMimeData *, Qt::DropAction, int, int, const QModelIndex &) const
{
    // Every drop is taken; dropRecords() decides where it goes.
    return true;
}

FeedListModel::Target FeedListModel::retarget(const QList<Record *> &dragged, int row, const QModelIndex &parent) const
{
    Record *onRecord = recordAt(parent.sibling(parent.row(), 0));
    const bool holdsCategory = std::any_of(dragged.begin(), dragged.end(),
                                           [](const Record *r) { return dynamic_cast<const Category *>(r); });
    if (holdsCategory) {
        // Categories stay at the top level, among the categories.
        if (auto *category = dynamic_cast<Category *>(onRecord))
            return {{}, int(m_roots.indexOf(category->objectID())) + 1};
        if (!onRecord && row >= 0 && row <= m_categoryCount)
            return {{}, row};
        return {{}, m_categoryCount};
    }
    if (auto *datasource = dynamic_cast<Datasource *>(onRecord)) {
        if (datasource->category())
            return {{}, int(m_roots.size())};
        return {{}, int(m_roots.indexOf(datasource->objectID())) + 1};
    }
    return {onRecord ? onRecord->objectID() : ObjectID{}, row};
}

void FeedListModel::placeDatasource(Datasource *datasource, const Target &target)
{
    Category *category = nullptr;
    if (!target.item.isNull()) {
        category = dynamic_cast<Category *>(context()->existingObject(target.item));
        if (!category)
            return; // not a category: this item stays where it is
    }
    // The drop index counts the rows as shown, the dragged one among them
    // when it is already there; its own old position is no neighbour.
    const QList<Datasource *> shown = category ? category->datasources() : rootDatasources();
    int index = target.index;
    if (!category && index >= 0)
        index = std::max(0, index - m_categoryCount);
    QList<double> positions;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (shown[i] == datasource) {
            if (index > i)
                --index;
            continue;
        }
        positions.append(shown[i]->position());
    }
    datasource->setCategory(category);
    datasource->setPosition(feedpositions::positionAt(positions, index));
}

void FeedListModel::placeCategory(Category *category, const Target &target)
{
    QList<double> categoryPositions;
    QList<double> rootPositions;
    for (qsizetype i = 0; i < m_roots.size(); ++i) {
        const Record *record = context()->existingObject(m_roots[i]);
        const double position = record ? record->value(QStringLiteral("position")).toDouble() : 0;
        rootPositions.append(position);
        if (i < m_categoryCount)
            categoryPositions.append(position);
    }
    const int index = target.index;
    double position;
    if (index == 0)
        position = feedpositions::positionAt(rootPositions, 0);
    else if (index >= m_categoryCount || index < 0)
        position = feedpositions::nextPosition(categoryPositions);
    else
        position = feedpositions::positionAt(rootPositions, index);
    category->setPosition(position);
}

bool FeedListModel::dropRecords(const QList<ObjectID> &draggedIds, int row, const QModelIndex &parent)
{
    QList<Record *> dragged;
    for (const ObjectID &id : draggedIds)
        if (Record *record = context()->existingObject(id); record && !record->isDeleted())
            dragged.append(record);
    if (dragged.isEmpty())
        return false;
    const Target target = retarget(dragged, row, parent);
    // Subscriptions cannot go among the categories; refused before anything moves.
    const bool holdsDatasource = std::any_of(dragged.begin(), dragged.end(),
                                             [](const Record *r) { return dynamic_cast<const Datasource *>(r); });
    if (holdsDatasource && target.item.isNull() && target.index >= 0 && target.index < m_categoryCount)
        return false;
    for (auto it = dragged.crbegin(); it != dragged.crend(); ++it) {
        if (auto *datasource = dynamic_cast<Datasource *>(*it))
            placeDatasource(datasource, target);
        else if (auto *category = dynamic_cast<Category *>(*it))
            placeCategory(category, target);
        postDatasourcesChanged();
    }
    StoreManager::saveFromContext(context());
    reload();
    return true;
}

bool FeedListModel::dropMimeData(const QMimeData *data, Qt::DropAction, int row, int, const QModelIndex &parent)
{
    if (!data)
        return false;
    QList<ObjectID> dragged;
    if (data->hasFormat(kDragType))
        for (const QString &uri : QString::fromUtf8(data->data(kDragType)).split(u'\n', Qt::SkipEmptyParts))
            if (const std::optional<ObjectID> id = context()->store().idForURI(uri))
                dragged.append(*id);
    if (!dragged.isEmpty() && dropRecords(dragged, row, parent))
        return true;
    if (!dragged.isEmpty())
        return false;

    // Not rows of this tree: an address dropped from elsewhere.
    QString text = data->hasUrls() && !data->urls().isEmpty() ? data->urls().first().toString() : data->text();
    const addfeedtext::Result checked = addfeedtext::addressFromText(text);
    if (!checked.ok()) {
        if (onMessage)
            onMessage(checked.error);
        return false;
    }
    bool isNew = false;
    m_engine.addFeedWithURL(checked.address, [&](RSSDatasource *datasource) { isNew = datasource->isInserted(); });
    if (!isNew) {
        QApplication::beep();
        if (onMessage)
            onMessage(tr("Feed already exists."));
    }
    StoreManager::saveFromContext(context());
    reload();
    return isNew;
}

} // namespace corvane::desktop
