#include "pocketclient.h"

#include "base/dispatch.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/urltext.h"
#include "net/httpfetch.h"

#include <QJsonDocument>
#include <QMutexLocker>

#ifndef CORVANE_POCKET_CONSUMER_KEY
#define CORVANE_POCKET_CONSUMER_KEY ""
#endif

namespace corvane {

const QString PocketClient::kRedirectUri = QStringLiteral("corvane-pocket:authorizationFinished");

namespace {

const QString kBaseUrlKey = QStringLiteral("PocketBaseURL");
const QString kConsumerKeyKey = QStringLiteral("PocketConsumerKey");
const QString kDefaultBaseUrl = QStringLiteral("https://getpocket.com");

QString text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isDouble() ? QString::number(qint64(value.toDouble())) : value.toString();
}

} // namespace

PocketClient::PocketClient(Settings &settings, std::function<bool(const QUrl &)> openBrowser,
                           std::unique_ptr<PocketAccountStore> store, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_openBrowser(std::move(openBrowser))
    , m_store(store ? std::move(store) : std::make_unique<PocketAccountStore>())
    , m_queue(std::make_unique<dispatch::SerialQueue>(QStringLiteral("org.corvane.pocket")))
{
    submit([this] {
        std::optional<PocketAccount> account = m_store->load();
        if (!account)
            return;
        onMain([this, account] {
            // A login or logout since the start decides instead.
            if (m_attempt != 0)
                return;
            {
                QMutexLocker lock(&m_mutex);
                m_account = account;
            }
            Q_EMIT accountChanged();
        });
    });
}

PocketClient::~PocketClient()
{
    m_queue.reset(); // runs what was submitted; its replies to the main thread are dropped with this object
}

QString PocketClient::consumerKey() const
{
    const QString configured = m_settings.string(kConsumerKeyKey).trimmed();
    return configured.isEmpty() ? QStringLiteral(CORVANE_POCKET_CONSUMER_KEY) : configured;
}

QUrl PocketClient::baseUrl() const
{
    QString base = m_settings.string(kBaseUrlKey).trimmed();
    if (base.isEmpty())
        base = kDefaultBaseUrl;
    while (base.endsWith(u'/'))
        base.chop(1);
    return QUrl(base);
}

bool PocketClient::isLoggedIn() const
{
    QMutexLocker lock(&m_mutex);
    return m_account.has_value();
}

QString PocketClient::username() const
{
    QMutexLocker lock(&m_mutex);
    return m_account ? m_account->username : QString();
}

void PocketClient::onMain(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

std::optional<QJsonObject> PocketClient::post(const QString &path, QJsonObject body, const QByteArray &httpMethod,
                                              QString *error) const
{
    HttpRequest request;
    request.url = QUrl(baseUrl().toString() + path);
    request.method = httpMethod;
    request.headers = {{QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json; charset=UTF-8")},
                       {QByteArrayLiteral("X-Accept"), QByteArrayLiteral("application/json")}};
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);

    FetchError failure;
    HttpResponse response;
    const std::optional<QByteArray> data = HttpFetcher::shared().send(request, &failure, &response);
    if (failure.isSet()) {
        // Pocket explains its refusals in X-Error.
        const QByteArray reason = response.header(QByteArrayLiteral("X-Error"));
        *error = reason.isEmpty() ? failure.description
                                  : failure.description + QStringLiteral(": ") + QString::fromUtf8(reason);
    } else {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(data.value_or(QByteArray()), &parseError);
        if (document.isObject())
            return document.object();
        *error = QStringLiteral("the reply is not a JSON object");
    }
    logLine(QStringLiteral("Pocket: %1 failed: %2").arg(path, *error));
    return std::nullopt;
}

void PocketClient::logIn()
{
    const quint64 attempt = ++m_attempt;
    m_requestToken.clear();
    if (consumerKey().isEmpty()) {
        const QString error = QStringLiteral(
            "No Pocket consumer key is configured: build with -DCORVANE_POCKET_CONSUMER_KEY=<key> "
            "or set \"PocketConsumerKey\".");
        logLine(QStringLiteral("Pocket: ") + error);
        onMain([this, attempt, error] { finishLogin(attempt, false, error); });
        return;
    }
    requestToken(attempt);
}

void PocketClient::requestToken(quint64 attempt)
{
    const QString key = consumerKey();
    submit([this, attempt, key] {
        QString error;
        const std::optional<QJsonObject> reply =
            post(QStringLiteral("/v3/oauth/request"),
                 {{QStringLiteral("consumer_key"), key}, {QStringLiteral("redirect_uri"), kRedirectUri}},
                 QByteArrayLiteral("POST"), &error);
        const QString code = reply ? text(*reply, QStringLiteral("code")) : QString();
        if (reply && code.isEmpty()) {
            error = QStringLiteral("the reply carries no request token");
            logLine(QStringLiteral("Pocket: /v3/oauth/request failed: ") + error);
        }
        onMain([this, attempt, code, error] {
            if (attempt != m_attempt)
                return;
            if (code.isEmpty()) {
                finishLogin(attempt, false, error);
                return;
            }
            const QUrl authorize(baseUrl().toString() + QStringLiteral("/auth/authorize?request_token=")
                                 + urlEncode(code) + QStringLiteral("&redirect_uri=") + urlEncode(kRedirectUri));
            if (!m_openBrowser || !m_openBrowser(authorize)) {
                finishLogin(attempt, false, QStringLiteral("The browser could not be opened for the Pocket login."));
                return;
            }
            m_requestToken = code;
        });
    });
}

bool PocketClient::handleUrl(const QUrl &url)
{
    // Pocket sends the browser back to exactly the address it was given.
    const QUrl awaited(kRedirectUri);
    if (url.scheme() != awaited.scheme() || url.path() != awaited.path() || m_requestToken.isEmpty()) {
        logLine(QStringLiteral("Pocket: ignoring the call-back address %1").arg(url.toString()));
        return false;
    }
    const quint64 attempt = m_attempt;
    const QString code = std::exchange(m_requestToken, QString());
    const QString key = consumerKey();
    submit([this, attempt, code, key] {
        QString error;
        const std::optional<QJsonObject> reply = post(
            QStringLiteral("/v3/oauth/authorize"),
            {{QStringLiteral("consumer_key"), key}, {QStringLiteral("code"), code}}, QByteArrayLiteral("POST"), &error);
        PocketAccount account;
        if (reply) {
            account = {text(*reply, QStringLiteral("username")), text(*reply, QStringLiteral("access_token"))};
            if (account.accessToken.isEmpty()) {
                error = QStringLiteral("the reply carries no access token");
                logLine(QStringLiteral("Pocket: /v3/oauth/authorize failed: ") + error);
            }
        }
        const bool ok = !account.accessToken.isEmpty();
        onMain([this, attempt, ok, error, account] {
            if (attempt != m_attempt)
                return;
            if (ok) {
                {
                    QMutexLocker lock(&m_mutex);
                    m_account = account;
                }
                submit([this, account] { m_store->save(account); });
                Q_EMIT accountChanged();
            }
            finishLogin(attempt, ok, error);
        });
    });
    return true;
}

void PocketClient::finishLogin(quint64 attempt, bool ok, const QString &error)
{
    if (attempt == m_attempt)
        Q_EMIT loginFinished(ok, error);
}

void PocketClient::logOut()
{
    ++m_attempt;
    m_requestToken.clear();
    {
        QMutexLocker lock(&m_mutex);
        m_account.reset();
    }
    submit([this] { m_store->remove(); });
    Q_EMIT accountChanged();
}

void PocketClient::callAPIMethod(const QString &name, const QByteArray &httpMethod, const QJsonObject &arguments,
                                 Reply reply)
{
    const QString key = consumerKey();
    submit([this, name, httpMethod, arguments, reply = std::move(reply), key] {
        std::optional<PocketAccount> account;
        {
            QMutexLocker lock(&m_mutex);
            account = m_account;
        }
        if (!account) {
            reply(std::nullopt, QStringLiteral("not logged in to Pocket"));
            return;
        }
        QJsonObject body = arguments;
        body.insert(QStringLiteral("consumer_key"), key);
        body.insert(QStringLiteral("access_token"), account->accessToken);
        QString error;
        const std::optional<QJsonObject> answer = post(QStringLiteral("/v3/") + name, body, httpMethod, &error);
        reply(answer, error);
    });
}

void PocketClient::submit(std::function<void()> task)
{
    ++m_pending;
    m_queue->async([this, task = std::move(task)] {
        task();
        --m_pending;
    });
}

void PocketClient::waitForIdle()
{
    // Replies may submit more work; wait for that too.
    do
        m_queue->drain();
    while (m_pending.load() > 0);
}

} // namespace corvane
