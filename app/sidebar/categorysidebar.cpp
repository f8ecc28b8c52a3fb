#include "categorysidebar.h"

#include "categorysidebarbutton.h"

#include "ticker/dataitemadapter.h"
#include "ticker/enginebridge.h"
#include "ticker/entrystyle.h"
#include "ticker/previewpresenter.h"

#include "base/notificationcenter.h"
#include "base/settings.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"

#include <QFontMetricsF>
#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane::desktop {

namespace {

QFont labelFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPointSizeF(13.5);
    return font;
}

bool byPosition(const Record *a, const Record *b)
{
    return a->value(QStringLiteral("position")).toDouble() < b->value(QStringLiteral("position")).toDouble();
}

} // namespace

CategorySidebar::CategorySidebar(DataItemAdapter &adapter, EngineBridge &bridge, Settings &settings, QWidget *parent)
    : QWidget(parent)
    , m_adapter(adapter)
    , m_settings(settings)
    , m_column(new QScrollArea(parent))
{
    m_column->setFrameShape(QFrame::NoFrame);
    m_column->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_column->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_column->setWidgetResizable(false);
    m_column->setWidget(this);
    m_column->viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    m_column->setFixedWidth(kWidth);
    m_column->viewport()->installEventFilter(this);
    bridge.watchSettings({QStringLiteral("FeedsAsImagesInSidebar"), QStringLiteral("FolderTabsMode"),
                          QStringLiteral("location"), QStringLiteral("fontColor"), QStringLiteral("backgroundColor"),
                          QStringLiteral("opacity")});
    connect(&bridge, &EngineBridge::datasourcesChanged, this, &CategorySidebar::setupButtons);
    connect(&bridge, &EngineBridge::settingChanged, this, [this](const QString &key) {
        if (key == u"FeedsAsImagesInSidebar")
            setupButtons();
        if (key == u"FolderTabsMode")
            refreshCounts();
        update();
        for (CategorySidebarButton *button : std::as_const(m_buttons))
            button->update();
    });
    connect(&bridge, &EngineBridge::objectsUpdated, this, &CategorySidebar::refreshCounts);
    connect(&bridge, &EngineBridge::itemsChangedFromCloud, this, &CategorySidebar::refreshCounts);
    connect(&bridge, &EngineBridge::itemPropertiesChanged, this, &CategorySidebar::refreshCounts);
    setupButtons();
}

bool CategorySidebar::feedsAsImages()
{
    return Settings::shared().boolean(QStringLiteral("FeedsAsImagesInSidebar"));
}

double CategorySidebar::labelLength(const QString &name, bool subscription) const
{
    if (subscription && feedsAsImages())
        return 6;
    return QFontMetricsF(labelFont()).horizontalAdvance(name);
}

QList<CategorySidebar::Entry> CategorySidebar::calculateContent() const
{
    Context *main = m_adapter.context();
    QList<Entry> entries;
    double y = -4.5;
    const auto add = [&](const QString &name, ObjectID object, bool subscription) {
        y += 8;
        Entry entry{name, y, 0, object};
        y += 11 + std::ceil(labelLength(name, subscription)) + 18;
        entry.maxY = y;
        y += 8;
        entries.append(entry);
    };
    const auto sidebarSources = [](QList<Datasource *> sources) {
        sources.removeIf([](const Datasource *s) { return !s->enabled() || !s->sidebar(); });
        std::stable_sort(sources.begin(), sources.end(), byPosition);
        return sources;
    };
    add(tr("All feeds"), ObjectID{}, false);
    QList<Category *> categories = main->fetchAs<Category>(Query{Entity::Category});
    std::stable_sort(categories.begin(), categories.end(), byPosition);
    for (const Category *category : std::as_const(categories)) {
        if (category->isEnabled() && category->sidebar())
            add(category->name(), category->objectID(), false);
        for (const Datasource *source : sidebarSources(category->datasources()))
            add(source->visibleName(), source->objectID(), true);
    }
    QList<Datasource *> uncategorised = main->fetchAs<Datasource>(Query{Entity::Datasource});
    uncategorised.removeIf([](const Datasource *s) { return s->category() != nullptr; });
    for (const Datasource *source : sidebarSources(uncategorised))
        add(source->visibleName(), source->objectID(), true);
    const_cast<CategorySidebar *>(this)->m_neededHeight = y;
    return entries;
}

void CategorySidebar::setupButtons()
{
    const QList<Entry> entries = calculateContent();
    while (m_buttons.size() < entries.size()) {
        auto *button = new CategorySidebarButton(m_adapter, this);
        connect(button, &CategorySidebarButton::clicked, this, [this](CategorySidebarButton *clicked) {
            PreviewPresenter::shared().close();
            m_adapter.setSelectedCategoryId(clicked->object());
            NotificationCenter::defaultCenter().post(QStringLiteral("SelectedCategoryChanged"));
            for (CategorySidebarButton *each : std::as_const(m_buttons))
                each->update();
            Q_EMIT tabReleased();
        });
        connect(button, &CategorySidebarButton::dragMoved, this, &CategorySidebar::reorder);
        connect(button, &CategorySidebarButton::dragEnded, this, [this] {
            setupButtons();
            Q_EMIT tabReleased();
        });
        m_buttons.append(button);
    }
    while (m_buttons.size() > entries.size())
        m_buttons.takeLast()->deleteLater();
    // Each entry keeps the tab that stood for it, so counts do not flicker.
    QList<CategorySidebarButton *> free = m_buttons;
    QList<CategorySidebarButton *> ordered;
    for (const Entry &entry : entries) {
        auto it = std::find_if(free.begin(), free.end(),
                               [&](const CategorySidebarButton *b) { return b->object() == entry.object; });
        if (it == free.end())
            it = free.begin();
        CategorySidebarButton *button = *it;
        free.erase(it);
        button->setEntry(entry.name, entry.object);
        if (!button->isDragged())
            button->setGeometry(0, int(entry.minY), kWidth, int(entry.maxY - entry.minY));
        button->show();
        ordered.append(button);
    }
    m_buttons = ordered;
    fitColumn();
}

// As tall as the tabs need, and at least as tall as the column, whose
// lower end shows the product name.
void CategorySidebar::fitColumn()
{
    resize(kWidth, qMax(int(std::ceil(m_neededHeight)), m_column->viewport()->height()));
}

bool CategorySidebar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_column->viewport() && event->type() == QEvent::Resize)
        fitColumn();
    return QWidget::eventFilter(watched, event);
}

void CategorySidebar::refreshCounts()
{
    for (CategorySidebarButton *button : std::as_const(m_buttons))
        button->refreshCount();
}

void CategorySidebar::reorder(CategorySidebarButton *dragged, double y)
{
    for (CategorySidebarButton *button : std::as_const(m_buttons))
        if (button->takeDrag(dragged, y)) {
            NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
            return;
        }
}

void CategorySidebar::paintEvent(QPaintEvent *)
{
    const EntryStyle &style = EntryStyle::current();
    QPainter p(this);
    QColor fill = style.backgroundColor;
    fill.setAlphaF(float(style.opacity >= 0.83 ? style.opacity - 0.17 : style.opacity + 0.17));
    p.fillRect(rect(), fill);
    // The product name along the column's lower end.
    QFont font(QStringLiteral("Lucida Sans"));
    font.setPointSize(11);
    p.setFont(font);
    p.setPen(style.fontColor);
    p.translate(3, height() - 5);
    p.rotate(-90);
    p.drawText(QRectF(0, 0, 200, width() - 3), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
}

} // namespace corvane::desktop
