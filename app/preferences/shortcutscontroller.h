#pragma once

#include <QHash>
#include <QWidget>

class QKeySequenceEdit;

namespace corvane {
class Settings;
}

namespace corvane::desktop {

class HotKeyBackend;
class HotKeyRegistrar;
class MainWindowController;

// The shortcut pane: one recorder per global shortcut. A change stores all
// of them and registers the hot keys again; presses run the table's actions.
class ShortcutsController : public QWidget
{
    Q_OBJECT
public:
    // Takes ownership of the backend; `controller` may be null (no bar).
    ShortcutsController(Settings &settings, HotKeyBackend *backend, MainWindowController *controller,
                        QWidget *parent = nullptr);

    HotKeyRegistrar *registrar() const { return m_registrar; }
    QKeySequenceEdit *recorder(const QString &key) const { return m_recorders.value(key); }

    // Stores every recorder's shortcut (0 when empty) and re-registers.
    void recordersChanged();
    void hotkeyPressed(int identifier, const QString &key);
    void hotkeyReleased(int identifier);

private:
    Settings &m_settings;
    MainWindowController *m_controller;
    HotKeyRegistrar *m_registrar;
    QHash<QString, QKeySequenceEdit *> m_recorders;
};

} // namespace corvane::desktop
