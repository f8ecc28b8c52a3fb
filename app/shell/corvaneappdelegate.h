#pragma once

#include "alert.h"
#include "documentwindow.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QUrl>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace corvane {
class Settings;
}

namespace corvane::desktop {

class AppClock;
class EngineBridge;
class MainWindowController;
class TrayHostWatch;

// What the application does around the bar: the tray icon and its menu when
// the bar runs without a taskbar entry, feed: and Pocket call-back URLs, the
// feed scheme, "What's New" after an upgrade, the one rating prompt, the
// restart when the tray mode is switched on, help and about.
class CorvaneAppDelegate : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<void()> showPreferences;
        // The text of a feed link for the feed list editor.
        std::function<void(const QString &)> addFeed;
        // A Pocket login call-back.
        std::function<void(const QUrl &)> pocketCallback;
        // Starts this program again once this process has ended, then quits.
        std::function<void()> restart;
        AlertRunner runAlert = runAlertBox;
    };

    CorvaneAppDelegate(Settings &settings, EngineBridge &bridge, MainWindowController &controller,
                       AppClock &clock, Hooks hooks, QObject *parent = nullptr);
    ~CorvaneAppDelegate() override;

    // Once the bar exists. With `startHidden` (started at login) the bar stays
    // hidden while a tray icon can bring it back.
    void applicationDidFinishLaunching(bool startHidden);

    // A URL from the command line or from a later start.
    void getUrl(const QString &url);
    // A later start without URLs: bring the bar back.
    void reopen();

    void showHideWindow();
    void doShowWhatsNew();
    void showAboutPanel();
    void openHelp();
    void pleaseRate();
    void setupHandler();
    void doSetupHandler();

    QMenu *statusMenu() const { return m_menu.get(); }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    DocumentWindow *whatsNewWindow() const { return m_whatsNew; }

    // The page "Rate" and the about panel point at.
    static QUrl projectPage();

Q_SIGNALS:
    void handlerPanelRequested();

private:
    void showInDockChanged();
    void updateStatusItem();
    void removeStatusItem();
    void updateShowHideTitle();
    void clearUrlCache();
    void showHandlerPanel();

    Settings &m_settings;
    EngineBridge &m_bridge;
    MainWindowController &m_controller;
    AppClock &m_clock;
    Hooks m_hooks;

    std::unique_ptr<QMenu> m_menu;
    QAction *m_showHideItem = nullptr;
    QPointer<QSystemTrayIcon> m_statusItem;
    TrayHostWatch *m_trayHosts = nullptr;
    QPointer<DocumentWindow> m_whatsNew;
    QPointer<DocumentWindow> m_help;
    QPointer<QWidget> m_handlerPanel;
    bool m_firstRun = false;
    bool m_showInDock = true;
};

// Starts the program again with its arguments once the process `pid` has
// ended (so the new one does not find this one running).
void restartAfterExit();

} // namespace corvane::desktop
