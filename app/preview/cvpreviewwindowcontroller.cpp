#include "cvpreviewwindowcontroller.h"

#include "cvpreviewbubbleview.h"
#include "previewdocument.h"
#include "previewlayout.h"
#include "previewpage.h"

#include "platform/windowlevel.h"
#include "ticker/browser.h"
#include "ticker/dataitemadapter.h"
#include "ticker/enginebridge.h"
#include "ticker/entrymenu.h"

#include "base/settings.h"
#include "store/dataitem.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QToolButton>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cmath>

namespace corvane::desktop {

namespace {

CVPreviewWindowController *g_shared = nullptr;

constexpr double kFadeSeconds = 0.2;
constexpr double kHideDelay = 0.2;
constexpr double kShowFallback = 0.5; // content that never finishes loading still shows
constexpr int kMoveMilliseconds = 100;
constexpr double kReleaseAfter = 120.0;

const QString kWidthKey = QStringLiteral("PreviewWindowWidth");

} // namespace

CVPreviewWindowController::CVPreviewWindowController(EngineBridge &bridge, Settings &settings, AppClock &clock,
                                                     QObject *parent)
    : PreviewPresenter(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_bubble(std::make_unique<CVPreviewBubbleView>())
{
    g_shared = this;
    m_bubble->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    m_bubble->setWindowTitle(QStringLiteral("Corvane Preview"));
    m_width = previewlayout::boundedWidth(int(settings.integer(kWidthKey)));
    m_bubble->resize(m_width, previewlayout::kMaxHeight);
    m_prevFontSize = int(std::lround(settings.real(QStringLiteral("fontSize"))));
    applyWindowLevel(m_bubble.get(), settings.integer(QStringLiteral("alwaysOnTop")), false);

    connect(m_bubble->openButton(), &QToolButton::clicked, this, &CVPreviewWindowController::openAction);
    // The item's menu opens on mouse-down, as menus do.
    connect(m_bubble->shareButton(), &QToolButton::pressed, this, &CVPreviewWindowController::shareAction);
    connect(m_bubble->closeButton(), &QToolButton::clicked, this, [this] { close(); });
    connect(m_bubble.get(), &CVPreviewBubbleView::escapePressed, this, [this] { close(); });
    connect(m_bubble.get(), &CVPreviewBubbleView::titleLinkActivated, this,
            &CVPreviewWindowController::followLink);
    connect(m_bubble.get(), &CVPreviewBubbleView::widthDragged, this, &CVPreviewWindowController::dragWidth);
    connect(m_bubble.get(), &CVPreviewBubbleView::widthDragFinished, this,
            &CVPreviewWindowController::endWidthDrag);

    bridge.watchSettings({QStringLiteral("alwaysOnTop"), QStringLiteral("fontSize"), QStringLiteral("fontName")});
    connect(&bridge, &EngineBridge::settingChanged, this, &CVPreviewWindowController::settingChanged);
    // An item deleted while previewed takes the bubble with it.
    connect(&bridge, &EngineBridge::objectsUpdated, this,
            [this](const QList<ObjectID> &, const QList<ObjectID> &, const QList<ObjectID> &deleted) {
                if (!m_item.isNull() && deleted.contains(m_item))
                    close();
            });
}

CVPreviewWindowController::~CVPreviewWindowController()
{
    if (g_shared == this)
        g_shared = nullptr;
    // The view goes before its page, the page before its profile.
    m_bubble.reset();
    m_page.reset();
    m_profile.reset();
}

CVPreviewWindowController *CVPreviewWindowController::sharedInstance()
{
    return g_shared;
}

DataItem *CVPreviewWindowController::currentItem() const
{
    DataItemAdapter *adapter = DataItemAdapter::sharedAdapter();
    return adapter ? adapter->item(m_item) : nullptr;
}

void CVPreviewWindowController::ensureWebView()
{
    if (m_webView)
        return;
    // Off the record: nothing the content sets (cookies, caches) reaches the disk.
    m_profile = std::make_unique<QWebEngineProfile>();
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_page = std::make_unique<PreviewPage>(m_profile.get());
    m_webView = new QWebEngineView(m_bubble.get());
    m_webView->setPage(m_page.get());
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    m_webView->setAcceptDrops(false);
    m_webView->hide();

    connect(m_page.get(), &PreviewPage::linkFollowed, this,
            [this](const QUrl &url) { followLink(url.toString()); });
    connect(m_page.get(), &QWebEnginePage::loadFinished, this, [this] {
        // The ok flag is unreliable for set documents; the height answer decides.
        if (m_item.isNull())
            return;
        m_calculating = false;
        measureContent();
    });
}

void CVPreviewWindowController::releaseWebView()
{
    if (!m_webView || !m_item.isNull())
        return;
    delete m_webView;
    m_webView = nullptr;
    m_page.reset();
    m_profile.reset();
}

void CVPreviewWindowController::applyWebFont()
{
    QWebEngineSettings *web = m_page->settings();
    web->setFontSize(QWebEngineSettings::DefaultFontSize,
                     int(std::lround(m_settings.real(QStringLiteral("fontSize")))));
    const QString family = m_settings.string(QStringLiteral("fontName"));
    if (!family.isEmpty())
        web->setFontFamily(QWebEngineSettings::StandardFont, family);
}

void CVPreviewWindowController::showItem(ObjectID item, QPoint arrow, bool arrowOnLeft)
{
    setArrowLocation(arrow, arrowOnLeft);
    setDataItem(item);
}

void CVPreviewWindowController::moveArrow(QPoint arrow, bool arrowOnLeft)
{
    setArrowLocation(arrow, arrowOnLeft);
}

void CVPreviewWindowController::setArrowLocation(QPoint arrow, bool arrowOnLeft)
{
    m_arrowLocation = arrow;
    m_arrowOnLeft = arrowOnLeft;
    if (!m_item.isNull() && m_windowOrderedIn)
        positionWindow();
    positionArrow();
}

void CVPreviewWindowController::setDataItem(ObjectID id)
{
    const ObjectID previous = m_item;
    m_item = id;
    const DataItem *item = currentItem();
    if (!item) {
        m_item = previous;
        return;
    }
    ensureWebView();
    m_hideTimer.cancel();
    m_releaseTimer.cancel();
    m_calculating = true;
    ++m_generation;
    m_width = previewlayout::boundedWidth(int(m_settings.integer(kWidthKey)));
    applyWebFont();

    const QUrl base = browser::webAddress(item->link());
    m_page->setDocument(previewdocument::document(item->visiblePreview()), base);
    m_bubble->setTitle(title().html());
    m_webView->show();

    if (!m_windowOrderedIn) {
        m_showTimer.cancel();
        const quint64 generation = m_generation;
        m_showTimer = m_clock.after(kShowFallback, this, [this, generation] {
            if (generation == m_generation && !m_item.isNull() && !m_windowOrderedIn) {
                showWindow();
                measureContent();
            }
        });
    }
}

PreviewTitle CVPreviewWindowController::title() const
{
    const DataItem *item = currentItem();
    return item ? previewTitle(*item, m_settings) : PreviewTitle{};
}

void CVPreviewWindowController::measureContent()
{
    if (!m_page)
        return;
    const quint64 generation = m_generation;
    const int width = previewlayout::contentWidth(m_width);
    QPointer<CVPreviewWindowController> self(this);
    m_page->runJavaScript(previewdocument::heightScript(width), QWebEngineScript::ApplicationWorld,
                          [self, generation](const QVariant &answer) {
                              if (!self || generation != self->m_generation || self->m_item.isNull())
                                  return;
                              bool ok = false;
                              const int height = answer.toInt(&ok);
                              if (!ok || height < 0)
                                  return;
                              self->m_contentHeight = height + previewdocument::kHeightExtra;
                              if (!self->m_windowOrderedIn)
                                  self->showWindow();
                              else
                                  self->resizeWindow(self->m_liveResize);
                              Q_EMIT self->resized();
                          });
}

void CVPreviewWindowController::showWindow()
{
    resizeWindow(false);
    m_bubble->show();
    m_bubble->raise();
    m_bubble->activateWindow();
    m_windowOrderedIn = true;
    Q_EMIT shown();
}

void CVPreviewWindowController::resizeWindow(bool pure)
{
    const int titleTop = m_bubble->contentTop(m_width);
    const previewlayout::Layout layout = previewlayout::layout(m_arrowLocation, m_arrowOnLeft, m_width,
                                                               m_contentHeight, titleTop, visibleArea());
    m_frame = layout.window;
    if (m_webView)
        m_webView->setGeometry(layout.webView);
    if (pure) {
        if (m_move)
            m_move->stop();
        m_bubble->setGeometry(layout.window);
    } else if (m_windowOrderedIn && m_bubble->isVisible()) {
        if (layout.window != m_bubble->geometry()) {
            if (m_move)
                m_move->stop();
            auto *move = new QPropertyAnimation(m_bubble.get(), "geometry", this);
            move->setDuration(kMoveMilliseconds);
            move->setEasingCurve(QEasingCurve::InOutQuad);
            move->setEndValue(layout.window);
            move->start(QAbstractAnimation::DeleteWhenStopped);
            m_move = move;
        }
        if (m_bubble->windowOpacity() < 1.0 || m_fade)
            fadeTo(1.0, kFadeSeconds);
    } else {
        m_bubble->setWindowOpacity(0.0);
        m_bubble->setGeometry(layout.window);
        fadeTo(1.0, m_nextHideShowFaster ? kFadeSeconds * 0.8 : kFadeSeconds);
        m_nextHideShowFaster = false;
        m_windowOrderedIn = true;
    }
    m_bubble->placeContents();
    positionArrow();
}

void CVPreviewWindowController::positionWindow()
{
    QRect moved = previewlayout::follow(m_frame, m_arrowLocation, m_arrowOnLeft);
    if (moved != m_frame) {
        if (m_move)
            m_move->stop();
        m_frame = moved;
        m_bubble->setGeometry(moved);
    }
    if (previewlayout::isOffScreen(m_frame, m_arrowLocation, screenArea()))
        close();
}

void CVPreviewWindowController::positionArrow()
{
    const int top = m_frame.isNull() ? m_bubble->y() : m_frame.y();
    m_bubble->setArrow(m_arrowLocation.y() - top, m_arrowOnLeft);
}

void CVPreviewWindowController::fadeTo(qreal opacity, double seconds)
{
    if (m_fade)
        m_fade->stop();
    auto *fade = new QPropertyAnimation(m_bubble.get(), "windowOpacity", this);
    fade->setDuration(int(seconds * 1000));
    fade->setEndValue(opacity);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    m_fade = fade;
}

void CVPreviewWindowController::close(bool animated)
{
    if (m_item.isNull() && !m_hideTimer.isPending() && !m_bubble->isVisible())
        return;
    m_item = ObjectID{};
    m_calculating = false;
    m_showTimer.cancel();
    if (m_webView)
        m_webView->hide();
    if (!animated || !m_bubble->isVisible()) {
        hide();
        return;
    }
    fadeTo(0.0, m_nextHideShowFaster ? kFadeSeconds * 0.8 : kFadeSeconds);
    m_hideTimer.cancel();
    m_hideTimer = m_clock.after(kHideDelay, this, [this] { hide(); });
}

void CVPreviewWindowController::hide()
{
    m_hideTimer.cancel();
    ++m_generation;
    if (m_page)
        m_page->setDocument(previewdocument::blankDocument(), QUrl());
    if (m_fade)
        m_fade->stop();
    if (m_move)
        m_move->stop();
    m_bubble->hide();
    m_windowOrderedIn = false;
    m_contentHeight = 0;
    m_releaseTimer.cancel();
    m_releaseTimer = m_clock.after(kReleaseAfter, this, [this] { releaseWebView(); });
    Q_EMIT didDisappear();
}

void CVPreviewWindowController::openAction()
{
    if (const DataItem *item = currentItem())
        browser::open(item->link());
    close();
}

void CVPreviewWindowController::shareAction()
{
    DataItemAdapter *adapter = DataItemAdapter::sharedAdapter();
    QToolButton *button = m_bubble->shareButton();
    if (adapter && !m_item.isNull())
        openEntryMenu(*adapter, m_item, button->mapToGlobal(QPoint(0, button->height())), m_bubble.get());
}

void CVPreviewWindowController::followLink(const QString &link)
{
    browser::open(link);
    close();
}

void CVPreviewWindowController::dragWidth(int width)
{
    m_liveResize = true;
    m_width = previewlayout::boundedWidth(width);
    m_settings.setValue(kWidthKey, m_width);
    resizeWindow(true);
    measureContent();
}

void CVPreviewWindowController::endWidthDrag()
{
    m_liveResize = false;
    measureContent();
}

void CVPreviewWindowController::settingChanged(const QString &key)
{
    if (key == u"alwaysOnTop") {
        applyWindowLevel(m_bubble.get(), m_settings.integer(key), false);
    } else if (key == u"fontSize") {
        const int size = int(std::lround(m_settings.real(key)));
        if (!m_item.isNull() && size != m_prevFontSize) {
            m_prevFontSize = size;
            setDataItem(m_item);
        }
    } else if (key == u"fontName") {
        if (!m_item.isNull())
            setDataItem(m_item);
    }
}

QRect CVPreviewWindowController::visibleArea() const
{
    const QScreen *screen = QGuiApplication::screenAt(m_arrowLocation);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect CVPreviewWindowController::screenArea() const
{
    const QScreen *screen = QGuiApplication::screenAt(m_arrowLocation);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

} // namespace corvane::desktop
