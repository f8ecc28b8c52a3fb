#pragma once

// The network thread behind HttpFetcher. Not for use elsewhere.

#include "httpfetch.h"

#include <QNetworkReply>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace corvane::detail {

// One download: what to fetch, filled in by the caller, and what came of it,
// filled in on the worker thread before done() returns true.
struct HttpTransfer
{
    QUrl url; // without user info: credentials are answered to challenges
    QByteArray method = QByteArrayLiteral("GET");
    QList<QPair<QByteArray, QByteArray>> requestHeaders;
    QByteArray requestBody;
    bool usingCache = false;
    int timeoutMs = 30000;
    QNetworkProxy proxy;
    std::optional<Credential> credential; // offered once, to the first challenge Qt cannot answer itself

    int status = 0;
    QUrl finalUrl;
    QList<QPair<QByteArray, QByteArray>> responseHeaders;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    bool timedOut = false;
    bool tooLarge = false;
    bool undecodable = false; // an encoded body that did not inflate
    bool unsupportedRedirect = false; // a redirect to a scheme other than http and https
    bool challengeUnanswered = false; // the server asked for a credential we did not have
    QString certificateHost;          // where certificate errors were not ignored
    QString certificateErrors;

    // Blocks until the worker has finished the transfer.
    void wait();
    void finish();

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
};

// One thread with its own event loop, owning two network access managers,
// one of them with a disk cache (each created on first use). Transfers in
// progress when the application object goes away are aborted, and later ones
// fail at once.
class HttpWorker
{
public:
    static HttpWorker &shared();

    // Runs the transfer on the worker thread and waits for it to finish.
    void run(const std::shared_ptr<HttpTransfer> &transfer);
    bool isCurrent() const;

private:
    HttpWorker();
    ~HttpWorker();

    struct Private;
    Private *d;
};

} // namespace corvane::detail
