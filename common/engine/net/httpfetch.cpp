#include "httpfetch.h"

#include "workerthread.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/settings.h"
#include "base/urltext.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#ifdef CORVANE_HAVE_QTKEYCHAIN
#include <qt6keychain/keychain.h>

#include <QSemaphore>
#endif

#include <atomic>
#include <cmath>
#include <mutex>

namespace corvane {

namespace {

const QString kNoCertificateHostsKey = QStringLiteral("ListOfHostsWhereNoCertificateIsNeeded");

// Credentials asked for in one download, at most; a hook that keeps
// answering wrongly must not loop for ever.
constexpr int kMaxCredentialPrompts = 5;

QString transportErrorText(QNetworkReply::NetworkError error, const QString &fallback)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError: return QStringLiteral("Could not connect to the server.");
    case QNetworkReply::RemoteHostClosedError: return QStringLiteral("The network connection was lost.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case QNetworkReply::TimeoutError: return QStringLiteral("The request timed out.");
    case QNetworkReply::OperationCanceledError: return QStringLiteral("The request was cancelled.");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("A secure connection to the server cannot be made.");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return QStringLiteral("The network connection appears to be offline.");
    case QNetworkReply::TooManyRedirectsError: return QStringLiteral("Too many HTTP redirects.");
    case QNetworkReply::InsecureRedirectError: return QStringLiteral("The server redirected to an insecure location.");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError: return QStringLiteral("Could not connect to the proxy server.");
    case QNetworkReply::ProxyNotFoundError: return QStringLiteral("The proxy server could not be found.");
    case QNetworkReply::ProxyTimeoutError: return QStringLiteral("The proxy server did not answer in time.");
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("The proxy server requires authentication.");
    case QNetworkReply::AuthenticationRequiredError: return QStringLiteral("The server requires authentication.");
    case QNetworkReply::ProtocolUnknownError: return QStringLiteral("The URL's scheme is not supported.");
    case QNetworkReply::ProtocolFailure: return QStringLiteral("The server's answer could not be understood.");
    case QNetworkReply::ContentNotFoundError: return QStringLiteral("The file does not exist.");
    case QNetworkReply::ContentAccessDenied: return QStringLiteral("The file cannot be read.");
    default: return fallback.isEmpty() ? QStringLiteral("The download failed.") : fallback;
    }
}

// Errors that end a transfer even though a response (a redirect, say) had a status.
bool transportErrorDespiteStatus(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::TooManyRedirectsError || error == QNetworkReply::InsecureRedirectError
           || error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::OperationCanceledError
           || error == QNetworkReply::TimeoutError;
}

} // namespace

const QByteArray HttpFetcher::kUserAgent = QByteArrayLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_8_3) AppleWebKit/536.28.10 (KHTML, like Gecko) Version/6.0.3 "
    "Safari/536.28.10");
const QString HttpFetcher::kKeychainService = QStringLiteral("Corvane");

QByteArray HttpResponse::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

struct HttpFetcher::Private
{
    std::atomic<int> timeoutMs{30000};

    std::mutex proxyMutex;
    QNetworkProxy proxy;

    // Hosts whose certificate the user declined to trust, and a lock so that
    // downloads from the same host ask one after the other (the second finds
    // the first one's answer).
    std::mutex trustMutex;
    QSet<QString> declinedHosts;

    std::mutex stateMutex; // the declined hosts, and read-modify-write of the trusted ones
};

HttpFetcher::HttpFetcher()
    : d(new Private)
{
    keychainLookup = [](const QString &host) { return lookUpKeychain(host); };
}

HttpFetcher::~HttpFetcher()
{
    delete d;
}

HttpFetcher &HttpFetcher::shared()
{
    // Never destroyed: pool threads may still be downloading at exit.
    static HttpFetcher *fetcher = new HttpFetcher;
    return *fetcher;
}

void HttpFetcher::setTimeoutSeconds(double seconds)
{
    d->timeoutMs.store(int(std::clamp(std::ceil(seconds * 1000.0), 1.0, 24.0 * 3600 * 1000)));
}

void HttpFetcher::setProxy(const QNetworkProxy &proxy)
{
    std::lock_guard lock(d->proxyMutex);
    d->proxy = proxy;
}

