// Repair, XML reading and feed reading of fetched documents, and the links
// of web pages.
#include "feeds/reading/elementpause.h"
#include "feeds/reading/feeddocumentreader.h"
#include "feeds/reading/fixer.h"
#include "feeds/reading/htmllinks.h"
#include "feeds/reading/sickxmlparser.h"

#include "datetestutils.h"
#include "httptestserver.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace corvane;
using corvane::test::HttpTestServer;
using namespace Qt::StringLiterals;

namespace {

// ---- Fixer -----------------------------------------------------------------

struct FixerCase
{
    const char *name;
    const char *input;
    const char *expected;
};

const FixerCase kFixerCases[] = {
    {"bare ampersands are escaped", "<t>A & B & C</t>", "<t>A &amp; B &amp; C</t>"},
    {"the last ampersand pends at the end", "A & B & C", "A &amp; B & C"},
    {"entity reference is kept", "A &amp; B", "A &amp; B"},
    {"character reference is kept", "&#8217;", "&#8217;"},
    {"ampersand inside CDATA is kept", "<d><![CDATA[A & B]]></d>", "<d><![CDATA[A & B]]></d>"},
    {"ampersand before CDATA is escaped", "A & <![CDATA[x]]>", "A &amp; <![CDATA[x]]>"},
    {"ampersand after CDATA is escaped", "<![CDATA[&]]> & x</a>", "<![CDATA[&]]> &amp; x</a>"},
    {"ampersand before end tag is escaped", "<t>A &</t>", "<t>A &amp;</t>"},
    {"ampersand before CDATA end is escaped", "& ]]>", "&amp; ]]>"},
    {"query string in a link", "<l>http://x/?a=1&b=2</l>", "<l>http://x/?a=1&amp;b=2</l>"},
    {"ampersand with a far semicolon is kept", "a & b; c", "a & b; c"},
    {"ampersand at the end is kept", "a &", "a &"},
    {"second of two ampersands pends at the end", "&&", "&amp;&"},
    {"unterminated CDATA is kept", "<![CDATA[ & ", "<![CDATA[ & "},
    {"brackets inside CDATA", "<![CDATA[a]b]]c]]]> & x</a>", "<![CDATA[a]b]]c]]]> &amp; x</a>"},
    {"brackets before CDATA", "[x] <[ <!-[ <![CDATA[&]]> & </a>", "[x] <[ <!-[ <![CDATA[&]]> &amp; </a>"},
    {"start tags do not end a reference", "a & <b>; c", "a & <b>; c"},
    {"empty text", "", ""},
    {"HTML entities are written out", "<t>caf&eacute;&nbsp;x &hellip;</t>", "<t>caf&#233;&#160;x &#8230;</t>"},
    {"XML's own entities stay", "&amp;&lt;&gt;&quot;&apos;", "&amp;&lt;&gt;&quot;&apos;"},
    {"entity names are case-sensitive", "&Eacute;&EACUTE;&eacute", "&#201;&EACUTE;&eacute"},
    {"unknown and malformed names stay", "&bogus; &1a; &a-b; &verylongname;", "&bogus; &1a; &a-b; &verylongname;"},
    {"declared entities stay", "<!DOCTYPE r [<!ENTITY copy \"(c)\">]><r>&copy;&reg;</r>",
     "<!DOCTYPE r [<!ENTITY copy \"(c)\">]><r>&copy;&#174;</r>"},
    {"entities inside CDATA stay", "<![CDATA[&eacute;]]>&eacute;", "<![CDATA[&eacute;]]>&#233;"},
    {"an entity next to a bare ampersand", "A & B&eacute;</t>", "A &amp; B&#233;</t>"},
};

TEST(Fixer, RepairsTheTableOfCasesInBytesAndText)
{
    for (const FixerCase &c : kFixerCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Fixer::fixData(QByteArray(c.input)), QByteArray(c.expected));
        EXPECT_EQ(Fixer::fixString(QString::fromUtf8(c.input)), QString::fromUtf8(c.expected));
    }
}

TEST(Fixer, KeepsDeclaredEncodingsAndReadsUndeclaredBytesAsWindows1252)
{
    // "Łódź & Gdańsk" in UTF-8, and in ISO 8859-2 as declared.
    EXPECT_EQ(Fixer::fixData("\xC5\x81\xC3\xB3" "d\xC5\xBA & Gda\xC5\x84sk</a>"),
              QByteArray("\xC5\x81\xC3\xB3" "d\xC5\xBA &amp; Gda\xC5\x84sk</a>"));
    const QByteArray latin2 = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><a>\xA3\xF3" "d\xBC & Gda\xF1sk</a>";
    EXPECT_EQ(Fixer::fixData(latin2), QByteArray(latin2).replace("& ", "&amp; "));
    // Not UTF-8 and nothing declared: Windows-1252, handed on as UTF-8 (0x92
    // is its right quote; 0x81 is left open by it and stays U+0081).
    EXPECT_EQ(Fixer::fixData("caf\xE9 & don\x92t\x81</a>"),
              QByteArray("caf\xC3\xA9 &amp; don\xE2\x80\x99t\xC2\x81</a>"));
    EXPECT_EQ(Fixer::fixData("<?xml version=\"1.0\"?><a>\xE9</a>"), QByteArray("<?xml version=\"1.0\"?><a>\xC3\xA9</a>"));
    // A truncated UTF-8 sequence is not UTF-8 either.
    EXPECT_EQ(Fixer::fixData("ok \xE2\x82 &"), QByteArray("ok \xC3\xA2\xE2\x80\x9A &"));
    EXPECT_EQ(Fixer::fixString(u"\u0141\u00F3d\u017A & x</a>"_s), u"\u0141\u00F3d\u017A &amp; x</a>"_s);
}

