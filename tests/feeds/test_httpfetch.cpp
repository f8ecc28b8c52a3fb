#include "net/httpfetch.h"

#include "base/settings.h"
#include "httptestserver.h"
#include "memoryprobe.h"
#include "spinuntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkReply>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#ifdef CORVANE_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace corvane;
using corvane::test::HttpTestServer;
using corvane::test::PeakGrowth;

namespace {

const QString kNoCertificateHosts = QStringLiteral("ListOfHostsWhereNoCertificateIsNeeded");

HttpTestServer::Response respond(int status, const QByteArray &body,
                                 const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    HttpTestServer::Response response;
    response.status = status;
    response.body = body;
    response.headers = headers;
    return response;
}

// Every test starts from the fetcher's defaults, with no hook that could
// reach the user's keyring or ask anybody anything.
class HttpFetch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fetcher.setTimeoutSeconds(30);
        fetcher.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        fetcher.retrieveCredentials = nullptr;
        fetcher.askToTrustCertificate = nullptr;
        fetcher.keychainLookup = nullptr;
    }
    void TearDown() override { fetcher.setProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }

    HttpFetcher &fetcher = HttpFetcher::shared();
    HttpTestServer server;
};

} // namespace

// --- Statuses and bodies -------------------------------------------------------------------

TEST_F(HttpFetch, OkReturnsTheBodyAndSendsTheUserAgent)
{
    server.setResponse(QStringLiteral("/feed.xml"), respond(200, "<rss/>", {{"Content-Type", "application/rss+xml"}}));
    FetchError error;
    HttpResponse response;
    const auto data = fetcher.dataFromURL(server.url(QStringLiteral("/feed.xml")), true, &error, &response);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("<rss/>"));
    EXPECT_FALSE(error.isSet());
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.url, server.url(QStringLiteral("/feed.xml")));
    EXPECT_EQ(response.header("content-type"), QByteArray("application/rss+xml"));
    EXPECT_TRUE(response.header("X-Absent").isEmpty());

    const QList<HttpTestServer::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, QByteArray("GET"));
    EXPECT_EQ(requests[0].path, QStringLiteral("/feed.xml"));
    EXPECT_EQ(requests[0].header("user-agent"), HttpFetcher::kUserAgent);
    EXPECT_EQ(HttpFetcher::kUserAgent,
              QByteArray("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_8_3) AppleWebKit/536.28.10 (KHTML, like Gecko) "
                         "Version/6.0.3 Safari/536.28.10"));
}

TEST_F(HttpFetch, ErrorStatusesNameTheStatusAndOnlyA404KeepsItsBody)
{
    // The description uses the standard text, whatever the server's reason phrase.
    const struct { const char *path; int status; QByteArray reason, body; bool bodyKept; const char *description; } rows[] = {
        {"/broken", 500, {}, "stack trace", false, "500 Internal Server Error"},
        {"/busy", 503, "Busy Busy", {}, false, "503 Service Unavailable"},
        {"/gone.xml", 404, {}, "<html>no such feed</html>", true, "404 Not Found"},
        {"/empty", 204, {}, {}, false, "204 No Content"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        HttpTestServer::Response answer = respond(row.status, row.body);
        answer.reason = row.reason;
        server.setResponse(QLatin1String(row.path), answer);
        FetchError error;
        HttpResponse response;
        const auto data = fetcher.dataFromURL(server.url(QLatin1String(row.path)), false, &error, &response);
        EXPECT_EQ(data.has_value(), row.bodyKept);
        if (data) {
            EXPECT_EQ(*data, row.body);
        }
        EXPECT_EQ(error.domain, QStringLiteral("HTTPResponseDomain"));
        EXPECT_EQ(error.code, row.status);
        EXPECT_EQ(error.description, QLatin1String(row.description));
        EXPECT_EQ(response.status, row.status);
    }
    // Paths nobody set up get the server's own small page.
    FetchError error;
    const auto unrouted = fetcher.dataFromURL(server.url(QStringLiteral("/nothing/here")), false, &error);
    ASSERT_TRUE(unrouted);
    EXPECT_TRUE(unrouted->contains("Not Found"));
    EXPECT_EQ(error.code, 404);
}

TEST(HttpStatusText, StandardAndUnknownStatuses)
{
    EXPECT_EQ(HttpFetcher::statusText(200), QStringLiteral("OK"));
    EXPECT_EQ(HttpFetcher::statusText(301), QStringLiteral("Moved Permanently"));
    EXPECT_EQ(HttpFetcher::statusText(403), QStringLiteral("Forbidden"));
    EXPECT_EQ(HttpFetcher::statusText(410), QStringLiteral("Gone"));
    EXPECT_EQ(HttpFetcher::statusText(502), QStringLiteral("Bad Gateway"));
    EXPECT_EQ(HttpFetcher::statusText(299), QStringLiteral("Success"));
    EXPECT_EQ(HttpFetcher::statusText(499), QStringLiteral("Client Error"));
    EXPECT_EQ(HttpFetcher::statusText(599), QStringLiteral("Server Error"));
}

// --- Connections that fail -----------------------------------------------------------------

TEST_F(HttpFetch, RefusedConnectionIsATransportError)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    } // closed again: nothing listens there now
    FetchError error;
    HttpResponse response;
    EXPECT_FALSE(fetcher.dataFromURL(QUrl(QStringLiteral("http://127.0.0.1:%1/feed").arg(port)), false, &error,
                                     &response));
    EXPECT_EQ(error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(error.code, int(QNetworkReply::ConnectionRefusedError));
    EXPECT_EQ(error.description, QStringLiteral("Could not connect to the server."));
    EXPECT_EQ(response.status, 0);
}

