// The dock window type, its strut and window levels on a real X server: the
// bar lives in the probe helper (an xcb application), the test reads the
// window's properties back from the server.
#include "xserver.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

using corvane::test::eventually;
using corvane::test::Probe;
using corvane::test::XServer;

namespace {

class X11Dock : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = new XServer;
        s_windowManager = s_server->startError().isEmpty() && s_server->startWindowManager();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        if (!s_server->startError().isEmpty())
            GTEST_SKIP() << s_server->startError().toStdString();
    }

    static std::unique_ptr<Probe> startBar(const QStringList &environment = {})
    {
        auto probe = std::make_unique<Probe>(
            QStringList{QStringLiteral("x11")},
            QStringList{QStringLiteral("DISPLAY=") + s_server->display(), QStringLiteral("QT_QPA_PLATFORM=xcb")}
                + environment);
        EXPECT_EQ(probe->greeting(), QStringLiteral("ready"));
        return probe;
    }

    // Runs the commands; the bar's native window after the last one (0 when
    // a command failed).
    static xcb_window_t run(Probe &probe, const QStringList &commands, bool *visible = nullptr)
    {
        QString reply;
        for (const QString &command : commands) {
            reply = probe.command(command);
            if (!reply.startsWith(QLatin1String("ok "))) {
                ADD_FAILURE() << command.toStdString() << ": " << reply.toStdString();
                return 0;
            }
        }
        const QStringList words = reply.split(u' ');
        if (visible)
            *visible = words.value(2) == QLatin1String("1");
        return xcb_window_t(words.value(1).toULongLong());
    }

    static QStringList type(xcb_window_t window) { return s_server->atomNames(window, "_NET_WM_WINDOW_TYPE"); }
    static QList<quint32> strut(xcb_window_t window) { return s_server->cardinals(window, "_NET_WM_STRUT_PARTIAL"); }

    static XServer *s_server;
    static bool s_windowManager;
};

XServer *X11Dock::s_server = nullptr;
bool X11Dock::s_windowManager = false;

const QStringList kDockType{QStringLiteral("_NET_WM_WINDOW_TYPE_DOCK")};

TEST_F(X11Dock, WindowIsADockFromItsFirstMapping)
{
    {
        auto plain = startBar();
        const xcb_window_t window = run(*plain, {QStringLiteral("show")});
        ASSERT_NE(window, 0u);
        EXPECT_FALSE(type(window).contains(kDockType.first())) << "a plain window is no dock";
    }
    auto bar = startBar();
    const xcb_window_t window = run(*bar, {QStringLiteral("dock")});
    ASSERT_NE(window, 0u);
    EXPECT_FALSE(s_server->isViewable(window));
    EXPECT_EQ(type(window), kDockType) << "set while the window is still unmapped";
    EXPECT_EQ(run(*bar, {QStringLiteral("geometry 0 0 100 800"), QStringLiteral("show")}), window);
    EXPECT_TRUE(eventually([&] { return s_server->isViewable(window); }));
    EXPECT_EQ(type(window), kDockType);
}

