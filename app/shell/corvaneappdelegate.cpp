#include "corvaneappdelegate.h"

#include "appicon.h"
#include "documentwindow.h"
#include "launchrules.h"

#include "platform/schemehandler.h"
#include "platform/trayhost.h"
#include "ticker/appclock.h"
#include "ticker/browser.h"
#include "ticker/enginebridge.h"
#include "ticker/mainwindowcontroller.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QThreadPool>

#ifndef CORVANE_PROJECT_URL
#error "CORVANE_PROJECT_URL must be defined by the build"
#endif

namespace corvane::desktop {

namespace {

constexpr double kRatingDelaySeconds = 43200; // 12 hours
constexpr double kTrayGraceSeconds = 15;
const QString kShowInDock = QStringLiteral("showInDock");
const QString kFeedScheme = QStringLiteral("feed");

QWidget *barWindow(MainWindowController &controller)
{
    return controller.window();
}

// The controller shows the bar: it makes the window a dock before mapping it.
void showBar(MainWindowController &controller)
{
    controller.show();
    controller.window()->raise();
    controller.window()->activateWindow();
}

} // namespace

CorvaneAppDelegate::CorvaneAppDelegate(Settings &settings, EngineBridge &bridge, MainWindowController &controller,
                                       AppClock &clock, Hooks hooks, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_bridge(bridge)
    , m_controller(controller)
    , m_clock(clock)
    , m_hooks(std::move(hooks))
    , m_menu(std::make_unique<QMenu>())
{
    if (!m_hooks.restart)
        m_hooks.restart = [] {
            restartAfterExit();
            QCoreApplication::quit();
        };
    if (!m_hooks.runAlert)
        m_hooks.runAlert = runAlertBox;

    m_menu->addAction(QStringLiteral("Preferences…"), this, [this] {
        if (m_hooks.showPreferences)
            m_hooks.showPreferences();
    });
    m_showHideItem = m_menu->addAction(QStringLiteral("Show/Hide Window"), this, &CorvaneAppDelegate::showHideWindow);
    m_menu->addAction(QStringLiteral("Corvane Help"), this, &CorvaneAppDelegate::openHelp);
    m_menu->addAction(QStringLiteral("What's New"), this, &CorvaneAppDelegate::doShowWhatsNew);
    m_menu->addAction(QStringLiteral("About Corvane"), this, &CorvaneAppDelegate::showAboutPanel);
    m_menu->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &CorvaneAppDelegate::updateShowHideTitle);
    connect(this, &CorvaneAppDelegate::handlerPanelRequested, this, &CorvaneAppDelegate::showHandlerPanel);
}

CorvaneAppDelegate::~CorvaneAppDelegate()
{
    removeStatusItem();
    delete m_whatsNew;
    delete m_help;
    delete m_handlerPanel;
}

QUrl CorvaneAppDelegate::projectPage()
{
    return QUrl(QStringLiteral(CORVANE_PROJECT_URL));
}

void CorvaneAppDelegate::applicationDidFinishLaunching(bool startHidden)
{
    clearUrlCache();
    m_clock.after(kRatingDelaySeconds, this, [this] { pleaseRate(); });
    m_firstRun = true;
    m_showInDock = m_settings.boolean(kShowInDock);
    if (!m_showInDock)
        updateStatusItem();
    m_bridge.watchSetting(kShowInDock);
    connect(&m_bridge, &EngineBridge::settingChanged, this, [this](const QString &key) {
        if (key == kShowInDock)
            showInDockChanged();
    });
    showInDockChanged(); // the initial call-back: only ends the first run

    if (launchrules::whatsNewDue(m_settings.value(QStringLiteral("prevVersion")), launchrules::currentVersion()))
        doShowWhatsNew();
    m_settings.setValue(QStringLiteral("prevVersion"), launchrules::currentVersion());
    setupHandler();

    // Started at login the tray icon brings the bar. Panels often start after
    // the programs of the session: wait a little for one before showing the bar.
    if (!startHidden || m_showInDock)
        showBar(m_controller);
    else if (!m_statusItem)
        m_clock.after(kTrayGraceSeconds, this, [this] {
            if (!m_statusItem)
                showBar(m_controller);
        });
}

void CorvaneAppDelegate::clearUrlCache()
{
    // Web pages keep no cache on disk: the bubble's cache lives in memory, and
    // what a web view of an earlier version left in the caches folder goes.
    // The engine's response cache next to it stays: its validators keep
    // refreshes cheap for the feeds' servers.
    QDir(QDir(paths::cachesDir()).filePath(QStringLiteral("QtWebEngine"))).removeRecursively();
}

void CorvaneAppDelegate::showInDockChanged()
{
    const bool showInDock = m_settings.boolean(kShowInDock);
    if (m_firstRun) {
        m_firstRun = false;
        return;
    }
    if (showInDock == m_showInDock)
        return;
    m_showInDock = showInDock;
    if (showInDock) {
        removeStatusItem();
        showBar(m_controller);
        return;
    }
    const int answer = m_hooks.runAlert({QStringLiteral("You must now restart"),
                                         QStringLiteral("Dock Icon status change requires restart of the application"),
                                         {QStringLiteral("Restart"), QStringLiteral("Cancel")}});
    if (answer == 0)
        m_hooks.restart();
}

void CorvaneAppDelegate::updateStatusItem()
{
    if (m_showInDock) {
        removeStatusItem();
        return;
    }
    if (!m_trayHosts) {
        m_trayHosts = new TrayHostWatch(this);
        connect(m_trayHosts, &TrayHostWatch::availabilityChanged, this, &CorvaneAppDelegate::updateStatusItem);
    }
    // Qt chooses the kind of tray icon when the first one is made: wait for a host.
    const bool available = m_trayHosts->isAvailable();
    m_trayHosts->setPolling(!available);
    if (!available) {
        // The panel went away: nothing could bring a hidden bar back.
        if (m_statusItem) {
            delete m_statusItem;
            if (!barWindow(m_controller)->isVisible())
                showBar(m_controller);
        }
        return;
    }
    if (m_statusItem)
        return;
    m_statusItem = new QSystemTrayIcon(corvaneIcon(), this);
    m_statusItem->setToolTip(QStringLiteral("Corvane"));
    m_statusItem->setContextMenu(m_menu.get());
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showHideWindow();
    });
    m_statusItem->show();
}

