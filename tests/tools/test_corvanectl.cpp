// corvanectl as a new user would use it, against feeds served from 127.0.0.1.
#include "httptestserver.h"
#include "testfiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvane::test::HttpTestServer;

namespace {

struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

class Corvanectl : public ::testing::Test
{
protected:
    Outcome run(QStringList args)
    {
        const QString ctl = QStringLiteral(CORVANECTL_PATH);
        args = QStringList{QStringLiteral("--home"), home.path(), QStringLiteral("--assume-online")} + args;
        QProcess process;
        process.start(ctl, args);
        EXPECT_TRUE(process.waitForFinished(120000)) << args.join(u' ').toStdString();
        return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   process.readAllStandardOutput(), process.readAllStandardError()};
    }

    QJsonArray json(const QStringList &args)
    {
        const Outcome result = run(args);
        EXPECT_EQ(result.status, 0) << result.err.toStdString();
        return QJsonDocument::fromJson(result.out).array();
    }

    void serveFeed(const QString &path, const QByteArray &title, int items)
    {
        QByteArray body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title + "</title>";
        for (int i = 0; i < items; ++i)
            body += "<item><title>" + title + " story " + QByteArray::number(i) + "</title><link>http://example.org/"
                + title + "/" + QByteArray::number(i) + "</link></item>";
        body += "</channel></rss>";
        HttpTestServer::Response response;
        response.body = body;
        server.setResponse(path, response);
    }

    QTemporaryDir home;
    HttpTestServer server;
};

} // namespace