TEST_F(HttpFetch, SilentServerTimesOut)
{
    fetcher.setTimeoutSeconds(1);
    HttpTestServer::Response silent;
    silent.neverAnswer = true;
    server.setResponse(QStringLiteral("/silent"), silent);
    HttpTestServer::Response slow = respond(200, "late but fine");
    slow.delayMs = 400;
    server.setResponse(QStringLiteral("/slow"), slow);

    QElapsedTimer timer;
    timer.start();
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/silent")), false, &error));
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(error.code, int(QNetworkReply::TimeoutError));
    EXPECT_EQ(error.description, QStringLiteral("The request timed out."));
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 5000);

    // Slower than nothing, faster than the timeout.
    const auto data = fetcher.dataFromURL(server.url(QStringLiteral("/slow")), false, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("late but fine"));
}

// --- Limits ----------------------------------------------------------------------------------

TEST_F(HttpFetch, BodiesAreCutAtTheLimit)
{
    HttpTestServer::Response endless;
    endless.endlessBody = true;
    server.setResponse(QStringLiteral("/endless"), endless);
    PeakGrowth memory;
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/endless")), false, &error));
    EXPECT_EQ(error.domain, kCorvaneErrorDomain);
    EXPECT_EQ(error.code, corvaneerror::kDownloadTooLarge);
    EXPECT_EQ(error.description, QStringLiteral("Download too large"));
    // The body is held up to the limit once, plus buffers: far from unbounded.
    const qint64 growth = memory.kb();
    EXPECT_LT(growth, (80 * 1024) * kMemoryBoundFactor);

    // Exactly the limit is kept, one byte more is not.
    const QByteArray full(HttpFetcher::kMaxBodyBytes, 'a');
    server.setResponse(QStringLiteral("/full"), respond(200, full));
    server.setResponse(QStringLiteral("/over"), respond(200, full + 'b'));
    const auto data = fetcher.dataFromURL(server.url(QStringLiteral("/full")), false, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), HttpFetcher::kMaxBodyBytes);
    EXPECT_FALSE(error.isSet());
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/over")), false, &error));
    EXPECT_EQ(error.code, corvaneerror::kDownloadTooLarge);
}

#ifdef CORVANE_TEST_HAVE_ZLIB
namespace {

// Deflates `size` bytes of `data` repeated (gzip, zlib or raw by `windowBits`),
// compressing as they are made so a huge body never exists uncompressed.
QByteArray deflated(const QByteArray &data, qint64 size, int windowBits)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray block;
    while (block.size() < (1 << 20) && block.size() < size)
        block += data;
    QByteArray out;
    char buffer[1 << 16];
    qint64 left = size;
    int flush = Z_NO_FLUSH;
    do {
        const qint64 chunk = std::min<qint64>(left, block.size());
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.constData()));
        stream.avail_in = uInt(chunk);
        left -= chunk;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return out;
}

constexpr int kGzip = 15 + 16;
constexpr int kZlib = 15;
constexpr int kRawDeflate = -15;

} // namespace

