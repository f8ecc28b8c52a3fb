#include "mainwindowcontroller.h"

#include "dataitemadapter.h"
#include "dataitemview.h"
#include "enginebridge.h"
#include "entrystyle.h"
#include "listview.h"
#include "previewpresenter.h"
#include "scrollindicator.h"

#include "platform/eventsound.h"
#include "platform/keygrab.h"
#include "platform/windowlevel.h"
#include "platform/x11dock.h"

#include "base/dispatch.h"
#include "base/settings.h"
#include "base/urltext.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include <QDateTime>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace corvane::desktop {

namespace {

MainWindowController *g_shared = nullptr;

constexpr int kDefaultBarWidth = 240;

// Settings whose change the bar applies.
const QStringList &watchedSettings()
{
    static const QStringList keys{
        QStringLiteral("backgroundColor"), QStringLiteral("opacity"),     QStringLiteral("itemHeight"),
        QStringLiteral("location"),        QStringLiteral("alwaysOnTop"), QStringLiteral("fontColor"),
        QStringLiteral("fontName"),        QStringLiteral("gradientAngle"), QStringLiteral("fontSize"),
        QStringLiteral("markFontColor"),   QStringLiteral("markBackgroundColor"), QStringLiteral("displayImage"),
        QStringLiteral("smallImage"),      QStringLiteral("imageWidth"),  QStringLiteral("receiveTimeStamp"),
        QStringLiteral("autoHide"),        QStringLiteral("ScreenNumber"), QStringLiteral("BarWidth"),
        QStringLiteral("FolderTabsMode"),
    };
    return keys;
}

QString droppedText(const QMimeData *data)
{
    if (data->hasUrls() && !data->urls().isEmpty())
        return data->urls().first().toString();
    if (data->hasText())
        return data->text().left(4096);
    return QString();
}

} // namespace

BarWindow::BarWindow(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(true);
    setWindowTitle(QStringLiteral("Corvane"));
}

void BarWindow::paintEvent(QPaintEvent *)
{
    const EntryStyle &style = EntryStyle::current();
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    QColor color = style.backgroundColor;
    color.setAlphaF(float(qMin(1.0, style.opacity)));
    // With a gradient the entries paint the background themselves.
    painter.fillRect(rect(), style.angle > -1 ? QColor(Qt::transparent) : color);
}

void BarWindow::resizeEvent(QResizeEvent *)
{
    Q_EMIT resized();
}

void BarWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText())
        event->acceptProposedAction();
}

void BarWindow::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void BarWindow::dropEvent(QDropEvent *event)
{
    const QString text = droppedText(event->mimeData());
    if (onDroppedText && onDroppedText(text))
        event->acceptProposedAction();
    else
        event->ignore();
}

namespace {

int hotKeyOf(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Down: return MainWindowController::KeyDown;
    case Qt::Key_Up: return MainWindowController::KeyUp;
    case Qt::Key_Space: return MainWindowController::KeySpace;
    case Qt::Key_Right: return MainWindowController::KeyRight;
    case Qt::Key_Left: return MainWindowController::KeyLeft;
    case Qt::Key_Return:
    case Qt::Key_Enter: return MainWindowController::KeyReturn;
    default: return 0;
    }
}

} // namespace

void BarWindow::keyPressEvent(QKeyEvent *event)
{
    const int key = hotKeyOf(event->key());
    if (key && event->modifiers() == Qt::NoModifier && onKey && onKey(key, true))
        return;
    QWidget::keyPressEvent(event);
}

void BarWindow::enterEvent(QEnterEvent *)
{
    Q_EMIT mouseEntered();
}

void BarWindow::leaveEvent(QEvent *)
{
    Q_EMIT mouseLeft();
}

void BarWindow::keyReleaseEvent(QKeyEvent *event)
{
    const int key = hotKeyOf(event->key());
    if (key && !event->isAutoRepeat() && onKey && onKey(key, false))
        return;
    QWidget::keyReleaseEvent(event);
}