TEST(Fixer, RepairsUtf16AsText)
{
    const QString text = u"<a><![CDATA[Q&A]]> Tom & Jerry &eacute;\u0141</a>"_s;
    const QString fixed = u"<a><![CDATA[Q&A]]> Tom &amp; Jerry &#233;\u0141</a>"_s;
    for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        SCOPED_TRACE(int(encoding));
        QStringEncoder encode(encoding, QStringEncoder::Flag::WriteBom);
        const QByteArray expected = encode(fixed);
        QStringEncoder encodeInput(encoding, QStringEncoder::Flag::WriteBom);
        EXPECT_EQ(Fixer::fixData(encodeInput(text)), expected);
    }
}

TEST(Fixer, ClosesHtmlVoidElementsOutsideCdata)
{
    const struct { const char *name; const char *input; const char *expected; } rows[] = {
        {"br", "<d><p>a<br>b<BR >c</p></d>", "<d><p>a<br/>b<BR />c</p></d>"},
        {"img with a quoted >", "<img src=\"a>b.png\" alt='x'>", "<img src=\"a>b.png\" alt='x'/>"},
        {"hr and wbr", "<hr><wbr>", "<hr/><wbr/>"},
        {"already closed", "<br/><br /><img src=\"x\"/>", "<br/><br /><img src=\"x\"/>"},
        {"other names", "<brand><b>x</b><link>y</link><imgs>", "<brand><b>x</b><link>y</link><imgs>"},
        {"inside CDATA", "<![CDATA[a<br>b]]><br>", "<![CDATA[a<br>b]]><br/>"},
        {"unfinished tag", "<br", "<br"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Fixer::closeVoidElements(row.input), QByteArray(row.expected));
    }
}

// ---- SickXMLParser -----------------------------------------------------------

// Writes every event as one line; text pieces are joined into one "text" line.
class RecordingDelegate : public SickXMLParserDelegate
{
public:
    SickXMLParser *parser = nullptr;
    QString abortAt;
    QStringList events;
    QString allText;
    QStringList errors;

    void startElement(const QString &name, const QHash<QString, QString> &attributes) override
    {
        QStringList pairs;
        for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
            pairs.append(it.key() + u'=' + it.value());
        pairs.sort();
        events.append(u"start "_s + name + (pairs.isEmpty() ? QString() : u" "_s + pairs.join(u' ')));
        if (name == abortAt && parser)
            parser->abortParsing();
    }
    void characters(const QString &text) override { addText(text); }
    void cdataBlock(const QByteArray &bytes) override { addText(u"[cdata]"_s + QString::fromUtf8(bytes)); }
    void endElement(const QString &name) override { events.append(u"end "_s + name); }
    void parseErrorOccurred(const QString &message) override { errors.append(message); }

private:
    void addText(const QString &text)
    {
        allText += text;
        if (!events.isEmpty() && events.last().startsWith(u"text "_s))
            events.last() += text;
        else
            events.append(u"text "_s + text);
    }
};

struct ParseResult
{
    bool ok = false;
    QStringList events;
    QString text;
    QString error;
    QStringList reportedErrors;
};

ParseResult parseDocument(const QByteArray &document, const QString &abortAt = {})
{
    SickXMLParser parser(document);
    RecordingDelegate delegate;
    delegate.parser = &parser;
    delegate.abortAt = abortAt;
    parser.setDelegate(&delegate);
    ParseResult result;
    result.ok = parser.parse();
    result.events = delegate.events;
    result.text = delegate.allText;
    result.error = parser.errorString();
    result.reportedErrors = delegate.errors;
    return result;
}

TEST(SickXMLParser, ReportsQualifiedNamesAndNamespaceDeclarationsAsWritten)
{
    const ParseResult r = parseDocument(
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\">"
        "<item rdf:about=\"a\"><content:encoded>x</content:encoded></item></rdf:RDF>");
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const QStringList expected = {
        u"start rdf:RDF xmlns:rdf=http://www.w3.org/1999/02/22-rdf-syntax-ns# xmlns=http://purl.org/rss/1.0/"_s,
        u"start item rdf:about=a"_s,
        u"start content:encoded"_s,
        u"text x"_s,
        u"end content:encoded"_s,
        u"end item"_s,
        u"end rdf:RDF"_s,
    };
    EXPECT_EQ(r.events, expected);
}

TEST(SickXMLParser, GivesEachElementItsOwnAttributeValues)
{
    // Repeated attribute names, repeated and new values, in another order.
    const ParseResult r = parseDocument("<r><a x=\"1\" y=\"2\"/><a x=\"3\" y=\"4\"/><a x=\"1\" y=\"2\"/>"
                                        "<a y=\"5\" x=\"6\"/><a x=\"7\"/><a/></r>");
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const QStringList starts = r.events.filter(u"start a"_s);
    const QStringList expected = {u"start a x=1 y=2"_s, u"start a x=3 y=4"_s, u"start a x=1 y=2"_s,
                                  u"start a x=6 y=5"_s, u"start a x=7"_s,     u"start a"_s};
    EXPECT_EQ(starts, expected);
}

