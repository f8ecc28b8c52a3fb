#pragma once

#include "store/objectid.h"

#include <QDBusConnection>
#include <QMap>
#include <QObject>
#include <QString>

namespace corvane {
class DataItem;
class Settings;
}

namespace corvane::desktop {

class DataItemAdapter;

// Announces newly arrived items through the desktop's notification server
// (org.freedesktop.Notifications, the Desktop Notifications Specification
// 1.2) and opens an item's link when its notice is clicked.
//
// Setting "NotificationCenterLevel": 0 announces nothing, 5 only items a
// keyword marked, any other value every item handed over. A notice: summary
// = the subscription's visible name, body = the item's visible title (escaped,
// since servers read the body as markup when they can), the "default" action,
// the "desktop-entry" hint. A click is ActionInvoked("default") for one of
// our own notice ids.
//
// Every call to the server is asynchronous with a timeout: a server that
// fails or never answers never holds up the bar. Without a server nothing
// is shown and one line is logged. Main thread.
class NotificationManager : public QObject
{
    Q_OBJECT
public:
    NotificationManager(DataItemAdapter &adapter, Settings &settings,
                        QDBusConnection connection = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~NotificationManager() override;

    // The item as the main context has it now; nothing when it is gone.
    void displayItem(corvane::ObjectID item);
    void displayItem(const DataItem *item);

    // Notify calls sent and not yet answered.
    int pendingCalls() const { return m_pending; }

    static constexpr int kExpireMilliseconds = 10000; // how long a notice stays
    static constexpr int kCallTimeoutMilliseconds = 15000;

Q_SIGNALS:
    // The server answered a Notify with the notice's id.
    void delivered(uint id);
    // A Notify call failed (error, timeout or no server).
    void deliveryFailed(const QString &errorText);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    void askCapabilities();
    void reportFailure(const QString &errorText);

    DataItemAdapter &m_adapter;
    Settings &m_settings;
    QDBusConnection m_connection;
    QMap<uint, QString> m_links; // our notices still on screen, with the link a click opens
    bool m_bodyMarkup = true;    // until the server says otherwise
    bool m_capabilitiesAsked = false;
    bool m_failureLogged = false;
    int m_pending = 0;
};

} // namespace corvane::desktop
