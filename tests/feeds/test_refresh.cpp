#include "refreshfixture.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

using namespace corvane;
using corvane::test::HttpTestServer;

namespace {

QByteArray rss(const QByteArray &items, const QByteArray &title = "Local news")
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title
        + "</title><link>http://127.0.0.1/</link>" + items + "</channel></rss>";
}

QByteArray rssItem(const QByteArray &title, const QByteArray &link, const QByteArray &extra = {})
{
    return "<item><title>" + title + "</title><link>" + link + "</link>" + extra + "</item>";
}

QByteArray rfc822(qint64 secondsAgo)
{
    return QDateTime::currentDateTimeUtc().addSecs(-secondsAgo).toString(QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
}

QStringList titles(const QList<DataItem *> &items)
{
    QStringList list;
    for (const DataItem *item : items)
        list.append(item->title());
    return list;
}

class Refresh : public corvane::test::RefreshFixture
{
};

} // namespace

TEST_F(Refresh, ReadsRssRdfAndAtomAndNamesTheSubscription)
{
    serve(QStringLiteral("/rss.xml"), rss(rssItem("One", "http://a.org/1") + rssItem("A & B", "/2012/05/post")));
    serve(QStringLiteral("/rdf.xml"),
          "<?xml version=\"1.0\"?><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
          "xmlns=\"http://purl.org/rss/1.0/\"><channel><title>RDF site</title></channel>"
          "<item><title>Rdf item</title><link>http://b.org/1</link></item></rdf:RDF>");
    const QDateTime updated = QDateTime::currentDateTimeUtc().addDays(-1);
    serve(QStringLiteral("/atom.xml"),
          "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Atom site</title>"
          "<entry><title>Atom item</title><id>urn:1</id><link rel=\"alternate\" href=\"http://c.org/1?a=1&amp;b=2\"/>"
          "<updated>" + updated.toString(Qt::ISODate).toLatin1() + "</updated></entry></feed>");
    RSSDatasource *rssFeed = addFeed(local(QStringLiteral("/rss.xml")));
    RSSDatasource *rdfFeed = addFeed(local(QStringLiteral("/rdf.xml")));
    RSSDatasource *atomFeed = addFeed(local(QStringLiteral("/atom.xml")));
    refreshRound(3);

    EXPECT_EQ(titles(itemsOf(rssFeed)), (QStringList{QStringLiteral("A & B"), QStringLiteral("One")}))
        << "the unescaped ampersand is repaired";
    EXPECT_EQ(itemsOf(rssFeed).value(0)->link(), local(QStringLiteral("/2012/05/post")));
    EXPECT_EQ(rssFeed->name(), QStringLiteral("Local news"));
    EXPECT_EQ(errorOf(rssFeed), QString());
    EXPECT_EQ(titles(itemsOf(rdfFeed)), QStringList{QStringLiteral("Rdf item")});
    EXPECT_EQ(rdfFeed->name(), QStringLiteral("RDF site"));
    const QList<DataItem *> atomItems = itemsOf(atomFeed);
    ASSERT_EQ(atomItems.size(), 1);
    EXPECT_EQ(atomItems[0]->link(), QStringLiteral("http://c.org/1?a=1&b=2"));
    EXPECT_EQ(atomItems[0]->guid(), QStringLiteral("urn:1"));
    EXPECT_EQ(*atomItems[0]->originalDate(), updated.toSecsSinceEpoch());
    EXPECT_TRUE(rssFeed->lastUpdateDate());
}