TEST_F(Corvanectl, FirstSessionAddRefreshListStarAndKeywords)
{
    serveFeed(QStringLiteral("/alpha.xml"), "Alpha", 3);
    serveFeed(QStringLiteral("/beta.xml"), "Beta", 2);
    serveFeed(QStringLiteral("/gamma.xml"), "Gamma", 1);
    const QString alpha = server.url(QStringLiteral("/alpha.xml")).toString();

    Outcome added = run({QStringLiteral("--no-default-feeds"), QStringLiteral("add"), alpha});
    EXPECT_EQ(added.status, 0) << added.err.toStdString();
    EXPECT_TRUE(added.out.startsWith("added: ")) << added.out.toStdString();
    EXPECT_EQ(run({QStringLiteral("add"), server.url(QStringLiteral("/beta.xml")).toString(), QStringLiteral("--category"),
                   QStringLiteral("Work")}).status, 0);
    EXPECT_EQ(run({QStringLiteral("add"), server.url(QStringLiteral("/gamma.xml")).toString()}).status, 0);
    const Outcome again = run({QStringLiteral("add"), alpha});
    EXPECT_TRUE(again.out.startsWith("already subscribed: ")) << again.out.toStdString();
    const Outcome bad = run({QStringLiteral("add"), QStringLiteral("not a url")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.err.startsWith("corvanectl: ")) << bad.err.toStdString();

    const Outcome refreshed = run({QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    EXPECT_EQ(refreshed.status, 0) << refreshed.err.toStdString();
    EXPECT_EQ(refreshed.out.count('\n'), 3) << refreshed.out.toStdString();
    EXPECT_TRUE(refreshed.out.contains("Alpha\t3 items\tok")) << refreshed.out.toStdString();

    const QJsonArray feeds = json({QStringLiteral("list-feeds"), QStringLiteral("--json")});
    ASSERT_EQ(feeds.size(), 3) << "no first-run subscriptions were made";
    EXPECT_EQ(feeds[0].toObject().value(QStringLiteral("url")).toString(), alpha);
    EXPECT_EQ(feeds[0].toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Alpha"));
    EXPECT_EQ(feeds[1].toObject().value(QStringLiteral("category")).toString(), QStringLiteral("Work"));
    EXPECT_FALSE(feeds[0].toObject().value(QStringLiteral("lastUpdateDate")).isNull());

    const QJsonArray items = json({QStringLiteral("list-items"), QStringLiteral("--json")});
    ASSERT_EQ(items.size(), 6);
    const QJsonObject first = items[0].toObject();
    EXPECT_TRUE(first.value(QStringLiteral("orderingDate")).toString().endsWith(u'Z'));
    const QString hash = QString::number(first.value(QStringLiteral("itemHash")).toInteger());
    EXPECT_EQ(run({QStringLiteral("star"), hash}).status, 0);
    EXPECT_EQ(run({QStringLiteral("read"), hash}).status, 0);
    EXPECT_EQ(run({QStringLiteral("star"), QStringLiteral("12345")}).status, 1);

    EXPECT_EQ(run({QStringLiteral("keywords"), QStringLiteral("story 1"), QStringLiteral("Gamma")}).status, 0);
    EXPECT_EQ(run({QStringLiteral("keywords")}).out, QByteArray("story 1\nGamma\n"));

    const QJsonArray after = json({QStringLiteral("list-items"), QStringLiteral("--json"), QStringLiteral("--all")});
    int starred = 0;
    int marked = 0;
    for (const QJsonValue &value : after) {
        const QJsonObject item = value.toObject();
        if (item.value(QStringLiteral("starred")).toBool()) {
            ++starred;
            EXPECT_TRUE(item.value(QStringLiteral("read")).toBool());
        }
        marked += item.value(QStringLiteral("mark")).toBool();
    }
    EXPECT_EQ(starred, 1);
    EXPECT_EQ(marked, 3) << "Alpha story 1, Beta story 1 and the Gamma item match a keyword";

    EXPECT_EQ(run({QStringLiteral("remove"), server.url(QStringLiteral("/beta.xml")).toString()}).status, 0);
    const QJsonArray remaining = json({QStringLiteral("list-items"), QStringLiteral("--json"), QStringLiteral("--all")});
    EXPECT_EQ(remaining.size(), 4);
    int unread = 0;
    for (const QJsonValue &value : remaining)
        unread += !value.toObject().value(QStringLiteral("read")).toBool();
    EXPECT_EQ(run({QStringLiteral("mark-all-read")}).out, QByteArrayLiteral("marked ") + QByteArray::number(unread)
                                                            + " items read\n");
    EXPECT_EQ(run({QStringLiteral("frobnicate")}).status, 2);
}

TEST_F(Corvanectl, AFreshHomeGetsTheFirstRunSubscriptionsOnce)
{
    QJsonArray feeds = json({QStringLiteral("list-feeds"), QStringLiteral("--json")});
    ASSERT_EQ(feeds.size(), 4);
    EXPECT_EQ(feeds[0].toObject().value(QStringLiteral("visibleName")).toString(), QStringLiteral("USA TODAY"));
    EXPECT_EQ(feeds[0].toObject().value(QStringLiteral("category")).toString(), QStringLiteral("News"));
    EXPECT_TRUE(feeds[0].toObject().value(QStringLiteral("hasImage")).toBool());
    EXPECT_FALSE(feeds[2].toObject().value(QStringLiteral("hasImage")).toBool());
    EXPECT_EQ(feeds[0].toObject().value(QStringLiteral("clock")).toInteger(), -1024);
    EXPECT_EQ(run({QStringLiteral("keywords")}).out, QByteArray("breaking news\nApple\n"));
    for (const QJsonValue &feed : feeds)
        EXPECT_EQ(run({QStringLiteral("remove"), feed.toObject().value(QStringLiteral("url")).toString()}).status, 0);
    EXPECT_TRUE(json({QStringLiteral("list-feeds"), QStringLiteral("--json")}).isEmpty()) << "defaults do not come back";
}

TEST_F(Corvanectl, AStoreThatCannotBeOpenedIsOneLineAndExitOneWithNothingChanged)
{
    const QString blocker = home.filePath(QStringLiteral("data"));
    corvane::test::writeFile(blocker, "not a folder");

    for (const QString &command : {QStringLiteral("list-feeds"), QStringLiteral("refresh")}) {
        SCOPED_TRACE(command.toStdString());
        const Outcome result = run({QStringLiteral("--no-default-feeds"), command});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "corvanectl: cannot open the store at " + blocker.toUtf8() + ": it is not a folder\n");
    }
    EXPECT_EQ(corvane::test::readFile(blocker), QByteArray("not a folder"));
}

// The command-line tool decodes icons through the codec module, loaded on
// first use, so the program itself needs no Qt Gui.
TEST(CorvanectlBinary, DoesNotLinkQtGui)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), QStringLiteral(CORVANECTL_PATH)});
    ASSERT_TRUE(readelf.waitForFinished(30000));
    const QByteArray dynamic = readelf.readAllStandardOutput();
    ASSERT_TRUE(dynamic.contains("libQt6Core")) << dynamic.toStdString();
    EXPECT_FALSE(dynamic.contains("libQt6Gui")) << dynamic.toStdString();
}

