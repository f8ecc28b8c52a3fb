// Hostile documents served from a local server through whole refreshes of
// real subscriptions: each refresh must end with the subscription's error
// text set or its items stored, without a crash, a hang or unbounded memory.
#include "memoryprobe.h"
#include "refreshfixture.h"

#include "feeds/reading/sickxmlparser.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>

// Failures print texts as text, cut short: some here are a megabyte long.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.left(60).toStdString() << (text.size() > 60 ? "...\" (" + std::to_string(text.size()) + " chars)" : "\"");
}
QT_END_NAMESPACE

using namespace corvane;
using corvane::test::HttpTestServer;
using corvane::test::PeakGrowth;

namespace {

const QString kInvalidXml = QStringLiteral("Invalid XML");

QByteArray rss(const QByteArray &items, const QByteArray &title = "Hostile")
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + title
        + "</title><link>http://127.0.0.1/</link>" + items + "</channel></rss>";
}

QByteArray rssItem(const QByteArray &title, const QByteArray &link, const QByteArray &extra = {})
{
    return "<item><title>" + title + "</title><link>" + link + "</link>" + extra + "</item>";
}

QStringList titles(const QList<DataItem *> &items)
{
    QStringList list;
    for (const DataItem *item : items)
        list.append(item->title());
    return list;
}

// A document, and what a refresh of it must come to.
struct HostileCase
{
    const char *name;
    QByteArray document;
    QStringList titles; // the items stored, by title
    QString error;      // the subscription's error text afterwards
};

class Hostile : public corvane::test::RefreshFixture
{
protected:
    void SetUp() override
    {
        RefreshFixture::SetUp();
        // The pause after each element start would make the large documents
        // here take minutes; it has no part in what they test.
        RSSParser::setPausesPerElement(false);
    }
    void TearDown() override
    {
        RefreshFixture::TearDown();
        RSSParser::setPausesPerElement(true);
    }

    qint64 countOf(Datasource *datasource)
    {
        return main()->count(Query{Entity::DataItem,
                                   Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(datasource->objectID())),
                                   {}});
    }

    // Serves each case on a path of its own, refreshes them all, and compares.
    void expectOutcomes(const QList<HostileCase> &cases)
    {
        struct Fed
        {
            const HostileCase *row;
            RSSDatasource *feed;
        };
        QList<Fed> feeds;
        const int target = finishedAttempts() + int(cases.size());
        for (qsizetype i = 0; i < cases.size(); ++i) {
            const QString path = QStringLiteral("/hostile/%1.xml").arg(i);
            serve(path, cases[i].document);
            feeds.append({&cases[i], addFeed(local(path))});
        }
        refreshUntil(target, 60000);
        for (const Fed &fed : std::as_const(feeds)) {
            SCOPED_TRACE(fed.row->name);
            const QList<DataItem *> items = itemsOf(fed.feed);
            QStringList stored = titles(items);
            EXPECT_EQ(stored, fed.row->titles);
            EXPECT_EQ(errorOf(fed.feed), fed.row->error);
            for (const DataItem *item : items) {
                for (const QString &text : {item->title(), item->link(), item->itemDescription(), item->enclosureUrl()}) {
                    EXPECT_FALSE(text.contains(QChar(0))) << "a NUL was stored";
                    EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << "a broken character was stored";
                    EXPECT_TRUE(text.isValidUtf16());
                }
            }
        }
    }

    // Closes the manager and opens the same store again, as a restart does.
    void reopen()
    {
        DatasourceManager::Options options;
        options.storeDirectory = manager->stores().directory();
        options.startTimer = false;
        options.commitDelaySeconds = 0.05;
        manager.reset();
        manager = std::make_unique<DatasourceManager>(options);
        settle();
    }

};

} // namespace

// --- Many items and long texts ---------------------------------------------------------------