MainWindowController::MainWindowController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                                           const Options &options)
    : m_engine(engine)
    , m_bridge(bridge)
    , m_settings(settings)
    , m_clock(options.clock ? *options.clock : AppClock::system())
    , m_playSound(options.playSound ? options.playSound : std::function<bool(const QString &)>(eventsound::play))
{
    g_shared = this;
    EntryStyle::current().load(settings);
    m_window = new BarWindow;
    m_window->onDroppedText = [this](const QString &text) { return addDroppedFeed(text); };
    m_window->onKey = [this](int key, bool pressed) {
        if (!allowedHotKeys().contains(HotKey(key)))
            return false;
        if (pressed)
            hotkeyPressed(key);
        else
            hotkeyReleased(key);
        return true;
    };
    m_adapter = new DataItemAdapter(engine, bridge, m_clock, this);

    m_scrollView = new QScrollArea(m_window);
    m_scrollView->setFrameShape(QFrame::NoFrame);
    m_scrollView->setWidgetResizable(false);
    m_scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The wheel and the keys scroll; the bar draws no scroll bar of its own
    // kind yet, and the toolkit's would take a column of the narrow bar.
    m_scrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listView = new ListView;
    m_scrollView->setWidget(m_listView);
    // The window paints the bar's background; the scroll area and the list
    // stay transparent (setWidget() turns the list's filling on).
    m_scrollView->viewport()->setAutoFillBackground(false);
    m_listView->setAutoFillBackground(false);
    m_listView->resize(m_scrollView->viewport()->width(), 0);
    connect(m_scrollView->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MainWindowController::scrollDidChange);
    makeChrome();
    // The keys are the bar's only while the mouse is over it.
    m_keyGrab = new RootKeyGrab(this);
    connect(m_window, &BarWindow::mouseEntered, this, [this] {
        QList<RootKeyGrab::Key> keys;
        for (HotKey key : allowedHotKeys())
            keys.append(RootKeyGrab::Key(int(key)));
        m_keyGrab->grab(keys);
    });
    connect(m_window, &BarWindow::mouseLeft, m_keyGrab, &RootKeyGrab::release);
    connect(m_keyGrab, &RootKeyGrab::pressed, this, &MainWindowController::hotkeyPressed);
    connect(m_keyGrab, &RootKeyGrab::released, this, &MainWindowController::hotkeyReleased);
    connect(m_window, &BarWindow::resized, this, [this] {
        layoutChrome();
        rebuildViews(true);
    });

    connect(m_adapter, &DataItemAdapter::selectionChanged, this, [this] { rebuildViews(true); });
    bridge.watchSettings(watchedSettings());
    connect(&bridge, &EngineBridge::settingChanged, this, &MainWindowController::applySetting);
    const auto refreshViewsOf = [this](ObjectID id) {
        if (DataItemView *view = viewForItem(id))
            view->updateReadState();
    };
    connect(&bridge, &EngineBridge::itemPropertiesChanged, this, refreshViewsOf);
    connect(&bridge, &EngineBridge::starChanged, this, refreshViewsOf);
    connect(&bridge, &EngineBridge::objectsUpdated, this,
            [refreshViewsOf](const QList<ObjectID> &, const QList<ObjectID> &updated, const QList<ObjectID> &) {
                for (const ObjectID &id : updated)
                    if (id.entity == Entity::DataItem)
                        refreshViewsOf(id);
            });
    const auto refreshAll = [this] { forEachEntry([](DataItemView *view) { view->refresh(); }); };
    connect(&bridge, &EngineBridge::keywordsChanged, this, refreshAll);
    connect(&bridge, &EngineBridge::datasourcesChanged, this, refreshAll);
    connect(&bridge, &EngineBridge::datasourceConfigurationChanged, this, [this](ObjectID source) {
        forEachEntry([source](DataItemView *view) {
            const DataItem *item = view->dataItem();
            if (item && item->datasource() && item->datasource()->objectID() == source)
                view->refresh();
        });
    });
    connect(qApp, &QGuiApplication::screenAdded, this, &MainWindowController::resizeWindow);
    connect(qApp, &QGuiApplication::screenRemoved, this, &MainWindowController::resizeWindow);

    applyItemHeight();
    applyColors();
    m_windowLocation = int(settings.integer(QStringLiteral("location")));
    // The adapter starts showing read items; one reload only when they hide.
    m_autoHide = settings.boolean(QStringLiteral("autoHide"));
    toolButton(QStringLiteral("autohide"))->setChecked(m_autoHide);
    if (m_autoHide)
        m_adapter->hideRead();

    if (options.startTimers) {
        m_tickTimer = m_clock.every(0.2, this, [this] { tick(); });
        m_rebuildTimer = m_clock.every(0.2, this, [this] { rebuildViews(false); });
    }
}