TEST_F(HttpFetch, EncodedBodiesAreInflated)
{
    const QByteArray feed = "<rss><channel><title>compressed</title></channel></rss>";
    server.setResponse(QStringLiteral("/gzip"), respond(200, deflated(feed, feed.size(), kGzip),
                                                        {{"Content-Encoding", "gzip"}}));
    server.setResponse(QStringLiteral("/zlib"), respond(200, deflated(feed, feed.size(), kZlib),
                                                        {{"Content-Encoding", "deflate"}}));
    server.setResponse(QStringLiteral("/raw"), respond(200, deflated(feed, feed.size(), kRawDeflate),
                                                       {{"Content-Encoding", "deflate"}}));
    // Two gzip members one after the other make one body.
    server.setResponse(QStringLiteral("/members"),
                       respond(200, deflated("ab", 2, kGzip) + deflated("cd", 2, kGzip), {{"Content-Encoding", "gzip"}}));
    for (const char *path : {"/gzip", "/zlib", "/raw"}) {
        FetchError error;
        const auto data = fetcher.dataFromURL(server.url(QLatin1String(path)), false, &error);
        ASSERT_TRUE(data) << path << ": " << error.description.toStdString();
        EXPECT_EQ(*data, feed) << path;
    }
    const auto members = fetcher.dataFromURL(server.url(QStringLiteral("/members")), false);
    ASSERT_TRUE(members);
    EXPECT_EQ(*members, QByteArray("abcd"));
    EXPECT_EQ(server.requests().value(0).header("Accept-Encoding"), QByteArray("gzip, deflate"));

    // A corrupt stream fails rather than handing out part of it.
    QByteArray broken = deflated(QByteArray(5000, 'x'), 5000, kGzip);
    broken[12] = char(0xff);
    broken[13] = char(0xff);
    server.setResponse(QStringLiteral("/broken"), respond(200, broken, {{"Content-Encoding", "gzip"}}));
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/broken")), false, &error));
    EXPECT_EQ(error.domain, kCorvaneErrorDomain);
    EXPECT_EQ(error.code, corvaneerror::kUndecodableBody);
}

TEST_F(HttpFetch, GzipBombIsCutAtTheLimit)
{
    const QByteArray bomb = deflated(QByteArray(1, '\0'), 100 * 1024 * 1024, kGzip);
    ASSERT_LT(bomb.size(), 1024 * 1024);
    server.setResponse(QStringLiteral("/bomb"), respond(200, bomb, {{"Content-Encoding", "gzip"}}));
    PeakGrowth memory;
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/bomb")), false, &error));
    EXPECT_EQ(error.domain, kCorvaneErrorDomain);
    EXPECT_EQ(error.code, corvaneerror::kDownloadTooLarge);
    EXPECT_EQ(error.description, QStringLiteral("Download too large"));
    const qint64 growth = memory.kb();
    EXPECT_LT(growth, (80 * 1024) * kMemoryBoundFactor); // nowhere near the 100 MB it inflates to

    // A body of exactly the limit inflates in full.
    const QByteArray atTheLimit = deflated(QByteArray(1, '\0'), HttpFetcher::kMaxBodyBytes, kGzip);
    server.setResponse(QStringLiteral("/big"), respond(200, atTheLimit, {{"Content-Encoding", "gzip"}}));
    const auto data = fetcher.dataFromURL(server.url(QStringLiteral("/big")), false, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), HttpFetcher::kMaxBodyBytes);
}
#endif

// --- Requests of any method ------------------------------------------------------------------

TEST_F(HttpFetch, PostAndDeleteCarryTheirHeadersAndBody)
{
    server.setHandler([](const HttpTestServer::Request &request) -> std::optional<HttpTestServer::Response> {
        if (request.method == "POST")
            return respond(201, "created:" + request.body, {{"Location", "/entries/7"}});
        if (request.method == "DELETE")
            return respond(204, {});
        return respond(405, "no");
    });
    const HttpRequest post{server.url(QStringLiteral("/entries")), "POST",
                           {{"Content-Type", "application/json"}, {"Authorization", "OAuth token-1"}}, R"({"title":"ä"})"};
    FetchError error;
    HttpResponse response;
    const auto created = fetcher.send(post, &error, &response);
    ASSERT_TRUE(created);
    EXPECT_EQ(*created, "created:" + post.body);
    EXPECT_FALSE(error.isSet());
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.header("location"), QByteArray("/entries/7"));

    HttpRequest remove{server.url(QStringLiteral("/entries/7")), "DELETE", {{"Authorization", "OAuth token-1"}}};
    const auto removed = fetcher.send(remove, &error, &response);
    ASSERT_TRUE(removed);
    EXPECT_TRUE(removed->isEmpty());
    EXPECT_FALSE(error.isSet());
    EXPECT_EQ(response.status, 204);

    // A refusal still hands out its body, for clients that read error documents.
    remove.method = "PUT";
    const auto refused = fetcher.send(remove, &error, &response);
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, QByteArray("no"));
    EXPECT_EQ(error.domain, kHTTPResponseErrorDomain);
    EXPECT_EQ(error.code, 405);

    const QList<HttpTestServer::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].method, QByteArray("POST"));
    EXPECT_EQ(requests[0].body, post.body);
    EXPECT_EQ(requests[0].header("content-type"), QByteArray("application/json"));
    EXPECT_EQ(requests[0].header("authorization"), QByteArray("OAuth token-1"));
    EXPECT_EQ(requests[0].header("user-agent"), HttpFetcher::kUserAgent);
    EXPECT_EQ(requests[1].method, QByteArray("DELETE"));
    EXPECT_EQ(requests[1].path, QStringLiteral("/entries/7"));
    EXPECT_EQ(requests[1].header("authorization"), QByteArray("OAuth token-1"));
    EXPECT_TRUE(requests[1].body.isEmpty());
}