TEST_F(Corvanectl, OnlyWebAndTwitterAddressesAreSubscribedFromTheCommandLineAndOpml)
{
    const struct { const char *address; bool accepted; } rows[] = {
        {"http://news.example/rss", true},
        {"feed://other.example/rss", true},
        {"feed:https://third.example/atom", true},
        {"plain.example/rss", true},
        {"@someone", true},
        {"file:///etc/passwd", false},
        {"FILE://localhost/etc/passwd", false},
        {"javascript:alert(1)", false},
        {"data:text/xml,%3Crss%2F%3E", false},
        {"ftp://files.example/rss", false},
    };
    int accepted = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.address);
        const Outcome added = run({QStringLiteral("--no-default-feeds"), QStringLiteral("add"), QString::fromUtf8(row.address)});
        if (row.accepted) {
            ++accepted;
            EXPECT_EQ(added.status, 0) << added.err.toStdString();
            EXPECT_TRUE(added.out.startsWith("added: ")) << added.out.toStdString();
        } else {
            EXPECT_EQ(added.status, 1);
            EXPECT_EQ(added.err, "corvanectl: not a feed address: " + QByteArray(row.address) + "\n");
        }
    }

    const QString opml = home.filePath(QStringLiteral("list.opml"));
    corvane::test::writeFile(opml, "<?xml version=\"1.0\"?><opml version=\"1.0\"><body>"
                          "<outline text=\"Local\" type=\"rss\" xmlUrl=\"file:///etc/passwd\"/>"
                          "<outline text=\"Script\" type=\"rss\" xmlUrl=\"javascript:alert(1)\"/>"
                          "<outline text=\"Web\" type=\"rss\" xmlUrl=\"http://web.example/rss\"/>"
                          "</body></opml>");
    const Outcome imported = run({QStringLiteral("import-opml"), opml});
    EXPECT_EQ(imported.status, 0) << imported.err.toStdString();

    const QJsonArray feeds = json({QStringLiteral("list-feeds"), QStringLiteral("--json")});
    QStringList urls;
    for (const QJsonValue &feed : feeds)
        urls.append(feed.toObject().value(QStringLiteral("url")).toString());
    EXPECT_EQ(urls.size(), accepted + 1) << urls.join(u' ').toStdString();
    EXPECT_TRUE(urls.contains(QStringLiteral("http://web.example/rss")));
    for (const QString &url : std::as_const(urls)) {
        EXPECT_FALSE(url.contains(QStringLiteral("passwd"))) << url.toStdString();
        EXPECT_FALSE(url.contains(QStringLiteral("javascript"))) << url.toStdString();
    }
}

TEST_F(Corvanectl, RefreshSucceedsWhenAnySubscriptionDidAndExitsThreeWhenAllFailed)
{
    serveFeed(QStringLiteral("/good.xml"), "Good", 2);
    HttpTestServer::Response broken;
    broken.status = 500;
    server.setResponse(QStringLiteral("/broken.xml"), broken);
    const QString good = server.url(QStringLiteral("/good.xml")).toString();
    ASSERT_EQ(run({QStringLiteral("--no-default-feeds"), QStringLiteral("add"), good,
                   server.url(QStringLiteral("/broken.xml")).toString(),
                   server.url(QStringLiteral("/missing.xml")).toString()}).status, 0);

    const Outcome some = run({QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    EXPECT_EQ(some.status, 0) << some.out.toStdString();
    EXPECT_TRUE(some.out.contains("Good\t2 items\tok")) << some.out.toStdString();
    EXPECT_TRUE(some.out.contains("500 Internal Server Error")) << some.out.toStdString();

    ASSERT_EQ(run({QStringLiteral("remove"), good}).status, 0);
    const Outcome none = run({QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    EXPECT_EQ(none.status, 3) << none.out.toStdString();
    EXPECT_EQ(none.out.count('\n'), 2) << "every subscription is still listed";

    const Outcome help = run({QStringLiteral("refresh"), QStringLiteral("--help")});
    EXPECT_TRUE(help.out.contains("3 when every one failed")) << help.out.toStdString();
}