MainWindowController::~MainWindowController()
{
    if (g_shared == this)
        g_shared = nullptr;
    delete m_window;
}

MainWindowController *MainWindowController::sharedInstance()
{
    return g_shared;
}

void MainWindowController::show()
{
    applyLocation();
    setMinimizeIcon();
    m_window->show();
    resizeWindow();
    applyWindowLevel();
    // Once more when the window manager has placed the window.
    QMetaObject::invokeMethod(this, &MainWindowController::resizeWindow, Qt::QueuedConnection);
}

QList<DataItemView *> MainWindowController::entryViews() const
{
    QList<DataItemView *> views;
    for (DataItemView *view : m_listView->entries())
        if (!m_unusedItemViews.contains(view))
            views.append(view);
    return views;
}

DataItemView *MainWindowController::viewForItem(ObjectID item) const
{
    for (DataItemView *view : entryViews())
        if (view->itemId() == item)
            return view;
    return nullptr;
}

void MainWindowController::forEachEntry(const std::function<void(DataItemView *)> &f) const
{
    for (DataItemView *view : entryViews())
        f(view);
}

// Settings

void MainWindowController::applySetting(const QString &key)
{
    EntryStyle::current().load(m_settings);
    if (key == u"itemHeight") {
        applyItemHeight();
        m_adapter->setNeedsRefreshButNoReload();
        rebuildViews(false);
    } else if (key == u"location") {
        applyLocation();
        resizeWindow();
        setMinimizeIcon();
        layoutChrome();
        rebuildViews(true);
        applyWindowLevel();
    } else if (key == u"alwaysOnTop") {
        applyWindowLevel();
    } else if (key == u"autoHide") {
        setAutoHide(m_settings.boolean(key));
    } else if (key == u"ScreenNumber" || key == u"BarWidth") {
        resizeWindow();
    } else if (key == u"receiveTimeStamp") {
        updateTimes();
    } else if (key == u"FolderTabsMode") {
        if (!collapseEnabled()) {
            expand(true);
            m_adapter->setSelectedCategoryId(ObjectID{});
        }
        setMinimizeIcon();
        layoutChrome();
        rebuildViews(true);
    } else {
        applyColors();
    }
}

void MainWindowController::applyItemHeight()
{
    const qint64 height = m_settings.integer(QStringLiteral("itemHeight"));
    m_itemHeight = int(height == 0 ? 100 : std::clamp<qint64>(height, 20, 1000));
    m_listView->setItemHeight(m_itemHeight);
}

void MainWindowController::applyColors()
{
    applyStyle();
    tintToolButtons();
    m_window->update();
}

void MainWindowController::applyStyle()
{
    forEachEntry([](DataItemView *view) { view->styleChanged(); });
    for (DataItemView *view : std::as_const(m_unusedItemViews))
        view->styleChanged();
}

void MainWindowController::applyLocation()
{
    PreviewPresenter::shared().close(false);
    m_windowLocation = int(m_settings.integer(QStringLiteral("location")));
    const bool wasVisible = m_window->isVisible();
    const bool free = m_windowLocation == 2;
    const Qt::WindowFlags flags = free ? Qt::Window : Qt::Window | Qt::FramelessWindowHint;
    if (m_placed && (m_window->windowFlags() & Qt::FramelessWindowHint) == (flags & Qt::FramelessWindowHint))
        return;
    m_placed = true;
    if (wasVisible)
        m_window->hide();
    m_window->setWindowFlags(flags);
    if (free) {
        desktop::clearStrut(m_window);
        m_window->setMinimumWidth(100);
        if (m_window->height() < 200)
            m_window->resize(int(m_settings.integer(QStringLiteral("BarWidth"))) > 0
                                 ? int(m_settings.integer(QStringLiteral("BarWidth")))
                                 : kDefaultBarWidth,
                             600);
    } else {
        desktop::setDockWindowType(m_window);
    }
    if (wasVisible)
        m_window->show();
}

