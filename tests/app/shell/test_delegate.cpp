#include "shell/corvaneappdelegate.h"
#include "shell/launchrules.h"

#include "platform/schemehandler.h"

#include "tickerfixture.h"

#include <QMenu>
#include <QProcess>

using namespace corvane;
using namespace corvane::desktop;
using Route = launchrules::UrlRoute;

namespace {

TEST(LaunchRules, RoutesUrlsAndDecidesWhatStartUpShows)
{
    const struct
    {
        const char *url;
        Route::Kind kind;
        const char *text;
    } routes[] = {
        {"feed://example.org/rss", Route::Feed, "feed://example.org/rss"},
        {"feed:https://example.org:8080/a.xml", Route::Feed, "https://example.org:8080/a.xml"},
        {"feed:http://example.org/", Route::Feed, "http://example.org/"},
        {"pocketapp1234:authorizationFinished", Route::Pocket, "pocketapp1234:authorizationFinished"},
        {" corvane-pocket:authorizationFinished ", Route::Pocket, "corvane-pocket:authorizationFinished"},
        {"https://example.org/feed", Route::Feed, "https://example.org/feed"},
        {"  ", Route::Ignored, ""},
    };
    for (const auto &route : routes) {
        SCOPED_TRACE(route.url);
        const Route got = launchrules::routeUrl(QString::fromUtf8(route.url));
        EXPECT_EQ(got.kind, route.kind);
        EXPECT_EQ(got.text, QString::fromUtf8(route.text));
    }

    EXPECT_TRUE(launchrules::whatsNewDue(QVariant(), 100));
    EXPECT_TRUE(launchrules::whatsNewDue(QStringLiteral("not a number"), 100));
    EXPECT_TRUE(launchrules::whatsNewDue(99, 100));
    EXPECT_FALSE(launchrules::whatsNewDue(100, 100));
    EXPECT_FALSE(launchrules::whatsNewDue(QStringLiteral("101"), 100));
    EXPECT_TRUE(launchrules::ratingDue(QVariant()));
    EXPECT_FALSE(launchrules::ratingDue(100));

    using launchrules::HandlerAction;
    const QString own = QStringLiteral("org.corvane.Corvane.desktop");
    const QList<schemehandler::Handler> both{{own, QStringLiteral("Corvane")},
                                             {QStringLiteral("other.desktop"), QStringLiteral("Other")}};
    EXPECT_EQ(launchrules::handlerAction(false, both, QStringLiteral("other.desktop"), own), HandlerAction::TakeScheme);
    EXPECT_EQ(launchrules::handlerAction(true, both, QStringLiteral("other.desktop"), own), HandlerAction::Ask);
    EXPECT_EQ(launchrules::handlerAction(true, both, own, own), HandlerAction::Nothing);
    EXPECT_EQ(launchrules::handlerAction(true, both, QString(), own), HandlerAction::TakeScheme);
    EXPECT_EQ(launchrules::handlerAction(true, {{own, QStringLiteral("Corvane")}}, QStringLiteral("other.desktop"), own),
              HandlerAction::TakeScheme);
    EXPECT_EQ(launchrules::handlerAction(true, {}, QStringLiteral("other.desktop"), own), HandlerAction::TakeScheme);
}

class DelegateTest : public test::TickerFixture
{
protected:
    void TearDown() override
    {
        for (const char *key : {"prevVersion", "rateVersion", "showInDock"})
            settings().removeValue(QString::fromLatin1(key));
        TickerFixture::TearDown();
    }

    std::unique_ptr<CorvaneAppDelegate> makeDelegate()
    {
        CorvaneAppDelegate::Hooks hooks;
        hooks.showPreferences = [this] { ++m_preferencesShown; };
        hooks.addFeed = [this](const QString &text) { m_feeds.append(text); };
        hooks.pocketCallback = [this](const QUrl &url) { m_pocket.append(url.toString()); };
        hooks.restart = [this] { ++m_restarts; };
        hooks.runAlert = [this](const Alert &alert) {
            m_alerts.append(alert.message);
            return m_answer;
        };
        return std::make_unique<CorvaneAppDelegate>(settings(), *m_bridge, *m_bar, m_clock, std::move(hooks));
    }

