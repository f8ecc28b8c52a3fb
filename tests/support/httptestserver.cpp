#include "httptestserver.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace corvane::test {

namespace {

constexpr qsizetype kMaxRequestHead = 64 * 1024;
constexpr qsizetype kMaxRequestBody = 1024 * 1024;
constexpr qsizetype kEndlessChunk = 64 * 1024;

QByteArray standardReason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 410: return "Gone";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool hasHeader(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    return std::any_of(headers.cbegin(), headers.cend(),
                       [&](const auto &header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
}

QString withoutQuery(const QString &path)
{
    const qsizetype question = path.indexOf(QLatin1Char('?'));
    return question < 0 ? path : path.left(question);
}

// The state of one accepted connection; a child of its socket.
class Connection : public QObject
{
public:
    using QObject::QObject;
    QByteArray buffer;
    HttpTestServer::Request request;
    qsizetype bodyRemaining = -1; // -1 while the request head is incomplete
    bool taken = false;           // the request was taken; later bytes are ignored
    bool counted = false;         // counted as in progress
};

// Request line and header lines, without the blank line that ends them.
HttpTestServer::Request parseHead(const QByteArray &head)
{
    HttpTestServer::Request request;
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    if (target.startsWith("http://") || target.startsWith("https://")) {
        // Absolute form, as sent to a proxy.
        const QUrl url = QUrl::fromEncoded(target);
        request.host = url.host();
        request.path = QString::fromLatin1(url.path(QUrl::FullyEncoded).toLatin1());
        if (request.path.isEmpty())
            request.path = QStringLiteral("/");
        if (url.hasQuery())
            request.path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    } else {
        request.path = QString::fromLatin1(target);
        request.host = QUrl(QStringLiteral("http://") + QString::fromLatin1(request.header("Host"))).host();
    }
    return request;
}

} // namespace

QByteArray HttpTestServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

struct HttpTestServer::Private
{
    QThread thread;
    QObject *context = nullptr; // lives on the thread; parent of the listening server
    QTcpServer *server = nullptr;
    quint16 port = 0;

    mutable std::mutex mutex;
    QHash<QString, Response> routes; // "path" or "host/path"
    std::function<std::optional<Response>(const Request &)> handler;
    QList<Request> requests;
    int inProgress = 0;
    int maxConcurrent = 0;
    int connections = 0;
    std::atomic<qint64> endlessBytes{0};

    void accept();
    void read(QTcpSocket *socket, Connection *connection);
    void take(QTcpSocket *socket, Connection *connection);
    void answer(QTcpSocket *socket, const Response &response, bool head);
    void feedEndless(QTcpSocket *socket);
    void finished(Connection *connection);
    Response route(const Request &request);
};

void HttpTestServer::Private::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        {
            std::lock_guard lock(mutex);
            ++connections;
        }
        auto *connection = new Connection(socket);
        QObject::connect(socket, &QTcpSocket::readyRead, connection, [this, socket, connection] {
            read(socket, connection);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, connection, [this, socket, connection] {
            finished(connection);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            read(socket, connection);
    }
}

void HttpTestServer::Private::read(QTcpSocket *socket, Connection *connection)
{
    if (connection->taken) {
        socket->readAll();
        return;
    }
    connection->buffer += socket->readAll();
    if (connection->bodyRemaining < 0) {
        const qsizetype end = connection->buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (connection->buffer.size() > kMaxRequestHead)
                socket->abort();
            return;
        }
        connection->request = parseHead(connection->buffer.left(end));
        connection->bodyRemaining = std::max<qsizetype>(0, connection->request.header("Content-Length").toLongLong());
        connection->buffer.remove(0, end + 4);
    }
    // A request body is read; its start is kept for the handler.
    const qsizetype consumed = std::min(connection->bodyRemaining, connection->buffer.size());
    const qsizetype kept = std::min(consumed, kMaxRequestBody - connection->request.body.size());
    if (kept > 0)
        connection->request.body += connection->buffer.left(kept);
    connection->buffer.remove(0, consumed);
    connection->bodyRemaining -= consumed;
    if (connection->bodyRemaining > 0)
        return;
    connection->taken = true;
    take(socket, connection);
}

void HttpTestServer::Private::take(QTcpSocket *socket, Connection *connection)
{
    const Request &request = connection->request;
    std::function<std::optional<Response>(const Request &)> currentHandler;
    {
        std::lock_guard lock(mutex);
        requests.append(request);
        connection->counted = true;
        maxConcurrent = std::max(maxConcurrent, ++inProgress);
        currentHandler = handler;
    }
    std::optional<Response> response;
    if (currentHandler)
        response = currentHandler(request);
    if (!response)
        response = route(request);
    if (response->neverAnswer)
        return;
    const bool head = request.method == "HEAD";
    if (response->delayMs > 0) {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(response->delayMs, connection, [this, guarded, response = *response, head] {
            if (guarded)
                answer(guarded, response, head);
        });
        return;
    }
    answer(socket, *response, head);
}

HttpTestServer::Response HttpTestServer::Private::route(const Request &request)
{
    std::lock_guard lock(mutex);
    const QString path = withoutQuery(request.path);
    const QString keys[] = {request.host + request.path, request.host + path, request.path, path};
    for (const QString &key : keys) {
        const auto it = routes.constFind(key);
        if (it != routes.cend())
            return *it;
    }
    Response notFound;
    notFound.status = 404;
    notFound.headers = {{"Content-Type", "text/html"}};
    notFound.body = "<html><body><h1>Not Found</h1></body></html>";
    return notFound;
}

void HttpTestServer::Private::answer(QTcpSocket *socket, const Response &response, bool head)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                     + (response.reason.isEmpty() ? standardReason(response.status) : response.reason) + "\r\n";
    for (const auto &[name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    if (!response.endlessBody && !hasHeader(response.headers, "Content-Length"))
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!hasHeader(response.headers, "Connection"))
        out += "Connection: close\r\n";
    out += "\r\n";
    if (!head)
        out += response.body;
    socket->write(out);
    if (response.endlessBody && !head) {
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] { feedEndless(socket); });
        feedEndless(socket);
        return;
    }
    socket->disconnectFromHost(); // after what was written has gone out
}

