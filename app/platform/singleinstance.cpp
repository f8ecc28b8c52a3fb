#include "singleinstance.h"

#include "handoffmessage.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

namespace corvane::desktop {

namespace {

// Unix socket paths are limited to 107 bytes and a NUL (sockaddr_un).
constexpr qsizetype kMaxSocketPath = 107;

int remaining(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

// True when something accepts connections on `name` before the deadline.
bool answers(const QString &name, const QDeadlineTimer &deadline)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    return socket.waitForConnected(remaining(deadline));
}

} // namespace

SingleInstance::SingleInstance(const QStringList &identifiers, const QString &scope, QObject *parent)
    : QObject(parent)
    , m_identifiers(identifiers)
    , m_scope(scope)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketName(const QString &identifier) const
{
    const QByteArray digest =
        QCryptographicHash::hash(m_scope.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const QString name = identifier + u'-' + QString::number(::getuid()) + u'-'
        + QString::fromLatin1(digest);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    auto fits = [](const QString &path) { return QFile::encodeName(path).size() <= kMaxSocketPath; };
    if (fits(folder + u'/' + name))
        return folder + u'/' + name;
    // A long runtime folder leaves no room for the readable name: a digest
    // of it stays unique and short (in the temporary folder, where even that
    // does not fit).
    const QString shortName = QStringLiteral("corvane-")
        + QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(24));
    if (!fits(folder + u'/' + shortName))
        folder = QDir::tempPath();
    return folder + u'/' + shortName;
}

bool SingleInstance::handOffToRunningInstance(const QStringList &urls)
{
    const QByteArray message = encodeHandOff(urls, kMaxMessageSize);
    const QDeadlineTimer deadline(kHandOffDeadline);
    for (const QString &identifier : std::as_const(m_identifiers)) {
        QLocalSocket socket;
        socket.connectToServer(socketName(identifier));
        if (!socket.waitForConnected(remaining(deadline)))
            continue;
        // Someone answers here: it acknowledges in time or the hand-off fails.
        socket.write(message);
        while (socket.bytesToWrite() > 0 && remaining(deadline) > 0) {
            if (!socket.waitForBytesWritten(remaining(deadline)))
                return false;
        }
        while (socket.bytesAvailable() < 1 && remaining(deadline) > 0) {
            if (!socket.waitForReadyRead(remaining(deadline)))
                return false;
        }
        char answer = 0;
        return socket.getChar(&answer) && answer == kHandOffAcknowledgement;
    }
    return false;
}

bool SingleInstance::listen(QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (m_server)
        return true;
    if (m_identifiers.isEmpty())
        return fail(QStringLiteral("no identifier to listen on"));

    const QString name = socketName(m_identifiers.first());
    auto lock = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
    lock->setStaleLockTime(0); // stale only when its process is gone
    if (!lock->tryLock(0))
        return fail(QStringLiteral("another instance holds %1").arg(name + QStringLiteral(".lock")));

    const QDeadlineTimer deadline(1000);
    for (const QString &identifier : std::as_const(m_identifiers)) {
        if (answers(socketName(identifier), deadline))
            return fail(QStringLiteral("another instance answers on %1").arg(socketName(identifier)));
    }

    // Nobody answers, so a socket file left here belongs to a crashed instance.
    QLocalServer::removeServer(name);
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        const QString reason = server->errorString();
        delete server;
        return fail(reason);
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    m_server = server;
    m_lock = std::move(lock);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (m_server->findChildren<QLocalSocket *>(Qt::FindDirectChildrenOnly).size() > kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Room for one whole message and one byte more, which tells a
        // client that sends too much.
        socket->setReadBufferSize(kHandOffHeaderSize + kMaxMessageSize + 1);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        QTimer::singleShot(kConnectionDeadline, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket *socket)
{
    if (socket->state() != QLocalSocket::ConnectedState)
        return;
    // Look at the header first and copy the message only once it is whole,
    // so a client trickling bytes costs no more than one that sends at once.
    const qint64 available = socket->bytesAvailable();
    const QByteArray header = socket->peek(kHandOffHeaderSize);
    HandOffParse parsed = parseHandOff(header, kMaxMessageSize);
    if (parsed.status != HandOffParse::Invalid && header.size() == kHandOffHeaderSize) {
        const qint64 whole = kHandOffHeaderSize + qFromBigEndian<quint32>(header.constData() + 4);
        if (available < whole)
            return;
        parsed = parseHandOff(socket->peek(available), kMaxMessageSize);
    }
    if (parsed.status == HandOffParse::Incomplete)
        return;
    socket->disconnect(this);
    if (parsed.status == HandOffParse::Invalid) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->readAll();
    socket->putChar(kHandOffAcknowledgement);
    socket->flush();
    socket->disconnectFromServer();
    Q_EMIT urlsReceived(parsed.urls);
}

} // namespace corvane::desktop
