#include "launch.h"

#include "corvaneappdelegate.h"

#include "platform/singleinstance.h"
#include "preferences/preferencescontroller.h"
#include "preview/cvpreviewwindowcontroller.h"
#include "sharing/notificationmanager.h"
#include "sharing/sharemanager.h"
#include "sharing/pocket.h"
#include "sidebar/categorysidebar.h"
#include "ticker/appclock.h"
#include "ticker/enginebridge.h"
#include "ticker/mainwindowcontroller.h"

#include "base/launchoptions.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "platform/reachability.h"
#include "platform/systemwake.h"
#include "sync/cloudsync.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTextStream>

namespace corvane::desktop {

namespace {

const QStringList kIdentifiers{QStringLiteral("org.corvane.Corvane"), QStringLiteral("org.corvane.CorvaneNext")};

QString usage()
{
    return QStringLiteral("Usage: corvane [OPTIONS] [URL...]\n\n"
                          "Shows the newest items of your subscriptions in a bar at the screen edge.\n"
                          "URLs (feed: links or web addresses) are subscribed to.\n\nOptions:\n")
           + LaunchOptions::helpText()
           + QStringLiteral("  --autostart          start with the bar hidden when a tray icon can show it\n");
}

} // namespace

void chooseWindowSystem()
{
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

int launch(QApplication &app)
{
    QString error;
    QStringList arguments = app.arguments().mid(1);
    // Given by the autostart entry only.
    const bool autostart = arguments.removeAll(QStringLiteral("--autostart")) > 0;
    const std::optional<LaunchOptions> options = LaunchOptions::parse(arguments, &error);
    if (!options) {
        QTextStream(stderr) << "corvane: " << error << "\n\n" << usage();
        return 2;
    }
    if (options->help) {
        QTextStream(stdout) << usage();
        return 0;
    }
    options->applyHome();

    SingleInstance instance(kIdentifiers, paths::configDir());
    if (instance.handOffToRunningInstance(options->rest)) {
        logLine(QStringLiteral("An instance of Corvane is already running."));
        return 0;
    }
    if (!instance.listen(&error)) {
        // Two starts at once: the other one won.
        if (instance.handOffToRunningInstance(options->rest)) {
            logLine(QStringLiteral("An instance of Corvane is already running."));
            return 0;
        }
        logLine(QStringLiteral("Links from later starts cannot be received: %1").arg(error));
    }

    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    options->applySettings(settings);
    if (options->assumeOnline)
        platform::setAssumeReachable(true);

    DatasourceManager engine(DatasourceManager::Options{});
    if (!engine.isOpen()) {
        const QString reason = engine.openErrorText();
        logLine(reason);
        // Only where someone can see it: offscreen runs (scripts, tests) end at once.
        const QString platform = QGuiApplication::platformName();
        if (platform != u"offscreen" && platform != u"minimal")
            QMessageBox::critical(nullptr, QStringLiteral("Corvane"), reason);
        return 1;
    }
    platform::startWatchingSystemWake();
    // Subscriptions, stars and read states in step with the user's other machines.
    sync::CloudSync::start();
    const auto stopSync = qScopeGuard([] { sync::CloudSync::stop(); });

    EngineBridge bridge(settings);
    // Before the bar, whose item adapter listens to the shared preview from its start.
    CVPreviewWindowController preview(bridge, settings);
    PreviewPresenter::setShared(&preview);
    const auto unsharePreview = qScopeGuard([] { PreviewPresenter::setShared(nullptr); });
    MainWindowController controller(engine, bridge, settings, MainWindowController::Options{});
    ShareManager sharing(settings); // the entries' and the preview's menu, and the Pocket account
    NotificationManager notifications(controller.adapter(), settings);
    QObject::connect(&controller, &MainWindowController::itemArrived, &notifications,
                     qOverload<ObjectID>(&NotificationManager::displayItem));
    // Owned by its column, which the bar's window owns.
    auto *sidebar = new CategorySidebar(controller.adapter(), bridge, settings, controller.window());
    controller.setSideColumn(sidebar->column());
    QObject::connect(sidebar, &CategorySidebar::tabReleased, &controller, [&controller] { controller.expand(true); });

    PreferencesController preferences(engine, bridge, settings, &controller);
    QObject::connect(&controller, &MainWindowController::preferencesRequested, &preferences,
                     &PreferencesController::showOrHidePreferences);

    CorvaneAppDelegate::Hooks hooks;
    hooks.showPreferences = [&preferences] { preferences.showPreferences(); };
    hooks.addFeed = [&preferences](const QString &text) { preferences.addFeed(text); };
    hooks.pocketCallback = [](const QUrl &url) { Pocket::sharedInstance()->handleUrl(url); };
    CorvaneAppDelegate delegate(settings, bridge, controller, AppClock::system(), std::move(hooks));
    delegate.applicationDidFinishLaunching(autostart);

    QObject::connect(&instance, &SingleInstance::urlsReceived, &delegate, [&delegate](const QStringList &urls) {
        if (urls.isEmpty())
            delegate.reopen();
        for (const QString &url : urls)
            delegate.getUrl(url);
    });
    for (const QString &url : options->rest)
        delegate.getUrl(url);

    const int status = app.exec();
    engine.waitForRefreshes();
    return status;
}

} // namespace corvane::desktop
