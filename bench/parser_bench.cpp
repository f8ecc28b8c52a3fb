// Throughput of reading fetched feeds: repair plus feed reading with and
// without the per-element pause, against libxml2's SAX parser alone with
// empty callbacks as the ceiling. The corpus is generated here: RSS 2.0,
// RSS 1.0 (RDF) and Atom documents of 2 to 200 items with entities, CDATA,
// bare ampersands, namespaced elements and some in ISO 8859-1.
#include "feeds/reading/feeddocumentreader.h"
#include "feeds/reading/fixer.h"
#include "feeds/reading/sickxmlparser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringConverter>

#include <benchmark/benchmark.h>

#include <libxml/SAX2.h>
#include <libxml/parser.h>

#include <array>
#include <cstring>

using namespace corvane;

namespace {

constexpr Date kNow = 1'700'000'000.0;

// A fixed linear congruential generator, so every run reads the same corpus.
class Generator
{
public:
    explicit Generator(quint64 seed)
        : m_state(seed)
    {
    }
    quint32 next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(m_state >> 33);
    }
    int between(int low, int high) { return low + int(next() % quint32(high - low + 1)); }
    bool chance(int percent) { return between(1, 100) <= percent; }

private:
    quint64 m_state;
};

struct FeedFile
{
    QByteArray bytes;
    int items = 0;
};

enum class Format { Rss2, Rdf, Atom };

class FeedWriter
{
public:
    FeedWriter(Generator &random, bool latin1)
        : m_random(random)
        , m_latin1(latin1)
    {
    }

    QString words(int low, int high)
    {
        static const std::array<const char16_t *, 24> kWords = {
            u"market", u"update", u"city",    u"council", u"report", u"new",    u"release", u"software",
            u"weather", u"storm", u"science", u"energy",  u"café",   u"crème",  u"Müller",  u"naïve",
            u"über",   u"season", u"team",    u"wins",    u"opens",  u"school", u"budget",  u"plan"};
        QString text;
        const int count = m_random.between(low, high);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                text += u' ';
            const char16_t *word = kWords[m_random.next() % kWords.size()];
            // Non-Latin-1 feeds also get characters outside Latin-1.
            text += (!m_latin1 && m_random.chance(3)) ? QStringLiteral("Łódź") : QString::fromUtf16(word);
        }
        return text;
    }

    // Text with the escapes feeds use, and now and then a bare ampersand.
    QString escapedText(int low, int high)
    {
        QString text = words(low, high);
        switch (m_random.between(0, 6)) {
        case 0:
            text += QStringLiteral(" & more");
            break;
        case 1:
            text += QStringLiteral(" &amp; co");
            break;
        case 2:
            text += QStringLiteral(" it&#8217;s");
            break;
        case 3:
            text += QStringLiteral(" &lt;3");
            break;
        default:
            break;
        }
        return text;
    }

    QString description()
    {
        QString html = QStringLiteral("<p>") + words(10, 300) + QStringLiteral("</p><a href=\"http://example.org/?a=1&b=2\">")
                       + words(1, 4) + QStringLiteral("</a>");
        if (m_random.chance(50))
            return QStringLiteral("<![CDATA[") + html + QStringLiteral("]]>");
        return html.replace(u'&', QStringLiteral("&amp;")).replace(u'<', QStringLiteral("&lt;")).replace(u'>', QStringLiteral("&gt;"));
    }

    QString rfc822Date(qint64 seconds)
    {
        static const std::array<const char *, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
        static const std::array<const char *, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
        return QString::asprintf("%s, %02d %s %d %s GMT", kDays[time.date().dayOfWeek() - 1], time.date().day(),
                                 kMonths[time.date().month() - 1], time.date().year(),
                                 time.time().toString(QStringLiteral("HH:mm:ss")).toLatin1().constData());
    }

    QString isoDate(qint64 seconds) { return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate); }

    QByteArray encode(const QString &text) const { return m_latin1 ? text.toLatin1() : text.toUtf8(); }

    QString declaration() const
    {
        return m_latin1 ? QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n")
                        : QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    }

private:
    Generator &m_random;
    bool m_latin1;
};

QString itemLink(int feed, int item)
{
    return QStringLiteral("http://example.org/%1/story-%2.html?ref=rss&amp;id=%2").arg(feed).arg(item);
}