void CorvaneAppDelegate::removeStatusItem()
{
    delete m_statusItem;
    delete m_trayHosts;
    m_trayHosts = nullptr;
}

void CorvaneAppDelegate::updateShowHideTitle()
{
    m_showHideItem->setText(barWindow(m_controller)->isVisible() ? QStringLiteral("Hide Window")
                                                                 : QStringLiteral("Show Window"));
}

void CorvaneAppDelegate::getUrl(const QString &url)
{
    const launchrules::UrlRoute route = launchrules::routeUrl(url);
    switch (route.kind) {
    case launchrules::UrlRoute::Pocket:
        if (m_hooks.pocketCallback)
            m_hooks.pocketCallback(QUrl(route.text));
        else
            logLine(QStringLiteral("Pocket call-back ignored: no Pocket client"));
        return;
    case launchrules::UrlRoute::Feed:
        logLine(QStringLiteral("Feed link for the feed list: %1").arg(route.text.left(300)));
        if (m_hooks.showPreferences)
            m_hooks.showPreferences();
        if (m_hooks.addFeed)
            m_hooks.addFeed(route.text);
        return;
    case launchrules::UrlRoute::Ignored:
        return;
    }
}

void CorvaneAppDelegate::reopen()
{
    if (!barWindow(m_controller)->isVisible())
        showBar(m_controller);
}

void CorvaneAppDelegate::showHideWindow()
{
    QWidget *window = barWindow(m_controller);
    if (window->isVisible())
        window->hide();
    else
        showBar(m_controller);
}

void CorvaneAppDelegate::doShowWhatsNew()
{
    if (!m_whatsNew)
        m_whatsNew = new DocumentWindow(QStringLiteral("What's New"), QStringLiteral(":/shell/whatsnew.html"));
    m_whatsNew->present(true);
}

