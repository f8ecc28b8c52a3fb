#pragma once

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QStringList>

namespace corvane {
class Settings;
}

namespace corvane::desktop {

// Where global hot keys are registered: the desktop's shortcut service or
// the X server. Presses and releases come back with the identifier.
class HotKeyBackend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // `name` is the settings key of the shortcut (services list it by name).
    virtual bool registerHotKey(int identifier, const QString &name, const QKeySequence &sequence) = 0;
    virtual void unregisterHotKey(int identifier) = 0;

Q_SIGNALS:
    void pressed(int identifier);
    void released(int identifier);
};

// The global shortcuts of the shortcut table: registered in table order
// with identifiers from 1000, skipping keys without a shortcut. Each
// re-registration first lets go of every hot key held.
class HotKeyRegistrar : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstIdentifier = 1000;
    // The settings keys, in table order.
    static const QStringList &shortcutKeys();
    // The shortcut stored under the key; empty when none ("0", empty, unreadable).
    static QKeySequence storedShortcut(const Settings &settings, const QString &key);

    // Takes ownership of the backend.
    HotKeyRegistrar(Settings &settings, HotKeyBackend *backend, QObject *parent = nullptr);

    void reregister();
    // Identifier → settings key of the hot keys held, and their identifiers in order.
    const QHash<int, QString> &identifiers() const { return m_identifiers; }
    const QList<int> &handles() const { return m_handles; }
    HotKeyBackend *backend() const { return m_backend; }

Q_SIGNALS:
    // A press of a hot key held; `key` is empty when the identifier maps to none.
    void hotKeyPressed(int identifier, const QString &key);
    void hotKeyReleased(int identifier);

private:
    Settings &m_settings;
    HotKeyBackend *m_backend;
    QHash<int, QString> m_identifiers;
    QList<int> m_handles;
};

} // namespace corvane::desktop