std::optional<QByteArray> HttpFetcher::send(const HttpRequest &request, FetchError *error, HttpResponse *response)
{
    CORVANE_ASSERT(!detail::HttpWorker::shared().isCurrent(), "a download cannot wait on the network thread");
    if (error)
        *error = FetchError();
    if (response)
        *response = HttpResponse();
    const auto fail = [error](const QString &domain, int code, const QString &description) {
        if (error)
            *error = FetchError{domain, code, description};
    };
    if (!isWebURL(request.url)) {
        fail(kCorvaneErrorDomain, corvaneerror::kUnsupportedScheme, QStringLiteral("The URL's scheme is not supported."));
        return std::nullopt;
    }

    // User info of the URL is a credential to answer a challenge with, not
    // something to send along.
    std::optional<Credential> credential;
    if (!request.url.userName().isEmpty())
        credential = Credential{request.url.userName(QUrl::FullyDecoded), request.url.password(QUrl::FullyDecoded)};
    QUrl target = request.url;
    target.setUserInfo(QString());
    const QString host = target.host();

    QNetworkProxy proxy;
    {
        std::lock_guard lock(d->proxyMutex);
        proxy = d->proxy;
    }

    std::optional<Credential> tried;
    bool keychainAsked = false;
    bool certificateRetried = false;
    int prompts = 0;
    std::shared_ptr<detail::HttpTransfer> transfer;
    for (;;) {
        transfer = std::make_shared<detail::HttpTransfer>();
        transfer->url = target;
        transfer->method = request.method;
        transfer->requestHeaders = request.headers;
        transfer->requestBody = request.body;
        transfer->usingCache = request.usingCache;
        transfer->timeoutMs = request.timeoutSeconds > 0
                                  ? int(std::clamp(std::ceil(request.timeoutSeconds * 1000.0), 1.0, 24.0 * 3600 * 1000))
                                  : d->timeoutMs.load();
        transfer->proxy = proxy;
        transfer->credential = credential;
        detail::HttpWorker::shared().run(transfer);

        if (transfer->challengeUnanswered && !transfer->tooLarge && !transfer->undecodable && !transfer->timedOut) {
            // The credential offered (if any) was refused, or there was none.
            if (credential)
                tried = credential;
            credential.reset();
            if (!tried && !keychainAsked) {
                keychainAsked = true;
                if (keychainLookup)
                    credential = keychainLookup(host);
            }
            if (!credential && retrieveCredentials && prompts < kMaxCredentialPrompts) {
                ++prompts;
                credential = retrieveCredentials(target.toString(), tried);
            }
            if (credential)
                continue;
        }

        if (!transfer->certificateHost.isEmpty() && transfer->error == QNetworkReply::SslHandshakeFailedError
            && !certificateRetried) {
            certificateRetried = true;
            if (trustCertificate(transfer->certificateHost, transfer->certificateErrors))
                continue;
        }
        break;
    }

    if (response) {
        response->status = transfer->status;
        response->url = transfer->finalUrl.isEmpty() ? target : transfer->finalUrl;
        response->headers = std::move(transfer->responseHeaders);
    }

    if (transfer->tooLarge) {
        fail(kCorvaneErrorDomain, corvaneerror::kDownloadTooLarge, QStringLiteral("Download too large"));
        return std::nullopt;
    }
    if (transfer->undecodable) {
        fail(kCorvaneErrorDomain, corvaneerror::kUndecodableBody, QStringLiteral("The server's data could not be decompressed"));
        return std::nullopt;
    }
    if (transfer->timedOut) {
        fail(kNetworkErrorDomain, QNetworkReply::TimeoutError, transportErrorText(QNetworkReply::TimeoutError, {}));
        return std::nullopt;
    }
    if (transfer->unsupportedRedirect) {
        fail(kCorvaneErrorDomain, corvaneerror::kUnsupportedScheme, QStringLiteral("The URL's scheme is not supported."));
        return std::nullopt;
    }
    const int status = transfer->status;
    if (status != 0 && !transportErrorDespiteStatus(transfer->error)) {
        if (status < 200 || status > 299)
            fail(kHTTPResponseErrorDomain, status, QStringLiteral("%1 %2").arg(status).arg(statusText(status)));
        else if (transfer->error != QNetworkReply::NoError)
            fail(kNetworkErrorDomain, int(transfer->error), transportErrorText(transfer->error, transfer->errorString));
        return std::move(transfer->body);
    }
    fail(kNetworkErrorDomain, int(transfer->error), transportErrorText(transfer->error, transfer->errorString));
    return std::nullopt;
}

