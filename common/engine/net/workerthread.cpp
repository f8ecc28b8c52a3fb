#include "workerthread.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/urltext.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QSslError>
#include <QThread>
#include <QTimer>

#include <zlib.h>

#include <utility>

namespace corvane::detail {

namespace {

// Redirect loops end with TooManyRedirectsError after this many hops.
constexpr int kMaxRedirects = 20;
// Reads from the network pause while this much is waiting to be taken.
constexpr qint64 kReadBufferBytes = 1024 * 1024;

// Inflates a gzip or deflate body as it arrives. The body is inflated here
// rather than by Qt so that inflating stops at the size limit: a small
// hostile body cannot cost more memory or time than a large honest one.
class Inflater
{
public:
    enum class Result { Ok, TooLarge, Corrupt };

    explicit Inflater(bool gzip)
        : m_gzip(gzip)
    {
    }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // Appends what `input` inflates to into `out`, which may hold at most `limit` bytes.
    Result feed(const QByteArray &input, QByteArray &out, qint64 limit)
    {
        if (!m_ready) {
            // "deflate" should be a zlib stream, but some servers send raw
            // deflate data; the first two bytes tell which.
            m_pending += input;
            if (!m_gzip && m_pending.size() < 2)
                return Result::Ok;
            const auto b0 = uchar(m_pending[0]);
            const bool zlibHeader = !m_gzip && (b0 & 0x0F) == 8 && ((b0 << 8) | uchar(m_pending[1])) % 31 == 0;
            // 15 + 32 reads gzip (and zlib) headers, -15 raw deflate.
            if (inflateInit2(&m_stream, m_gzip ? 15 + 32 : zlibHeader ? 15 : -15) != Z_OK)
                return Result::Corrupt;
            m_ready = true;
            const QByteArray first = std::exchange(m_pending, QByteArray());
            return inflateInto(first, out, limit);
        }
        return inflateInto(input, out, limit);
    }

private:
    Result inflateInto(const QByteArray &input, QByteArray &out, qint64 limit)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
        m_stream.avail_in = uInt(input.size());
        char buffer[64 * 1024];
        while (m_stream.avail_in > 0 && !m_ended) {
            m_stream.next_out = reinterpret_cast<Bytef *>(buffer);
            m_stream.avail_out = sizeof buffer;
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return Result::Corrupt;
            const qsizetype produced = qsizetype(sizeof buffer - m_stream.avail_out);
            if (out.size() + produced > limit)
                return Result::TooLarge;
            out.append(buffer, produced);
            if (status == Z_STREAM_END) {
                // A gzip body may hold several members, one after the other.
                if (m_gzip && m_stream.avail_in > 0 && inflateReset(&m_stream) == Z_OK)
                    continue;
                m_ended = true; // anything after the end is ignored
            } else if (status == Z_BUF_ERROR) {
                break;
            }
        }
        return Result::Ok;
    }

    z_stream m_stream{};
    const bool m_gzip;
    bool m_ready = false;
    bool m_ended = false;
    QByteArray m_pending;
};

} // namespace

void HttpTransfer::wait()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_finished; });
}

void HttpTransfer::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
}

struct HttpWorker::Private
{
    QThread thread;
    QObject *context = nullptr; // lives on the thread

    std::mutex stateMutex;
    bool stopped = false;

    // Worker thread only. Feeds are validated by their own conditional GET
    // and go through a manager without a cache, which would otherwise be
    // consulted on every answer; what may come from the cache (icons, pages)
    // goes through the other, made on first use.
    QNetworkAccessManager *manager = nullptr;
    QNetworkAccessManager *cachingManager = nullptr;
    QHash<QNetworkReply *, std::shared_ptr<HttpTransfer>> transfers;
    // The body's decoder, made when its first bytes arrive (null: the body is not encoded).
    QHash<QNetworkReply *, std::shared_ptr<Inflater>> inflaters;

    QNetworkAccessManager *managerFor(bool usingCache);
    void start(const std::shared_ptr<HttpTransfer> &transfer);
    void take(QNetworkReply *reply, HttpTransfer &transfer);
    void finished(QNetworkReply *reply);
    void authenticate(QNetworkReply *reply, QAuthenticator *authenticator);
    void certificateErrors(QNetworkReply *reply, const QList<QSslError> &errors);
    void stop();
};