void MainWindowController::applyWindowLevel()
{
    desktop::applyWindowLevel(m_window, m_settings.integer(QStringLiteral("alwaysOnTop")), true);
}

QScreen *MainWindowController::desiredScreen() const
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const qint64 index = m_settings.integer(QStringLiteral("ScreenNumber"));
    if (index >= 0 && index < screens.size())
        return screens.at(index);
    return QGuiApplication::primaryScreen();
}

void MainWindowController::resizeWindow()
{
    if (m_windowLocation != 2)
        if (QScreen *screen = desiredScreen())
            resizeWindowForScreen(screen);
}

void MainWindowController::resizeWindowForScreen(QScreen *screen)
{
    // The whole screen, not its available part: the bar's own reservation
    // is taken off the available part, so placing by it would push the bar
    // off its edge.
    const QRect area = screen->geometry();
    qint64 width = m_settings.integer(QStringLiteral("BarWidth"));
    if (width <= 0)
        width = kDefaultBarWidth;
    width = m_collapsed ? kCollapsedWidth : std::clamp<qint64>(width, 18, qMax(18, area.width() / 2));
    const bool right = m_windowLocation == 1;
    const QRect frame(right ? area.right() + 1 - int(width) : area.left(), area.top(), int(width), area.height());
    if (m_window->screen() != screen)
        m_window->setScreen(screen);
    m_window->setGeometry(frame);
    desktop::setStrut(m_window, right ? ScreenEdge::Right : ScreenEdge::Left, frame);
}

// Ticking

int MainWindowController::scrollValue() const
{
    return m_scrollView->verticalScrollBar()->value();
}

void MainWindowController::setScrollValue(int value)
{
    m_scrollView->verticalScrollBar()->setValue(value);
}

bool MainWindowController::isAtTop() const
{
    if (!PreviewPresenter::shared().shownItem().isNull())
        return false;
    return scrollValue() <= m_itemHeight / 2;
}

bool MainWindowController::playSound(ObjectID id)
{
    const DataItem *item = m_adapter->item(id);
    if (!item)
        return false;
    if (!item->mark() && !m_settings.boolean(QStringLiteral("alwaysPlaySound")))
        return false;
    const QString name = m_settings.string(QStringLiteral("soundName"));
    return !name.isEmpty() && m_playSound(name);
}

void MainWindowController::tick()
{
    autoHide(false);

    if (m_restartTimer || !m_scrollTimer.isPending()) {
        m_restartTimer = false;
        m_scrollTimer.cancel();
        const qint64 interval = m_settings.integer(QStringLiteral("scrollToTopInterval"));
        if (interval > 0)
            m_scrollTimer = m_clock.after(double(interval), this, [this] { scrollToTopAction(); });
    }

    m_adapter->dropDeletedItems();

    const Date now = m_clock.now();
    if (!m_lastNew && m_adapter->hasNew()) {
        const bool previewShown = !PreviewPresenter::shared().shownItem().isNull();
        if (previewShown && m_scrollView->viewport()->height() > m_listView->height())
            return;
        const bool atTop = isAtTop();
        bool played = false;
        const auto starred = [this](ObjectID id) {
            const DataItem *item = m_adapter->item(id);
            return item && item->isStarred();
        };
        while (m_adapter->hasNew() && (m_adapter->theNewItems().size() > 10 || starred(m_adapter->theNewItem()))) {
            const ObjectID id = m_adapter->theNewItem();
            if (!played)
                played = playSound(id);
            if (!atTop && !starred(id)) {
                m_invisibleList.prepend(id);
                updateInvisibleList();
            }
            m_adapter->removeNewAndReorderInPlace();
            // The sorted insertion changed the adapter's list: the rebuild
            // must take it, or the item would show only at the next reload.
            m_adapter->setNeedsRefreshButNoReload();
            rebuildViews(false);
        }
        if (m_adapter->hasNew()) {
            const ObjectID id = m_adapter->theNewItem();
            if (!played)
                playSound(id);
            Q_EMIT itemArrived(id);
            DataItemView *view = takeView();
            const int n = int(m_items.size()) + 1;
            view->setIndex(n);
            view->setDataItem(id);
            m_shown.insert(id);
            m_items.prepend(id);
            const int grown = m_listView->height() + m_itemHeight;
            if (atTop) {
                setScrollValue(0);
                m_adapter->removeNew();
                view->setAlphaValue(0);
                m_listView->placeEntry(view);
                view->show();
                m_listView->animateToHeight(grown, view);
            } else {
                m_invisibleList.prepend(id);
                m_adapter->removeNew();
                const int keep = scrollValue();
                m_listView->setListHeight(grown);
                m_listView->placeEntry(view);
                view->show();
                setScrollValue(keep + m_itemHeight);
                rebuildViews(false);
                updateInvisibleList();
            }
            m_lastNew = now;
            m_restartTimer = false;
        }
    }
    if (m_lastNew && std::trunc(now - *m_lastNew) >= 3)
        m_lastNew.reset();
}

