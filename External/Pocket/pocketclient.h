#pragma once

#include "pocketaccountstore.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace corvane {

class Settings;
namespace dispatch {
class SerialQueue;
}

// A client of the Pocket v3 API (https://getpocket.com/developer/).
//
// Login, Pocket's OAuth flow for desktop programs:
//   logged out --logIn()--> requesting: POST /v3/oauth/request
//     {consumer_key, redirect_uri} answers {code}, the request token;
//   --> authorising: the browser opens <base>/auth/authorize?request_token=
//     <code>&redirect_uri=<kRedirectUri>, where the user agrees; Pocket
//     then sends the browser to kRedirectUri, which the desktop hands to
//     the running instance, and from there to handleUrl();
//   --> POST /v3/oauth/authorize {consumer_key, code} answers
//     {access_token, username}: logged in, the account is kept in the store.
// Every step reports once, by loginFinished(). logOut() forgets the account.
//
// API methods (callAPIMethod) are JSON POSTs to <base>/v3/<method> carrying
// consumer_key and access_token; the replies are JSON objects.
//
// All HTTP traffic runs on the client's own serial queue; API replies are
// handed over on that queue, login results on the main thread. The service
// address is the setting "PocketBaseURL" (default https://getpocket.com);
// the consumer key is built in (CMake option CORVANE_POCKET_CONSUMER_KEY)
// unless the setting "PocketConsumerKey" gives one.
class PocketClient : public QObject
{
    Q_OBJECT
public:
    // `openBrowser` opens the authorisation page; `store` keeps the account
    // (the default store when none).
    PocketClient(Settings &settings, std::function<bool(const QUrl &)> openBrowser,
                 std::unique_ptr<PocketAccountStore> store = nullptr, QObject *parent = nullptr);
    ~PocketClient() override;

    static const QString kRedirectUri; // "corvane-pocket:authorizationFinished"

    QString consumerKey() const;
    QUrl baseUrl() const;

    bool isLoggedIn() const;
    QString username() const;

    // Starts a login; loginFinished() tells how it ended. Without a
    // consumer key it fails at once and sends nothing.
    void logIn();
    // Takes the call-back address of a login; false (and one log line) for
    // any address that is not the awaited one.
    bool handleUrl(const QUrl &url);
    void logOut();

    // The decoded reply, or none and a short English error text.
    using Reply = std::function<void(const std::optional<QJsonObject> &reply, const QString &error)>;
    // Calls an API method; `reply` runs on the client's queue. Fails without
    // a request when nobody is logged in.
    void callAPIMethod(const QString &name, const QByteArray &httpMethod, const QJsonObject &arguments,
                       Reply reply);

    // Blocks until everything submitted so far has run (tests, shutdown).
    void waitForIdle();

Q_SIGNALS:
    void loginFinished(bool ok, const QString &errorText);
    // The account was loaded, gained or forgotten.
    void accountChanged();

private:
    std::optional<QJsonObject> post(const QString &path, QJsonObject body, const QByteArray &httpMethod,
                                    QString *error) const;
    void requestToken(quint64 attempt);
    void finishLogin(quint64 attempt, bool ok, const QString &error);
    void onMain(std::function<void()> fn);
    void submit(std::function<void()> task);

    Settings &m_settings;
    std::function<bool(const QUrl &)> m_openBrowser;
    std::unique_ptr<PocketAccountStore> m_store;
    std::unique_ptr<dispatch::SerialQueue> m_queue;
    std::atomic<int> m_pending{0}; // tasks submitted and not yet finished

    mutable QMutex m_mutex; // guards m_account
    std::optional<PocketAccount> m_account;

    // Main thread: the login in progress.
    quint64 m_attempt = 0;
    QString m_requestToken;
};

} // namespace corvane