QNetworkAccessManager *HttpWorker::Private::managerFor(bool usingCache)
{
    QNetworkAccessManager *&made = usingCache ? cachingManager : manager;
    if (made)
        return made;
    made = new QNetworkAccessManager(context);
    if (usingCache) {
        auto *cache = new QNetworkDiskCache(made);
        cache->setCacheDirectory(QDir(paths::cachesDir()).filePath(QStringLiteral("http")));
        made->setCache(cache);
    }
    made->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QObject::connect(made, &QNetworkAccessManager::authenticationRequired, made,
                     [this](QNetworkReply *reply, QAuthenticator *authenticator) { authenticate(reply, authenticator); });
    return made;
}

void HttpWorker::Private::start(const std::shared_ptr<HttpTransfer> &transfer)
{
    {
        std::lock_guard lock(stateMutex);
        if (stopped) {
            transfer->error = QNetworkReply::OperationCanceledError;
            transfer->finish();
            return;
        }
    }
    QNetworkAccessManager *const manager = managerFor(transfer->usingCache);
    if (manager->proxy() != transfer->proxy)
        manager->setProxy(transfer->proxy);

    if (!isWebURL(transfer->url)) {
        transfer->unsupportedRedirect = true;
        transfer->error = QNetworkReply::ProtocolUnknownError;
        transfer->finish();
        return;
    }
    QNetworkRequest request(transfer->url);
    for (const auto &[name, value] : std::as_const(transfer->requestHeaders))
        request.setRawHeader(name, value);
    request.setRawHeader("User-Agent", HttpFetcher::kUserAgent);
    // What may not come from the cache is not written to it either: with an
    // entry for the URL Qt reports a later error status as the entry's 200.
    if (!transfer->usingCache)
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Asking for the encodings ourselves keeps Qt from inflating the body: take() does.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");

    QNetworkReply *reply = nullptr;
    if (transfer->method == "GET" && transfer->requestBody.isEmpty())
        reply = manager->get(request);
    else
        reply = manager->sendCustomRequest(request, transfer->method, transfer->requestBody);
    reply->setReadBufferSize(kReadBufferBytes);
    transfers.insert(reply, transfer);

    // Ends a transfer that has gone quiet for the timeout (a server that
    // accepts and never answers, or stops half-way).
    auto *idle = new QTimer(reply);
    idle->setSingleShot(true);
    idle->setInterval(transfer->timeoutMs);
    QObject::connect(idle, &QTimer::timeout, reply, [reply, transfer] {
        transfer->timedOut = true;
        reply->abort();
    });
    const auto activity = [idle] { idle->start(); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, idle, activity);
    QObject::connect(reply, &QNetworkReply::redirected, idle, activity);
    QObject::connect(reply, &QNetworkReply::downloadProgress, idle, activity);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, reply, idle, transfer] {
        idle->start();
        take(reply, *transfer);
    });
    QObject::connect(reply, &QNetworkReply::sslErrors, reply,
                     [this, reply](const QList<QSslError> &errors) { certificateErrors(reply, errors); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] { finished(reply); });
    idle->start();
}

// Moves what has arrived into the body, inflating it when it is encoded,
// and aborts once the body grows too large or cannot be inflated.
void HttpWorker::Private::take(QNetworkReply *reply, HttpTransfer &transfer)
{
    if (transfer.tooLarge || transfer.undecodable || !reply->isOpen())
        return;
    const qint64 available = reply->bytesAvailable();
    if (available <= 0)
        return;
    auto inflater = inflaters.constFind(reply);
    if (inflater == inflaters.cend()) {
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        std::shared_ptr<Inflater> made;
        if (encoding == "gzip" || encoding == "x-gzip")
            made = std::make_shared<Inflater>(true);
        else if (encoding == "deflate")
            made = std::make_shared<Inflater>(false);
        inflater = inflaters.insert(reply, made);
    }
    if (!*inflater) {
        if (available > HttpFetcher::kMaxBodyBytes - transfer.body.size()) {
            transfer.tooLarge = true;
            reply->abort(); // finishes the reply at once
            return;
        }
        transfer.body += reply->read(available);
        return;
    }
    switch ((*inflater)->feed(reply->read(available), transfer.body, HttpFetcher::kMaxBodyBytes)) {
    case Inflater::Result::Ok:
        return;
    case Inflater::Result::TooLarge:
        transfer.tooLarge = true;
        break;
    case Inflater::Result::Corrupt:
        transfer.undecodable = true;
        break;
    }
    reply->abort();
}

