#include "preferencescontroller.h"

#include "appearancepreferencescontroller.h"
#include "generalpreferencescontroller.h"
#include "hotkeybackends.h"
#include "rsspreferencescontroller.h"
#include "shortcutscontroller.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace corvane::desktop {
namespace {

// A pane that a later version fills in.
QWidget *placeholder(const QString &title, const QString &text)
{
    auto *pane = new QWidget;
    auto *heading = new QLabel(title);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    heading->setFont(font);
    auto *body = new QLabel(text);
    body->setWordWrap(true);
    auto *layout = new QVBoxLayout(pane);
    layout->addWidget(heading);
    layout->addWidget(body);
    layout->addStretch();
    return pane;
}

QWidget *scrolled(QWidget *pane)
{
    auto *area = new QScrollArea;
    area->setWidget(pane);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return area;
}

} // namespace

PreferencesController::PreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                                             MainWindowController *controller, const Options &options,
                                             QObject *parent)
    : QObject(parent)
{
    m_window = new QWidget;
    m_window->setWindowTitle(tr("Corvane Preferences"));
    m_window->resize(760, 540);

    m_feeds = new RSSPreferencesController(engine, bridge, settings);
    m_general = new GeneralPreferencesController(engine, bridge, settings, {options.playSound});
    m_appearance = new AppearancePreferencesController(bridge, settings, controller);
    m_shortcuts = new ShortcutsController(settings, options.hotKeys ? options.hotKeys : makeHotKeyBackend(),
                                          controller);

    m_switcher = new QListWidget;
    m_switcher->setFixedWidth(130);
    m_switcher->setFrameShape(QFrame::NoFrame);
    m_switcher->setStyleSheet(QStringLiteral("QListWidget { padding-top: 8px; } QListWidget::item { padding: 6px 12px; }"));
    m_stack = new QStackedWidget;
    const auto addPane = [this](const QString &title, QWidget *pane) {
        m_switcher->addItem(title);
        m_stack->addWidget(pane);
    };
    addPane(tr("Feeds"), m_feeds);
    addPane(tr("General"), scrolled(m_general));
    addPane(tr("Appearance"), scrolled(m_appearance));
    addPane(tr("Shortcuts"), m_shortcuts);
    addPane(tr("Feedly"), placeholder(tr("Feedly"), tr("Keeping feeds, read items and stars in step with a Feedly "
                                                       "account comes in a later version.")));
    addPane(tr("Twitter"), placeholder(tr("Twitter"), tr("Signing in to Twitter for timelines and searches comes in "
                                                         "a later version.")));
    connect(m_switcher, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    m_switcher->setCurrentRow(FeedsPane);

    auto *layout = new QHBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_switcher);
    layout->addWidget(m_stack, 1);
}

PreferencesController::PreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                                             MainWindowController *controller, QObject *parent)
    : PreferencesController(engine, bridge, settings, controller, Options{}, parent)
{
}

PreferencesController::~PreferencesController()
{
    delete m_window;
}

void PreferencesController::showPane(Pane pane)
{
    m_switcher->setCurrentRow(pane);
}

PreferencesController::Pane PreferencesController::currentPane() const
{
    return Pane(m_stack->currentIndex());
}

void PreferencesController::showPreferences()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void PreferencesController::showOrHidePreferences()
{
    if (m_window->isVisible() && m_window->isActiveWindow())
        m_window->hide();
    else
        showPreferences();
}

void PreferencesController::addFeed(const QString &url)
{
    showPane(FeedsPane);
    showPreferences();
    m_feeds->addFeedWithUrl(url);
}

} // namespace corvane::desktop