TEST_F(Refresh, WebPagesAreFollowedToTheirRssLinkButNotToAtomOrBeyondThreeDocuments)
{
    serve(QStringLiteral("/page.html"),
          "<html><head><link rel=\"alternate\" type=\"application/rss+xml\" href=\"feed.xml\"></head></html>");
    serve(QStringLiteral("/feed.xml"), rss(rssItem("Linked", "http://a.org/l")));
    serve(QStringLiteral("/atomonly.html"),
          "<html><head><link rel=\"alternate\" type=\"application/atom+xml\" href=\"/atom.xml\"></head></html>");
    serve(QStringLiteral("/loop1.html"),
          "<html><head><link type=\"application/rss+xml\" href=\"/loop2.html\"></head></html>");
    serve(QStringLiteral("/loop2.html"),
          "<html><head><link type=\"application/rss+xml\" href=\"/loop3.html\"></head></html>");
    serve(QStringLiteral("/loop3.html"),
          "<html><head><link type=\"application/rss+xml\" href=\"/loop4.html\"></head></html>");
    serve(QStringLiteral("/loop4.html"), rss(rssItem("Too far", "http://a.org/x")));
    RSSDatasource *page = addFeed(local(QStringLiteral("/page.html")));
    RSSDatasource *atomOnly = addFeed(local(QStringLiteral("/atomonly.html")));
    RSSDatasource *loop = addFeed(local(QStringLiteral("/loop1.html")));
    refreshRound(3);

    // The relative link resolves against the page's address, port included.
    EXPECT_EQ(titles(itemsOf(page)), QStringList{QStringLiteral("Linked")});
    bool withPort = false;
    for (const HttpTestServer::Request &request : server.requests())
        withPort |= request.path == u"/feed.xml" && request.header("Host") == "127.0.0.1:" + QByteArray::number(server.port());
    EXPECT_TRUE(withPort);
    EXPECT_EQ(page->url(), local(QStringLiteral("/page.html"))) << "the stored address stays";

    EXPECT_TRUE(itemsOf(atomOnly).isEmpty());
    EXPECT_EQ(errorOf(atomOnly), QStringLiteral("Invalid XML"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/atom.xml")), 0);

    EXPECT_TRUE(itemsOf(loop).isEmpty());
    EXPECT_EQ(errorOf(loop), QStringLiteral("Invalid XML"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/loop4.html")), 0);
}

TEST_F(Refresh, RelativeReferencesResolveAgainstTheDocumentsAddressAfterRedirects)
{
    // A page under a path links its feed relative to that path; the feed is
    // redirected, and its items' links are relative to where it ended up.
    serve(QStringLiteral("/site/page.html"),
          "<html><head><link type=\"application/rss+xml\" href=\"feed.xml?v=1\"></head></html>");
    HttpTestServer::Response moved;
    moved.status = 301;
    moved.headers = {{"Location", "/moved/news/feed.xml"}};
    server.setResponse(QStringLiteral("/site/feed.xml"), moved);
    serve(QStringLiteral("/moved/news/feed.xml"),
          rss(rssItem("Sibling", "a.html") + rssItem("Parent", "../up/b.html") + rssItem("Root", "/c.html")
              + rssItem("Query", "?id=4") + rssItem("Other host", "//other.example/d.html")
              + rssItem("Absolute", "HTTP://Example.ORG/a/../e.html")));
    RSSDatasource *feed = addFeed(local(QStringLiteral("/site/page.html")));
    refreshRound(1);

    const QString at = local(QStringLiteral("/moved/"));
    QHash<QString, QString> links;
    for (const DataItem *item : itemsOf(feed))
        links.insert(item->title(), item->link());
    EXPECT_EQ(links.value(QStringLiteral("Sibling")), at + u"news/a.html");
    EXPECT_EQ(links.value(QStringLiteral("Parent")), at + u"up/b.html");
    EXPECT_EQ(links.value(QStringLiteral("Root")), local(QStringLiteral("/c.html")));
    EXPECT_EQ(links.value(QStringLiteral("Query")), at + u"news/feed.xml?id=4");
    EXPECT_EQ(links.value(QStringLiteral("Other host")), QStringLiteral("http://other.example/d.html"));
    EXPECT_EQ(links.value(QStringLiteral("Absolute")), QStringLiteral("HTTP://Example.ORG/a/../e.html"))
        << "absolute links are stored as written";
    EXPECT_EQ(server.requestCount(QStringLiteral("/site/feed.xml?v=1")), 1);
}

TEST_F(Refresh, APageLinkingAFeedThatIsNoWebAddressIsNotFollowed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile local(dir.filePath(QStringLiteral("feed.xml")));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write(rss(rssItem("Local file", "http://a.org/f")));
    local.close();
    serve(QStringLiteral("/file.html"), "<html><head><link type=\"application/rss+xml\" href=\""
                                            + QUrl::fromLocalFile(local.fileName()).toEncoded() + "\"></head></html>");
    serve(QStringLiteral("/script.html"),
          "<html><head><link type=\"application/rss+xml\" href=\"javascript:alert(1)\"></head></html>");
    RSSDatasource *file = addFeed(this->local(QStringLiteral("/file.html")));
    RSSDatasource *script = addFeed(this->local(QStringLiteral("/script.html")));
    refreshRound(2);
    EXPECT_TRUE(itemsOf(file).isEmpty());
    EXPECT_EQ(errorOf(file), QStringLiteral("Invalid XML"));
    EXPECT_TRUE(itemsOf(script).isEmpty());
    EXPECT_EQ(errorOf(script), QStringLiteral("Invalid XML"));
}

TEST_F(Refresh, HttpErrorsTimeoutsAndBrokenDocumentsShowTheirErrorText)
{
    serve(QStringLiteral("/500.xml"), "oops", 500);
    serve(QStringLiteral("/404.xml"), rss(rssItem("Still read", "http://a.org/404")), 404);
    serve(QStringLiteral("/broken.xml"), rss(rssItem("Before the break", "http://a.org/b")).replace("</channel>", "<item><title>x</channel>"));
    HttpTestServer::Response silent;
    silent.neverAnswer = true;
    server.setResponse(QStringLiteral("/silent.xml"), silent);
    HttpFetcher::shared().setTimeoutSeconds(1);
    RSSDatasource *error500 = addFeed(local(QStringLiteral("/500.xml")));
    RSSDatasource *error404 = addFeed(local(QStringLiteral("/404.xml")));
    RSSDatasource *broken = addFeed(local(QStringLiteral("/broken.xml")));
    RSSDatasource *silentFeed = addFeed(local(QStringLiteral("/silent.xml")));
    refreshRound(4);

    EXPECT_EQ(errorOf(error500), QStringLiteral("500 Internal Server Error"));
    EXPECT_EQ(titles(itemsOf(error404)), QStringList{QStringLiteral("Still read")});
    EXPECT_EQ(errorOf(error404), QString());
    EXPECT_EQ(errorOf(broken), QStringLiteral("Invalid XML"));
    EXPECT_EQ(titles(itemsOf(broken)), QStringList{QStringLiteral("Before the break")})
        << "items read before the error are kept";
    EXPECT_FALSE(errorOf(silentFeed).isEmpty());
    EXPECT_NE(errorOf(silentFeed), QStringLiteral("Invalid XML"));
    EXPECT_TRUE(error500->lastUpdateDate()) << "a completed refresh with an error waits for its interval";
}

TEST_F(Refresh, KnownItemsAreUpdatedInPlaceByGuidAndRecognisedByTitleAndLink)
{
    serve(QStringLiteral("/f.xml"), rss(rssItem("With guid", "http://a.org/g", "<guid>g-1</guid>")
                                        + rssItem("No guid", "http://a.org/n", "<description>first</description>")));
    RSSDatasource *feed = addFeed(local(QStringLiteral("/f.xml")));
    refreshRound(1);
    ASSERT_EQ(itemsOf(feed).size(), 2);
    const Date firstOrdering = *itemsOf(feed).value(1)->orderingDate();

    serve(QStringLiteral("/f.xml"), rss(rssItem("Guid, retitled", "http://a.org/g", "<guid>g-1</guid>")
                                        + rssItem("No guid", "http://a.org/n", "<description>second</description>")
                                        + rssItem("No guid, retitled", "http://a.org/n")));
    makeDue();
    refreshRound(1);
    const QList<DataItem *> items = itemsOf(feed);
    EXPECT_EQ(titles(items), (QStringList{QStringLiteral("Guid, retitled"), QStringLiteral("No guid"),
                                          QStringLiteral("No guid, retitled")}));
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1]->itemDescription(), QStringLiteral("second"));
    EXPECT_EQ(*items[1]->orderingDate(), firstOrdering) << "an update keeps the item's place";
}

TEST_F(Refresh, OldItemsAreNotStored)
{
    serve(QStringLiteral("/age.xml"), rss(rssItem("Fresh", "http://a.org/f", "<pubDate>" + rfc822(3600) + "</pubDate>")
                                          + rssItem("Stale", "http://a.org/s", "<pubDate>" + rfc822(5 * 86400) + "</pubDate>")));
    RSSDatasource *feed = addFeed(local(QStringLiteral("/age.xml")));
    feed->setAgeLimit(2);
    ASSERT_TRUE(main()->save());
    refreshRound(1);
    EXPECT_EQ(titles(itemsOf(feed)), QStringList{QStringLiteral("Fresh")});
}

TEST_F(Refresh, ASubscriptionDeletedWhileItsDownloadRunsStoresNothing)
{
    HttpTestServer::Response slow;
    slow.body = rss(rssItem("Late", "http://a.org/late"));
    slow.delayMs = 800;
    server.setResponse(QStringLiteral("/slow.xml"), slow);
    RSSDatasource *feed = addFeed(local(QStringLiteral("/slow.xml")));
    manager->update();
    ASSERT_TRUE(spin([&] { return server.requestCount(QStringLiteral("/slow.xml")) > 0; }));
    manager->deleteDatasourceOrCategory(feed);
    settle();
    EXPECT_EQ(main()->count(Query{Entity::DataItem, Predicate(), {}}), 0);
    EXPECT_EQ(main()->count(Query{Entity::Datasource, Predicate(), {}}), 0);
}

TEST_F(Refresh, ThePoolNeverRunsMoreFetchesAtOnceThanItsSize)
{
    server.setHandler([](const HttpTestServer::Request &request) -> std::optional<HttpTestServer::Response> {
        if (!request.path.startsWith(u"/pool/"))
            return std::nullopt;
        HttpTestServer::Response response;
        response.body = rss(rssItem(request.path.toUtf8(), "http://a.org" + request.path.toUtf8()));
        response.delayMs = 200;
        return response;
    });
    serve(QStringLiteral("/favicon.ico"), QByteArray(), 500);
    serve(QStringLiteral("/"), "<html></html>");
    for (int i = 0; i < 40; ++i)
        addFeed(local(QStringLiteral("/pool/%1.xml").arg(i)));
    // Each round admits what the pool has room for; the rest stay due.
    for (int round = 0; round < 30 && main()->count(Query{Entity::DataItem, Predicate(), {}}) < 40; ++round) {
        manager->update();
        QThread::msleep(300);
        settle();
    }
    EXPECT_EQ(main()->count(Query{Entity::DataItem, Predicate(), {}}), 40);
    EXPECT_LE(server.maxConcurrentRequests(), 5 + 40 / 30);
    EXPECT_GE(server.maxConcurrentRequests(), 2);
}
