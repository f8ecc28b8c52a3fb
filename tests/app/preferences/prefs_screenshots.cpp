// Pictures of the preference panes for the README: prefs_screenshots DIRECTORY
// writes prefs-feeds.png, prefs-general.png, prefs-appearance.png and
// prefs-shortcuts.png, from an engine on a temporary store.
#include "preferences/feedlistmodel.h"
#include "preferences/generalpreferencescontroller.h"
#include "preferences/hotkeybackends.h"
#include "preferences/preferencescontroller.h"
#include "preferences/rsspreferencescontroller.h"

#include "sharing/sharemanager.h"
#include "ticker/enginebridge.h"

#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/keywordhelper.h"
#include "quietengine.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace corvane;

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("CORVANE_HOME", home.path().toLocal8Bit());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        qputenv(name, (home.path() + u'/' + QString::fromLatin1(name)).toLocal8Bit());
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: prefs_screenshots DIRECTORY\n");
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(target);
    Settings &settings = Settings::shared();
    settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    DatasourceManager engine(test::quietEngine(home.path() + QStringLiteral("/store")));
    desktop::EngineBridge bridge(settings);
    desktop::ShareManager sharing(settings); // the Pocket account the general pane shows

    Context *main = engine.contextMain();
    const auto category = [&](const QString &name, double position) {
        auto *c = main->insert<Category>();
        c->setName(name);
        c->setPosition(position);
        c->setSidebar(true);
        return c;
    };
    const auto feed = [&](const QString &url, const QString &name, Category *in, double position) {
        auto *d = main->insert<RSSDatasource>();
        d->setUrl(url);
        d->setName(name);
        d->setEnabled(true);
        d->setCategory(in);
        d->setPosition(position);
        return d;
    };
    Category *news = category(QStringLiteral("News"), 1);
    Category *tech = category(QStringLiteral("Technology"), 2);
    feed(QStringLiteral("https://news.example.org/world.rss"), QStringLiteral("World News"), news, 1);
    feed(QStringLiteral("https://local.example.net/feed"), QStringLiteral("Local Paper"), news, 2)
        ->setErrorString(QStringLiteral("The server answered 404 Not Found"));
    feed(QStringLiteral("https://planet.example.com/atom.xml"), QStringLiteral("Planet Qt"), tech, 1);
    feed(QStringLiteral("https://blog.example.io/index.xml"), QStringLiteral("Compiler Notes"), tech, 2)
        ->setEnabled(false);
    feed(QStringLiteral("@corvane"), QStringLiteral("Corvane on Twitter"), nullptr, 1);
    feed(QStringLiteral("https://weather.example.org/rss"), QStringLiteral("Weather"), nullptr, 2);
    main->save();
    KeywordHelper::insertKeywords({QStringLiteral("breaking news"), QStringLiteral("Qt 6")}, main, false);

    desktop::PreferencesController::Options prefsOptions;
    prefsOptions.playSound = [](const QString &) { return false; };
    prefsOptions.hotKeys = new desktop::X11HotKeys; // nothing registered with the session's shortcut service
    desktop::PreferencesController preferences(engine, bridge, settings, nullptr, prefsOptions);
    preferences.window()->resize(780, 560);
    preferences.showPreferences();
    preferences.feeds()->model()->reload();

    const QList<std::pair<desktop::PreferencesController::Pane, const char *>> shots = {
        {desktop::PreferencesController::FeedsPane, "prefs-feeds.png"},
        {desktop::PreferencesController::GeneralPane, "prefs-general.png"},
        {desktop::PreferencesController::AppearancePane, "prefs-appearance.png"},
        {desktop::PreferencesController::ShortcutsPane, "prefs-shortcuts.png"},
    };
    int status = 0;
    for (const auto &[pane, file] : shots) {
        preferences.showPane(pane);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        const QString path = target + u'/' + QString::fromLatin1(file);
        if (!preferences.window()->grab().save(path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            status = 1;
        }
    }
    return status;
}