// Nothing limits the items one refresh stores: the per-subscription limit
// applies to what is shown, and items without a date are dated now, inside
// any age limit. So every one of them is stored, and a second refresh of the
// same document recognises every one by its guid (within one document too).
TEST_F(Hostile, AHundredThousandItemsAreAllStoredAndRecognisedAgain)
{
    constexpr int kItems = 100000;
    QByteArray items;
    items.reserve(kItems * 96);
    for (int i = 0; i < kItems; ++i) {
        const QByteArray n = QByteArray::number(i);
        items += rssItem("Item " + n, "http://a.org/" + n, "<guid>g-" + n + "</guid>");
    }
    // The first guid again, retitled: an item not yet saved is found by it.
    items += rssItem("Item 0, again", "http://a.org/0", "<guid>g-0</guid>");
    const QByteArray document = rss(items);
    ASSERT_LT(document.size(), HttpFetcher::kMaxBodyBytes);
    serve(QStringLiteral("/many.xml"), document);
    const int first = finishedAttempts() + 1;
    RSSDatasource *feed = addFeed(local(QStringLiteral("/many.xml")));
    // A guard against a hang, generous for sanitizer builds (several times slower).
    refreshUntil(first, 300000);

    EXPECT_EQ(errorOf(feed), QString());
    EXPECT_EQ(countOf(feed), kItems);
    const QList<DataItem *> last =
        main()->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("guid"), QStringLiteral("g-99999")), {}});
    ASSERT_EQ(last.size(), 1);
    EXPECT_EQ(last[0]->title(), QStringLiteral("Item 99999"));
    EXPECT_EQ(last[0]->link(), QStringLiteral("http://a.org/99999"));
    const QList<DataItem *> again =
        main()->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("guid"), QStringLiteral("g-0")), {}});
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0]->title(), QStringLiteral("Item 0, again"));

    const int second = finishedAttempts() + 1;
    makeDue();
    refreshUntil(second, 300000);
    EXPECT_EQ(errorOf(feed), QString());
    EXPECT_EQ(countOf(feed), kItems) << "the second refresh found every item again";
}

// A megabyte of title, description or channel name is stored whole, found
// again by the next refresh, and read back whole after a restart.
TEST_F(Hostile, MegabyteTitlesAndDescriptionsAreStoredWholeAndSurviveAReopen)
{
    QByteArray longTitle;
    while (longTitle.size() < 1024 * 1024)
        longTitle += "Tr\xc3\xa8s long titre \xe2\x80\x94 ";
    longTitle += "end"; // a name is stored trimmed
    QByteArray longDescription;
    while (longDescription.size() < 1024 * 1024)
        longDescription += "<p>Paragraph &amp; more, \xf0\x9f\x93\xb0 news</p>";
    const QByteArray document =
        rss(rssItem(longTitle, "http://a.org/long", "<description><![CDATA[" + longDescription + "]]></description>")
                + rssItem("Short", "http://a.org/short", "<description>" + QString::fromUtf8(longDescription).toHtmlEscaped().toUtf8() + "</description>"),
            longTitle);
    serve(QStringLiteral("/long.xml"), document);
    const int first = finishedAttempts() + 1;
    RSSDatasource *feed = addFeed(local(QStringLiteral("/long.xml")));
    refreshUntil(first, 30000);

    const QString title = QString::fromUtf8(longTitle);
    const QString description = QString::fromUtf8(longDescription);
    auto check = [&](Datasource *source) {
        const QList<DataItem *> items = itemsOf(source);
        ASSERT_EQ(items.size(), 2);
        EXPECT_EQ(items[0]->title(), QStringLiteral("Short"));
        EXPECT_EQ(items[0]->itemDescription(), description) << "entities decoded, all of it";
        EXPECT_EQ(items[1]->title().size(), title.size());
        EXPECT_EQ(items[1]->title(), title);
        EXPECT_EQ(items[1]->itemDescription(), description);
        EXPECT_EQ(source->name(), title);
    };
    EXPECT_EQ(errorOf(feed), QString());
    check(feed);

    const int second = finishedAttempts() + 1;
    makeDue();
    refreshUntil(second, 30000);
    EXPECT_EQ(errorOf(feed), QString());
    check(feed);

    const ObjectID id = feed->objectID();
    reopen();
    auto *reopened = dynamic_cast<Datasource *>(main()->existingObject(id));
    ASSERT_NE(reopened, nullptr);
    check(reopened);
}

