#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace corvane {

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
    virtual void startElement(const QString &name, const QHash<QString, QString> &attributes) = 0;
    virtual void characters(const QString &text) = 0;
    virtual void cdataBlock(const QByteArray &bytes) = 0;
    virtual void endElement(const QString &name) = 0;
    virtual void parseErrorOccurred(const QString &message) { Q_UNUSED(message); }
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