// Keeps a little data queued until the client goes away.
void HttpTestServer::Private::feedEndless(QTcpSocket *socket)
{
    static const QByteArray chunk(kEndlessChunk, 'x');
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * kEndlessChunk) {
        socket->write(chunk);
        endlessBytes += chunk.size();
    }
}

void HttpTestServer::Private::finished(Connection *connection)
{
    if (!connection->counted)
        return;
    connection->counted = false;
    std::lock_guard lock(mutex);
    --inProgress;
}

HttpTestServer::HttpTestServer()
    : d(std::make_unique<Private>())
{
    d->thread.setObjectName(QStringLiteral("HttpTestServer"));
    d->context = new QObject;
    d->context->moveToThread(&d->thread);
    d->thread.start();
    QMetaObject::invokeMethod(
        d->context,
        [this] {
            d->server = new QTcpServer(d->context);
            d->server->setListenBacklogSize(256);
            d->server->setMaxPendingConnections(256);
            QObject::connect(d->server, &QTcpServer::newConnection, d->server, [this] { d->accept(); });
            if (d->server->listen(QHostAddress::LocalHost, 0))
                d->port = d->server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

HttpTestServer::~HttpTestServer()
{
    // Sockets still open are children of the server and go with it.
    QMetaObject::invokeMethod(d->context, [this] { delete d->context; }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
}

quint16 HttpTestServer::port() const
{
    return d->port;
}

QUrl HttpTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(d->port).arg(path));
}

QNetworkProxy HttpTestServer::proxy() const
{
    return QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), d->port);
}

void HttpTestServer::setResponse(const QString &path, const Response &response, const QString &host)
{
    std::lock_guard lock(d->mutex);
    d->routes.insert(host + path, response);
}

void HttpTestServer::setHandler(std::function<std::optional<Response>(const Request &)> handler)
{
    std::lock_guard lock(d->mutex);
    d->handler = std::move(handler);
}

int HttpTestServer::requestCount(const QString &path) const
{
    std::lock_guard lock(d->mutex);
    if (path.isEmpty())
        return int(d->requests.size());
    return int(std::count_if(d->requests.cbegin(), d->requests.cend(), [&](const Request &request) {
        return request.path == path || withoutQuery(request.path) == path;
    }));
}

QList<HttpTestServer::Request> HttpTestServer::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int HttpTestServer::maxConcurrentRequests() const
{
    std::lock_guard lock(d->mutex);
    return d->maxConcurrent;
}

int HttpTestServer::connectionCount() const
{
    std::lock_guard lock(d->mutex);
    return d->connections;
}

qint64 HttpTestServer::endlessBodyBytesSent() const
{
    return d->endlessBytes.load();
}

void HttpTestServer::resetCounters()
{
    std::lock_guard lock(d->mutex);
    d->requests.clear();
    d->maxConcurrent = d->inProgress;
    d->connections = 0;
    d->endlessBytes = 0;
}

} // namespace corvane::test