TEST(SickXMLParser, DeliversTextEntitiesAndCdata)
{
    const ParseResult r = parseDocument("<!DOCTYPE r [<!ENTITY who \"World &amp; Co\">]>"
                                        "<r a=\"1 &lt; 2\">Hello &who; &#233;&lt;<![CDATA[<b>&</b>]]> & more</r>");
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.events.value(0), u"start r a=1 < 2"_s);
    EXPECT_EQ(r.text, u"Hello World & Co \u00E9<[cdata]<b>&</b> & more"_s);
}

TEST(SickXMLParser, FailsOnMalformedDocumentsAndReportsWhy)
{
    for (const char *document : {"<a><b></a>", "<a>", "", "not xml", "<a></a><b/>", "<a x=1/>"}) {
        SCOPED_TRACE(document);
        const ParseResult r = parseDocument(document);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_EQ(r.reportedErrors.size(), 1);
    }
    // Events before the fault have been delivered.
    const ParseResult r = parseDocument("<a><b>kept</b><c></a>");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.events.contains(u"end b"_s));
}

TEST(SickXMLParser, AbortFromADelegateEventStopsTheParse)
{
    const ParseResult r = parseDocument("<a><b>1</b><c>2</c><d>3</d></a>", u"c"_s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.events.last(), u"start c"_s);
    EXPECT_TRUE(r.reportedErrors.isEmpty());
}

// Where stderr goes while a block runs, to prove libxml2 stays quiet.
QByteArray stderrOf(const std::function<void()> &block)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(u"stderr"_s).toLocal8Bit();
    fflush(stderr);
    const int saved = dup(2);
    const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    block();
    fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    ::close(file);
    QFile written(QString::fromLocal8Bit(path));
    return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray("unreadable");
}

TEST(SickXMLParser, WritesNothingToStderr)
{
    const QByteArray written = stderrOf([] {
        EXPECT_FALSE(parseDocument("<a><b></a>").ok);
        EXPECT_FALSE(parseDocument("<?xml version=\"1.0\" encoding=\"x-no-such\"?><a>\xFF</a>").ok);
        EXPECT_FALSE(parseDocument("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3</a>").ok);
        parseDocument("<!DOCTYPE a SYSTEM \"file:///nonexistent/x.dtd\"><a>&undeclared;</a>");
        EXPECT_TRUE(htmllinks::elementAttributes("<html><p><<<</html>", u"//p["_s).isEmpty());
    });
    EXPECT_EQ(written, QByteArray());
}

TEST(SickXMLParser, ParsersOnSeveralThreadsAreIndependent)
{
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 50; ++i) {
                const bool malformed = (i + t) % 2 == 0;
                const ParseResult r = parseDocument(malformed ? "<a><b>&x;</a>" : "<a><b>x &amp; y</b></a>");
                if (r.ok == malformed || (!malformed && r.text != u"x & y"_s))
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

FeedDocumentReader::Options quickOptions()
{
    FeedDocumentReader::Options options;
    options.pausePerElement = false;
    options.now = test::utc(2024, 3, 1);
    return options;
}

// ---- External entities and expansion ----------------------------------------------

QByteArray feedWithTitle(const QByteArray &doctype, const QByteArray &title)
{
    return "<?xml version=\"1.0\"?>" + doctype + "<rss><channel><title>" + title
           + "</title><item><title>t" + title + "</title></item></channel></rss>";
}

TEST(SickXMLParser, NeverReadsLocalFilesForExternalEntities)
{
    QTemporaryDir dir;
    test::writeFile(dir.filePath(u"secret.txt"_s), "LEAKED-FROM-FILE");
    test::writeFile(dir.filePath(u"evil.dtd"_s), "<!ENTITY leak \"LEAKED-FROM-FILE\">");
    const QByteArray secretUrl = "file://" + dir.filePath(u"secret.txt"_s).toUtf8();
    const QByteArray dtdUrl = "file://" + dir.filePath(u"evil.dtd"_s).toUtf8();

    const QList<QByteArray> documents = {
        feedWithTitle("<!DOCTYPE rss [<!ENTITY x SYSTEM \"" + secretUrl + "\">]>", "a&x;b"),
        feedWithTitle("<!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>", "a&x;b"),
        feedWithTitle("<!DOCTYPE rss [<!ENTITY x PUBLIC \"-//X//Y\" \"" + secretUrl + "\">]>", "a&x;b"),
        feedWithTitle("<!DOCTYPE rss [<!ENTITY % p SYSTEM \"" + dtdUrl + "\"> %p;]>", "a&leak;b"),
        feedWithTitle("<!DOCTYPE rss SYSTEM \"" + dtdUrl + "\">", "a&leak;b"),
    };
    for (const QByteArray &document : documents) {
        SCOPED_TRACE(document.constData());
        const ParseResult r = parseDocument(document);
        EXPECT_FALSE(r.text.contains(u"LEAKED"_s));
        EXPECT_FALSE(r.text.contains(u"root:"_s));
        FeedDocumentReader reader(quickOptions());
        reader.read(document);
        EXPECT_FALSE(reader.channelName().contains(u"LEAKED"_s));
        EXPECT_FALSE(reader.channelName().contains(u"root:"_s));
    }
    // The entity's text is simply missing; the rest of the feed reads.
    FeedDocumentReader reader(quickOptions());
    EXPECT_TRUE(reader.read(documents[0]));
    EXPECT_EQ(reader.channelName(), u"ab"_s);
    EXPECT_EQ(reader.records().size(), 1);
}

TEST(SickXMLParser, NeverUsesTheNetworkForExternalEntities)
{
    HttpTestServer server;
    HttpTestServer::Response marker;
    marker.body = "LEAKED-FROM-NETWORK";
    server.setResponse(QStringLiteral("/x"), marker);
    const QByteArray url = server.url(QStringLiteral("/x")).toEncoded();
    const QList<QByteArray> documents = {
        feedWithTitle("<!DOCTYPE rss [<!ENTITY x SYSTEM \"" + url + "\">]>", "a&x;b"),
        feedWithTitle("<!DOCTYPE rss [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]>", "ab"),
        feedWithTitle("<!DOCTYPE rss PUBLIC \"-//X//Y\" \"" + url + "\">", "ab"),
    };
    for (const QByteArray &document : documents) {
        SCOPED_TRACE(document.constData());
        const ParseResult r = parseDocument(document);
        EXPECT_FALSE(r.text.contains(u"LEAKED"_s));
    }
    // Any connection would have been accepted on the server's thread by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(server.connectionCount(), 0);
}

QByteArray billionLaughs()
{
    QByteArray dtd = "<!DOCTYPE rss [<!ENTITY lol0 \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        dtd += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int i = 0; i < 10; ++i)
            dtd += "&lol" + QByteArray::number(level - 1) + ';';
        dtd += "\">";
    }
    return feedWithTitle(dtd + "]>", "&lol9;");
}

