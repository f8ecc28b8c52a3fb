#include "pocket.h"

#include "pocketclient.h"
#include "ticker/browser.h"

#include "base/log.h"
#include "store/recordevents.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutexLocker>

namespace corvane::desktop {

namespace {

Pocket *g_shared = nullptr;

const QString kPlaceholder = QStringLiteral("0");

// Pocket sends identifiers as strings, some as numbers.
QString identifier(const QJsonValue &value)
{
    return value.isDouble() ? QString::number(qint64(value.toDouble())) : value.toString();
}

QString key(const QUrl &url)
{
    return url.isValid() ? url.toString() : QString();
}

} // namespace

Pocket::Pocket(PocketClient &client, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_loginState(client.isLoggedIn() ? LoggedIn : LoggedOut)
{
    g_shared = this;
    connect(&m_client, &PocketClient::loginFinished, this, [this](bool ok, const QString &error) {
        setLoginState(ok ? LoggedIn : LoggedOut);
        if (!ok)
            Q_EMIT loginFailed(error);
    });
    connect(&m_client, &PocketClient::accountChanged, this, [this] {
        if (m_loginState != LoggingIn)
            setLoginState(m_client.isLoggedIn() ? LoggedIn : LoggedOut);
    });
    m_starObserver = ScopedObserver(NotificationCenter::defaultCenter(), kItemStarSavingNotification, nullptr,
                                    [this](const Notification &n) { starSaving(n); });
}

Pocket::~Pocket()
{
    m_starObserver.reset();
    // Replies still to come refer to this object.
    m_client.waitForIdle();
    if (g_shared == this)
        g_shared = nullptr;
}

Pocket *Pocket::sharedInstance()
{
    return g_shared;
}

QString Pocket::loginLabel() const
{
    return m_loginState == LoggedIn ? tr("Logged in as %1").arg(m_client.username()) : QString();
}

bool Pocket::hasLoggedInUser() const
{
    return m_client.isLoggedIn();
}

bool Pocket::everUpdated() const
{
    QMutexLocker lock(&m_mutex);
    return m_everUpdated;
}

QString Pocket::idForUrl(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    return m_urlsToIds.value(key(url));
}

void Pocket::setLoginState(int state)
{
    if (m_loginState == state)
        return;
    m_loginState = state;
    Q_EMIT loginStateChanged(state);
}

void Pocket::starSaving(const Notification &notification)
{
    const QUrl url = browser::webAddress(notification.userInfo.value(QStringLiteral("link")).toString());
    if (notification.userInfo.value(QStringLiteral("starred")).toBool())
        saveUrl(url);
    else
        removeUrl(url);
}

void Pocket::saveUrl(const QUrl &url)
{
    const QString address = key(url);
    if (address.isEmpty() || !m_client.isLoggedIn())
        return;
    quint64 session;
    {
        QMutexLocker lock(&m_mutex);
        if (m_urlsToIds.contains(address)) {
            // Starred again before the "add" answered: it stays saved.
            m_removeWhenAdded.remove(address);
            return;
        }
        m_urlsToIds.insert(address, kPlaceholder);
        session = m_session;
    }
    m_client.callAPIMethod(
        QStringLiteral("add"), QByteArrayLiteral("POST"), {{QStringLiteral("url"), address}},
        [this, address, session](const std::optional<QJsonObject> &reply, const QString &) {
            const QString id =
                reply ? identifier(reply->value(QStringLiteral("item")).toObject().value(QStringLiteral("item_id")))
                      : QString();
            if (reply && id.isEmpty())
                logLine(QStringLiteral("Pocket: the reply to \"add\" carries no item_id"));
            QMutexLocker lock(&m_mutex);
            if (session != m_session || !m_urlsToIds.contains(address))
                return;
            const bool unstarred = m_removeWhenAdded.remove(address);
            if (id.isEmpty()) {
                // Failed: without the placeholder the next star tries again.
                if (m_urlsToIds.value(address) == kPlaceholder)
                    m_urlsToIds.remove(address);
                return;
            }
            if (unstarred) {
                m_urlsToIds.remove(address);
                sendDelete(id);
                return;
            }
            m_urlsToIds.insert(address, id);
        });
}

void Pocket::removeUrl(const QUrl &url)
{
    const QString address = key(url);
    if (address.isEmpty() || !m_client.isLoggedIn())
        return;
    QMutexLocker lock(&m_mutex);
    if (m_everUpdated)
        removeNow(address);
    else
        updateListThen([this, address] { removeNow(address); });
}

void Pocket::removeNow(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_urlsToIds.constFind(address);
    if (found == m_urlsToIds.constEnd())
        return;
    if (found.value() == kPlaceholder) {
        // The "add" has no identifier yet; its reply deletes what it saved.
        m_removeWhenAdded.insert(address);
        return;
    }
    const QString id = found.value();
    m_urlsToIds.erase(found);
    sendDelete(id);
}

void Pocket::sendDelete(const QString &id)
{
    const QJsonObject action{{QStringLiteral("action"), QStringLiteral("delete")}, {QStringLiteral("item_id"), id}};
    m_client.callAPIMethod(QStringLiteral("send"), QByteArrayLiteral("POST"),
                           {{QStringLiteral("actions"), QJsonArray{action}}},
                           [](const std::optional<QJsonObject> &, const QString &) {});
}

void Pocket::updateListThen(std::function<void()> then)
{
    quint64 session;
    {
        QMutexLocker lock(&m_mutex);
        m_listWaiters.push_back(std::move(then));
        if (m_listFetching)
            return;
        m_listFetching = true;
        session = m_session;
    }
    m_client.callAPIMethod(
        QStringLiteral("get"), QByteArrayLiteral("POST"),
        {{QStringLiteral("state"), QStringLiteral("all")}, {QStringLiteral("detailType"), QStringLiteral("simple")}},
        [this, session](const std::optional<QJsonObject> &reply, const QString &) {
            QMutexLocker lock(&m_mutex);
            if (session != m_session)
                return;
            m_listFetching = false;
            const std::vector<std::function<void()>> waiters = std::exchange(m_listWaiters, {});
            if (!reply)
                return; // the client logged why
            const QJsonValue list = reply->value(QStringLiteral("list"));
            if (list.isObject()) {
                const QJsonObject entries = list.toObject();
                for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
                    const QString given = entry.value().toObject().value(QStringLiteral("given_url")).toString();
                    if (!given.isEmpty())
                        m_urlsToIds.insert(key(QUrl(given)), entry.key());
                }
            } else if (!(list.isArray() && list.toArray().isEmpty())) {
                // (An empty list comes as [].)
                logLine(QStringLiteral("Pocket: the reply to \"get\" carries no list"));
                return;
            }
            m_everUpdated = true;
            for (const auto &waiter : waiters)
                waiter();
        });
}

void Pocket::logIn()
{
    setLoginState(LoggingIn);
    m_client.logIn();
}

void Pocket::logOut()
{
    {
        QMutexLocker lock(&m_mutex);
        m_everUpdated = false;
        m_urlsToIds.clear();
        m_removeWhenAdded.clear();
        m_listWaiters.clear();
        m_listFetching = false;
        ++m_session;
    }
    setLoginState(LoggedOut);
    m_client.logOut();
}

void Pocket::handleUrl(const QUrl &url)
{
    m_client.handleUrl(url);
}

} // namespace corvane::desktop