TEST_F(HttpFetch, OnlyHttpAndHttpsAreOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secret = dir.filePath(QStringLiteral("secret.xml"));
    {
        QFile file(secret);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<rss><channel><title>private</title></channel></rss>");
    }
    const QUrl fileUrl = QUrl::fromLocalFile(secret);
    const QUrl urls[] = {fileUrl, QUrl(QStringLiteral("data:text/xml,%3Crss%2F%3E")),
                         QUrl(QStringLiteral("ftp://127.0.0.1/feed.xml")), QUrl(QStringLiteral("qrc:/images/espn.png")),
                         QUrl(QStringLiteral("http:///no-host"))};
    for (const QUrl &url : urls) {
        SCOPED_TRACE(url.toString().toStdString());
        FetchError error;
        HttpResponse response;
        EXPECT_FALSE(fetcher.dataFromURL(url, false, &error, &response));
        EXPECT_EQ(error.domain, kCorvaneErrorDomain);
        EXPECT_EQ(error.code, corvaneerror::kUnsupportedScheme);
        EXPECT_EQ(response.status, 0);
        EXPECT_FALSE(fetcher.send(HttpRequest{url, "POST"}, &error));
        EXPECT_EQ(error.code, corvaneerror::kUnsupportedScheme);
    }

    // A server cannot redirect into the local files either.
    server.setResponse(QStringLiteral("/to-file"), respond(302, {}, {{"Location", fileUrl.toEncoded()}}));
    server.setResponse(QStringLiteral("/to-data"), respond(301, {}, {{"Location", "data:text/xml,%3Crss%2F%3E"}}));
    for (const QString &path : {QStringLiteral("/to-file"), QStringLiteral("/to-data")}) {
        SCOPED_TRACE(path.toStdString());
        FetchError error;
        EXPECT_FALSE(fetcher.dataFromURL(server.url(path), false, &error));
        EXPECT_EQ(error.domain, kCorvaneErrorDomain);
        EXPECT_EQ(error.code, corvaneerror::kUnsupportedScheme);
    }
    EXPECT_EQ(server.requestCount(), 2);
}

// --- Redirects --------------------------------------------------------------------------------

TEST_F(HttpFetch, RedirectsAreFollowedAndLoopsEnd)
{
    server.setResponse(QStringLiteral("/old.xml"), respond(301, {}, {{"Location", "/new.xml"}}));
    server.setResponse(QStringLiteral("/new.xml"), respond(200, "<feed/>"));
    HttpResponse response;
    FetchError error;
    const auto data = fetcher.dataFromURL(server.url(QStringLiteral("/old.xml")), false, &error, &response);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("<feed/>"));
    EXPECT_EQ(response.url, server.url(QStringLiteral("/new.xml")));

    server.setResponse(QStringLiteral("/ping"), respond(302, {}, {{"Location", "/pong"}}));
    server.setResponse(QStringLiteral("/pong"), respond(302, {}, {{"Location", "/ping"}}));
    server.resetCounters();
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/ping")), false, &error));
    EXPECT_EQ(error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(error.code, int(QNetworkReply::TooManyRedirectsError));
    EXPECT_GT(server.requestCount(), 2);
    EXPECT_LT(server.requestCount(), 60);
}

// --- Authentication -------------------------------------------------------------------------

namespace {

// Answers /private with the feed only for user "reader", password "s3cret:pw".
void requireBasicAuth(HttpTestServer &server)
{
    server.setHandler([](const HttpTestServer::Request &request) -> std::optional<HttpTestServer::Response> {
        if (request.path != QStringLiteral("/private"))
            return std::nullopt;
        if (request.header("Authorization") == "Basic " + QByteArray("reader:s3cret:pw").toBase64())
            return respond(200, "<rss>members only</rss>");
        return respond(401, "who are you?", {{"WWW-Authenticate", "Basic realm=\"Members\""}});
    });
}

std::optional<Credential> reader(const char *password)
{
    return Credential{QStringLiteral("reader"), QLatin1String(password)};
}

// What the prompt and the keychain were asked.
struct Asked
{
    int prompts = 0;
    QString urlText;
    std::optional<Credential> proposed;
    QStringList keychainHosts;
};

class HttpAuth : public HttpFetch
{
protected:
    void SetUp() override
    {
        HttpFetch::SetUp();
        requireBasicAuth(server);
    }
    void prompt(std::optional<Credential> answer)
    {
        fetcher.retrieveCredentials = [this, answer](const QString &urlText, const std::optional<Credential> &proposed) {
            ++asked.prompts;
            asked.urlText = urlText;
            asked.proposed = proposed;
            return answer;
        };
    }
    void keychain(std::optional<Credential> answer)
    {
        fetcher.keychainLookup = [this, answer](const QString &host) {
            asked.keychainHosts.append(host);
            return answer;
        };
    }
    QUrl privateUrl(const char *password = nullptr) const
    {
        QUrl url = server.url(QStringLiteral("/private"));
        if (password) {
            url.setUserName(QStringLiteral("reader"));
            url.setPassword(QLatin1String(password));
        }
        return url;
    }

