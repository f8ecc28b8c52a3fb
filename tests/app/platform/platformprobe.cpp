// A helper the platform tests run as a child process: the test programs run
// on the offscreen platform, while the dock and the window levels need a real
// X server, and a crashed instance needs a process that can be killed.
//
//   platform_probe x11       -- an xcb application with one frameless bar;
//                               commands on stdin, one "ok <window> <visible>"
//                               line on stdout for each
//   platform_probe listen ID SCOPE
//                            -- a listening single instance; prints
//                               "listening", then "urls <n>" and each URL
#include "platform/keygrab.h"
#include "platform/singleinstance.h"
#include "platform/windowlevel.h"
#include "platform/x11dock.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

using namespace corvane::desktop;

namespace {

void say(const QString &line)
{
    std::cout << line.toStdString() << std::endl;
}

// Waits until the X server has handled everything sent so far.
void syncX()
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11->connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

QString handle(QWidget &bar, const QStringList &words)
{
    const QString verb = words.value(0);
    if (verb == QLatin1String("dock")) {
        setDockWindowType(&bar);
    } else if (verb == QLatin1String("geometry") && words.size() == 5) {
        bar.setGeometry(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
    } else if (verb == QLatin1String("show")) {
        bar.show();
    } else if (verb == QLatin1String("hide")) {
        bar.hide();
    } else if (verb == QLatin1String("strut") && words.size() == 2) {
        setStrut(&bar, words[1] == QLatin1String("left") ? ScreenEdge::Left : ScreenEdge::Right,
                 bar.geometry());
    } else if (verb == QLatin1String("grab")) {
        static RootKeyGrab keys;
        static bool connected = false;
        if (!connected) {
            QObject::connect(&keys, &RootKeyGrab::pressed, [](int key) { say(QStringLiteral("key %1 pressed").arg(key)); });
            QObject::connect(&keys, &RootKeyGrab::released, [](int key) { say(QStringLiteral("key %1 released").arg(key)); });
            connected = true;
        }
        if (words.value(1) == QLatin1String("off"))
            keys.release();
        else
            keys.grab({RootKeyGrab::Down, RootKeyGrab::Up, RootKeyGrab::Return});
    } else if (verb == QLatin1String("hotkey")) {
        // A global shortcut: Alt+R under the identifier 1000.
        static GlobalKeyGrab hotKeys;
        static bool connected = false;
        if (!connected) {
            QObject::connect(&hotKeys, &GlobalKeyGrab::pressed, [](int id) { say(QStringLiteral("hotkey %1 pressed").arg(id)); });
            QObject::connect(&hotKeys, &GlobalKeyGrab::released, [](int id) { say(QStringLiteral("hotkey %1 released").arg(id)); });
            connected = true;
        }
        if (words.value(1) == QLatin1String("off"))
            hotKeys.release(1000);
        else if (!hotKeys.grab(1000, 'r', GlobalKeyGrab::Alt))
            return QStringLiteral("error the shortcut could not be grabbed");
    } else if (verb == QLatin1String("clear")) {
        clearStrut(&bar);
    } else if (verb == QLatin1String("level") && words.size() >= 2) {
        applyWindowLevel(&bar, words[1].toLongLong(), words.value(2) == QLatin1String("back"));
    } else {
        return QStringLiteral("error unknown command");
    }
    QCoreApplication::processEvents();
    syncX();
    const QWindow *window = bar.windowHandle();
    const qulonglong id = window && window->handle() ? qulonglong(window->winId()) : 0;
    return QStringLiteral("ok %1 %2").arg(id).arg(bar.isVisible() ? 1 : 0);
}

int runX11(QApplication &app)
{
    if (!isX11()) {
        say(QStringLiteral("error not on X11"));
        return 1;
    }
    QWidget bar(nullptr, Qt::FramelessWindowHint);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit") {
            app.quit();
            return;
        }
        say(handle(bar, QString::fromStdString(line).split(u' ', Qt::SkipEmptyParts)));
    });
    say(QStringLiteral("ready"));
    return app.exec();
}

int runListen(QApplication &app, const QString &identifier, const QString &scope)
{
    SingleInstance instance({identifier}, scope);
    QObject::connect(&instance, &SingleInstance::urlsReceived, &app, [](const QStringList &urls) {
        say(QStringLiteral("urls %1").arg(urls.size()));
        for (const QString &url : urls)
            say(url);
    });
    QString error;
    if (!instance.listen(&error)) {
        say(QStringLiteral("error ") + error);
        return 1;
    }
    say(QStringLiteral("listening"));
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit")
            app.quit();
    });
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("x11"))
        return runX11(app);
    if (args.value(1) == QLatin1String("listen") && args.size() == 4)
        return runListen(app, args[2], args[3]);
    say(QStringLiteral("error usage: platform_probe x11 | listen ID SCOPE"));
    return 2;
}
