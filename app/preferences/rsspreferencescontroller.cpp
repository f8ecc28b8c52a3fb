#include "rsspreferencescontroller.h"

#include "addfeedtext.h"
#include "feedlistmodel.h"
#include "feedpositions.h"
#include "feedsettingssheet.h"
#include "feedsoutlineview.h"

#include "ticker/dataitemadapter.h"
#include "ticker/enginebridge.h"

#include "base/dispatch.h"
#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/opmlhandler.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvane::desktop {
namespace {

const QString kSubtleChanged = QStringLiteral("kNotificationDatasourcesSubtleChanged");
const QString kMainContextReset = QStringLiteral("NotificationMainContextReset");
constexpr int kFirstRestoreTag = 101;

// The address column: the address, below it the state of the last refresh,
// and a red mark when that refresh failed.
class AddressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString info = index.data(FeedListModel::InfoRole).toString();
        if (info.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString url = opt.text;
        opt.text.clear();
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        const bool selected = opt.state & QStyle::State_Selected;
        const bool failed = index.data(FeedListModel::ErrorRole).isValid();
        QRect area = opt.rect.adjusted(4, 3, -4, -3);
        painter->save();
        if (failed) {
            const QRect mark(area.left(), area.center().y() - 7, 14, 14);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setBrush(QColor(0xd0, 0x30, 0x30));
            painter->setPen(Qt::NoPen);
            painter->drawEllipse(mark);
            painter->setPen(Qt::white);
            QFont bold = opt.font;
            bold.setBold(true);
            painter->setFont(bold);
            painter->drawText(mark, Qt::AlignCenter, QStringLiteral("!"));
            area.setLeft(mark.right() + 6);
        }
        painter->setFont(opt.font);
        painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text));
        const QFontMetrics metrics(opt.font);
        const QRect top(area.left(), area.top(), area.width(), area.height() / 2);
        painter->drawText(top, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(url, Qt::ElideMiddle, top.width()));
        QFont small = opt.font;
        small.setPointSizeF(small.pointSizeF() * 0.85);
        painter->setFont(small);
        painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                                 : (failed ? QColor(0xb0, 0x20, 0x20) : opt.palette.color(QPalette::PlaceholderText)));
        const QRect bottom(area.left(), top.bottom(), area.width(), area.height() - top.height());
        painter->drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(small).elidedText(info, Qt::ElideRight, bottom.width()));
        painter->restore();
    }
};

QString errorTextForExport(const QString &path)
{
    return RSSPreferencesController::tr("The feed list could not be written to %1.").arg(path);
}

} // namespace