    Asked asked;
};

} // namespace

TEST_F(HttpAuth, CredentialInTheUrlAnswersTheChallenge)
{
    prompt(std::nullopt);
    FetchError error;
    const auto data = fetcher.dataFromURL(privateUrl("s3cret:pw"), false, &error);
    ASSERT_TRUE(data) << error.description.toStdString();
    EXPECT_EQ(*data, QByteArray("<rss>members only</rss>"));
    EXPECT_EQ(asked.prompts, 0);
    // The user info went into the Authorization header, never into the request target.
    for (const HttpTestServer::Request &request : server.requests())
        EXPECT_FALSE(request.path.contains(QStringLiteral("reader")));
}

TEST_F(HttpAuth, PromptIsAskedWhenNothingElseHasACredential)
{
    prompt(reader("s3cret:pw"));
    FetchError error;
    const auto data = fetcher.dataFromURL(privateUrl(), false, &error);
    ASSERT_TRUE(data) << error.description.toStdString();
    EXPECT_EQ(*data, QByteArray("<rss>members only</rss>"));
    EXPECT_EQ(asked.prompts, 1);
    EXPECT_EQ(asked.urlText, privateUrl().toString());
    EXPECT_FALSE(asked.proposed);
}

TEST_F(HttpAuth, RefusedUrlCredentialIsProposedToThePromptAndTheKeychainIsSkipped)
{
    keychain(reader("s3cret:pw"));
    prompt(reader("s3cret:pw"));
    ASSERT_TRUE(fetcher.dataFromURL(privateUrl("wrong"), false));
    EXPECT_TRUE(asked.keychainHosts.isEmpty());
    EXPECT_EQ(asked.prompts, 1);
    ASSERT_TRUE(asked.proposed);
    EXPECT_EQ(asked.proposed->user, QStringLiteral("reader"));
    EXPECT_EQ(asked.proposed->password, QStringLiteral("wrong"));
    EXPECT_FALSE(asked.urlText.contains(QStringLiteral("wrong"))); // no password in the text shown
}

TEST_F(HttpAuth, KeychainAnswersBeforeThePrompt)
{
    keychain(reader("s3cret:pw"));
    prompt(std::nullopt);
    ASSERT_TRUE(fetcher.dataFromURL(privateUrl(), false));
    EXPECT_EQ(asked.keychainHosts, QStringList{QStringLiteral("127.0.0.1")});
    EXPECT_EQ(asked.prompts, 0);
}

TEST_F(HttpAuth, WrongKeychainEntryLeadsToThePromptAndADeclineToTheServersRefusal)
{
    // Without hooks a challenge is declined.
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(privateUrl(), false, &error));
    EXPECT_EQ(error.code, 401);

    keychain(reader("outdated"));
    prompt(std::nullopt);
    HttpResponse response;
    EXPECT_FALSE(fetcher.dataFromURL(privateUrl(), false, &error, &response));
    EXPECT_EQ(asked.prompts, 1);
    ASSERT_TRUE(asked.proposed);
    EXPECT_EQ(asked.proposed->password, QStringLiteral("outdated"));
    EXPECT_EQ(error.domain, QStringLiteral("HTTPResponseDomain"));
    EXPECT_EQ(error.code, 401);
    EXPECT_EQ(error.description, QStringLiteral("401 Unauthorized"));
    EXPECT_EQ(response.status, 401);
}

TEST_F(HttpAuth, PromptThatKeepsAnsweringWronglyIsAskedABoundedNumberOfTimes)
{
    prompt(reader("nope"));
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(privateUrl(), false, &error));
    EXPECT_EQ(error.code, 401);
    EXPECT_GE(asked.prompts, 2);
    EXPECT_LE(asked.prompts, 5);
}

