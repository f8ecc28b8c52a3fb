#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace corvane::desktop {

// One running Corvane per user and home folder. Each identifier is a local
// socket in the user's runtime folder, only the user may connect to it, and
// its name includes a digest of `scope` (the settings folder), so test homes
// never see each other. The running instance listens on the first
// identifier; a starting one looks for any of them.
//
// A lock file beside the socket decides which of two starts at once listens;
// the lock of a crashed instance is stale (its process is gone) and is taken
// over together with its socket.
//
// A hand-off is one message of handoffmessage.h (at most kMaxMessageSize
// bytes of URLs), answered with one acknowledgement byte. Anything else, and
// any connection that has not delivered a whole message within
// kConnectionDeadline, is dropped unanswered.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessageSize = 64 * 1024;
    static constexpr int kConnectionDeadline = 3000; // milliseconds
    static constexpr int kHandOffDeadline = 2500;    // milliseconds, the whole hand-off
    static constexpr int kMaxConnections = 8;

    SingleInstance(const QStringList &identifiers, const QString &scope, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when another instance answers on one of the identifiers; the
    // urls (may be empty) have then been handed to it and acknowledged.
    // Returns within kHandOffDeadline however the other side behaves. URLs
    // past the message size limit are left out.
    bool handOffToRunningInstance(const QStringList &urls);

    // Starts answering on the first identifier (replacing a stale socket
    // left by a crashed instance). False, with the reason, when another
    // instance answers or the socket cannot be made.
    bool listen(QString *error = nullptr);

    // The local socket of that identifier (a full path).
    QString socketName(const QString &identifier) const;

Q_SIGNALS:
    // URLs handed over by a later start (never more than a bounded amount).
    void urlsReceived(const QStringList &urls);

private:
    void acceptConnections();
    void readMessage(QLocalSocket *socket);

    QStringList m_identifiers;
    QString m_scope;
    QLocalServer *m_server = nullptr;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace corvane::desktop