TEST(SickXMLParser, BoundsEntityExpansion)
{
    // Nested expansion (a billion "lol"s) and one large entity used many
    // times (20 MB of text from a 100 kB document).
    const QByteArray big(50'000, 'z');
    QByteArray manyReferences;
    for (int i = 0; i < 400; ++i)
        manyReferences += "&big;";
    const QList<QByteArray> documents = {
        billionLaughs(),
        feedWithTitle("<!DOCTYPE rss [<!ENTITY big \"" + big + "\">]>", manyReferences),
    };
    for (const QByteArray &document : documents) {
        SCOPED_TRACE(document.left(60).constData());
        const ParseResult r = parseDocument(document);
        EXPECT_FALSE(r.ok);
        EXPECT_LE(r.text.size(), document.size() + SickXMLParser::kMaxExpandedText);
    }
    // Moderate use of an entity stays within the bounds.
    const ParseResult moderate =
        parseDocument(feedWithTitle("<!DOCTYPE rss [<!ENTITY big \"" + big + "\">]>", "&big;&big;"));
    EXPECT_TRUE(moderate.ok) << moderate.error.toStdString();
    EXPECT_EQ(moderate.text.size(), 4 * big.size() + 1);
}

// ---- FeedDocumentReader ---------------------------------------------------------

TEST(FeedDocumentReader, ReadsRss2ChannelAndItems)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read(
        "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\"><channel>"
        "<title>Tom & Jerry</title><atom:link href=\"http://x/feed\" rel=\"self\"/>"
        "<link>http://x/</link><link>http://x/second</link>"
        "<image><url> http://x/logo.png </url><title>logo</title></image>"
        "<item><title>One</title><link>http://x/1?a=1&b=2</link><description><![CDATA[<p>A & B</p>]]></description>"
        "<enclosure url=\"http://x/1.mp3\" type=\"audio/mpeg\"/><enclosure url=\"http://x/2.ogg\"/></item>"
        "<item><title>Two</title><media:content url=\"http://x/v.mp4\" type=\"video/mp4\"/></item>"
        "</channel></rss>"));
    EXPECT_EQ(reader.channelName(), u"Tom & Jerry"_s);
    EXPECT_EQ(reader.mainLink(), u"http://x/"_s);
    EXPECT_EQ(reader.channelImageUrl(), QUrl(u"http://x/logo.png"_s));
    EXPECT_FALSE(reader.sawHtml());
    ASSERT_EQ(reader.records().size(), 2);
    const ItemRecord &one = reader.records()[0];
    EXPECT_EQ(one.value(u"title"_s), u"One"_s);
    EXPECT_EQ(one.value(u"link"_s), u"http://x/1?a=1&b=2"_s);
    EXPECT_EQ(one.value(u"description"_s), u"<p>A & B</p>"_s);
    EXPECT_EQ(one.value(u"enclosureUrl"_s), u"http://x/2.ogg"_s);
    EXPECT_EQ(one.value(u"enclosureMime"_s), u"audio/mpeg"_s);
    EXPECT_FALSE(one.contains(u"href"_s));
    const ItemRecord &two = reader.records()[1];
    EXPECT_EQ(two.value(u"enclosureUrl"_s), u"http://x/v.mp4"_s);
    EXPECT_EQ(two.value(u"enclosureMime"_s), u"video/mp4"_s);
    EXPECT_FALSE(two.contains(u"description"_s));
    EXPECT_FALSE(two.contains(u"link"_s));
}