void CorvaneAppDelegate::openHelp()
{
    if (!m_help)
        m_help = new DocumentWindow(QStringLiteral("Corvane Help"), QStringLiteral(":/shell/help.html"));
    m_help->present(false);
}

void CorvaneAppDelegate::showAboutPanel()
{
    QMessageBox::about(nullptr, QStringLiteral("About Corvane"),
                       QStringLiteral("<p><b>Corvane %1</b></p><p>The newest items of your feeds in a bar at the "
                                      "edge of the screen.</p><p><a href=\"%2\">%2</a></p>")
                           .arg(QCoreApplication::applicationVersion(), projectPage().toString()));
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible())
            window->raise();
}

void CorvaneAppDelegate::pleaseRate()
{
    if (!launchrules::ratingDue(m_settings.value(QStringLiteral("rateVersion"))))
        return;
    // Stored before asking, so a crash or a quit during the prompt never asks again.
    m_settings.setValue(QStringLiteral("rateVersion"), launchrules::currentVersion());
    const int answer = m_hooks.runAlert(
        {QStringLiteral("Please take a minute to rate Corvane!"),
         QStringLiteral("Ratings and feedbacks will help us to improve Corvane. This message won't show up again."),
         {QStringLiteral("Rate Corvane on Appstore"), QStringLiteral("No thanks")}});
    if (answer == 0)
        browser::open(projectPage().toString());
}

void CorvaneAppDelegate::setupHandler()
{
    const bool check = m_settings.boolean(QStringLiteral("CheckHandlerOnStartup"));
    // xdg-mime is a shell script: ask it off the main thread.
    QPointer<CorvaneAppDelegate> self(this);
    QThreadPool::globalInstance()->start([self, check] {
        const auto handlers = schemehandler::handlers(kFeedScheme);
        const QString own = schemehandler::ownDesktopId();
        // Only an installed Corvane can be the default; a build run from its
        // folder leaves the user's choice alone.
        const bool installed = std::any_of(handlers.begin(), handlers.end(),
                                           [&](const schemehandler::Handler &h) { return h.desktopId == own; });
        if (!installed)
            return;
        const auto action = launchrules::handlerAction(check, handlers, schemehandler::defaultHandler(kFeedScheme), own);
        QMetaObject::invokeMethod(qApp, [self, action] {
            if (!self)
                return;
            if (action == launchrules::HandlerAction::TakeScheme)
                self->doSetupHandler();
            else if (action == launchrules::HandlerAction::Ask)
                Q_EMIT self->handlerPanelRequested();
        }, Qt::QueuedConnection);
    });
}

void CorvaneAppDelegate::showHandlerPanel()
{
    if (m_handlerPanel)
        return;
    auto *panel = new QMessageBox(QMessageBox::Question, QStringLiteral("Corvane"),
                                  QStringLiteral("Corvane is not your default feed reader."));
    panel->setInformativeText(QStringLiteral("Should feed links open in Corvane?"));
    QPushButton *use = panel->addButton(QStringLiteral("Use Corvane"), QMessageBox::AcceptRole);
    panel->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    panel->setDefaultButton(use);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QMessageBox::buttonClicked, this, [this, use](QAbstractButton *button) {
        if (button == use)
            doSetupHandler();
    });
    m_handlerPanel = panel;
    panel->show();
    panel->raise();
}

void CorvaneAppDelegate::doSetupHandler()
{
    QThreadPool::globalInstance()->start([] {
        if (!schemehandler::setDefaultHandler(schemehandler::ownDesktopId(), kFeedScheme))
            logLine(QStringLiteral("Could not make Corvane the default reader of feed links (xdg-mime failed)"));
    });
}

void restartAfterExit()
{
    // The new process waits until this one is gone, so it does not hand its
    // arguments over to us and end.
    const QString script = QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; shift; exec \"$@\"");
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("corvane-restart"),
                          QString::number(QCoreApplication::applicationPid()), QCoreApplication::applicationFilePath()};
    arguments += QCoreApplication::arguments().mid(1);
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), arguments))
        logLine(QStringLiteral("Could not restart Corvane"));
}

} // namespace corvane::desktop