FeedFile rss2Feed(Generator &random, FeedWriter &writer, int feed, int items)
{
    const bool dtd = random.chance(20);
    QString xml = writer.declaration();
    if (dtd)
        xml += QStringLiteral("<!DOCTYPE rss [<!ENTITY site \"Example News\"><!ENTITY sep \" | \">]>\n");
    xml += QStringLiteral("<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                          "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
                          "xmlns:atom=\"http://www.w3.org/2005/Atom\" xmlns:media=\"http://search.yahoo.com/mrss/\">\n"
                          "<channel>\n<title>")
           + writer.escapedText(1, 5) + (dtd ? QStringLiteral("&sep;&site;") : QString())
           + QStringLiteral("</title>\n<link>http://example.org/</link>\n"
                            "<atom:link href=\"http://example.org/feed\" rel=\"self\" type=\"application/rss+xml\"/>\n"
                            "<description>")
           + writer.escapedText(3, 12)
           + QStringLiteral("</description>\n<image><url>http://example.org/logo.png</url><title>logo</title></image>\n");
    qint64 date = qint64(kNow) - random.between(0, 86400);
    for (int i = 0; i < items; ++i) {
        date -= random.between(60, 7200);
        xml += QStringLiteral("<item>\n  <title>") + writer.escapedText(3, 12)
               + (dtd && random.chance(30) ? QStringLiteral("&sep;&site;") : QString()) + QStringLiteral("</title>\n  <link>")
               + itemLink(feed, i) + QStringLiteral("</link>\n  <guid isPermaLink=\"false\">") + QString::number(feed)
               + u'-' + QString::number(i) + QStringLiteral("</guid>\n  <pubDate>") + writer.rfc822Date(date)
               + QStringLiteral("</pubDate>\n  <dc:creator>") + writer.words(1, 3) + QStringLiteral("</dc:creator>\n");
        for (int c = random.between(0, 3); c > 0; --c)
            xml += QStringLiteral("  <category>") + writer.words(1, 2) + QStringLiteral("</category>\n");
        xml += QStringLiteral("  <description>") + writer.description() + QStringLiteral("</description>\n");
        if (random.chance(30))
            xml += QStringLiteral("  <content:encoded>") + writer.description() + QStringLiteral("</content:encoded>\n");
        if (random.chance(20))
            xml += QStringLiteral("  <enclosure url=\"http://example.org/a.mp3\" length=\"1234\" type=\"audio/mpeg\"/>\n");
        if (random.chance(15))
            xml += QStringLiteral("  <media:content url=\"http://example.org/p.jpg\" type=\"image/jpeg\" medium=\"image\"/>\n");
        xml += QStringLiteral("</item>\n");
    }
    xml += QStringLiteral("</channel>\n</rss>\n");
    return {writer.encode(xml), items};
}

FeedFile rdfFeed(Generator &random, FeedWriter &writer, int feed, int items)
{
    QString xml = writer.declaration()
                  + QStringLiteral("<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                                   "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                                   "<channel rdf:about=\"http://example.org/\">\n<title>")
                  + writer.escapedText(1, 5) + QStringLiteral("</title>\n<link>http://example.org/</link>\n<items><rdf:Seq>\n");
    for (int i = 0; i < items; ++i)
        xml += QStringLiteral("  <rdf:li rdf:resource=\"") + itemLink(feed, i) + QStringLiteral("\"/>\n");
    xml += QStringLiteral("</rdf:Seq></items>\n</channel>\n");
    qint64 date = qint64(kNow) - random.between(0, 86400);
    for (int i = 0; i < items; ++i) {
        date -= random.between(60, 7200);
        xml += QStringLiteral("<item rdf:about=\"") + itemLink(feed, i) + QStringLiteral("\">\n  <title>")
               + writer.escapedText(3, 12) + QStringLiteral("</title>\n  <link>") + itemLink(feed, i)
               + QStringLiteral("</link>\n  <description>") + writer.description()
               + QStringLiteral("</description>\n  <dc:date>") + writer.isoDate(date)
               + QStringLiteral("</dc:date>\n  <dc:subject>") + writer.words(1, 2)
               + QStringLiteral("</dc:subject>\n</item>\n");
    }
    xml += QStringLiteral("</rdf:RDF>\n");
    return {writer.encode(xml), items};
}