TEST(FeedDocumentReader, TextAfterAChildGoesToThatChild)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read("<rss><channel><item>\n <title>T</title>\n <guid>g</guid>\n"
                            " <description>a<![CDATA[<b>]]>b<i>c</i>d</description> e"
                            "<feedburner:origLink>http://o/1</feedburner:origLink></item></channel></rss>"));
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0].value(u"title"_s), u"T\n "_s);
    EXPECT_EQ(reader.records()[0].value(u"guid"_s), u"g\n "_s);
    EXPECT_EQ(reader.records()[0].value(u"item"_s), u"\n "_s);
    EXPECT_EQ(reader.records()[0].value(u"description"_s), u"a<b>bcd e"_s);
    EXPECT_EQ(reader.records()[0].value(u"feedburner:origLink"_s), u"http://o/1"_s);
}

TEST(FeedDocumentReader, ReadsRdfItemsInsideAndOutsideTheChannel)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read(
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\">"
        "<channel rdf:about=\"http://x/\"><title>RDF</title><link>http://x/</link>"
        "<items><rdf:Seq><rdf:li rdf:resource=\"http://x/1\"/><rdf:li resource=\"http://x/2\"/></rdf:Seq></items>"
        "<item><title>In</title></item></channel>"
        "<image><url>http://x/i.gif</url></image>"
        "<item rdf:about=\"http://x/1\"><title>Out</title><link>http://x/1</link><dc:date>2024-02-01T00:00:00Z</dc:date>"
        "</item></rdf:RDF>"));
    EXPECT_EQ(reader.channelName(), u"RDF"_s);
    EXPECT_EQ(reader.mainLink(), u"http://x/"_s);
    EXPECT_EQ(reader.channelImageUrl(), QUrl(u"http://x/i.gif"_s));
    ASSERT_EQ(reader.records().size(), 2);
    EXPECT_EQ(reader.records()[0], (ItemRecord{{u"title"_s, u"In"_s}}));
    EXPECT_EQ(reader.records()[1].value(u"title"_s), u"Out"_s);
    EXPECT_EQ(reader.records()[1].value(u"dc:date"_s), u"2024-02-01T00:00:00Z"_s);
    EXPECT_FALSE(reader.records()[1].contains(u"href"_s));
}

QByteArray atomFeed(const QByteArray &rootAttributes, const QByteArray &entry)
{
    return "<feed xmlns=\"http://www.w3.org/2005/Atom\"" + rootAttributes + "><title>Atom</title>"
           + "<link href=\"http://x/\"/><entry>" + entry + "</entry></feed>";
}

TEST(FeedDocumentReader, ChoosesTheLinkOfAnAtomEntry)
{
    struct Case
    {
        const char *name;
        QByteArray rootAttributes;
        QByteArray links;
        const char *expected;
    };
    const QByteArray alternateThenReplies =
        "<link rel=\"alternate\" href=\"http://x/a\"/><link rel=\"replies\" type=\"text/html\" href=\"http://x/r\"/>";
    const Case cases[] = {
        {"the last link wins", "", alternateThenReplies, "http://x/r"},
        {"atlassian feeds keep the first", " xmlns:atlassian=\"http://streams.atlassian.com/syndication/general/1.0\"",
         alternateThenReplies, "http://x/a"},
        {"xml types are never taken", "",
         "<link rel=\"alternate\" href=\"http://x/a\"/><link type=\"application/atom+xml\" href=\"http://x/f\"/>",
         "http://x/a"},
        {"enclosures are not the page", "",
         "<link href=\"http://x/a\"/><link rel=\"enclosure\" href=\"http://x/e.mp3\"/>", "http://x/a"},
        {"feedburner:origLink wins",
         "", "<link href=\"http://x/a\"/><feedburner:origLink>http://orig/1</feedburner:origLink>",
         "http://orig/1"},
        {"no link", "", "<link rel=\"self\" type=\"application/atom+xml\" href=\"http://x/f\"/>", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FeedDocumentReader reader(quickOptions());
        ASSERT_TRUE(reader.read(atomFeed(c.rootAttributes, c.links)));
        ASSERT_EQ(reader.records().size(), 1);
        const ItemRecord &record = reader.records()[0];
        if (c.expected)
            EXPECT_EQ(record.value(u"link"_s), QString::fromUtf8(c.expected));
        else
            EXPECT_FALSE(record.contains(u"link"_s));
    }
}

TEST(FeedDocumentReader, ConvertsAtomEntriesToRssNames)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read(atomFeed("", "<id>urn:1</id><title>E</title><summary>S</summary>"
                                         "<content type=\"html\">C</content><updated>2024-02-01T00:00:00Z</updated>"
                                         "<author><name>N</name></author>")));
    EXPECT_EQ(reader.channelName(), u"Atom"_s);
    EXPECT_EQ(reader.mainLink(), QString());
    ASSERT_EQ(reader.records().size(), 1);
    const ItemRecord expected = {{u"guid"_s, u"urn:1"_s},
                                 {u"title"_s, u"E"_s},
                                 {u"description"_s, u"C"_s},
                                 {u"published"_s, u"2024-02-01T00:00:00Z"_s}};
    EXPECT_EQ(reader.records()[0], expected);

    const ItemRecord summaryOnly = FeedDocumentReader::convertAtomToRSS(
        {{u"summary"_s, u"S"_s}, {u"published"_s, u"p"_s}, {u"updated"_s, u"u"_s}, {u"href"_s, u"h"_s}});
    EXPECT_EQ(summaryOnly,
              (ItemRecord{{u"description"_s, u"S"_s}, {u"published"_s, u"p"_s}, {u"link"_s, u"h"_s}}));
    EXPECT_TRUE(FeedDocumentReader::convertAtomToRSS({{u"name"_s, u"N"_s}}).isEmpty());
}

