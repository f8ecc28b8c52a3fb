#pragma once

#include "base/notificationcenter.h"

#include <QHash>
#include <QObject>
#include <QRecursiveMutex>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

namespace corvane {
class PocketClient;
}

namespace corvane::desktop {

// The user's Pocket list kept in step with the stars: starring an item saves
// its link to Pocket, unstarring removes it. Knows which Pocket item each
// saved address is (urlsToIds); an address whose "add" is in flight maps to
// the placeholder "0", so it is sent once however often it is starred.
//
// Stars are heard from the store: every item saved with a changed star posts
// "ItemStarSaving" (with its link), on whichever thread saved it. The map is
// guarded by its own lock; Pocket replies arrive on the client's queue.
class Pocket : public QObject
{
    Q_OBJECT
public:
    explicit Pocket(PocketClient &client, QObject *parent = nullptr);
    ~Pocket() override;

    // The wrapper made last, while it lives.
    static Pocket *sharedInstance();

    // 0 logged out, 1 logging in, 2 logged in.
    enum LoginState { LoggedOut = 0, LoggingIn = 1, LoggedIn = 2 };
    int loginState() const { return m_loginState; }
    // "Logged in as <user>" while logged in, else empty.
    QString loginLabel() const;
    bool hasLoggedInUser() const;
    PocketClient &client() const { return m_client; }

    void saveUrl(const QUrl &url);
    void removeUrl(const QUrl &url);
    // Fetches the whole list into the map, then runs `then` (under the map's
    // lock, on the client's queue). Calls made while a fetch is running wait
    // for that fetch.
    void updateListThen(std::function<void()> then);
    void logIn();
    void logOut();
    void handleUrl(const QUrl &url);

    bool everUpdated() const;
    // The Pocket item of an address: its identifier, "0" while its "add" is
    // in flight, empty when unknown.
    QString idForUrl(const QUrl &url) const;

Q_SIGNALS:
    void loginStateChanged(int state);
    void loginFailed(const QString &errorText);

private:
    void setLoginState(int state);
    void removeNow(const QString &url);
    void sendDelete(const QString &id);
    void starSaving(const Notification &notification);

    PocketClient &m_client;
    mutable QRecursiveMutex m_mutex; // guards everything below
    QHash<QString, QString> m_urlsToIds;
    QSet<QString> m_removeWhenAdded; // unstarred while their "add" was in flight
    bool m_everUpdated = false;
    bool m_listFetching = false;
    std::vector<std::function<void()>> m_listWaiters;
    quint64 m_session = 0; // a logout starts a new one; replies of an older one are dropped

    int m_loginState = LoggedOut; // main thread
    ScopedObserver m_starObserver;
};

} // namespace corvane::desktop