AddFeedSheet::AddFeedSheet(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Add Feed"));
    setWindowModality(Qt::WindowModal);
    auto *label = new QLabel(tr("Address of the feed, or @ and a Twitter user name, or # and words to search for:"));
    label->setWordWrap(true);
    m_field = new QLineEdit;
    m_field->setMaxLength(addfeedtext::kMaximumLength + 1);
    m_field->setPlaceholderText(QStringLiteral("https://example.org/feed.xml"));
    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020"));
    m_message->hide();
    auto *buttons = new QDialogButtonBox;
    m_add = buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    m_add->setEnabled(false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_add->setEnabled(!text.isEmpty());
        m_message->hide();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { Q_EMIT addRequested(m_field->text()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AddFeedSheet::showMessage(const QString &text)
{
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

RSSPreferencesController::RSSPreferencesController(DatasourceManager &engine, EngineBridge &bridge,
                                                   Settings &settings, QWidget *parent)
    : QWidget(parent)
    , m_engine(engine)
    , m_bridge(bridge)
    , m_settings(settings)
{
    buildUi();
    observeEngine();
    m_lastReload.invalidate();
}

RSSPreferencesController::~RSSPreferencesController() = default;

void RSSPreferencesController::buildUi()
{
    m_model = new FeedListModel(m_engine, this);
    m_model->onMessage = [this](const QString &text) { showAlert(tr("Feeds"), text); };
    m_view = new FeedsOutlineView;
    m_view->setModel(m_model);
    m_view->setItemDelegateForColumn(FeedListModel::UrlColumn, new AddressDelegate(m_view));
    m_view->backgroundColorForItem = [this](const QModelIndex &index, int row) {
        return backgroundColorForItem(index, row);
    };
    m_view->menuForItem = [this](const QModelIndex &index) { return menuForItem(index); };
    m_view->header()->setStretchLastSection(true);
    m_view->header()->setSectionResizeMode(FeedListModel::EnabledColumn, QHeaderView::Fixed);
    m_view->header()->setSectionResizeMode(FeedListModel::SidebarColumn, QHeaderView::Fixed);
    m_view->setColumnWidth(FeedListModel::NameColumn, 220);
    m_view->setColumnWidth(FeedListModel::EnabledColumn, 34);
    m_view->setColumnWidth(FeedListModel::SidebarColumn, 34);
    m_view->setIndentation(14);
    m_view->setAlternatingRowColors(false);
    m_view->setStyleSheet(QStringLiteral("QTreeView::item { border: 0px; padding: 0px; }"));
    m_view->expandAll();

    auto *add = new QPushButton(QStringLiteral("+"));
    add->setToolTip(tr("Add a feed"));
    m_deleteButton = new QPushButton(QStringLiteral("−"));
    m_deleteButton->setToolTip(tr("Delete the selected feeds and folders"));
    m_deleteButton->setEnabled(false);
    auto *folder = new QPushButton(tr("New Folder"));
    for (QPushButton *button : {add, m_deleteButton})
        button->setFixedWidth(32);

    m_opmlButton = new QToolButton;
    m_opmlButton->setText(tr("Import / Export"));
    m_opmlButton->setPopupMode(QToolButton::InstantPopup);
    m_opmlMenu = new QMenu(m_opmlButton);
    m_opmlMenu->addAction(tr("Import OPML…"), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Import OPML"), QString(),
                                                          tr("Feed lists (*.xml *.opml)"));
        if (!path.isEmpty())
            importOpml(path);
    });
    m_opmlMenu->addAction(tr("Export OPML…"), this, [this] {
        QString path = QFileDialog::getSaveFileName(this, tr("Export OPML"), QStringLiteral("Corvane feeds.xml"),
                                                    tr("Feed lists (*.xml)"));
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".xml");
        exportOpml(path);
    });
    m_opmlMenu->addAction(tr("Reset Settings…"), this, &RSSPreferencesController::resetSettings);
    m_opmlButton->setMenu(m_opmlMenu);
    connect(m_opmlMenu, &QMenu::aboutToShow, this, &RSSPreferencesController::rebuildRestoreItems);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    buttons->addWidget(add);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(folder);
    buttons->addStretch();
    buttons->addWidget(m_opmlButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);

    m_addSheet = new AddFeedSheet(this);
    connect(m_addSheet, &AddFeedSheet::addRequested, this, [this](const QString &text) {
        QString message;
        if (confirmAdd(text, &message))
            m_addSheet->accept();
        else
            m_addSheet->showMessage(message);
    });

    connect(add, &QPushButton::clicked, this, &RSSPreferencesController::addFeed);
    connect(m_deleteButton, &QPushButton::clicked, this, &RSSPreferencesController::deleteSelected);
    connect(folder, &QPushButton::clicked, this, &RSSPreferencesController::newFolder);
    connect(m_view, &QTreeView::doubleClicked, this, &RSSPreferencesController::openFeedSettings);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { m_deleteButton->setEnabled(isRowSelected()); });
    connect(m_view, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        m_collapsed.insert(index.data(FeedListModel::ObjectIDRole).value<ObjectID>());
    });
    connect(m_view, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        m_collapsed.remove(index.data(FeedListModel::ObjectIDRole).value<ObjectID>());
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        // Categories stay open unless the user closed them.
        for (int row = 0; row < m_model->categoryCount(); ++row)
            if (!m_collapsed.contains(m_model->rootItems()[row]))
                m_view->expand(m_model->index(row, 0));
        m_deleteButton->setEnabled(isRowSelected());
    });
}

