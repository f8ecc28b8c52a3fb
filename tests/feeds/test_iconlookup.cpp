#include "feeds/refresh/commonimagepicture.h"
#include "net/httpfetch.h"
#include "feeds/refresh/iconlookup.h"

#include "httptestserver.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

using namespace corvane;
using corvane::test::HttpTestServer;

namespace {

QByteArray pngBytes(int size, QRgb colour)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return buffer.data();
}

class Icons : public ::testing::Test
{
protected:
    void SetUp() override { HttpFetcher::shared().setProxy(server.proxy()); }

    void serve(const QString &host, const QString &path, const QByteArray &body, int status = 200)
    {
        HttpTestServer::Response response;
        response.status = status;
        response.body = body;
        server.setResponse(path, response, host);
    }

    std::optional<CommonImage> find(const QString &feed, const QString &mainLink = QString(), const QUrl &image = QUrl())
    {
        IconLookup lookup(HttpFetcher::shared());
        return lookup.find(QUrl(feed), mainLink, image);
    }

    HttpTestServer server;
};

} // namespace

TEST_F(Icons, TheFaviconAtTheHostWinsAndNothingElseIsAsked)
{
    serve(QStringLiteral("news.example"), QStringLiteral("/favicon.ico"), pngBytes(16, qRgb(255, 0, 0)));
    const auto icon = find(QStringLiteral("http://news.example/rss.xml"));
    ASSERT_TRUE(icon && icon->hasImage());
    EXPECT_EQ(pictureOf(*icon).pixel(3, 3), qRgb(255, 0, 0));
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(Icons, FallsBackToTheRegisteredDomainThenTheHomePageThenTheChannelImage)
{
    // Nothing at all from the host: the registered domain is asked.
    serve(QStringLiteral("blog.host.org"), QStringLiteral("/favicon.ico"), QByteArray(), 500);
    serve(QStringLiteral("host.org"), QStringLiteral("/favicon.ico"), pngBytes(16, qRgb(0, 255, 0)));
    auto icon = find(QStringLiteral("http://blog.host.org/feed"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(pictureOf(*icon).pixel(1, 1), qRgb(0, 255, 0));

    // An HTML error page for the favicon: no icon from it, no domain lookup, the home page's shortcut icon.
    server.resetCounters();
    serve(QStringLiteral("www.site.net"), QStringLiteral("/favicon.ico"), "<html>not here</html>", 404);
    serve(QStringLiteral("site.net"), QStringLiteral("/favicon.ico"), pngBytes(16, qRgb(1, 1, 1)));
    serve(QStringLiteral("www.site.net"), QStringLiteral("/"),
          "<html><head><link rel=\"icon\" href=\"/plain.png\"><link rel=\"shortcut icon\" href=\"img/s.png\"></head></html>");
    serve(QStringLiteral("www.site.net"), QStringLiteral("/img/s.png"), pngBytes(16, qRgb(0, 0, 255)));
    icon = find(QStringLiteral("http://feeds.elsewhere.com/x"), QStringLiteral("http://www.site.net/blog"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(pictureOf(*icon).pixel(1, 1), qRgb(0, 0, 255)) << "the channel's link names the site";
    for (const HttpTestServer::Request &request : server.requests())
        EXPECT_NE(request.host, QStringLiteral("site.net"));

    // Only rel="icon" on the home page: the channel image, when small enough.
    serve(QStringLiteral("plain.org"), QStringLiteral("/"), "<html><head><link rel=\"icon\" href=\"/i.png\"></head></html>");
    serve(QStringLiteral("plain.org"), QStringLiteral("/i.png"), pngBytes(16, qRgb(9, 9, 9)));
    QByteArray exact = pngBytes(16, qRgb(7, 7, 7));
    exact.append(QByteArray(IconLookup::kMaxChannelImageBytes - exact.size(), '\0'));
    serve(QStringLiteral("img.org"), QStringLiteral("/exact.png"), exact);
    QByteArray large = exact + QByteArray(50001, '\0');
    serve(QStringLiteral("img.org"), QStringLiteral("/large.png"), large);
    EXPECT_FALSE(find(QStringLiteral("http://plain.org/feed")));
    icon = find(QStringLiteral("http://plain.org/feed"), QString(), QUrl(QStringLiteral("http://img.org/exact.png")));
    ASSERT_TRUE(icon);
    EXPECT_EQ(pictureOf(*icon).pixel(0, 0), qRgb(7, 7, 7));
    EXPECT_FALSE(find(QStringLiteral("http://plain.org/feed"), QString(), QUrl(QStringLiteral("http://img.org/large.png"))));
}

TEST_F(Icons, ASiteOnAnotherPortKeepsItsIconThere)
{
    serve(QStringLiteral("ported.example"), QStringLiteral("/favicon.ico"), pngBytes(16, qRgb(9, 9, 9)));
    const auto icon = find(QStringLiteral("http://ported.example:8080/rss.xml"));
    ASSERT_TRUE(icon && icon->hasImage());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().header("Host"), QByteArray("ported.example:8080"));

    // An address has no registered domain to ask.
    serve(QStringLiteral("10.1.2.3"), QStringLiteral("/favicon.ico"), QByteArray(), 500);
    EXPECT_FALSE(find(QStringLiteral("http://10.1.2.3/rss.xml")));
    for (const HttpTestServer::Request &request : server.requests())
        EXPECT_NE(request.host, QStringLiteral("2.3"));
}