// --- Deep nesting ----------------------------------------------------------------------------

namespace {

QByteArray opened(const QByteArray &name, int depth)
{
    return QByteArray('<' + name + '>').repeated(depth);
}

QByteArray closed(const QByteArray &name, int depth)
{
    return QByteArray("</" + name + '>').repeated(depth);
}

} // namespace

// libxml2 refuses documents nested deeper than its limit (XML_PARSE_HUGE
// stays off): the refresh reports "Invalid XML" and keeps the items that
// were complete before the depth was reached. None of our own code
// recurses per level, in the parser, the reader's path or the page search
// that follows a failed read.
TEST_F(Hostile, ElementsNestedAHundredThousandDeepEndInInvalidXmlKeepingEarlierItems)
{
    constexpr int kDepth = 100000;
    const QByteArray before = rssItem("Before", "http://a.org/before");
    const QByteArray after = rssItem("After", "http://a.org/after");
    expectOutcomes({
        {"deep inside an item",
         rss(before + "<item><title>Deep</title><link>http://a.org/deep</link>" + opened("a", kDepth)
             + closed("a", kDepth) + "</item>" + after),
         {QStringLiteral("Before")}, kInvalidXml},
        {"deep in the channel, never closed", rss(before + opened("x", kDepth) + after), {QStringLiteral("Before")}, kInvalidXml},
        {"deep as the root", opened("rss", kDepth) + "<channel>" + before + "</channel>" + closed("rss", kDepth), {}, kInvalidXml},
        {"deep items in items", rss(before + opened("item", kDepth) + closed("item", kDepth)), {QStringLiteral("Before")}, kInvalidXml},
        // rss, channel and item, and elements inside up to the limit.
        {"nested to the limit",
         rss(before + "<item><title>Deep</title>" + opened("a", SickXMLParser::kMaxDepth - 3)
             + closed("a", SickXMLParser::kMaxDepth - 3) + "</item>"),
         {QStringLiteral("Before"), QStringLiteral("Deep")}, QString()},
        {"one level over the limit",
         rss(before + "<item><title>Deep</title>" + opened("a", SickXMLParser::kMaxDepth - 2)
             + closed("a", SickXMLParser::kMaxDepth - 2) + "</item>"),
         {QStringLiteral("Before")}, kInvalidXml},
        {"deep page markup", "<html><head>" + opened("div", kDepth) + "</head></html>", {}, kInvalidXml},
    });
}

// --- Bytes that are not text ----------------------------------------------------------------

