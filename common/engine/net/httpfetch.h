#pragma once

#include "errors.h"
#include "httprequest.h"

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace corvane {

struct FetchError
{
    QString domain;      // kHTTPResponseErrorDomain, kNetworkErrorDomain or kCorvaneErrorDomain (errors.h)
    int code = 0;        // the HTTP status, the QNetworkReply::NetworkError, or one of corvaneerror
    QString description; // HTTP: "404 Not Found"; otherwise a short English text
    bool isSet() const { return !domain.isEmpty(); }
};

struct HttpResponse
{
    int status = 0; // 0 when no HTTP response arrived
    QUrl url;       // final URL after redirects
    QList<QPair<QByteArray, QByteArray>> headers;
    // Case-insensitive; empty when absent.
    QByteArray header(const QByteArray &name) const;
};

struct Credential
{
    QString user;
    QString password;
};

// HTTP and HTTPS requests for the engine and its account clients. All
// transfers run on one worker thread that owns the network access manager
// and the disk cache; callers on pool threads block until their transfer has
// finished, and many may do so at once. Only http and https URLs are opened:
// any other scheme (file:, data:, ftp:) fails with kUnsupportedScheme before
// anything is touched, and redirects never leave http and https either.
class HttpFetcher
{
public:
    static HttpFetcher &shared();

    // Blocking request, for use off the main thread. Returns the body
    // whenever the server answered; a status outside 200-299 also sets
    // `error` (domain kHTTPResponseErrorDomain, code the status, description
    // "<status> <text>"). Without an HTTP response, returns none and the
    // connection's error. A body over kMaxBodyBytes (counted after
    // decompression) ends the transfer with error kDownloadTooLarge. Bodies
    // are asked for gzip or deflate encoded and inflated here; headers are
    // those the server sent.
    std::optional<QByteArray> send(const HttpRequest &request, FetchError *error = nullptr,
                                   HttpResponse *response = nullptr);

    // Blocking GET with the download rules of feeds and icons: returns the
    // body for status 200. Another HTTP status sets `error` as send() does
    // and returns the body only for 404. With `usingCache` the HTTP cache may
    // answer by the protocol's rules; without, the network is always asked.
    std::optional<QByteArray> dataFromURL(const QUrl &url, bool usingCache, FetchError *error = nullptr,
                                          HttpResponse *response = nullptr);
    // The same rules for a GET with headers of its own (a conditional GET).
    std::optional<QByteArray> dataFromURL(const HttpRequest &request, FetchError *error = nullptr,
                                          HttpResponse *response = nullptr);


    // True when `host` is in the setting "ListOfHostsWhereNoCertificateIsNeeded".
    static bool allowsAnyHTTPSCertificateForHost(const QString &host);

    // The short English text of an HTTP status ("Not Found").
    static QString statusText(int status);

    void setTimeoutSeconds(double seconds); // without any data for this long a transfer fails; default 30
    void setProxy(const QNetworkProxy &proxy);

    // Hooks, set once at start-up. Each is called on the thread that called
    // dataFromURL, never on the worker thread, so a slow answer holds up only
    // its own download.
    //
    // Asked for a credential when the server wants one and neither the URL's
    // user info nor the keychain had it (or it was refused). Gets the URL text
    // (without password) and the credential last tried, if any. None declines
    // (the default): the download ends with the server's 401.
    std::function<std::optional<Credential>(const QString &urlText, const std::optional<Credential> &proposed)>
        retrieveCredentials;
    // Asked, on the main thread, whether to trust a host whose certificate did
    // not verify. Yes adds the host to "ListOfHostsWhereNoCertificateIsNeeded"
    // and the download is tried once more; no (the default, and always without
    // an application object) fails it, and the host is not asked about again
    // while the process runs.
    std::function<bool(const QString &host, const QString &errorText)> askToTrustCertificate;
    // The internet password saved for a host. Defaults to the desktop's secret
    // service through QtKeychain (entries of service kKeychainService keyed by
    // host, see keychainEntry()); a machine without one simply has none.
    std::function<std::optional<Credential>(const QString &host)> keychainLookup;

    static const QByteArray kUserAgent;
    static const QString kKeychainService;
    static constexpr qint64 kMaxBodyBytes = 20 * 1024 * 1024;

    // How a credential is kept in the keychain: a small JSON object.
    static QByteArray keychainEntry(const Credential &credential);
    static std::optional<Credential> credentialFromKeychainEntry(const QByteArray &entry);
    // The default keychainLookup: QtKeychain, waiting at most `timeoutSeconds`
    // (a locked keyring may ask the user to unlock it).
    static std::optional<Credential> lookUpKeychain(const QString &host, double timeoutSeconds = 30);

private:
    HttpFetcher();
    ~HttpFetcher();
    HttpFetcher(const HttpFetcher &) = delete;
    HttpFetcher &operator=(const HttpFetcher &) = delete;

    bool trustCertificate(const QString &host, const QString &errorText);

    struct Private;
    Private *d;
};

} // namespace corvane