FeedFile atomFeed(Generator &random, FeedWriter &writer, int feed, int items)
{
    const bool atlassian = random.chance(15);
    QString xml = writer.declaration() + QStringLiteral("<feed xmlns=\"http://www.w3.org/2005/Atom\" ")
                  + (atlassian ? QStringLiteral("xmlns:atlassian=\"http://streams.atlassian.com/syndication/general/1.0\" ")
                               : QString())
                  + QStringLiteral("xmlns:feedburner=\"http://rssnamespace.org/feedburner/ext/1.0\">\n<title>")
                  + writer.escapedText(1, 5)
                  + QStringLiteral("</title>\n<link href=\"http://example.org/\"/>\n<id>urn:feed:")
                  + QString::number(feed) + QStringLiteral("</id>\n");
    qint64 date = qint64(kNow) - random.between(0, 86400);
    for (int i = 0; i < items; ++i) {
        date -= random.between(60, 7200);
        xml += QStringLiteral("<entry>\n  <id>urn:entry:") + QString::number(feed) + u':' + QString::number(i)
               + QStringLiteral("</id>\n  <title type=\"html\">") + writer.escapedText(3, 12)
               + QStringLiteral("</title>\n  <link rel=\"alternate\" type=\"text/html\" href=\"") + itemLink(feed, i)
               + QStringLiteral("\"/>\n");
        if (random.chance(40))
            xml += QStringLiteral("  <link rel=\"replies\" type=\"application/atom+xml\" href=\"http://example.org/c.xml\"/>\n");
        if (random.chance(20))
            xml += QStringLiteral("  <feedburner:origLink>http://origin.example.org/") + QString::number(i)
                   + QStringLiteral("</feedburner:origLink>\n");
        xml += QStringLiteral("  <updated>") + writer.isoDate(date) + QStringLiteral("</updated>\n");
        if (random.chance(50))
            xml += QStringLiteral("  <published>") + writer.isoDate(date - 600) + QStringLiteral("</published>\n");
        xml += QStringLiteral("  <author><name>") + writer.words(1, 3) + QStringLiteral("</name></author>\n");
        if (random.chance(60))
            xml += QStringLiteral("  <content type=\"html\">") + writer.description() + QStringLiteral("</content>\n");
        else
            xml += QStringLiteral("  <summary>") + writer.escapedText(10, 60) + QStringLiteral("</summary>\n");
        xml += QStringLiteral("</entry>\n");
    }
    xml += QStringLiteral("</feed>\n");
    return {writer.encode(xml), items};
}

struct Corpus
{
    QList<FeedFile> files;
    QList<QByteArray> repaired;
    qint64 bytes = 0;
    qint64 items = 0;
};

const Corpus &corpus()
{
    static const Corpus generated = [] {
        Corpus result;
        Generator random(20240301);
        for (int feed = 0; feed < 240; ++feed) {
            const bool latin1 = feed % 7 == 3;
            FeedWriter writer(random, latin1);
            // Mostly small feeds, some large ones.
            const int items = random.chance(75) ? random.between(2, 40) : random.between(41, 200);
            const Format format = Format(feed % 3);
            FeedFile file = format == Format::Rss2  ? rss2Feed(random, writer, feed, items)
                            : format == Format::Rdf ? rdfFeed(random, writer, feed, items)
                                                    : atomFeed(random, writer, feed, items);
            result.bytes += file.bytes.size();
            result.items += file.items;
            result.repaired.append(Fixer::fixData(file.bytes));
            result.files.append(std::move(file));
        }
        return result;
    }();
    return generated;
}

void reportRates(benchmark::State &state, qint64 items, qint64 bytes)
{
    state.counters["items"] = benchmark::Counter(double(items), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(bytes);
}

// Reads the whole corpus per iteration; checks that every feed reads.
// With an age limit (one that keeps every item) each item is dated.
void readCorpus(benchmark::State &state, bool ageLimit)
{
    const Corpus &feeds = corpus();
    FeedDocumentReader::Options options;
    options.now = kNow;
    options.pausePerElement = false;
    if (ageLimit)
        options.earliestDate = kNow - 400 * 86400.0;
    qint64 items = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        for (const FeedFile &file : feeds.files) {
            FeedDocumentReader reader(options);
            if (!reader.read(file.bytes) || reader.records().size() != file.items) {
                state.SkipWithError("a generated feed did not read completely");
                return;
            }
            items += reader.records().size();
            bytes += file.bytes.size();
        }
    }
    reportRates(state, items, bytes);
}