TEST(FeedDocumentReader, StopsAtAnHtmlPage)
{
    FeedDocumentReader reader(quickOptions());
    EXPECT_FALSE(reader.read("<!DOCTYPE html><html><head><title>Login</title></head><body><item/></body></html>"));
    EXPECT_TRUE(reader.sawHtml());
    EXPECT_TRUE(reader.records().isEmpty());
    EXPECT_TRUE(reader.channelName().isEmpty());
}

TEST(FeedDocumentReader, KeepsRecordsReadBeforeAnError)
{
    FeedDocumentReader reader(quickOptions());
    EXPECT_FALSE(reader.read("<rss><channel><item><title>1</title></item><item><title>2</item></channel></rss>"));
    EXPECT_FALSE(reader.sawHtml());
    EXPECT_FALSE(reader.errorString().isEmpty());
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0].value(u"title"_s), u"1"_s);

    // The next document starts afresh.
    EXPECT_TRUE(reader.read("<rss><channel><title>N</title></channel></rss>"));
    EXPECT_TRUE(reader.records().isEmpty());
    EXPECT_EQ(reader.channelName(), u"N"_s);
}

TEST(FeedDocumentReader, IgnoresNamesOutsideTheirPaths)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read("<rss><title>no</title><channel><foo><title>no</title><link>no</link>"
                            "<item><title>no</title></item></foo><feed><title>no</title></feed>"
                            "<image><link>no</link></image><entry><title>x</title></entry></channel></rss>"));
    EXPECT_EQ(reader.channelName(), QString());
    EXPECT_EQ(reader.mainLink(), QString());
    EXPECT_TRUE(reader.records().isEmpty());
}

QByteArray datedFeed()
{
    return "<rss><channel>"
           "<item><title>old</title><pubDate>Sat, 10 Feb 2024 12:00:00 GMT</pubDate></item>"
           "<item><title>new</title><pubDate>Tue, 20 Feb 2024 12:00:00 GMT</pubDate></item>"
           "<item><title>undated</title></item>"
           "</channel></rss>";
}

QStringList titles(const FeedDocumentReader &reader)
{
    QStringList result;
    for (const ItemRecord &record : reader.records())
        result.append(record.value(u"title"_s));
    return result;
}

TEST(FeedDocumentReader, FiltersByAgeAndSubscription)
{
    FeedDocumentReader::Options options = quickOptions();
    FeedDocumentReader all(options);
    ASSERT_TRUE(all.read(datedFeed()));
    EXPECT_EQ(titles(all), (QStringList{u"old"_s, u"new"_s, u"undated"_s}));

    options.earliestDate = test::utc(2024, 2, 15);
    FeedDocumentReader recent(options);
    ASSERT_TRUE(recent.read(datedFeed()));
    // An undated item is dated now, so it is recent.
    EXPECT_EQ(titles(recent), (QStringList{u"new"_s, u"undated"_s}));

    options.earliestDate.reset();
    int asked = 0;
    options.subscriptionAlive = [&asked] { return ++asked < 2; };
    FeedDocumentReader dying(options);
    ASSERT_TRUE(dying.read(datedFeed()));
    EXPECT_EQ(titles(dying), QStringList{u"old"_s});
}

TEST(FeedDocumentReader, TakesTheImageOnlyWithoutAnIcon)
{
    const QByteArray feed = "<rss><channel><image><url>http://x/a&amp;b.png</url></image></channel></rss>";
    FeedDocumentReader::Options options = quickOptions();
    FeedDocumentReader withoutIcon(options);
    ASSERT_TRUE(withoutIcon.read(feed));
    EXPECT_EQ(withoutIcon.channelImageUrl(), QUrl(u"http://x/a&b.png"_s));

    // A relative address is relative to the document.
    options.documentURL = QUrl(u"https://x.org:8443/feeds/main.xml"_s);
    FeedDocumentReader relative(options);
    ASSERT_TRUE(relative.read("<rss><channel><image><url> img/logo.png </url></image></channel></rss>"));
    EXPECT_EQ(relative.channelImageUrl(), QUrl(u"https://x.org:8443/feeds/img/logo.png"_s));
    ASSERT_TRUE(relative.read("<rss><channel><image><url>javascript:x()</url></image></channel></rss>"));
    EXPECT_TRUE(relative.channelImageUrl().isEmpty()) << "only web addresses";

    options.subscriptionHasIcon = true;
    FeedDocumentReader withIcon(options);
    ASSERT_TRUE(withIcon.read(feed));
    EXPECT_TRUE(withIcon.channelImageUrl().isEmpty());
}