void MainWindowController::autoHide(bool force)
{
    bool hidItem = false;
    const ObjectID previewed = PreviewPresenter::shared().shownItem();
    for (DataItemView *view : entryViews()) {
        const ObjectID id = view->itemId();
        if (id.isNull() || m_hidden.contains(id) || (!force && id == previewed))
            continue;
        const DataItem *item = view->dataItem();
        const bool deleted = !item || item->isDeletedByUser();
        const bool read = item && item->isRead();
        if ((m_autoHide && read && !item->isStarred()) || deleted) {
            if (view->alphaValue() == 1.0)
                view->setAlphaValueAnimated(0.0, 0.7);
            if (view->alphaValue() == 0.0) {
                view->setAlphaValue(1.0);
                m_hidden.insert(id);
                hidItem = true;
                scheduleHiddenReload();
            }
        } else if (view->alphaValue() != 1.0 && !read && !deleted) {
            view->setAlphaValue(1.0);
        }
    }
    if (hidItem)
        m_adapter->mergeSync();
}

void MainWindowController::scheduleHiddenReload()
{
    const auto reload = [self = QPointer<MainWindowController>(this)] {
        if (!self)
            return;
        self->m_adapter->setNeedsRefresh(true);
        self->tick();
    };
    dispatch::main().async(reload);
    m_clock.after(0.7, this, reload);
}

// Views

DataItemView *MainWindowController::takeView()
{
    if (!m_unusedItemViews.isEmpty())
        return m_unusedItemViews.takeLast();
    auto *view = new DataItemView(*m_adapter, m_listView);
    connect(view, &DataItemView::selectionWillChange, this, [this](DataItemView *entered) {
        forEachEntry([entered](DataItemView *other) {
            if (other != entered && other->highlight())
                other->setInactive();
        });
    });
    return view;
}

void MainWindowController::recycle(DataItemView *view)
{
    view->hide();
    view->setIndex(0);
    m_unusedItemViews.append(view);
}

