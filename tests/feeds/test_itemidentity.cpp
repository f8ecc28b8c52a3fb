// Items are recognised again on every refresh: a feed read twice stores what
// it stored once, and a refresh that finds nothing new writes nothing.
#include "refreshfixture.h"

#include "store/objectstore.h"
#include "store/sqlitedatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

class ItemIdentity : public corvane::test::RefreshFixture
{
protected:
    // Refreshes every subscription `times` times, each time due again.
    void refreshTimes(int times)
    {
        for (int i = 0; i < times; ++i) {
            makeDue();
            refreshRound(1);
        }
    }

    int itemCount(Datasource *datasource) { return int(itemsOf(datasource).size()); }
};

QByteArray rss(const QByteArray &channelTitle, const QByteArray &items)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channelTitle
        + "</title><link>http://127.0.0.1/</link>" + items + "</channel></rss>";
}

} // namespace

TEST_F(ItemIdentity, ARootRelativeLinkWithoutGuidIsOneItemOverRefreshes)
{
    serve(QStringLiteral("/rel.xml"), rss("Relative", "<item><title>Post</title><link>/p</link></item>"
                                                      "<item><title>Spaced</title><link> /q\n</link></item>"));
    RSSDatasource *feed = addFeed(local(QStringLiteral("/rel.xml")));
    refreshTimes(3);
    const QList<DataItem *> items = itemsOf(feed);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->link(), local(QStringLiteral("/p")));
    EXPECT_EQ(items[1]->link(), local(QStringLiteral("/q")));
}

TEST_F(ItemIdentity, AChannelTitleInWhiteSpaceDoesNotRenameTheSubscriptionAgain)
{
    serve(QStringLiteral("/padded.xml"),
          rss("\n   Padded news \t\n", "<item><title>One</title><link>http://a.org/1</link></item>"
                                       "<item><title>Two</title><link>http://a.org/2</link></item>"));
    RSSDatasource *feed = addFeed(local(QStringLiteral("/padded.xml")));
    refreshTimes(1);
    main()->refresh(feed, false);
    ASSERT_EQ(feed->name(), QStringLiteral("Padded news"));

    // Every later write of a name or of an item lands in a table of the store file.
    SqliteDatabase db;
    ASSERT_TRUE(db.open(QDir(storeDirectory()).filePath(ObjectStore::kStoreFileName)));
    ASSERT_TRUE(db.exec("CREATE TABLE writes (what TEXT)"));
    ASSERT_TRUE(db.exec("CREATE TRIGGER renamed AFTER UPDATE OF name ON datasource "
                        "BEGIN INSERT INTO writes VALUES ('name'); END"));
    ASSERT_TRUE(db.exec("CREATE TRIGGER itemwritten AFTER UPDATE ON item "
                        "BEGIN INSERT INTO writes VALUES ('item'); END"));
    refreshTimes(2);
    SqliteStatement writes = db.prepare("SELECT what, count(*) FROM writes GROUP BY what");
    QStringList seen;
    while (writes.step())
        seen.append(writes.columnText(0) + u' ' + QString::number(writes.columnInt64(1)));
    EXPECT_EQ(seen.join(u", ").toStdString(), "") << "an unchanged feed writes no name and no item";
    EXPECT_EQ(itemCount(feed), 2);
}

// ---- Refreshed twice, stored once ------------------------------------------------