TEST(HttpKeychain, EntriesRoundTripAndMalformedOnesAreNone)
{
    const QByteArray entry = HttpFetcher::keychainEntry({QStringLiteral("reader"), QStringLiteral("p\"w\n")});
    const auto credential = HttpFetcher::credentialFromKeychainEntry(entry);
    ASSERT_TRUE(credential);
    EXPECT_EQ(credential->user, QStringLiteral("reader"));
    EXPECT_EQ(credential->password, QStringLiteral("p\"w\n"));
    EXPECT_FALSE(HttpFetcher::credentialFromKeychainEntry("reader:pw"));
    EXPECT_FALSE(HttpFetcher::credentialFromKeychainEntry(R"({"user":"","password":"x"})"));
    EXPECT_FALSE(HttpFetcher::credentialFromKeychainEntry(R"({"user":"a","password":3})"));
}

TEST(HttpKeychain, LookupWithoutASecretServiceFindsNothingQuickly)
{
    // A private home and a bus address that leads nowhere: nothing of the
    // user's can be reached.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.filePath(QStringLiteral("no-bus")).toLocal8Bit());
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(HttpFetcher::lookUpKeychain(QStringLiteral("feeds.example.org"), 10));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(HttpFetcher::lookUpKeychain(QString(), 10));
}

// --- Cache ----------------------------------------------------------------------------------

TEST_F(HttpFetch, FreshCachedResponseAnswersOnlyWhenTheCacheMay)
{
    server.setResponse(QStringLiteral("/cached.xml"), respond(200, "<rss>v1</rss>", {{"Cache-Control", "max-age=3600"}}));
    const QUrl url = server.url(QStringLiteral("/cached.xml"));
    ASSERT_TRUE(fetcher.dataFromURL(url, true));
    EXPECT_EQ(server.requestCount(QStringLiteral("/cached.xml")), 1);

    server.setResponse(QStringLiteral("/cached.xml"), respond(200, "<rss>v2</rss>", {{"Cache-Control", "max-age=3600"}}));
    const auto cached = fetcher.dataFromURL(url, true);
    ASSERT_TRUE(cached);
    EXPECT_EQ(*cached, QByteArray("<rss>v1</rss>"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/cached.xml")), 1);

    const auto reloaded = fetcher.dataFromURL(url, false);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(*reloaded, QByteArray("<rss>v2</rss>"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/cached.xml")), 2);

    // What may not be stored is asked for each time.
    server.setResponse(QStringLiteral("/live.xml"), respond(200, "<rss/>", {{"Cache-Control", "no-store"}}));
    ASSERT_TRUE(fetcher.dataFromURL(server.url(QStringLiteral("/live.xml")), true));
    ASSERT_TRUE(fetcher.dataFromURL(server.url(QStringLiteral("/live.xml")), true));
    EXPECT_EQ(server.requestCount(QStringLiteral("/live.xml")), 2);
}

// --- Proxy and concurrency ------------------------------------------------------------------

TEST_F(HttpFetch, ProxyReachesAnyHostAndRoutesByHost)
{
    fetcher.setProxy(server.proxy());
    server.setResponse(QStringLiteral("/favicon.ico"), respond(200, "blog icon"), QStringLiteral("blog.host.org"));
    server.setResponse(QStringLiteral("/favicon.ico"), respond(200, "news icon"), QStringLiteral("news.host.org"));
    server.setResponse(QStringLiteral("/feed"), respond(200, "any host's feed"));

    const auto blog = fetcher.dataFromURL(QUrl(QStringLiteral("http://blog.host.org/favicon.ico")), false);
    const auto news = fetcher.dataFromURL(QUrl(QStringLiteral("http://news.host.org/favicon.ico")), false);
    const auto feed = fetcher.dataFromURL(QUrl(QStringLiteral("http://elsewhere.org/feed?page=2")), false);
    ASSERT_TRUE(blog && news && feed);
    EXPECT_EQ(*blog, QByteArray("blog icon"));
    EXPECT_EQ(*news, QByteArray("news icon"));
    EXPECT_EQ(*feed, QByteArray("any host's feed"));
    FetchError error;
    EXPECT_TRUE(fetcher.dataFromURL(QUrl(QStringLiteral("http://other.host.org/favicon.ico")), false, &error));
    EXPECT_EQ(error.code, 404);

    const QList<HttpTestServer::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_EQ(requests[0].host, QStringLiteral("blog.host.org"));
    EXPECT_EQ(requests[0].path, QStringLiteral("/favicon.ico"));
    EXPECT_EQ(requests[2].host, QStringLiteral("elsewhere.org"));
    EXPECT_EQ(requests[2].path, QStringLiteral("/feed?page=2"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/feed")), 1);
    EXPECT_EQ(server.requestCount(QStringLiteral("/favicon.ico")), 3);
}

TEST_F(HttpFetch, ManyThreadsDownloadAtOnce)
{
    fetcher.setProxy(server.proxy());
    HttpTestServer::Response slow = respond(200, "feed");
    slow.delayMs = 300;
    server.setResponse(QStringLiteral("/rss"), slow);
    constexpr int kThreads = 25;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            const auto data = fetcher.dataFromURL(QUrl(QStringLiteral("http://site%1.test/rss").arg(i)), false);
            if (data && *data == "feed")
                ++succeeded;
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(succeeded.load(), kThreads);
    EXPECT_EQ(server.requestCount(QStringLiteral("/rss")), kThreads);
    EXPECT_GT(server.maxConcurrentRequests(), 10); // far from one after the other
}

// --- Certificates -------------------------------------------------------------------------

TEST(HttpCertificates, AllowListComesFromTheSettings)
{
    Settings::shared().removeValue(kNoCertificateHosts);
    EXPECT_FALSE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("intranet.local")));
    Settings::shared().setValue(kNoCertificateHosts,
                                QStringList{QStringLiteral("intranet.local"), QStringLiteral("Router.Home")});
    EXPECT_TRUE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("intranet.local")));
    EXPECT_TRUE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("router.home")));
    EXPECT_FALSE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("intranet.local.evil.org")));
    EXPECT_FALSE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QString()));
    // A single host reads back from the settings file as plain text.
    Settings::shared().setValue(kNoCertificateHosts, QStringLiteral("single.host"));
    EXPECT_TRUE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("single.host")));
    Settings::shared().removeValue(kNoCertificateHosts);
}