void RSSPreferencesController::observeEngine()
{
    connect(&m_bridge, &EngineBridge::objectsUpdated, this, &RSSPreferencesController::objectsUpdated);
    connect(&m_bridge, &EngineBridge::datasourcesChanged, this, &RSSPreferencesController::deferrableReload);
    std::weak_ptr<int> alive = m_alive;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_observers.emplace_back(center, kSubtleChanged, nullptr, [this, alive](const Notification &) {
        dispatch::main().async([this, alive] {
            if (!alive.expired())
                redrawAll(FeedListModel::UrlColumn);
        });
    });
    m_observers.emplace_back(center, kMainContextReset, nullptr, [this, alive](const Notification &) {
        dispatch::main().async([this, alive] {
            if (!alive.expired())
                reload();
        });
    });
}

void RSSPreferencesController::objectsUpdated(const QList<ObjectID> &inserted, const QList<ObjectID> &updated,
                                              const QList<ObjectID> &deleted)
{
    const auto listsRows = [](const QList<ObjectID> &ids) {
        return std::any_of(ids.begin(), ids.end(), [](const ObjectID &id) {
            return id.entity == Entity::Datasource || id.entity == Entity::Category;
        });
    };
    if (listsRows(inserted) || listsRows(deleted))
        deferrableReload();
    else if (listsRows(updated))
        redrawAll();
}

void RSSPreferencesController::reload()
{
    m_view->performNowOrAfterEditing([this] { m_model->reload(); });
}

void RSSPreferencesController::deferrableReload()
{
    if (m_deferredPending)
        return;
    if (m_lastReload.isValid() && m_lastReload.elapsed() < 2000) {
        m_deferredPending = true;
        QTimer::singleShot(2000, this, [this] {
            m_deferredPending = false;
            reload();
        });
    }
    m_lastReload.start();
    reload();
}

void RSSPreferencesController::redrawAll(int column)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const int first = column < 0 ? 0 : column;
    const int last = column < 0 ? FeedListModel::ColumnCount - 1 : column;
    Q_EMIT m_model->dataChanged(m_model->index(0, first), m_model->index(rows - 1, last));
    m_view->viewport()->update();
}

std::optional<QColor> RSSPreferencesController::backgroundColorForItem(const QModelIndex &index, int visualRow) const
{
    if (m_view->selectionModel()->isRowSelected(index.row(), index.parent()))
        return std::nullopt;
    if (!dynamic_cast<Category *>(m_model->recordAt(index)))
        return std::nullopt;
    // Rows counted from 1: odd ones blue-grey, even ones light grey.
    if ((visualRow + 1) % 2 == 1)
        return QColor::fromRgbF(0.8767f, 0.8875f, 0.9020f);
    return QColor::fromRgbF(0.92f, 0.92f, 0.92f);
}

bool RSSPreferencesController::isRowSelected() const
{
    return m_view->selectionModel() && m_view->selectionModel()->hasSelection();
}

QList<ObjectID> RSSPreferencesController::selectedIds() const
{
    QList<ObjectID> ids;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        if (const Record *record = m_model->recordAt(index))
            ids.append(record->objectID());
    return ids;
}

void RSSPreferencesController::addFeed()
{
    const QString clipboard = QGuiApplication::clipboard() ? QGuiApplication::clipboard()->text() : QString();
    addFeedWithUrl(addfeedtext::prefillFromClipboard(clipboard));
}

void RSSPreferencesController::addFeedWithUrl(const QString &url)
{
    m_addSheet->field()->setText(url.left(addfeedtext::kMaximumLength + 1));
    m_addSheet->showMessage({});
    m_addSheet->open();
    m_addSheet->field()->setFocus();
}

bool RSSPreferencesController::confirmAdd(const QString &text, QString *message)
{
    const addfeedtext::Result checked = addfeedtext::addressFromText(text);
    if (!checked.ok()) {
        if (message)
            *message = checked.error;
        return false;
    }
    bool isNew = false;
    RSSDatasource *datasource = m_engine.addFeedWithURL(
        checked.address, [&](RSSDatasource *added) { isNew = added->isInserted(); });
    if (!datasource) {
        if (message)
            *message = tr("That is not a feed address.");
        return false;
    }
    const ObjectID id = datasource->objectID();
    m_model->reload();
    if (!isNew) {
        if (message)
            *message = tr("Feed already exists.");
        return false;
    }
    const QModelIndex row = m_model->indexOf(id);
    if (row.isValid()) {
        m_view->setCurrentIndex(row);
        m_view->scrollTo(row);
    }
    return true;
}