TEST_F(X11Dock, StrutReservesTheBarFromTheRootWindowEdge)
{
    struct Case
    {
        const char *name;
        QStringList environment;
        QString geometry; // device-independent pixels
        QString edge;
        QList<quint32> expected;
    };
    const Case cases[] = {
        {"left edge", {}, QStringLiteral("0 0 100 800"), QStringLiteral("left"),
         {100, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}},
        {"right edge", {}, QStringLiteral("1180 0 100 800"), QStringLiteral("right"),
         {0, 100, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
        {"left edge, part of the height", {}, QStringLiteral("0 100 80 500"), QStringLiteral("left"),
         {80, 0, 0, 0, 100, 599, 0, 0, 0, 0, 0, 0}},
        // 640 x 400 device-independent pixels on the 1280 x 800 server.
        {"right edge at scale 2", {QStringLiteral("QT_SCALE_FACTOR=2")}, QStringLiteral("590 0 50 400"),
         QStringLiteral("right"), {0, 100, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = startBar(c.environment);
        const xcb_window_t window =
            run(*bar, {QStringLiteral("dock"), QStringLiteral("geometry ") + c.geometry, QStringLiteral("show"),
                       QStringLiteral("strut ") + c.edge});
        ASSERT_NE(window, 0u);
        EXPECT_EQ(strut(window), c.expected);
        EXPECT_EQ(s_server->cardinals(window, "_NET_WM_STRUT"), c.expected.first(4));

        run(*bar, {QStringLiteral("clear")});
        EXPECT_TRUE(strut(window).isEmpty());
        EXPECT_TRUE(s_server->cardinals(window, "_NET_WM_STRUT").isEmpty());
    }
}

TEST_F(X11Dock, WindowManagerLeavesTheStrutFree)
{
    if (!s_windowManager)
        GTEST_SKIP() << "openbox is not installed";
    auto bar = startBar();
    const xcb_window_t window = run(*bar, {QStringLiteral("dock"), QStringLiteral("geometry 0 0 120 800"),
                                           QStringLiteral("show"), QStringLiteral("strut left")});
    ASSERT_NE(window, 0u);
    // _NET_WORKAREA: x, y, width, height of each desktop.
    auto workAreaX = [] { return s_server->cardinals(s_server->root(), "_NET_WORKAREA").value(0, 9999); };
    EXPECT_TRUE(eventually([&] { return workAreaX() == 120; })) << workAreaX();
    run(*bar, {QStringLiteral("clear")});
    EXPECT_TRUE(eventually([&] { return workAreaX() == 0; })) << workAreaX();
}

TEST_F(X11Dock, LevelChangeKeepsTheDockTypeAndStrut)
{
    if (!s_windowManager)
        GTEST_SKIP() << "openbox is not installed";
    auto bar = startBar();
    const QList<quint32> leftStrut{100, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0};
    xcb_window_t window = run(*bar, {QStringLiteral("dock"), QStringLiteral("geometry 0 0 100 800"),
                                     QStringLiteral("show"), QStringLiteral("strut left")});
    ASSERT_NE(window, 0u);

    struct Case
    {
        const char *command;
        const char *aboveOrBelow; // the state the window must have, nullptr for neither
    };
    const Case cases[] = {
        {"level 1", "_NET_WM_STATE_ABOVE"},
        {"level 0 back", "_NET_WM_STATE_BELOW"},
        {"level 7 back", "_NET_WM_STATE_BELOW"}, // no such level: unchanged
        {"level 0", nullptr},                    // behind only where allowed
        {"level 1", "_NET_WM_STATE_ABOVE"},
        {"level 2", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        bool visible = false;
        window = run(*bar, {QString::fromLatin1(c.command)}, &visible);
        ASSERT_NE(window, 0u);
        EXPECT_TRUE(visible);
        EXPECT_TRUE(eventually([&] { return s_server->isViewable(window); }));
        EXPECT_EQ(type(window), kDockType);
        EXPECT_EQ(strut(window), leftStrut);
        auto hasState = [&](const char *state) {
            return s_server->atomNames(window, "_NET_WM_STATE").contains(QString::fromLatin1(state));
        };
        if (c.aboveOrBelow) {
            EXPECT_TRUE(eventually([&] { return hasState(c.aboveOrBelow); }));
        } else {
            EXPECT_TRUE(eventually([&] { return !hasState("_NET_WM_STATE_ABOVE") && !hasState("_NET_WM_STATE_BELOW"); }));
        }
    }

    // A hidden bar stays hidden, and gets type and strut back when shown.
    bool visible = true;
    window = run(*bar, {QStringLiteral("hide"), QStringLiteral("level 1")}, &visible);
    EXPECT_FALSE(visible);
    window = run(*bar, {QStringLiteral("show")});
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(eventually([&] { return s_server->isViewable(window); }));
    EXPECT_EQ(type(window).value(0), kDockType.first()) << "mapped as a dock";
    EXPECT_TRUE(eventually([&] { return strut(window) == leftStrut && type(window) == kDockType; }));
}

} // namespace

namespace {

// Sends keys to the test's X server as a keyboard would (XTEST).
bool typeKey(const QString &display, const QString &key)
{
    QProcess xdotool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    xdotool.setProcessEnvironment(environment);
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

} // namespace

TEST_F(X11Dock, GrabbedKeysReachTheBarWithoutFocusUntilReleased)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    auto bar = startBar();
    ASSERT_NE(run(*bar, {QStringLiteral("geometry 0 0 100 800"), QStringLiteral("show"), QStringLiteral("grab")}), 0u);
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Down")));
    EXPECT_EQ(bar->readLine(), QStringLiteral("key 1 pressed"));
    EXPECT_EQ(bar->readLine(), QStringLiteral("key 1 released"));
    // Num Lock on: still the bar's.
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Num_Lock")));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Return")));
    EXPECT_EQ(bar->readLine(), QStringLiteral("key 6 pressed"));
    EXPECT_EQ(bar->readLine(), QStringLiteral("key 6 released"));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Num_Lock")));

    // Released: a key goes elsewhere; the next line is the key after the new grab.
    run(*bar, {QStringLiteral("grab off")});
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Down")));
    run(*bar, {QStringLiteral("grab")});
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Up")));
    EXPECT_EQ(bar->readLine(), QStringLiteral("key 2 pressed"));
}

TEST_F(X11Dock, GlobalShortcutsTakeTheirKeyWithItsModifiersOnly)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    auto bar = startBar();
    ASSERT_NE(run(*bar, {QStringLiteral("geometry 0 0 100 800"), QStringLiteral("show"), QStringLiteral("hotkey")}), 0u);
    // The plain key and other modifiers stay the user's.
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("r")));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("ctrl+r")));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("alt+r")));
    EXPECT_EQ(bar->readLine(), QStringLiteral("hotkey 1000 pressed"));
    EXPECT_EQ(bar->readLine(), QStringLiteral("hotkey 1000 released"));

    // Released, the key goes elsewhere; the next line is the key after the new grab.
    run(*bar, {QStringLiteral("hotkey off")});
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("alt+r")));
    run(*bar, {QStringLiteral("hotkey")});
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Num_Lock")));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("alt+r")));
    EXPECT_EQ(bar->readLine(), QStringLiteral("hotkey 1000 pressed"));
    ASSERT_TRUE(typeKey(s_server->display(), QStringLiteral("Num_Lock")));

    // A second program cannot take a combination the first holds, and says so.
    auto other = startBar();
    EXPECT_EQ(other->command(QStringLiteral("hotkey")), QStringLiteral("error the shortcut could not be grabbed"));
}
