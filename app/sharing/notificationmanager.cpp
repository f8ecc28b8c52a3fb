#include "notificationmanager.h"

#include "ticker/browser.h"
#include "ticker/dataitemadapter.h"

#include "base/log.h"
#include "base/settings.h"
#include "store/dataitem.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace corvane::desktop {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDesktopEntry = QStringLiteral("org.corvane.Corvane");
const QString kDefaultAction = QStringLiteral("default");

// Servers rarely close notices they never showed; forget the oldest beyond this.
constexpr int kMaxRemembered = 256;

} // namespace

NotificationManager::NotificationManager(DataItemAdapter &adapter, Settings &settings, QDBusConnection connection,
                                         QObject *parent)
    : QObject(parent)
    , m_adapter(adapter)
    , m_settings(settings)
    , m_connection(std::move(connection))
{
    if (!m_connection.isConnected())
        return;
    // Only the server that owns the well-known name is listened to.
    m_connection.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                         SLOT(onActionInvoked(uint, QString)));
    m_connection.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                         SLOT(onNotificationClosed(uint, uint)));
}

NotificationManager::~NotificationManager() = default;

void NotificationManager::askCapabilities()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, kCallTimeoutMilliseconds), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isValid())
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
    });
}

void NotificationManager::displayItem(ObjectID id)
{
    displayItem(m_adapter.item(id));
}

void NotificationManager::displayItem(const DataItem *item)
{
    if (!item)
        return;
    const qint64 level = m_settings.integer(QStringLiteral("NotificationCenterLevel"));
    if (level == 0 || (level == 5 && !item->mark()))
        return;
    if (!m_connection.isConnected()) {
        reportFailure(QStringLiteral("no session bus"));
        return;
    }
    // Asked with the first notice, so a bar that announces nothing never calls the server.
    if (!m_capabilitiesAsked) {
        m_capabilitiesAsked = true;
        askCapabilities();
    }
    const QString body = m_bodyMarkup ? item->visibleTitle().toHtmlEscaped() : item->visibleTitle();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Corvane") << uint(0) << kDesktopEntry << item->visibleDatasourceName() << body
         << QStringList{kDefaultAction, tr("Open")} << QVariantMap{{QStringLiteral("desktop-entry"), kDesktopEntry}}
         << int(kExpireMilliseconds);

    const QString link = item->link();
    ++m_pending;
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, kCallTimeoutMilliseconds), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, link](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        --m_pending;
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isValid()) {
            reportFailure(reply.error().message());
            return;
        }
        m_failureLogged = false;
        const uint id = reply.value();
        if (!link.isEmpty()) {
            m_links.insert(id, link);
            while (m_links.size() > kMaxRemembered)
                m_links.erase(m_links.begin());
        }
        Q_EMIT delivered(id);
    });
}

void NotificationManager::reportFailure(const QString &errorText)
{
    // One line until a notice gets through again, not one per item.
    if (!m_failureLogged)
        logLine(QStringLiteral("Notifications cannot be shown: %1").arg(errorText));
    m_failureLogged = true;
    Q_EMIT deliveryFailed(errorText);
}

void NotificationManager::onActionInvoked(uint id, const QString &action)
{
    if (action != kDefaultAction)
        return;
    const auto found = m_links.constFind(id);
    if (found == m_links.constEnd())
        return;
    const QString link = found.value();
    m_links.erase(found);
    browser::open(link);
}

void NotificationManager::onNotificationClosed(uint id, uint)
{
    m_links.remove(id);
}

} // namespace corvane::desktop