TEST(FeedDocumentReader, ReadsDeclaredSingleByteEncodings)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><channel><title>Caf\xE9 & Cr\xE8me"
                            "</title><item><title>\xC0 la carte</title></item></channel></rss>"));
    EXPECT_EQ(reader.channelName(), u"Caf\u00E9 & Cr\u00E8me"_s);
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0].value(u"title"_s), u"\u00C0 la carte"_s);
}

TEST(FeedDocumentReader, ReadsTheBrokenDocumentsFeedsCommonlySend)
{
    const QByteArray item = "<item><title>Second</title><link>http://x/2</link></item></channel></rss>";
    const struct { const char *name; QByteArray document; QString firstTitle; } rows[] = {
        {"raw <br> in a description",
         "<rss><channel><item><title>First</title><description><p>a<br>b</p></description></item>" + item,
         u"First"_s},
        {"HTML entities without a DTD",
         "<rss><channel><item><title>caf&eacute;&nbsp;noir</title></item>" + item, u"caf\u00E9\u00A0noir"_s},
        {"Netscape entities under its DOCTYPE",
         "<!DOCTYPE rss PUBLIC \"-//Netscape Communications//DTD RSS 0.91//EN\" "
         "\"http://my.netscape.com/publish/formats/rss-0.91.dtd\">\n"
         "<rss version=\"0.91\"><channel><item><title>&eacute;t&eacute; &copy;</title></item>" + item,
         u"\u00E9t\u00E9 \u00A9"_s},
        {"undeclared Latin-1 without an XML declaration",
         "<rss><channel><item><title>Caf\xE9 cr\xE8me</title></item>" + item, u"Caf\u00E9 cr\u00E8me"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        FeedDocumentReader reader(quickOptions());
        EXPECT_TRUE(reader.read(row.document)) << qPrintable(reader.errorString());
        EXPECT_EQ(titles(reader), (QStringList{row.firstTitle, u"Second"_s}));
    }
    // Still broken after the repairs: the records of the better reading stay.
    FeedDocumentReader reader(quickOptions());
    EXPECT_FALSE(reader.read("<rss><channel><item><title>One</title><description><p>a<br></description></item>"
                             "<item><title>Two</title></item></channel></rss>"));
    EXPECT_TRUE(reader.records().isEmpty()) << "the item with the broken description is not finished";
    EXPECT_FALSE(reader.read("<rss><channel><item><title>One</title></item><item><title>Two<br></item>"));
    EXPECT_EQ(titles(reader), QStringList{u"One"_s});
}

TEST(FeedDocumentReader, TextOfElementsInsideATextFieldIsTheFieldsText)
{
    FeedDocumentReader reader(quickOptions());
    ASSERT_TRUE(reader.read(atomFeed({}, "<title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">school "
                                         "<b>bold</b> <html>x</html></div></title><id>urn:1</id>"
                                         "<content type=\"xhtml\"><div><p>a</p><p>b</p></div></content>"
                                         "<link href=\"http://x/1\"/>")));
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0].value(u"title"_s), u"school bold x"_s) << "an html element in a field is text";
    EXPECT_EQ(reader.records()[0].value(u"description"_s), u"ab"_s);
    EXPECT_EQ(reader.records()[0].value(u"link"_s), u"http://x/1"_s);

    ASSERT_TRUE(reader.read("<rss><channel><item><description><p>raw <i>html</i></p></description>"
                            "<title>T</title><author><name>N</name></author></item></channel></rss>"));
    ASSERT_EQ(reader.records().size(), 1);
    EXPECT_EQ(reader.records()[0].value(u"description"_s), u"raw html"_s);
    EXPECT_EQ(reader.records()[0].value(u"title"_s), u"T"_s);
    EXPECT_EQ(reader.records()[0].value(u"name"_s), u"N"_s) << "other elements keep their own names";
}