namespace {

// A self-signed certificate made for this run by the openssl tool, or none.
struct SelfSigned
{
    QSslCertificate certificate;
    QSslKey key;
};

const std::optional<SelfSigned> &selfSigned()
{
    static const std::optional<SelfSigned> made = []() -> std::optional<SelfSigned> {
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (openssl.isEmpty() || !QSslSocket::supportsSsl())
            return std::nullopt;
        QTemporaryDir dir;
        const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
        const QString certificatePath = dir.filePath(QStringLiteral("cert.pem"));
        QProcess process;
        process.start(openssl, QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                              "-subj /CN=corvane-test").split(u' ')
                                   + QStringList{QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath});
        if (!process.waitForFinished(20000) || process.exitCode() != 0)
            return std::nullopt;
        QFile keyFile(keyPath);
        QFile certificateFile(certificatePath);
        if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly))
            return std::nullopt;
        SelfSigned result{QSslCertificate(certificateFile.readAll()), QSslKey(keyFile.readAll(), QSsl::Ec)};
        if (result.certificate.isNull() || result.key.isNull())
            return std::nullopt;
        return result;
    }();
    return made;
}

// An HTTPS server on its own thread and loopback address, answering every
// request with "secure".
class TlsServer
{
public:
    explicit TlsServer(const QHostAddress &address)
    {
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_context,
            [this, address] {
                auto *server = new QSslServer(m_context);
                QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
                configuration.setLocalCertificate(selfSigned()->certificate);
                configuration.setPrivateKey(selfSigned()->key);
                configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
                server->setSslConfiguration(configuration);
                QObject::connect(server, &QTcpServer::pendingConnectionAvailable, server, [server] {
                    while (QTcpSocket *socket = server->nextPendingConnection()) {
                        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                            if (!socket->readAll().contains("\r\n\r\n"))
                                return;
                            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecure");
                            socket->disconnectFromHost();
                        });
                        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                    }
                });
                if (server->listen(address, 0))
                    m_port = server->serverPort();
            },
            Qt::BlockingQueuedConnection);
    }

    ~TlsServer()
    {
        QMetaObject::invokeMethod(m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    QObject *m_context;
    quint16 m_port = 0;
};

// The prompt's calls, and whether each came on the main thread.
struct TrustPrompt
{
    std::mutex mutex;
    QStringList hosts;
    QStringList errorTexts;
    bool offMainThread = false;
};

} // namespace

class HttpsFetch : public HttpFetch
{
protected:
    void SetUp() override
    {
        HttpFetch::SetUp();
        if (!selfSigned())
            GTEST_SKIP() << "no openssl tool or TLS backend to make a test certificate with";
        Settings::shared().removeValue(kNoCertificateHosts);
    }

    // Each case uses its own loopback address, so hosts declined by one case
    // do not carry over to another in the same process.
    std::unique_ptr<TlsServer> serve(const char *address)
    {
        auto tls = std::make_unique<TlsServer>(QHostAddress(QLatin1String(address)));
        EXPECT_NE(tls->port(), 0) << "cannot listen on " << address;
        return tls;
    }

    static QUrl at(const char *address, quint16 port)
    {
        return QUrl(QStringLiteral("https://%1:%2/feed").arg(QLatin1String(address)).arg(port));
    }