void RSSPreferencesController::deleteSelected()
{
    m_view->endEditing();
    const QList<ObjectID> ids = selectedIds();
    for (const ObjectID &id : ids)
        if (Record *record = m_engine.contextMain()->existingObject(id); record && !record->isDeleted())
            m_engine.deleteDatasourceOrCategory(record);
    m_model->reload();
}

void RSSPreferencesController::newFolder()
{
    Context *main = m_engine.contextMain();
    QList<double> positions;
    for (const Category *category :
         main->fetchAs<Category>(Query{Entity::Category, Predicate(), {{QStringLiteral("position"), true}}}))
        positions.append(category->position());
    auto *category = main->insert<Category>();
    category->setName(tr("New Folder"));
    category->setPosition(feedpositions::nextPosition(positions));
    StoreManager::saveFromContext(main);
    const ObjectID id = category->objectID();
    m_model->reload();
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
    const QModelIndex row = m_model->indexOf(id, FeedListModel::NameColumn);
    if (row.isValid()) {
        m_view->setCurrentIndex(row);
        m_view->edit(row);
    }
}

void RSSPreferencesController::moveDatasources(const QList<ObjectID> &ids, ObjectID categoryId)
{
    Context *main = m_engine.contextMain();
    Category *target = categoryId.isNull() ? nullptr : dynamic_cast<Category *>(main->existingObject(categoryId));
    if (!categoryId.isNull() && !target)
        return; // the category went away meanwhile
    for (const ObjectID &id : ids) {
        auto *datasource = dynamic_cast<Datasource *>(main->existingObject(id));
        if (!datasource || datasource->isDeleted() || datasource->category() == target)
            continue;
        QList<double> positions;
        const QList<Datasource *> there = target ? target->datasources() : [&] {
            QList<Datasource *> root;
            for (Datasource *d : m_engine.datasourcesForMain())
                if (!d->category())
                    root.append(d);
            return root;
        }();
        for (const Datasource *d : there)
            positions.append(d->position());
        datasource->setCategory(target);
        datasource->setPosition(feedpositions::nextPosition(positions));
    }
    StoreManager::saveFromContext(main);
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
    m_model->reload();
}

QMenu *RSSPreferencesController::menuForItem(const QModelIndex &index)
{
    Record *record = m_model->recordAt(index);
    auto *clicked = dynamic_cast<Datasource *>(record);
    auto *menu = new QMenu(this);
    if (clicked) {
        QList<ObjectID> ids;
        for (const ObjectID &id : selectedIds())
            if (id.entity == Entity::Datasource)
                ids.append(id);
        if (ids.isEmpty())
            ids.append(clicked->objectID());
        QMenu *moveTo = menu->addMenu(tr("Move to"));
        const Category *current = clicked->category();
        const auto addTarget = [&](const QString &title, ObjectID category, bool checked) {
            QAction *action = moveTo->addAction(title, this, [this, ids, category] { moveDatasources(ids, category); });
            action->setCheckable(true);
            action->setChecked(checked);
        };
        for (const Category *category : m_engine.contextMain()->fetchAs<Category>(
                 Query{Entity::Category, Predicate(), {{QStringLiteral("position"), true}}}))
            addTarget(category->name(), category->objectID(), current && current->objectID() == category->objectID());
        addTarget(tr("None"), ObjectID{}, !current);
        const QModelIndex row = index.siblingAtColumn(0);
        menu->addAction(tr("Settings…"), this, [this, row] { openFeedSettings(row); });
    }
    menu->addAction(tr("Delete"), this, &RSSPreferencesController::deleteSelected);
    return menu;
}

void RSSPreferencesController::openFeedSettings(const QModelIndex &index)
{
    auto *datasource = dynamic_cast<Datasource *>(m_model->recordAt(index));
    if (!datasource)
        return;
    if (m_settingsSheet)
        m_settingsSheet->close();
    m_settingsSheet = new FeedSettingsSheet(m_engine.contextMain(), datasource->objectID(), m_settings, this);
    m_settingsSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_settingsSheet, &QDialog::finished, this, [this] { m_model->reload(); });
    m_settingsSheet->open();
}