TEST(FeedDocumentReader, APermalinkGuidIsTheLinkOfAnItemWithout)
{
    const struct { const char *name; QByteArray item; QString link; } rows[] = {
        {"permalink by default", "<guid> http://x/p1 </guid>", u" http://x/p1 "_s},
        {"permalink said", "<guid isPermaLink=\"true\">http://x/p2</guid>", u"http://x/p2"_s},
        {"not a permalink", "<guid isPermaLink=\"false\">http://x/p3</guid>", QString()},
        {"not a permalink, upper case", "<guid isPermaLink=\" FALSE \">http://x/p3</guid>", QString()},
        {"not a web address", "<guid>42-17</guid>", QString()},
        {"a link of its own wins", "<link>http://x/own</link><guid>http://x/p4</guid>", u"http://x/own"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        FeedDocumentReader reader(quickOptions());
        ASSERT_TRUE(reader.read("<rss><channel><item><title>T</title>" + row.item + "</item></channel></rss>"));
        ASSERT_EQ(reader.records().size(), 1);
        EXPECT_EQ(reader.records()[0].value(u"link"_s), row.link);
    }
}

TEST(FeedDocumentReader, RecordsTheXmlBaseInScopeOfEachItem)
{
    FeedDocumentReader::Options options = quickOptions();
    options.documentURL = QUrl(u"https://feeds.example.org:8443/a/feed.xml"_s);
    FeedDocumentReader reader(options);
    ASSERT_TRUE(reader.read("<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"blog/\"><title>A</title>"
                            "<entry><title>feed base</title><link href=\"1\"/></entry>"
                            "<entry xml:base=\"/entries/\"><title>entry base</title><link href=\"2\"/></entry>"
                            "<entry><title>link base</title><link xml:base=\"//other.org/x/\" href=\"3\"/></entry>"
                            "</feed>"));
    ASSERT_EQ(reader.records().size(), 3);
    EXPECT_EQ(reader.records()[0].value(u"xml:base"_s), u"https://feeds.example.org:8443/a/blog/"_s);
    EXPECT_EQ(reader.records()[1].value(u"xml:base"_s), u"https://feeds.example.org:8443/entries/"_s);
    EXPECT_EQ(reader.records()[2].value(u"xml:base"_s), u"https://other.org/x/"_s);

    ASSERT_TRUE(reader.read("<rss><channel><item><title>no base</title><link>p</link></item>"
                            "<item xml:base=\"http://b.org/\"><title>based</title></item></channel></rss>"));
    ASSERT_EQ(reader.records().size(), 2);
    EXPECT_FALSE(reader.records()[0].contains(u"xml:base"_s));
    EXPECT_EQ(reader.records()[1].value(u"xml:base"_s), u"http://b.org/"_s);
}

TEST(FeedDocumentReader, PausesPerElementWhenAsked)
{
    QByteArray feed = "<rss><channel>";
    for (int i = 0; i < 100; ++i)
        feed += "<item><title>t</title></item>";
    feed += "</channel></rss>";
    FeedDocumentReader::Options options = quickOptions();
    options.pausePerElement = true;
    FeedDocumentReader reader(options);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(reader.read(feed));
    // 202 elements, at least 10 microseconds each.
    EXPECT_GE(timer.nsecsElapsed(), 202 * 10'000);
    EXPECT_EQ(reader.records().size(), 100);
}

TEST(ElementPause, OwesTenMicrosecondsPerElementAndSleepsThemOffAMillisecondAtATime)
{
    ElementPause pause;
    for (int i = 0; i < 99; ++i)
        pause.elementStarted();
    EXPECT_EQ(pause.owed(), std::chrono::microseconds(990)) << "nothing slept before a whole slice is owed";
    pause.elementStarted();
    EXPECT_LE(pause.owed(), ElementPause::Duration::zero()) << "the slice was slept off";
    // An overrun counts towards the next slice; settling pays the rest.
    const ElementPause::Duration overrun = pause.owed();
    pause.elementStarted();
    EXPECT_EQ(pause.owed(), overrun + std::chrono::microseconds(10));
    pause.settle();
    EXPECT_EQ(pause.owed(), ElementPause::Duration::zero());
}

// ---- htmllinks ------------------------------------------------------------------

const QByteArray kPage = "<!DOCTYPE html><html><head><title>P</title>"
                         "<link rel=\"alternate\" type=\"application/atom+xml\" href=\"/atom\">"
                         "<link rel=\"alternate\" type=\"application/rss+xml\">"
                         "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/rss?a=1&amp;b=2\">"
                         "<link rel=\"icon\" href=\"/icon.png\">"
                         "<link rel=\"shortcut icon\" href=\"/favicon.ico\">"
                         "</head><body><p>x</body></html>";

TEST(HtmlLinks, FindsTheRssFeedLinkAndTheShortcutIcon)
{
    EXPECT_EQ(htmllinks::rssFeedLink(kPage), u"/rss?a=1&b=2"_s);
    EXPECT_EQ(htmllinks::rssFeedLink("<html><head><link type=\"application/atom+xml\" href=\"/a\"></head></html>"),
              std::nullopt);
    // Any child of html counts, a link in the body too.
    EXPECT_EQ(htmllinks::rssFeedLink("<html><body><link type=\"application/rss+xml\" href=\"/b\"></body></html>"),
              u"/b"_s);
    EXPECT_EQ(htmllinks::rssFeedLink(""), std::nullopt);
    EXPECT_EQ(htmllinks::rssFeedLink("\xFF\xFE garbage <<"), std::nullopt);

    // Only a shortcut icon, and only in the head.
    EXPECT_EQ(htmllinks::shortcutIconLink(kPage), u"/favicon.ico"_s);
    EXPECT_EQ(htmllinks::shortcutIconLink("<html><head><link rel=\"icon\" href=\"/i.png\"></head></html>"),
              std::nullopt);
    EXPECT_EQ(htmllinks::shortcutIconLink(
                  "<html><head></head><body><link rel=\"shortcut icon\" href=\"/b.ico\"></body></html>"),
              std::nullopt);
}

TEST(HtmlLinks, ListsAttributesInDocumentOrder)
{
    const QList<QHash<QString, QString>> links = htmllinks::elementAttributes(kPage, u"//link"_s);
    ASSERT_EQ(links.size(), 5);
    EXPECT_EQ(links[0].value(u"href"_s), u"/atom"_s);
    EXPECT_EQ(links[1], (QHash<QString, QString>{{u"rel"_s, u"alternate"_s}, {u"type"_s, u"application/rss+xml"_s}}));
    EXPECT_EQ(links[4].value(u"rel"_s), u"shortcut icon"_s);
    EXPECT_TRUE(htmllinks::elementAttributes(kPage, u"//link["_s).isEmpty());
    EXPECT_TRUE(htmllinks::elementAttributes(kPage, u"count(//link)"_s).isEmpty());
}

} // namespace
