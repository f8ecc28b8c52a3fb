#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace corvane::desktop {

// One running Corvane per user and home folder. Each identifier is a local
// socket in the user's runtime folder, only the user may connect to it, and
// its name includes a digest of `scope` (the settings folder), so test homes
// never see each other. The running instance listens on the first
// identifier; a starting one looks for any of them.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    SingleInstance(const QStringList &identifiers, const QString &scope, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when another instance answers on one of the identifiers; the
    // urls (may be empty) have then been handed to it and acknowledged.
    bool handOffToRunningInstance(const QStringList &urls);

    // Starts answering on the first identifier (replacing a stale socket
    // left by a crashed instance). False, with the reason, when another
    // instance answers or the socket cannot be made.
    bool listen(QString *error = nullptr);

Q_SIGNALS:
    // URLs handed over by a later start (never more than a bounded amount).
    void urlsReceived(const QStringList &urls);

private:
    QString socketName(const QString &identifier) const;
    void acceptConnections();

    QStringList m_identifiers;
    QString m_scope;
    QLocalServer *m_server = nullptr;
};

} // namespace corvane::desktop