    std::unique_ptr<MainWindowController> m_bar;
    int m_preferencesShown = 0;
    int m_restarts = 0;
    int m_answer = 1;
    QStringList m_feeds, m_pocket, m_alerts;
};

TEST_F(DelegateTest, FirstStartShowsWhatsNewAndAsksForARatingOnceAfterTwelveHours)
{
    m_bar = makeBar();
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching(false);
        ASSERT_TRUE(delegate->whatsNewWindow());
        EXPECT_TRUE(delegate->whatsNewWindow()->isVisible());
        EXPECT_TRUE(delegate->whatsNewWindow()->documentText().contains(QLatin1String("What's New")));
        EXPECT_EQ(settings().integer(QStringLiteral("prevVersion")), launchrules::currentVersion());

        m_clock.advance(43199);
        EXPECT_TRUE(m_alerts.isEmpty());
        m_clock.advance(1);
        EXPECT_EQ(m_alerts, QStringList{QStringLiteral("Please take a minute to rate Corvane!")});
        EXPECT_EQ(settings().integer(QStringLiteral("rateVersion")), launchrules::currentVersion());
    }
    // The next start: the same version, the prompt already shown.
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching(false);
    EXPECT_FALSE(delegate->whatsNewWindow());
    m_clock.advance(2 * 43200);
    EXPECT_EQ(m_alerts.size(), 1);
}

TEST_F(DelegateTest, UrlsGoToPocketOrTheFeedListAndTheTrayModeAsksForARestart)
{
    settings().setValue(QStringLiteral("prevVersion"), launchrules::currentVersion());
    m_bar = makeBar();
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching(false);
    EXPECT_TRUE(m_bar->window()->isVisible());

    delegate->getUrl(QStringLiteral("corvane-pocket:authorizationFinished"));
    EXPECT_EQ(m_preferencesShown, 0);
    EXPECT_EQ(m_pocket.size(), 1);
    delegate->getUrl(QStringLiteral("feed://example.org/rss"));
    delegate->getUrl(QStringLiteral("feed:https://example.org/atom"));
    EXPECT_EQ(m_preferencesShown, 2);
    EXPECT_EQ(m_feeds, (QStringList{QStringLiteral("feed://example.org/rss"), QStringLiteral("https://example.org/atom")}));

    // The menu names the window's state; show/hide and a later start bring it back.
    delegate->statusMenu()->aboutToShow();
    const auto titleOf = [&] { return delegate->statusMenu()->actions().at(1)->text(); };
    EXPECT_EQ(titleOf(), QStringLiteral("Hide Window"));
    delegate->showHideWindow();
    EXPECT_FALSE(m_bar->window()->isVisible());
    delegate->statusMenu()->aboutToShow();
    EXPECT_EQ(titleOf(), QStringLiteral("Show Window"));
    delegate->reopen();
    EXPECT_TRUE(m_bar->window()->isVisible());

    // To the tray: asks; Cancel keeps the process, Restart restarts it.
    m_answer = 1;
    settings().setValue(QStringLiteral("showInDock"), false);
    settle();
    EXPECT_EQ(m_alerts, QStringList{QStringLiteral("You must now restart")});
    EXPECT_EQ(m_restarts, 0);
    settings().setValue(QStringLiteral("showInDock"), true); // back: nothing to ask
    settle();
    EXPECT_EQ(m_alerts.size(), 1);
    m_answer = 0;
    settings().setValue(QStringLiteral("showInDock"), false);
    settle();
    EXPECT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_restarts, 1);
}

} // namespace

namespace {

TEST_F(DelegateTest, StartedAtLoginWithoutATrayTheBarShowsAfterAGracePeriod)
{
    // No tray host on this test's display or bus.
    settings().setValue(QStringLiteral("prevVersion"), launchrules::currentVersion());
    settings().setValue(QStringLiteral("showInDock"), false);
    desktop::MainWindowController::Options options;
    options.clock = &m_clock;
    options.startTimers = false;
    m_bar = std::make_unique<desktop::MainWindowController>(*m_engine, *m_bridge, settings(), options);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching(true);
    EXPECT_FALSE(delegate->statusItem());
    EXPECT_FALSE(m_bar->window()->isVisible());
    m_clock.advance(14);
    EXPECT_FALSE(m_bar->window()->isVisible());
    m_clock.advance(1);
    EXPECT_TRUE(m_bar->window()->isVisible());
}

} // namespace
