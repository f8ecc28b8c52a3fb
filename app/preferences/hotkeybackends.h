#pragma once

#include "hotkeyregistrar.h"

#include <QHash>

#include <cstdint>
#include <optional>

namespace corvane::desktop {

class GlobalKeyGrab;

// KDE's shortcut service on the session bus (org.kde.kglobalaccel): the
// shortcuts appear in the desktop's own settings under "Corvane".
class KGlobalAccelHotKeys : public HotKeyBackend
{
    Q_OBJECT
public:
    static bool isAvailable();
    explicit KGlobalAccelHotKeys(QObject *parent = nullptr);

    bool registerHotKey(int identifier, const QString &name, const QKeySequence &sequence) override;
    void unregisterHotKey(int identifier) override;

private Q_SLOTS:
    void shortcutPressed(const QString &component, const QString &action, qlonglong timestamp);
    void shortcutReleased(const QString &component, const QString &action, qlonglong timestamp);

private:
    QStringList actionId(const QString &name) const;
    QHash<int, QString> m_names;
    bool m_connected = false;
};

// Passive grabs on the X root window.
class X11HotKeys : public HotKeyBackend
{
    Q_OBJECT
public:
    struct X11Key
    {
        uint32_t keysym;
        uint16_t modifiers;
    };
    // The X keysym and modifier mask of a shortcut; none for keys X names otherwise.
    static std::optional<X11Key> x11Key(const QKeySequence &sequence);

    explicit X11HotKeys(QObject *parent = nullptr);
    bool registerHotKey(int identifier, const QString &name, const QKeySequence &sequence) override;
    void unregisterHotKey(int identifier) override;

private:
    GlobalKeyGrab *m_grab;
};

// The backend of this session: KDE's service when it runs, else X grabs.
HotKeyBackend *makeHotKeyBackend(QObject *parent = nullptr);

} // namespace corvane::desktop
