#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QListWidget;
class QStackedWidget;

namespace corvane {
class DatasourceManager;
class Settings;
}

namespace corvane::desktop {

class AppearancePreferencesController;
class EngineBridge;
class GeneralPreferencesController;
class HotKeyBackend;
class MainWindowController;
class RSSPreferencesController;
class ShortcutsController;

// The preferences window: a list of panes on the left (Feeds, General,
// Appearance, Shortcuts, Feedly, Twitter) and the chosen pane beside it.
// Made at start (the shortcut pane registers the global hot keys); shown on
// request.
class PreferencesController : public QObject
{
    Q_OBJECT
public:
    enum Pane { FeedsPane, GeneralPane, AppearancePane, ShortcutsPane, FeedlyPane, TwitterPane };

    struct Options
    {
        // Plays an event sound; the desktop's sound theme when none.
        std::function<bool(const QString &)> playSound;
        // Where the global hot keys go; this session's service when none (owned).
        HotKeyBackend *hotKeys = nullptr;
    };

    // `controller` may be null (no bar).
    PreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                          MainWindowController *controller, const Options &options,
                          QObject *parent = nullptr);
    PreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                          MainWindowController *controller, QObject *parent = nullptr);
    ~PreferencesController() override;

    QWidget *window() const { return m_window; }
    RSSPreferencesController *feeds() const { return m_feeds; }
    GeneralPreferencesController *general() const { return m_general; }
    AppearancePreferencesController *appearance() const { return m_appearance; }
    ShortcutsController *shortcuts() const { return m_shortcuts; }

    void showPane(Pane pane);
    Pane currentPane() const;

    // Shows the window in front and gives it the focus.
    void showPreferences();
    void showOrHidePreferences();
    // Shows the feeds pane with the add sheet filled with the text.
    void addFeed(const QString &url);

private:
    QWidget *m_window = nullptr;
    QListWidget *m_switcher = nullptr;
    QStackedWidget *m_stack = nullptr;
    RSSPreferencesController *m_feeds = nullptr;
    GeneralPreferencesController *m_general = nullptr;
    AppearancePreferencesController *m_appearance = nullptr;
    ShortcutsController *m_shortcuts = nullptr;
};

} // namespace corvane::desktop