void HttpWorker::Private::finished(QNetworkReply *reply)
{
    const std::shared_ptr<HttpTransfer> transfer = transfers.value(reply);
    reply->deleteLater();
    if (!transfer)
        return;
    take(reply, *transfer);
    transfers.remove(reply);
    inflaters.remove(reply);
    transfer->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Qt follows redirects only to http and https (and never from https down
    // to http); one to another scheme ends with its 3xx, told apart here.
    const QUrl redirect = QUrl::fromEncoded(reply->rawHeader("Location").trimmed());
    if (transfer->status >= 300 && transfer->status < 400 && !redirect.isEmpty()
        && !isWebURL(reply->url().resolved(redirect)))
        transfer->unsupportedRedirect = true;
    transfer->finalUrl = reply->url();
    transfer->responseHeaders = reply->rawHeaderPairs();
    transfer->error = reply->error();
    transfer->errorString = reply->errorString();
    transfer->finish();
}

// Answers with the transfer's credential once; otherwise leaves the
// authenticator empty, which ends the reply with the server's refusal so the
// caller can find another credential on its own thread.
void HttpWorker::Private::authenticate(QNetworkReply *reply, QAuthenticator *authenticator)
{
    const std::shared_ptr<HttpTransfer> transfer = transfers.value(reply);
    if (!transfer)
        return;
    if (transfer->credential) {
        authenticator->setUser(transfer->credential->user);
        authenticator->setPassword(transfer->credential->password);
        transfer->credential.reset();
        return;
    }
    transfer->challengeUnanswered = true;
}

void HttpWorker::Private::certificateErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    const std::shared_ptr<HttpTransfer> transfer = transfers.value(reply);
    if (!transfer)
        return;
    const QString host = reply->url().host();
    if (HttpFetcher::allowsAnyHTTPSCertificateForHost(host)) {
        reply->ignoreSslErrors();
        return;
    }
    QStringList texts;
    for (const QSslError &error : errors)
        texts.append(error.errorString());
    transfer->certificateHost = host;
    transfer->certificateErrors = texts.join(QStringLiteral("; "));
}

// Runs on the worker thread as the application object goes away.
void HttpWorker::Private::stop()
{
    {
        std::lock_guard lock(stateMutex);
        stopped = true;
    }
    const QList<QNetworkReply *> replies = transfers.keys();
    for (QNetworkReply *reply : replies)
        reply->abort();
    delete manager;
    manager = nullptr;
    delete cachingManager;
    cachingManager = nullptr;
}

HttpWorker &HttpWorker::shared()
{
    // Never destroyed: its thread is stopped as the application object goes
    // away, and a process without one simply ends with it.
    static HttpWorker *worker = new HttpWorker;
    return *worker;
}

HttpWorker::HttpWorker()
    : d(new Private)
{
    d->thread.setObjectName(QStringLiteral("org.corvane.http"));
    d->context = new QObject;
    d->context->moveToThread(&d->thread);
    d->thread.start();
    if (QCoreApplication::instance())
        qAddPostRoutine([] {
            HttpWorker &worker = shared();
            QMetaObject::invokeMethod(worker.d->context, [&worker] { worker.d->stop(); },
                                      Qt::BlockingQueuedConnection);
            QMetaObject::invokeMethod(worker.d->context, [&worker] {
                delete worker.d->context;
                worker.d->context = nullptr;
                worker.d->thread.quit();
            });
            worker.d->thread.wait();
        });
}

HttpWorker::~HttpWorker() = default;

void HttpWorker::run(const std::shared_ptr<HttpTransfer> &transfer)
{
    bool posted = false;
    {
        std::lock_guard lock(d->stateMutex);
        if (!d->stopped && d->context)
            posted = QMetaObject::invokeMethod(d->context, [this, transfer] { d->start(transfer); });
    }
    if (!posted) {
        transfer->error = QNetworkReply::OperationCanceledError;
        return;
    }
    transfer->wait();
}

bool HttpWorker::isCurrent() const
{
    return QThread::currentThread() == &d->thread;
}

} // namespace corvane::detail