void MainWindowController::rebuildViews(bool force)
{
    if (m_listView->animating() && !force)
        return;
    bool reloaded = false;
    if (!m_listView->animating()) {
        if (m_adapter->needsRefresh() || !m_hasCopy) {
            m_items = m_adapter->items();
            m_hasCopy = true;
            reloaded = true;
        }
        m_listView->resize(m_scrollView->viewport()->width(), m_itemHeight * int(m_items.size()));
    }
    const QDate today = QDateTime::fromSecsSinceEpoch(qint64(m_clock.now())).date();
    if (m_prevDate.isValid() && m_prevDate != today)
        updateTimes();
    m_prevDate = today;
    if (!force && !m_adapter->needsRefresh())
        return;

    const int n = int(m_items.size());
    const double e = m_itemHeight;
    const double h = m_scrollView->viewport()->height();
    // The visible rectangle in the list's bottom-up coordinates.
    const double y = m_listView->height() - scrollValue() - h;
    const int first = qMax(1, int(std::floor(y / e)) - 1);
    const int top = qMin(n, int(std::ceil((y + h) / e)) + 1);
    m_minValidY = e * (std::floor(y / e) - 1);
    m_maxValidY = e * (std::ceil((y + h) / e) + 1);
    if (force && !m_expandFlag && !reloaded && first == m_prevBottom && top == m_prevTop
        && !m_adapter->needsRefresh())
        return;
    m_expandFlag = false;

    QList<DataItemView *> current = entryViews();
    QHash<ObjectID, DataItemView *> byItem;
    for (DataItemView *view : std::as_const(current))
        byItem.insert(view->itemId(), view);
    QSet<DataItemView *> used;
    QList<ObjectID> withViews;
    for (int p = first; p <= top; ++p) {
        const ObjectID id = m_items.at(n - p);
        DataItemView *view = byItem.value(id);
        if (view && used.contains(view))
            view = nullptr;
        if (!view)
            for (DataItemView *candidate : std::as_const(current))
                if (!used.contains(candidate) && (candidate->index() < first || candidate->index() > top)) {
                    view = candidate;
                    break;
                }
        if (!view)
            view = takeView();
        used.insert(view);
        view->setIndex(p);
        if (view->itemId() != id || reloaded)
            view->setDataItem(id);
        m_listView->placeEntry(view);
        view->show();
        if (!force && !m_shown.contains(id)) {
            view->setAlphaValue(0);
            view->setAlphaValueAnimated(1.0);
        }
        withViews.append(id);
    }
    const Date now = m_clock.now();
    if (PreviewPresenter::shared().shownItem().isNull() && (!m_lastRelease || now - *m_lastRelease >= 1800)) {
        m_adapter->keepOnlyItems(withViews);
        m_lastRelease = now;
    }
    for (DataItemView *view : std::as_const(current))
        if (!used.contains(view))
            recycle(view);
    if (reloaded) {
        m_shown = QSet<ObjectID>(m_items.begin(), m_items.end());
        m_hidden.clear();
        m_adapter->setNeedsRefresh(false);
    }
    m_prevTop = top;
    m_prevBottom = first;
    repositionPreview();
}

void MainWindowController::updateTimes()
{
    forEachEntry([](DataItemView *view) { view->refresh(); });
}

void MainWindowController::scrollDidChange()
{
    m_engine.stores().deferProcessing();
    m_scrollIndicator->update();
    const double h = m_scrollView->viewport()->height();
    const double y = m_listView->height() - scrollValue() - h;
    if (y < m_minValidY || y + h > m_maxValidY)
        rebuildViews(true);
    repositionPreview();
    updateInvisibleList();
    m_restartTimer = true;
}

void MainWindowController::repositionPreview()
{
    PreviewPresenter &preview = PreviewPresenter::shared();
    const ObjectID shown = preview.shownItem();
    if (shown.isNull())
        return;
    if (DataItemView *view = viewForItem(shown)) {
        const QPoint arrow = view->arrowLocation();
        const QPoint inViewport = m_scrollView->viewport()->mapFromGlobal(arrow);
        if (inViewport.y() >= 0 && inViewport.y() <= m_scrollView->viewport()->height()) {
            preview.moveArrow(arrow, view->isArrowOnLeft());
            return;
        }
    }
    preview.close();
}

// Actions

void MainWindowController::markAllRead()
{
    forEachEntry([](DataItemView *view) {
        if (DataItem *item = view->dataItem())
            item->setRead(true);
    });
    m_adapter->markRead();
    if (!m_autoHide)
        m_adapter->showHidden();
}

void MainWindowController::markAllUnread()
{
    forEachEntry([](DataItemView *view) {
        if (DataItem *item = view->dataItem())
            item->setRead(false);
    });
    m_adapter->markUnread();
}

void MainWindowController::setAutoHide(bool hide)
{
    m_autoHide = hide;
    toolButton(QStringLiteral("autohide"))->setChecked(hide);
    if (hide)
        m_adapter->hideRead();
    else
        m_adapter->showHidden();
}

void MainWindowController::scrollToTopAction()
{
    setScrollValue(0);
    clearInvisibleList();
}

void MainWindowController::unPreviewItem()
{
    PreviewPresenter::shared().close();
}

bool MainWindowController::addDroppedFeed(const QString &text)
{
    const std::optional<QUrl> url = feedURL(text);
    if (!url || !isSubscribableAddress(url->toString()))
        return false;
    return m_engine.addFeedWithURL(url->toString()) != nullptr;
}

} // namespace corvane::desktop
