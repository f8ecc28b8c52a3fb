#include "notificationserver.h"

#include "spinuntil.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QStandardPaths>

namespace corvane::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

// The system's Python has the Debian package; one earlier on PATH may not.
QString pythonWithDbusmock()
{
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess probe;
        probe.start(candidate, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

int g_serial = 0;

} // namespace

NotificationServer::NotificationServer()
    : m_previousAddress(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
{
    const QString python = pythonWithDbusmock();
    if (python.isEmpty()) {
        m_skipReason = QStringLiteral("python3-dbusmock is not installed (scripts/setup.sh installs it)");
        return;
    }
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        m_skipReason = QStringLiteral("dbus-daemon is not installed");
        return;
    }
    // A bus of its own configuration: no service directories, so nothing on
    // this machine is started for a name the test leaves unowned.
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)
        || file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                      "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n")
               < 0) {
        m_skipReason = QStringLiteral("no room for the bus configuration");
        return;
    }
    file.close();
    m_bus.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted() || !spinUntil([this] { return m_bus.canReadLine(); }, 30000)) {
        m_skipReason = QStringLiteral("dbus-daemon did not start");
        return;
    }
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(python, {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                            QStringLiteral("notification_daemon")});

    m_connectionName = QStringLiteral("notification-test-%1").arg(++g_serial);
    const QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connectionName);
    if (!spinUntil([&bus] { return bus.interface()->isServiceRegistered(kService).value(); }, 30000))
        m_skipReason = QStringLiteral("the notification mock did not appear on the bus");
}

NotificationServer::~NotificationServer()
{
    stopServer();
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
    m_bus.kill();
    m_bus.waitForFinished();
    if (m_previousAddress.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress);
}

QDBusConnection NotificationServer::connection() const
{
    return QDBusConnection(m_connectionName);
}

void NotificationServer::stopServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(10000))
        m_server.kill();
    m_server.waitForFinished();
}

QList<QVariantList> NotificationServer::notifyCalls() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kMockInterface, QStringLiteral("GetMethodCalls"));
    call << QStringLiteral("Notify");
    const QDBusMessage reply = connection().call(call);
    QList<QVariantList> calls;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return calls;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 timestamp = 0;
        QVariantList args;
        list.beginStructure();
        list >> timestamp >> args;
        list.endStructure();
        calls.append(args);
    }
    list.endArray();
    return calls;
}

void NotificationServer::emitSignal(const QString &name, const QString &signature, const QVariantList &args) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kMockInterface, QStringLiteral("EmitSignal"));
    call << kService << name << signature << QVariant::fromValue(args);
    connection().call(call);
}

void NotificationServer::replaceMethod(const QString &name, const QString &inSignature, const QString &outSignature,
                                       const QString &code) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kMockInterface, QStringLiteral("AddMethod"));
    call << kService << name << inSignature << outSignature << code;
    connection().call(call);
}

} // namespace corvane::test
