#pragma once

#include <QObject>

class QDBusServiceWatcher;
class QTimer;

namespace corvane::desktop {

// Tells when the desktop has somewhere to show a tray icon: a StatusNotifier
// host (its watcher on the session bus) or an XEmbed system tray (the owner
// of the X selection "_NET_SYSTEM_TRAY_S<screen>"). Qt decides once which kind
// of tray icon it makes, so the icon must not be created before a host exists;
// a panel that starts after the application is noticed here.
class TrayHostWatch : public QObject
{
    Q_OBJECT
public:
    explicit TrayHostWatch(QObject *parent = nullptr);

    bool isAvailable() const { return m_available; }

    // Looks for an XEmbed tray every few seconds while on (only needed while
    // the application waits for a tray).
    void setPolling(bool on);

Q_SIGNALS:
    // The availability changed (a panel started or went away).
    void availabilityChanged(bool available);

private:
    static bool statusNotifierHostPresent();
    static bool xembedTrayPresent();
    static bool hostPresent() { return statusNotifierHostPresent() || xembedTrayPresent(); }
    void check();

    QDBusServiceWatcher *m_watcher;
    QTimer *m_poll; // XEmbed trays announce themselves on the X root window only
    bool m_available = false;
};

} // namespace corvane::desktop
