#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>

namespace corvane::test {

// A private session bus (dbus-daemon, started here) with python3-dbusmock's
// notification_daemon template serving org.freedesktop.Notifications on it.
// DBUS_SESSION_BUS_ADDRESS points at the private bus while this lives, so
// nothing in the test reaches the user's bus. Stops both processes at the end.
class NotificationServer
{
public:
    NotificationServer();
    ~NotificationServer();

    // Why the server could not start; empty when it runs.
    QString skipReason() const { return m_skipReason; }
    // A connection to the private bus for the code under test.
    QDBusConnection connection() const;

    // The arguments of every Notify call the server received, oldest first.
    QList<QVariantList> notifyCalls() const;
    // Emits a signal of org.freedesktop.Notifications from the server.
    void emitSignal(const QString &name, const QString &signature, const QVariantList &args) const;
    // Replaces the code of one of the server's methods (Python, see dbusmock's AddMethod).
    void replaceMethod(const QString &name, const QString &inSignature, const QString &outSignature,
                       const QString &code) const;
    // Ends the server process (the bus stays).
    void stopServer();

private:
    QTemporaryDir m_dir;
    QString m_skipReason;
    QString m_address;
    QString m_connectionName;
    QProcess m_bus;
    QProcess m_server;
    QByteArray m_previousAddress;
};

} // namespace corvane::test