std::optional<QByteArray> HttpFetcher::dataFromURL(const QUrl &url, bool usingCache, FetchError *error,
                                                   HttpResponse *response)
{
    return dataFromURL(HttpRequest::get(url, usingCache), error, response);
}

std::optional<QByteArray> HttpFetcher::dataFromURL(const HttpRequest &request, FetchError *error,
                                                   HttpResponse *response)
{
    FetchError own;
    FetchError *slot = error ? error : &own;
    HttpResponse received;
    std::optional<QByteArray> body = send(request, slot, &received);
    const int status = received.status;
    if (response)
        *response = std::move(received);
    if (!body)
        return std::nullopt;
    if (status == 200 && !slot->isSet())
        return body;
    if (!slot->isSet())
        *slot = FetchError{kHTTPResponseErrorDomain, status, QStringLiteral("%1 %2").arg(status).arg(statusText(status))};
    if (status == 404 && slot->domain == kHTTPResponseErrorDomain)
        return body;
    return std::nullopt;
}

// Asks the hook on the main thread whether to trust `host`. A yes goes into
// the settings so the retry (and later downloads) accept its certificate.
bool HttpFetcher::trustCertificate(const QString &host, const QString &errorText)
{
    const QString key = host.toLower();
    // The main thread asks without the lock: a pool thread holding it may be
    // waiting for the main thread.
    const bool onMainThread = dispatch::isMainThread();
    std::unique_lock lock(d->trustMutex, std::defer_lock);
    if (!onMainThread)
        lock.lock();
    if (allowsAnyHTTPSCertificateForHost(host))
        return true; // trusted meanwhile by another download
    {
        std::lock_guard state(d->stateMutex);
        if (d->declinedHosts.contains(key))
            return false;
    }
    bool trust = false;
    QCoreApplication *app = QCoreApplication::instance();
    if (askToTrustCertificate && app) {
        if (onMainThread)
            trust = askToTrustCertificate(host, errorText);
        else
            QMetaObject::invokeMethod(
                app, [&] { trust = askToTrustCertificate(host, errorText); }, Qt::BlockingQueuedConnection);
    }
    std::lock_guard state(d->stateMutex);
    if (!trust) {
        d->declinedHosts.insert(key);
        return false;
    }
    QStringList hosts = Settings::shared().value(kNoCertificateHostsKey).toStringList();
    if (!hosts.contains(host, Qt::CaseInsensitive)) {
        hosts.append(host);
        Settings::shared().setValue(kNoCertificateHostsKey, hosts);
    }
    return true;
}

bool HttpFetcher::allowsAnyHTTPSCertificateForHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    const QStringList hosts = Settings::shared().value(kNoCertificateHostsKey).toStringList();
    return hosts.contains(host, Qt::CaseInsensitive);
}