namespace {

struct Document
{
    QString name;
    QByteArray bytes;
};

// Items of every shape the reader tells apart: title, link and guid forms
// crossed, each item made distinct by its number.
QList<Document> generatedDocuments()
{
    const QList<QByteArray> titles = {"<title>T%</title>", "<title>\n  Padded % \n</title>", "", "<title></title>",
                                      "<title><![CDATA[C & D %]]></title>", "<title>caf&eacute; %</title>"};
    const QList<QByteArray> rssLinks = {"<link>http://a.org/%</link>", "<link>rel/%</link>", "<link>/root/%</link>",
                                        "<link>  http://a.org/ws%\n</link>", "", "<link></link>",
                                        "<link>http://a.org/a b%</link>"};
    const QList<QByteArray> guids = {"", "<guid>g-%</guid>", "<guid>http://a.org/perma%</guid>",
                                     "<guid isPermaLink=\"false\">http://a.org/np%</guid>"};
    const QList<QByteArray> atomLinks = {
        "<link rel=\"alternate\" href=\"http://a.org/%\"/>", "<link href=\"rel/%\"/>", "<link href=\"/root/%\"/>",
        "<link rel=\"enclosure\" type=\"audio/mpeg\" length=\"1\"/>",
        "<link rel=\"enclosure\" href=\"http://a.org/%.mp3\"/>",
        "<link rel=\"self\" type=\"application/atom+xml\" href=\"http://a.org/%.atom\"/>", "",
        "<link href=\"http://a.org/%\"/><feedburner:origLink>http://o.org/%</feedburner:origLink>",
        "<link xml:base=\"http://entry.org/\" href=\"%\"/>"};
    const QList<QByteArray> ids = {"", "<id>urn:%</id>"};
    const QList<QByteArray> bases = {"", " xml:base=\"sub/\"", " xml:base=\"http://base.example/b/\""};

    QList<Document> documents;
    int n = 0;
    const auto numbered = [&n](QByteArray piece) { return piece.replace('%', QByteArray::number(n)); };
    for (const QByteArray &base : bases) {
        QByteArray rss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel" + base + "><title>R</title>";
        QByteArray atom = "<feed xmlns=\"http://www.w3.org/2005/Atom\"" + base + "><title>A</title>";
        for (const QByteArray &title : titles) {
            for (const QByteArray &link : rssLinks)
                for (const QByteArray &guid : guids) {
                    ++n;
                    rss += "\n<item>" + numbered(title) + "\n " + numbered(link) + numbered(guid)
                         + "<description>d</description></item>";
                }
            for (const QByteArray &link : atomLinks)
                for (const QByteArray &id : ids) {
                    ++n;
                    atom += "\n<entry>" + numbered(title) + "\n " + numbered(link) + "\n " + numbered(id)
                          + "<summary>s</summary></entry>";
                }
        }
        documents.append({u"rss, base '"_s + QString::fromUtf8(base) + u'\'', rss + "</channel></rss>"});
        documents.append({u"atom, base '"_s + QString::fromUtf8(base) + u'\'', atom + "</feed>"});
    }
    QByteArray rdf = "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                     "xmlns=\"http://purl.org/rss/1.0/\"><channel><title>D</title></channel>";
    for (const QByteArray &title : titles)
        for (const QByteArray &link : rssLinks) {
            ++n;
            rdf += "<item>" + numbered(title) + numbered(link) + "</item>";
        }
    documents.append({u"rdf"_s, rdf + "</rdf:RDF>"});
    return documents;
}

// Broken and hostile documents: each keeps what it read before its fault.
QList<Document> hostileDocuments()
{
    const QByteArray head = "<rss><channel><title>H</title><item><title>Before</title><link>/b</link></item>";
    return {
        {u"NUL byte"_s, head + "<item><title>N" + QByteArray(1, '\0') + "UL</title></item></channel></rss>"},
        {u"invalid UTF-8"_s, head + "<item><title>\xC3\x28 \xFF</title></item></channel></rss>"},
        {u"truncated"_s, head + "<item><title>Cut"},
        {u"text after the root"_s, head + "</channel></rss><p>cached</p>"},
        {u"raw br"_s, head + "<item><title>X</title><description>a<br>b</description></item></channel></rss>"},
        {u"raw p left open"_s, head + "<item><title>Y</title><description><p>a</description></item></channel></rss>"},
        {u"undeclared Latin-1"_s, head + "<item><title>caf\xE9</title></item></channel></rss>"},
        {u"nested deep"_s, head + QByteArray("<x>").repeated(300) + "</channel></rss>"},
        {u"html page"_s, "<html><head><title>Sign in</title></head></html>"},
    };
}

QList<Document> filesIn(const QString &folder, const QString &prefix)
{
    QList<Document> documents;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (name != u"truth.json" && file.open(QIODevice::ReadOnly))
            documents.append({prefix + name, file.readAll()});
    }
    return documents;
}

QString sourcePath(const QString &relative)
{
    return QDir(QString::fromUtf8(CORVANE_SOURCE_DIR)).filePath(relative);
}

class RefreshedTwice : public ItemIdentity
{
protected:
    void SetUp() override
    {
        ItemIdentity::SetUp();
        RSSParser::setPausesPerElement(false);
    }
    void TearDown() override
    {
        ItemIdentity::TearDown();
        RSSParser::setPausesPerElement(true);
    }
};

} // namespace

TEST_F(RefreshedTwice, NoDocumentStoresMoreItemsThanOnce)
{
    QList<Document> documents = generatedDocuments() + hostileDocuments()
                              + filesIn(sourcePath(u"fuzz/corpus/feedparser"_s), u"fixture "_s);
    // The generated corpus of bench/compare, where its generator can run.
    QTemporaryDir corpus;
    QProcess generator;
    generator.start(QStringLiteral("python3"), {sourcePath(u"bench/compare/gen_corpus.py"_s),
                                                corpus.path(), QStringLiteral("--count"), QStringLiteral("60")});
    if (generator.waitForFinished(60000) && generator.exitCode() == 0)
        documents += filesIn(corpus.path(), u"corpus "_s);
    else
        ADD_FAILURE() << "bench/compare/gen_corpus.py did not run: " << generator.errorString().toStdString();
    ASSERT_GT(documents.size(), 60);

    QList<RSSDatasource *> feeds;
    int target = finishedAttempts() + int(documents.size());
    for (qsizetype i = 0; i < documents.size(); ++i) {
        const QString path = QStringLiteral("/twice/%1.xml").arg(i);
        serve(path, documents[i].bytes);
        feeds.append(addFeed(local(path)));
    }
    refreshUntil(target, 120000);
    QList<int> once;
    for (RSSDatasource *feed : std::as_const(feeds))
        once.append(itemCount(feed));

    target = finishedAttempts() + int(documents.size());
    makeDue();
    refreshUntil(target, 120000);
    int stored = 0;
    for (qsizetype i = 0; i < documents.size(); ++i) {
        SCOPED_TRACE(documents[i].name.toStdString());
        EXPECT_EQ(itemCount(feeds[i]), once[i]);
        stored += once[i];
    }
    EXPECT_GT(stored, 1000) << "the documents store items at all";
}