// The repair mends ampersands only; a NUL or a byte sequence that is not
// UTF-8 makes the document malformed, and the refresh keeps what was read
// before it and reports "Invalid XML". No NUL or broken character is ever
// stored.
TEST_F(Hostile, NulBytesAndInvalidUtf8EndInInvalidXmlKeepingEarlierItems)
{
    const QByteArray before = rssItem("Before", "http://a.org/before");
    const QByteArray after = rssItem("After", "http://a.org/after");
    const auto bad = [&](const QByteArray &title, const QByteArray &link = "http://a.org/bad") {
        return rss(before + rssItem(title, link) + after);
    };
    const QByteArray nul(1, '\0');
    const QStringList kept{QStringLiteral("Before")};
    const QByteArray longCdata(100 * 1024, 'c');
    expectOutcomes({
        {"NUL in a title", bad("Bad" + nul + "title"), kept, kInvalidXml},
        {"NUL in a link", bad("Bad", "http://a.org/" + nul + "x"), kept, kInvalidXml},
        {"NUL in a tag name", rss(before + "<item><ti" + nul + "tle>Bad</title></item>" + after), kept, kInvalidXml},
        {"NUL in an attribute", rss(before + "<item><title>Bad</title><enclosure url=\"a" + nul + "b\"/></item>" + after),
         kept, kInvalidXml},
        {"NUL between items", rss(before + nul + after), kept, kInvalidXml},
        {"NULs in the middle of the file", rss(before + QByteArray(4096, '\0') + after), kept, kInvalidXml},
        {"NUL opening a long CDATA section",
         rss(before + "<item><title>Bad</title><description><![CDATA[" + nul + longCdata + "]]></description></item>" + after),
         kept, kInvalidXml},
        {"NUL inside a long CDATA section",
         rss(before + "<item><title>Bad</title><description><![CDATA[" + longCdata + nul + longCdata
             + "]]></description></item>" + after),
         kept, kInvalidXml},
        {"NULs before the prolog", QByteArray(3, '\0') + rss(before), {}, kInvalidXml},
        {"NUL after the document", rss(before + after) + nul + "trailing", {QStringLiteral("After"), QStringLiteral("Before")},
         kInvalidXml},
        {"reference to NUL", bad("Bad&#0;title"), kept, kInvalidXml},
        {"reference to a surrogate", bad("Bad&#xD800;title"), kept, kInvalidXml},
        {"overlong slash", bad("Bad\xc0\xaftitle"), kept, kInvalidXml},
        {"overlong NUL", bad("Bad\xc0\x80title"), kept, kInvalidXml},
        {"overlong three bytes", bad("Bad\xe0\x80\xaftitle"), kept, kInvalidXml},
        {"lone high surrogate", bad("Bad\xed\xa0\x80title"), kept, kInvalidXml},
        {"lone low surrogate", bad("Bad\xed\xbf\xbftitle"), kept, kInvalidXml},
        {"truncated sequence", bad("Bad\xe2\x82title"), kept, kInvalidXml},
        {"truncated at the end of a title", bad("Bad\xf0\x9f\x93"), kept, kInvalidXml},
        {"byte FE", bad("Bad\xfetitle"), kept, kInvalidXml},
        {"byte FF", bad("Bad\xfftitle"), kept, kInvalidXml},
        {"invalid byte in a link", bad("Bad", "http://a.org/\xff\xfe"), kept, kInvalidXml},
        {"lone surrogate in a link", bad("Bad", "http://a.org/\xed\xa0\x80"), kept, kInvalidXml},
        {"invalid byte in CDATA", rss(before + "<item><title><![CDATA[Bad\xff]]></title></item>" + after), kept, kInvalidXml},
        {"invalid byte opening a long CDATA section",
         rss(before + "<item><title>Bad</title><description><![CDATA[\xff" + longCdata + "]]></description></item>" + after),
         kept, kInvalidXml},
        {"invalid byte in an attribute",
         rss(before + "<item><title>Bad</title><enclosure url=\"http://a.org/\xfe\"/></item>" + after), kept, kInvalidXml},
        {"invalid byte in a tag name", rss(before + "<item><ti\xfftle>Bad</ti\xfftle></item>" + after), kept, kInvalidXml},
    });
}

// --- A body far over the limit ---------------------------------------------------------------

// 200 MB announced and served as fast as the client reads: the download stops at the
// 20 MB limit with its own error text, nothing is stored, and the process
// never holds anything near the whole body.
TEST_F(Hostile, TwoHundredMegabyteBodyIsCutAtTheLimitInBoundedMemory)
{
    constexpr qint64 kBody = 200LL * 1024 * 1024;
    HttpTestServer::Response big;
    big.headers = {{"Content-Type", "application/rss+xml"}, {"Content-Length", QByteArray::number(kBody)}};
    big.endlessBody = true;
    server.setResponse(QStringLiteral("/big.xml"), big);
    PeakGrowth growth;
    const int first = finishedAttempts() + 1;
    RSSDatasource *feed = addFeed(local(QStringLiteral("/big.xml")));
    refreshUntil(first, 30000);

    EXPECT_EQ(errorOf(feed), QStringLiteral("Download too large"));
    EXPECT_EQ(countOf(feed), 0);
    EXPECT_GE(server.endlessBodyBytesSent(), HttpFetcher::kMaxBodyBytes);
    EXPECT_LT(server.endlessBodyBytesSent(), kBody / 2) << "the client stopped reading at the limit";
    EXPECT_TRUE(growth.wasReset());
    const qint64 grownKb = growth.kb();
    RecordProperty("peakGrowthKb", int(grownKb));
    EXPECT_LT(grownKb, 100 * 1024 * kMemoryBoundFactor) << "peak resident growth in kB";
}