void BM_RepairAndRead(benchmark::State &state)
{
    readCorpus(state, false);
}
BENCHMARK(BM_RepairAndRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RepairAndReadWithAgeLimit(benchmark::State &state)
{
    readCorpus(state, true);
}
BENCHMARK(BM_RepairAndReadWithAgeLimit)->Unit(benchmark::kMillisecond)->UseRealTime();

// With the pause, as a refresh reads. One document per iteration, in turn,
// since the whole corpus takes seconds.
void BM_RepairAndReadWithPause(benchmark::State &state)
{
    const Corpus &feeds = corpus();
    FeedDocumentReader::Options options;
    options.now = kNow;
    qint64 items = 0;
    qint64 bytes = 0;
    qsizetype next = 0;
    for (auto _ : state) {
        const FeedFile &file = feeds.files[next];
        next = (next + 1) % feeds.files.size();
        FeedDocumentReader reader(options);
        benchmark::DoNotOptimize(reader.read(file.bytes));
        items += reader.records().size();
        bytes += file.bytes.size();
    }
    reportRates(state, items, bytes);
}
BENCHMARK(BM_RepairAndReadWithPause)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Repair(benchmark::State &state)
{
    const Corpus &feeds = corpus();
    for (auto _ : state) {
        for (const FeedFile &file : feeds.files)
            benchmark::DoNotOptimize(Fixer::fixData(file.bytes));
    }
    reportRates(state, feeds.items * state.iterations(), feeds.bytes * state.iterations());
}
BENCHMARK(BM_Repair)->Unit(benchmark::kMillisecond)->UseRealTime();

// The repairing parser with a delegate that ignores every event: what the
// feed reader's state machine adds shows against BM_RepairAndRead.
class IgnoringDelegate : public SickXMLParserDelegate
{
public:
    void startElement(const QString &, const QHash<QString, QString> &) override {}
    void characters(const QString &) override {}
    void cdataBlock(const QByteArray &) override {}
    void endElement(const QString &) override {}
};

void BM_RepairAndParse(benchmark::State &state)
{
    const Corpus &feeds = corpus();
    IgnoringDelegate delegate;
    for (auto _ : state) {
        for (const FeedFile &file : feeds.files) {
            SickXMLParser parser(file.bytes);
            parser.setDelegate(&delegate);
            if (!parser.parse()) {
                state.SkipWithError("a generated feed did not parse");
                return;
            }
        }
    }
    reportRates(state, feeds.items * state.iterations(), feeds.bytes * state.iterations());
}
BENCHMARK(BM_RepairAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();

// libxml2's push parser with callbacks that do nothing, on the repaired
// corpus (the originals' bare ampersands would stop it early). Entity
// declarations are kept so the documents with a DTD read in full.
void ignoreElementStart(void *, const xmlChar *, const xmlChar **) {}
void ignoreElementEnd(void *, const xmlChar *) {}
void ignoreText(void *, const xmlChar *, int) {}

void BM_LibXmlSaxCeiling(benchmark::State &state)
{
    const Corpus &feeds = corpus();
    xmlInitParser();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = 1;
    sax.startDocument = xmlSAX2StartDocument;
    sax.internalSubset = xmlSAX2InternalSubset;
    sax.entityDecl = xmlSAX2EntityDecl;
    sax.getEntity = xmlSAX2GetEntity;
    sax.startElement = ignoreElementStart;
    sax.endElement = ignoreElementEnd;
    sax.characters = ignoreText;
    sax.ignorableWhitespace = ignoreText;
    sax.cdataBlock = ignoreText;
    for (auto _ : state) {
        for (const QByteArray &document : feeds.repaired) {
            xmlParserCtxtPtr context = xmlCreatePushParserCtxt(&sax, nullptr, document.constData(), 4, nullptr);
            xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
            xmlParseChunk(context, document.constData() + 4, int(document.size() - 4), 1);
            if (!context->wellFormed) {
                state.SkipWithError("a repaired feed is not well-formed");
                xmlFreeParserCtxt(context);
                return;
            }
            if (context->myDoc)
                xmlFreeDoc(context->myDoc);
            xmlFreeParserCtxt(context);
        }
    }
    reportRates(state, feeds.items * state.iterations(), feeds.bytes * state.iterations());
}
BENCHMARK(BM_LibXmlSaxCeiling)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const Corpus &feeds = corpus();
    benchmark::AddCustomContext("corpus", QByteArray::number(feeds.files.size()).toStdString() + " feeds, "
                                              + QByteArray::number(feeds.items).toStdString() + " items, "
                                              + QByteArray::number(feeds.bytes / 1024).toStdString() + " KiB");
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
