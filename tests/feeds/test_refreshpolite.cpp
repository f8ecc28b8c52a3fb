// Conditional GETs and servers that ask to be left alone, through whole refreshes.
#include "refreshfixture.h"

#include "feeds/refresh/refreshschedule.h"

#include <QDateTime>

#include <mutex>

using namespace corvane;
using corvane::test::HttpTestServer;

namespace {

QByteArray feedWith(const QList<QByteArray> &titles)
{
    QByteArray body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Polite</title>";
    for (const QByteArray &title : titles)
        body += "<item><title>" + title + "</title><link>http://polite.example/" + title + "</link></item>";
    return body + "</channel></rss>";
}

QByteArray httpDate(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
}

class PoliteRefresh : public corvane::test::RefreshFixture
{
protected:
    double soonestOf(Datasource *datasource)
    {
        main()->refresh(datasource, false);
        return datasource->soonestPossibleRefresh().value_or(0);
    }
};

} // namespace

TEST_F(PoliteRefresh, AnUnchangedFeedIsAnswered304AndStoresNothingNew)
{
    struct Version
    {
        QByteArray eTag;
        QByteArray lastModified;
        QList<QByteArray> titles;
        int status = 200;
    };
    std::mutex mutex;
    Version version{"\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT", {"one", "two"}};
    server.setHandler([&](const HttpTestServer::Request &request) -> std::optional<HttpTestServer::Response> {
        std::lock_guard lock(mutex);
        HttpTestServer::Response response;
        response.status = version.status;
        if (version.status != 200)
            return response;
        response.headers = {{"ETag", version.eTag}, {"Last-Modified", version.lastModified}};
        if (request.header("If-None-Match") == version.eTag) {
            response.status = 304;
            return response;
        }
        response.body = feedWith(version.titles);
        return response;
    });
    RSSDatasource *feed = addFeed(local(QStringLiteral("/polite.xml")));
    refreshRound(1);
    ASSERT_EQ(itemsOf(feed).size(), 2);
    main()->refresh(feed, false);
    EXPECT_EQ(feed->httpETag(), QStringLiteral("\"v1\""));
    EXPECT_EQ(feed->httpLastModified(), QStringLiteral("Tue, 01 Dec 2026 10:00:00 GMT"));
    EXPECT_TRUE(server.requests().last().header("If-None-Match").isEmpty()) << "nothing to validate yet";

    // A failure keeps the validators and shows its error...
    {
        std::lock_guard lock(mutex);
        version.status = 500;
    }
    makeDue();
    refreshRound(1);
    EXPECT_EQ(errorOf(feed), QStringLiteral("500 Internal Server Error"));
    EXPECT_EQ(feed->httpETag(), QStringLiteral("\"v1\""));

    // ...and a 304 is a success without a parse: the error goes, the items stay as they were.
    {
        std::lock_guard lock(mutex);
        version.status = 200;
    }
    const OptionalDate before = feed->lastUpdateDate();
    const QList<DataItem *> itemsBefore = itemsOf(feed);
    const double parsedBefore = itemsBefore.value(0)->parsedDate().value_or(0);
    makeDue();
    refreshRound(1);
    const HttpTestServer::Request conditional = server.requests().last();
    EXPECT_EQ(conditional.header("If-None-Match"), QByteArray("\"v1\""));
    EXPECT_EQ(conditional.header("If-Modified-Since"), QByteArray("Tue, 01 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ(conditional.header("Accept-Encoding"), QByteArray("gzip, deflate"));
    EXPECT_EQ(errorOf(feed), QString());
    EXPECT_EQ(feed->failedTries(), 0);
    ASSERT_TRUE(feed->lastUpdateDate());
    EXPECT_GE(*feed->lastUpdateDate(), before.value_or(0));
    const QList<DataItem *> itemsAfter = itemsOf(feed);
    ASSERT_EQ(itemsAfter.size(), 2);
    EXPECT_EQ(itemsAfter.value(0)->parsedDate().value_or(-1), parsedBefore) << "no item was touched";

    // A changed feed has a new tag: read in full, the new tag kept.
    {
        std::lock_guard lock(mutex);
        version = Version{"\"v2\"", {}, {"one", "two", "three"}};
    }
    makeDue();
    refreshRound(1);
    EXPECT_EQ(itemsOf(feed).size(), 3);
    main()->refresh(feed, false);
    EXPECT_EQ(feed->httpETag(), QStringLiteral("\"v2\""));
    EXPECT_EQ(feed->httpLastModified(), QString()) << "the server sent none this time";

    // A new address starts without validators.
    feed->setUrl(local(QStringLiteral("/elsewhere.xml")));
    EXPECT_EQ(feed->httpETag(), QString());
    EXPECT_EQ(feed->httpLastModified(), QString());
}

TEST_F(PoliteRefresh, RetryAfterHoldsTheFeedBackForItsTimeAtMostADay)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct
    {
        const char *name;
        int status;
        QByteArray retryAfter;
        double hold; // seconds from the refresh; 0: not held
    } rows[] = {
        {"seconds on 503", 503, "120", 120},
        {"seconds on 429", 429, "  90 ", 90},
        {"HTTP date", 503, httpDate(now.addSecs(600)), 600},
        {"RFC 850 date", 429, now.addSecs(900).toString(QStringLiteral("dddd, dd-MMM-yy HH:mm:ss 'GMT'")).toLatin1(), 900},
        {"two days are capped", 503, "172800", refreshschedule::kMaxRetryAfterSeconds},
        {"a date next year is capped", 429, httpDate(now.addDays(365)), refreshschedule::kMaxRetryAfterSeconds},
        {"more digits than a number", 503, "99999999999999999999999", refreshschedule::kMaxRetryAfterSeconds},
        {"a date gone by", 503, httpDate(now.addSecs(-600)), 0},
        {"not a delay", 503, "soon", 0},
        {"negative", 503, "-60", 0},
        {"other status", 500, "120", 0},
    };
    QList<RSSDatasource *> feeds;
    int row = 0;
    for (const auto &entry : rows) {
        HttpTestServer::Response response;
        response.status = entry.status;
        response.headers = {{"Retry-After", entry.retryAfter}};
        const QString path = QStringLiteral("/busy%1.xml").arg(row++);
        server.setResponse(path, response);
        feeds.append(addFeed(local(path)));
    }
    const double start = currentDate();
    refreshUntil(finishedAttempts() + int(feeds.size()), 60000);
    const double end = currentDate();

    for (qsizetype i = 0; i < feeds.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const double soonest = soonestOf(feeds[i]);
        if (rows[i].hold == 0) {
            EXPECT_LE(soonest, end);
            continue;
        }
        // HTTP dates have whole seconds.
        EXPECT_GE(soonest, start + rows[i].hold - 1.5);
        EXPECT_LE(soonest, end + rows[i].hold + 1.5);
    }

    // Waking up makes every feed due, except those their server holds back.
    server.resetCounters();
    makeDue();
    refreshUntil(finishedAttempts() + 4, 60000);
    for (qsizetype i = 0; i < feeds.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(server.requestCount(QStringLiteral("/busy%1.xml").arg(i)), rows[i].hold == 0 ? 1 : 0);
    }
}
