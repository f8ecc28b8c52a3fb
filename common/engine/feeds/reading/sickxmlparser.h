#pragma once

#include <QByteArray>
#include <QHash>
#include <QLatin1StringView>
#include <QString>

#include <memory>

namespace corvane {

// The attributes of one start tag as the XML reader hands them over, valid
// only during the startElementView() call that receives them. Values are
// converted when asked for, so a receiver that needs a few attributes of a
// few elements does not pay for every attribute of every element.
class SickXMLAttributes
{
public:
    using TableMaker = QHash<QString, QString> (*)(void *owner, const char *const *pairs);

    SickXMLAttributes(const char *const *pairs, TableMaker makeTable, void *owner)
        : m_pairs(pairs)
        , m_makeTable(makeTable)
        , m_owner(owner)
    {
    }

    bool isEmpty() const { return !m_pairs || !m_pairs[0]; }
    // The value of the attribute with this qualified name as written, or a
    // null text when the tag has none.
    QString value(QLatin1StringView name) const;
    bool contains(QLatin1StringView name) const;
    // Every attribute, keyed by qualified name.
    QHash<QString, QString> toHash() const;

private:
    const char *const *find(QLatin1StringView name) const;

    const char *const *m_pairs; // name, value, name, value, ..., null
    TableMaker m_makeTable;
    void *m_owner;
};

// Receives the events of a SickXMLParser in document order. Names are the
// qualified names as written ("rdf:RDF", "content:encoded"); namespaces are
// not resolved. Text may arrive in several pieces; a receiver that wants the
// whole text of an element concatenates them.
class SickXMLParserDelegate
{
public:
    virtual ~SickXMLParserDelegate() = default;
    // Attributes are keyed by their qualified names as written, namespace
    // declarations ("xmlns", "xmlns:atlassian") included.
    virtual void startElement(const QString &name, const QHash<QString, QString> &attributes)
    {
        Q_UNUSED(name);
        Q_UNUSED(attributes);
    }
    // What the parser calls for a start tag; by default startElement() with
    // all attributes in a table. Receivers that look up only a few override
    // this instead.
    virtual void startElementView(const QString &name, const SickXMLAttributes &attributes)
    {
        startElement(name, attributes.toHash());
    }
    virtual void characters(const QString &text) = 0;
    virtual void cdataBlock(const QByteArray &bytes) = 0;
    virtual void endElement(const QString &name) = 0;
    virtual void parseErrorOccurred(const QString &message) { Q_UNUSED(message); }
    // Whether text and CDATA that come now (until the next element start or
    // end) matter to the receiver; asked after every start and end. Text it
    // does not want is neither converted nor delivered.
    virtual bool wantsText() const { return true; }
    // Whether text before this end tag may come together with the text after
    // it, in one characters() call after endElement(): true where the
    // receiver files both alike and its endElement() does not look at the
    // text. Longer pieces cost less to convert and to join.
    virtual bool joinsTextAcrossEnd(const QString &name) const
    {
        Q_UNUSED(name);
        return false;
    }
};

// A streaming reader of fetched ("sick") feed documents over libxml2's push
// parser. The document is first repaired with Fixer::fixData.
//
// Fetched documents are untrusted. The parser never reads a file or the
// network on their behalf: external entities, external DTD subsets and
// external parameter entities are not loaded, and any load libxml2 would
// still attempt is refused (see LibXmlScope). Entities declared with literal
// values in the internal subset, and the predefined ones, are delivered as
// text. Entity expansion is bounded twice: libxml2's own amplification checks
// (XML_PARSE_HUGE stays off) end nested expansions, and the text delivered
// for one document may exceed its size by at most kMaxExpandedText bytes,
// beyond which parsing stops with an error. Nothing is written to stderr.
//
// One parser serves one thread at a time; parsers on different threads are
// independent.
class SickXMLParser
{
public:
    // UTF-8 bytes of text a document may deliver beyond its own size.
    static constexpr qint64 kMaxExpandedText = 10 * 1024 * 1024;
    // Elements open at once, at most; one more stops parsing with an error.
    // This is libxml2's own limit without XML_PARSE_HUGE, which the push
    // parser of libxml2 2.9 does not apply; checking it here makes deep
    // documents fail alike whichever version reads them.
    static constexpr int kMaxDepth = 256;

    explicit SickXMLParser(const QByteArray &document);
    ~SickXMLParser();
    SickXMLParser(const SickXMLParser &) = delete;
    SickXMLParser &operator=(const SickXMLParser &) = delete;

    void setDelegate(SickXMLParserDelegate *delegate);
    // True when the whole document was read without error or abort.
    bool parse();
    // Stops the running parse() from inside a delegate event; parse() then
    // returns false.
    void abortParsing();
    // Why the last parse() failed; empty after a successful one.
    QString errorString() const;

    // The document as repaired, the bytes parse() reads.
    const QByteArray &document() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// While an object of this class lives, libxml2 on the current thread writes
// no diagnostics (they go to the contexts' last-error records only) and
// loads no external resource: the process's external entity loader refuses
// every request made on a thread inside such a scope and passes others on to
// the loader it replaced. The first scope also initialises libxml2, once per
// process. Scopes nest.
class LibXmlScope
{
public:
    LibXmlScope();
    ~LibXmlScope();
    LibXmlScope(const LibXmlScope &) = delete;
    LibXmlScope &operator=(const LibXmlScope &) = delete;
};

} // namespace corvane