void RSSPreferencesController::resetSettings()
{
    auto *box = new QMessageBox(QMessageBox::Question, tr("Reset settings"),
                                tr("Do you want to reset all individual feed and color settings to default?"),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this](int result) {
        if (result == QMessageBox::Yes)
            resetAllSettings();
    });
    box->open();
}

void RSSPreferencesController::resetAllSettings()
{
    Context *main = m_engine.contextMain();
    for (Datasource *datasource : m_engine.datasourcesForMain()) {
        datasource->setLimit(0);
        datasource->setAgeLimit(0);
        datasource->setRefreshRate(0);
        datasource->setFontColor(std::nullopt);
        datasource->setBackgroundColor(std::nullopt);
    }
    // Items the user deleted come back.
    for (DataItem *item :
         main->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("deleted"), true)}))
        item->setDeletedByUser(false);
    StoreManager::saveFromContext(main);
    if (DataItemAdapter *adapter = DataItemAdapter::sharedAdapter())
        adapter->setNeedsRefresh(true);
    m_model->reload();
}

void RSSPreferencesController::importOpml(const QString &path)
{
    runOpml(path, false, false);
}

void RSSPreferencesController::exportOpml(const QString &path)
{
    runOpml(path, false, true);
}

void RSSPreferencesController::restoreOpml(const QString &path)
{
    runOpml(path, true, false);
}

void RSSPreferencesController::runOpml(const QString &path, bool deleteOthers, bool exporting)
{
    if (m_working)
        return;
    m_working = true;
    m_lastError.clear();
    std::weak_ptr<int> alive = m_alive;
    StoreManager &stores = m_engine.stores();
    QThreadPool::globalInstance()->start([this, alive, &stores, path, deleteOthers, exporting] {
        OPMLHandler handler(stores);
        std::optional<QString> error;
        if (exporting) {
            if (!handler.exportURL(path))
                error = errorTextForExport(path);
        } else {
            error = handler.importURL(path, deleteOthers);
        }
        stores.waitForPendingCommit();
        dispatch::main().async([this, alive, error] {
            if (alive.expired())
                return;
            m_working = false;
            m_lastError = error.value_or(QString());
            if (error)
                showAlert(tr("Feed list"), *error);
            m_model->reload();
            Q_EMIT workFinished();
        });
    });
}

void RSSPreferencesController::rebuildRestoreItems()
{
    const QList<QAction *> actions = m_opmlMenu->actions();
    for (qsizetype i = 3; i < actions.size(); ++i) {
        m_opmlMenu->removeAction(actions[i]);
        actions[i]->deleteLater();
    }
    QStringList backups = m_engine.stores().opmlBackups();
    backups.sort();
    if (backups.isEmpty())
        return;
    m_opmlMenu->addSeparator();
    int tag = kFirstRestoreTag;
    for (auto it = backups.crbegin(); it != backups.crend(); ++it) {
        const QString title = restoreTitle(QFileInfo(*it).fileName());
        if (title.isEmpty())
            continue;
        const QString path = *it;
        QAction *action = m_opmlMenu->addAction(tr("Restore feed list from: %1").arg(title));
        action->setData(tag++);
        connect(action, &QAction::triggered, this, [this, path, title] {
            auto *box = new QMessageBox(QMessageBox::Warning, tr("Restore"),
                                        tr("Are you sure you want to delete your feeds and restore %1?").arg(title),
                                        QMessageBox::Yes | QMessageBox::No, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::WindowModal);
            connect(box, &QMessageBox::finished, this, [this, path](int result) {
                if (result == QMessageBox::Yes)
                    restoreOpml(path);
            });
            box->open();
        });
    }
}

QString RSSPreferencesController::restoreTitle(const QString &fileName)
{
    const QStringList parts = fileName.split(u'.');
    return parts.size() < 2 ? QString() : parts[parts.size() - 2];
}

void RSSPreferencesController::showAlert(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace corvane::desktop