QString HttpFetcher::statusText(int status)
{
    switch (status) {
    case 100: return QStringLiteral("Continue");
    case 101: return QStringLiteral("Switching Protocols");
    case 200: return QStringLiteral("OK");
    case 201: return QStringLiteral("Created");
    case 202: return QStringLiteral("Accepted");
    case 203: return QStringLiteral("Non-Authoritative Information");
    case 204: return QStringLiteral("No Content");
    case 205: return QStringLiteral("Reset Content");
    case 206: return QStringLiteral("Partial Content");
    case 300: return QStringLiteral("Multiple Choices");
    case 301: return QStringLiteral("Moved Permanently");
    case 302: return QStringLiteral("Found");
    case 303: return QStringLiteral("See Other");
    case 304: return QStringLiteral("Not Modified");
    case 305: return QStringLiteral("Use Proxy");
    case 307: return QStringLiteral("Temporary Redirect");
    case 308: return QStringLiteral("Permanent Redirect");
    case 400: return QStringLiteral("Bad Request");
    case 401: return QStringLiteral("Unauthorized");
    case 402: return QStringLiteral("Payment Required");
    case 403: return QStringLiteral("Forbidden");
    case 404: return QStringLiteral("Not Found");
    case 405: return QStringLiteral("Method Not Allowed");
    case 406: return QStringLiteral("Not Acceptable");
    case 407: return QStringLiteral("Proxy Authentication Required");
    case 408: return QStringLiteral("Request Timeout");
    case 409: return QStringLiteral("Conflict");
    case 410: return QStringLiteral("Gone");
    case 411: return QStringLiteral("Length Required");
    case 412: return QStringLiteral("Precondition Failed");
    case 413: return QStringLiteral("Content Too Large");
    case 414: return QStringLiteral("URI Too Long");
    case 415: return QStringLiteral("Unsupported Media Type");
    case 416: return QStringLiteral("Range Not Satisfiable");
    case 417: return QStringLiteral("Expectation Failed");
    case 418: return QStringLiteral("I'm a teapot");
    case 421: return QStringLiteral("Misdirected Request");
    case 422: return QStringLiteral("Unprocessable Content");
    case 425: return QStringLiteral("Too Early");
    case 426: return QStringLiteral("Upgrade Required");
    case 428: return QStringLiteral("Precondition Required");
    case 429: return QStringLiteral("Too Many Requests");
    case 431: return QStringLiteral("Request Header Fields Too Large");
    case 451: return QStringLiteral("Unavailable For Legal Reasons");
    case 500: return QStringLiteral("Internal Server Error");
    case 501: return QStringLiteral("Not Implemented");
    case 502: return QStringLiteral("Bad Gateway");
    case 503: return QStringLiteral("Service Unavailable");
    case 504: return QStringLiteral("Gateway Timeout");
    case 505: return QStringLiteral("HTTP Version Not Supported");
    case 507: return QStringLiteral("Insufficient Storage");
    case 508: return QStringLiteral("Loop Detected");
    case 511: return QStringLiteral("Network Authentication Required");
    default: break;
    }
    if (status >= 100 && status < 200)
        return QStringLiteral("Informational");
    if (status >= 200 && status < 300)
        return QStringLiteral("Success");
    if (status >= 300 && status < 400)
        return QStringLiteral("Redirection");
    if (status >= 400 && status < 500)
        return QStringLiteral("Client Error");
    return QStringLiteral("Server Error");
}

QByteArray HttpFetcher::keychainEntry(const Credential &credential)
{
    QJsonObject object;
    object.insert(QStringLiteral("user"), credential.user);
    object.insert(QStringLiteral("password"), credential.password);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Credential> HttpFetcher::credentialFromKeychainEntry(const QByteArray &entry)
{
    const QJsonDocument document = QJsonDocument::fromJson(entry);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue user = object.value(QStringLiteral("user"));
    const QJsonValue password = object.value(QStringLiteral("password"));
    if (!user.isString() || user.toString().isEmpty() || !password.isString())
        return std::nullopt;
    return Credential{user.toString(), password.toString()};
}

std::optional<Credential> HttpFetcher::lookUpKeychain(const QString &host, double timeoutSeconds)
{
#ifdef CORVANE_HAVE_QTKEYCHAIN
    if (host.isEmpty())
        return std::nullopt;
    // The job needs an event loop; it gets one thread of its own, so neither
    // the caller's nor the network thread's loop matters. A job that outlives
    // the wait finishes into the shared state and is dropped.
    struct Lookup
    {
        QSemaphore done;
        std::mutex mutex;
        std::optional<Credential> credential;
    };
    static dispatch::SerialQueue *queue = new dispatch::SerialQueue(QStringLiteral("org.corvane.keychain"));
    auto lookup = std::make_shared<Lookup>();
    queue->async([lookup, host] {
        auto *job = new QKeychain::ReadPasswordJob(kKeychainService);
        job->setAutoDelete(true);
        job->setKey(host);
        QObject::connect(job, &QKeychain::Job::finished, job, [lookup, job] {
            if (job->error() == QKeychain::NoError) {
                std::lock_guard lock(lookup->mutex);
                lookup->credential = credentialFromKeychainEntry(job->binaryData());
            }
            lookup->done.release();
        });
        job->start();
    });
    if (!lookup->done.tryAcquire(1, int(std::clamp(timeoutSeconds * 1000.0, 0.0, 3600.0 * 1000))))
        return std::nullopt;
    std::lock_guard lock(lookup->mutex);
    return lookup->credential;
#else
    Q_UNUSED(host);
    Q_UNUSED(timeoutSeconds);
    return std::nullopt;
#endif
}

} // namespace corvane