    void countPrompts(TrustPrompt &prompt, bool answer)
    {
        fetcher.askToTrustCertificate = [&prompt, answer](const QString &host, const QString &errorText) {
            std::lock_guard lock(prompt.mutex);
            prompt.hosts.append(host);
            prompt.errorTexts.append(errorText);
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                prompt.offMainThread = true;
            return answer;
        };
    }
};

TEST_F(HttpsFetch, DeclinedHostFailsAndIsNotAskedAgain)
{
    const auto tls = serve("127.0.0.2");
    TrustPrompt prompt;
    countPrompts(prompt, false);
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(at("127.0.0.2", tls->port()), false, &error));
    EXPECT_EQ(error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(error.code, int(QNetworkReply::SslHandshakeFailedError));
    ASSERT_EQ(prompt.hosts, QStringList{QStringLiteral("127.0.0.2")});
    EXPECT_FALSE(prompt.errorTexts.value(0).isEmpty());

    EXPECT_FALSE(fetcher.dataFromURL(at("127.0.0.2", tls->port()), false, &error));
    EXPECT_EQ(error.code, int(QNetworkReply::SslHandshakeFailedError));
    EXPECT_EQ(prompt.hosts.size(), 1);
    EXPECT_FALSE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("127.0.0.2")));
}

TEST_F(HttpsFetch, HostInTheSettingsIsAcceptedWithoutAsking)
{
    const auto tls = serve("127.0.0.3");
    Settings::shared().setValue(kNoCertificateHosts, QStringList{QStringLiteral("127.0.0.3")});
    TrustPrompt prompt;
    countPrompts(prompt, false);
    const auto data = fetcher.dataFromURL(at("127.0.0.3", tls->port()), false);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("secure"));
    EXPECT_TRUE(prompt.hosts.isEmpty());
}

TEST_F(HttpsFetch, TrustedHostIsRememberedAndRetried)
{
    const auto tls = serve("127.0.0.4");
    Settings::shared().setValue(kNoCertificateHosts, QStringList{QStringLiteral("intranet.local")});
    TrustPrompt prompt;
    countPrompts(prompt, true);
    const auto data = fetcher.dataFromURL(at("127.0.0.4", tls->port()), false);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("secure"));
    EXPECT_EQ(prompt.hosts, QStringList{QStringLiteral("127.0.0.4")});
    EXPECT_EQ(Settings::shared().value(kNoCertificateHosts).toStringList(),
              (QStringList{QStringLiteral("intranet.local"), QStringLiteral("127.0.0.4")}));
    ASSERT_TRUE(fetcher.dataFromURL(at("127.0.0.4", tls->port()), false));
    EXPECT_EQ(prompt.hosts.size(), 1);
}

TEST_F(HttpsFetch, PromptFromAPoolThreadRunsOnTheMainThread)
{
    const auto tls = serve("127.0.0.5");
    TrustPrompt prompt;
    countPrompts(prompt, true);
    std::atomic<bool> done{false};
    std::optional<QByteArray> data;
    std::thread download([&] {
        data = fetcher.dataFromURL(at("127.0.0.5", tls->port()), false);
        done = true;
    });
    test::spinUntil([&] { return done.load(); }, 10000);
    download.join();
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray("secure"));
    EXPECT_EQ(prompt.hosts.size(), 1);
    EXPECT_FALSE(prompt.offMainThread);
}

TEST_F(HttpsFetch, WithoutAPromptCertificateErrorsFail)
{
    const auto tls = serve("127.0.0.6");
    FetchError error;
    EXPECT_FALSE(fetcher.dataFromURL(at("127.0.0.6", tls->port()), false, &error));
    EXPECT_EQ(error.code, int(QNetworkReply::SslHandshakeFailedError));
    EXPECT_FALSE(HttpFetcher::allowsAnyHTTPSCertificateForHost(QStringLiteral("127.0.0.6")));
}
// Once a response with a validator sat in the HTTP cache, a later error status
// came out as the cached 200 with a transport error.
TEST_F(HttpFetch, AnErrorAfterACacheableSuccessShowsItsOwnStatus)
{
    std::atomic<int> status{200};
    server.setHandler([&](const HttpTestServer::Request &) -> std::optional<HttpTestServer::Response> {
        if (status == 200)
            return respond(200, "<rss/>", {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"}});
        return respond(status, {});
    });
    FetchError error;
    HttpResponse response;
    ASSERT_TRUE(fetcher.dataFromURL(server.url(QStringLiteral("/x")), false, &error, &response));
    status = 500;
    EXPECT_FALSE(fetcher.dataFromURL(server.url(QStringLiteral("/x")), false, &error, &response));
    EXPECT_EQ(error.domain, kHTTPResponseErrorDomain);
    EXPECT_EQ(error.description, QStringLiteral("500 Internal Server Error"));
    EXPECT_EQ(response.status, 500);
}
