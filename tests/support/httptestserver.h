#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace corvane::test {

// A small HTTP/1.1 server on 127.0.0.1 for tests, running on its own thread
// (tests block their own thread in downloads). Answers come from a handler,
// else from the responses set per path (or per host and path), else 404.
// Every answer closes its connection. It also serves as an HTTP proxy:
// absolute-form targets are routed by their host and path, so any host name
// reaches it.
class HttpTestServer
{
public:
    struct Request
    {
        QByteArray method;
        QString host; // without the port
        QString path; // path and query as sent (origin form, or taken from an absolute-form target)
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body; // by Content-Length; the first MiB is kept

        // Case-insensitive; empty when absent.
        QByteArray header(const QByteArray &name) const;
    };

    struct Response
    {
        int status = 200;
        QByteArray reason; // empty: the standard text of the status
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;          // wait before answering
        bool neverAnswer = false; // accept, read the request, never answer
        bool endlessBody = false; // keep sending body bytes until the client goes away
    };

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    quint16 port() const;
    QUrl url(const QString &path) const;
    QNetworkProxy proxy() const;

    // With a host, the response answers only requests for that host.
    void setResponse(const QString &path, const Response &response, const QString &host = QString());
    // Consulted first, on the server's thread; none falls through to the routes.
    void setHandler(std::function<std::optional<Response>(const Request &)> handler);

    // Requests received for `path` (as sent, or without its query), or in all with an empty path.
    int requestCount(const QString &path = QString()) const;
    QList<Request> requests() const;
    // The most requests in progress at once: received, and not yet answered in full.
    int maxConcurrentRequests() const;
    // Connections accepted, whether or not a request came on them.
    int connectionCount() const;
    // Body bytes written for endlessBody responses (a Content-Length header
    // set on such a response bounds what the client reads).
    qint64 endlessBodyBytesSent() const;
    void resetCounters();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvane::test
