#include "trayhost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace corvane::desktop {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kXEmbedPollMs = 2000;

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

TrayHostWatch::TrayHostWatch(QObject *parent)
    : QObject(parent)
    , m_watcher(new QDBusServiceWatcher(kWatcherService, QDBusConnection::sessionBus(),
                                        QDBusServiceWatcher::WatchForOwnerChange, this))
    , m_poll(new QTimer(this))
{
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayHostWatch::check);
    m_poll->setInterval(kXEmbedPollMs);
    connect(m_poll, &QTimer::timeout, this, &TrayHostWatch::check);
    m_available = hostPresent();
}

void TrayHostWatch::setPolling(bool on)
{
    // Only X11 can have an XEmbed tray; elsewhere the bus watch is enough.
    if (on && x11Connection())
        m_poll->start();
    else
        m_poll->stop();
}

bool TrayHostWatch::statusNotifierHostPresent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcherService).value();
}

bool TrayHostWatch::xembedTrayPresent()
{
    xcb_connection_t *c = x11Connection();
    if (!c)
        return false;
    // The tray of the first screen: the one panels manage on every usual set-up.
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(name.size()), name.constData()), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

void TrayHostWatch::check()
{
    const bool available = hostPresent();
    if (available == m_available)
        return;
    m_available = available;
    Q_EMIT availabilityChanged(available);
}

} // namespace corvane::desktop
