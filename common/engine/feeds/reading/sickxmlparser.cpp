#include "feeds/reading/sickxmlparser.h"

#include "feeds/reading/fixer.h"

#include <libxml/SAX2.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// Scope state of the current thread; libxml2 keeps its error handlers per
// thread too, so scopes on different threads never meet.
thread_local int t_scopeDepth = 0;
thread_local xmlStructuredErrorFunc t_savedStructuredError = nullptr;
thread_local void *t_savedStructuredErrorContext = nullptr;
thread_local xmlGenericErrorFunc t_savedGenericError = nullptr;
thread_local void *t_savedGenericErrorContext = nullptr;

// The loader that was installed before ours; written once, before any scope
// exists, and only read afterwards.
xmlExternalEntityLoader g_previousLoader = nullptr;

xmlParserInputPtr scopedEntityLoader(const char *url, const char *id, xmlParserCtxtPtr context)
{
    if (t_scopeDepth > 0)
        return nullptr;
    return g_previousLoader ? g_previousLoader(url, id, context) : nullptr;
}

void discardStructuredError(void *, xmlErrorPtr) {}

void discardGenericError(void *, const char *, ...) {}

void initialiseLibXml()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        g_previousLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(scopedEntityLoader);
    });
}

// Without entity substitution libxml2 hands over every ampersand of an
// attribute value as the character reference "&#38;" (so "a&amp;b" arrives
// as "a&#38;b"); a literal ampersand never arrives otherwise.
QString attributeValue(const char *value)
{
    if (!value)
        return QString();
    QString text = QString::fromUtf8(value);
    if (text.contains(u'&'))
        text.replace(QStringLiteral("&#38;"), QStringLiteral("&"));
    return text;
}

// Chunks handed to the push parser; each is copied into its input buffer.
constexpr qsizetype kChunkSize = 64 * 1024;

} // namespace

LibXmlScope::LibXmlScope()
{
    initialiseLibXml();
    if (t_scopeDepth++ > 0)
        return;
    t_savedStructuredError = xmlStructuredError;
    t_savedStructuredErrorContext = xmlStructuredErrorContext;
    t_savedGenericError = xmlGenericError;
    t_savedGenericErrorContext = xmlGenericErrorContext;
    // A structured handler takes every error libxml2 raises, after it has
    // been recorded as the context's last error; the generic one catches the
    // few messages written without an error record.
    xmlSetStructuredErrorFunc(nullptr, discardStructuredError);
    xmlSetGenericErrorFunc(nullptr, discardGenericError);
}

LibXmlScope::~LibXmlScope()
{
    if (--t_scopeDepth > 0)
        return;
    xmlSetStructuredErrorFunc(t_savedStructuredErrorContext, t_savedStructuredError);
    xmlSetGenericErrorFunc(t_savedGenericErrorContext, t_savedGenericError);
}

struct SickXMLParser::Private
{
    QByteArray document;
    SickXMLParserDelegate *delegate = nullptr;
    // The document's parser context while parse() runs. Entity contents are
    // parsed in contexts of their own, which call back with the same user
    // data, this object, so the callbacks reach the document's context here.
    xmlParserCtxtPtr context = nullptr;
    bool aborted = false;
    bool overExpanded = false;
    bool tooDeep = false;
    // Elements open in the document, and whether its root element was
    // started and closed: libxml2 can come to a halt without marking the
    // document malformed (a conversion error after the encoding was guessed
    // from the first bytes, say), and a document read to its end is one
    // whose root element closed.
    int depth = 0;
    bool rootClosed = false;
    // The delegate's wantsText() as of its last start or end event.
    bool textWanted = true;
    qint64 textBudget = 0;
    QString errorString;
    // Text not yet delivered. libxml2 reports text in many pieces (around
    // every reference, at every non-ASCII run), so adjacent pieces are
    // joined and delivered as one before the next other event.
    std::string pendingText;

    // Element and attribute names come from the parser's dictionary, one
    // pointer per distinct name, so each is converted once per parse and
    // kept in a small table indexed by the pointer. The bytes are kept to
    // make sure a pointer still holds the same name.
    struct CachedName
    {
        const xmlChar *pointer = nullptr;
        QByteArray bytes;
        QString name;
    };
    static constexpr size_t kNameSlots = 256;
    std::array<CachedName, kNameSlots> names;

    bool stopped() const { return aborted || overExpanded || tooDeep; }
    bool overLimit() const { return overExpanded || tooDeep; }

    QString name(const xmlChar *utf8)
    {
        const char *chars = reinterpret_cast<const char *>(utf8);
        CachedName &slot = names[(quintptr(utf8) >> 3) % kNameSlots];
        if (slot.pointer != utf8 || std::strcmp(slot.bytes.constData(), chars) != 0) {
            slot.pointer = utf8;
            slot.bytes = QByteArray(chars);
            slot.name = QString::fromUtf8(slot.bytes);
        }
        return slot.name;
    }

    // Attribute tables by the attributes' bytes. Many elements repeat the
    // same attributes item after item (type="html", isPermaLink="false"),
    // and a table built once is shared instead of hashing its names again.
    // std::hash keeps this cheap where Qt's string hash is not.
    std::unordered_map<std::string, QHash<QString, QString>> attributeTables;
    // Tables by their names alone, for new values under names seen before.
    std::unordered_map<std::string, QHash<QString, QString>> attributeShapes;
    std::string attributeKey;
    std::string shapeKey;
    static constexpr size_t kMaxAttributeTables = 256;

    // Counts delivered text against the budget; false once it is spent, when
    // parsing has been stopped.
    bool spendText(int length)
    {
        textBudget -= length;
        if (textBudget >= 0)
            return true;
        overExpanded = true;
        errorString = u"entity expansion exceeds the limit for the document"_s;
        xmlStopParser(context);
        return false;
    }

    void deliverText()
    {
        if (pendingText.empty())
            return;
        if (delegate && !stopped())
            delegate->characters(QString::fromUtf8(QByteArrayView(pendingText.data(), qsizetype(pendingText.size()))));
        pendingText.clear();
    }

    static Private *from(void *userData) { return static_cast<Private *>(userData); }

    static void onStartElement(void *userData, const xmlChar *name, const xmlChar **attributes)
    {
        Private *p = from(userData);
        p->deliverText();
        if (p->stopped())
            return;
        if (++p->depth > kMaxDepth) {
            p->tooDeep = true;
            p->errorString = u"line "_s + QString::number(xmlSAX2GetLineNumber(p->context))
                             + u": elements nested deeper than "_s + QString::number(kMaxDepth);
            xmlStopParser(p->context);
            return;
        }
        if (!p->delegate)
            return;
        const SickXMLAttributes view(reinterpret_cast<const char *const *>(attributes), &Private::makeTable, p);
        p->delegate->startElementView(p->name(name), view);
        p->textWanted = p->delegate->wantsText();
    }

    static QHash<QString, QString> makeTable(void *owner, const char *const *pairs)
    {
        if (!pairs || !pairs[0])
            return {};
        return from(owner)->attributeTable(reinterpret_cast<const xmlChar **>(const_cast<const char **>(pairs)));
    }

    QHash<QString, QString> attributeTable(const xmlChar **attributes)
    {
        attributeKey.clear();
        shapeKey.clear();
        for (const xmlChar **attribute = attributes; attribute[0]; attribute += 2) {
            const char *attributeName = reinterpret_cast<const char *>(attribute[0]);
            shapeKey += attributeName;
            shapeKey += '\0';
            attributeKey += attributeName;
            attributeKey += '\0';
            if (attribute[1])
                attributeKey += reinterpret_cast<const char *>(attribute[1]);
            attributeKey += '\0';
        }
        if (const auto cached = attributeTables.find(attributeKey); cached != attributeTables.end())
            return cached->second;

        QHash<QString, QString> table;
        if (const auto shape = attributeShapes.find(shapeKey); shape != attributeShapes.end()) {
            // The same names as before: a copy keeps every key in its bucket,
            // so only the values are set, without hashing anything.
            table = shape->second;
            for (auto it = table.begin(); it != table.end(); ++it)
                it.value() = valueOf(attributes, it.key());
        } else {
            for (const xmlChar **attribute = attributes; attribute[0]; attribute += 2)
                table.insert(name(attribute[0]), valueOf(attribute));
            if (attributeShapes.size() >= kMaxAttributeTables)
                attributeShapes.clear();
            attributeShapes.emplace(shapeKey, table);
        }
        if (attributeTables.size() >= kMaxAttributeTables)
            attributeTables.clear();
        attributeTables.emplace(attributeKey, table);
        return table;
    }

    static QString valueOf(const xmlChar **attribute) { return attributeValue(reinterpret_cast<const char *>(attribute[1])); }

    QString valueOf(const xmlChar **attributes, const QString &attributeName)
    {
        for (const xmlChar **attribute = attributes; attribute[0]; attribute += 2) {
            if (name(attribute[0]) == attributeName)
                return valueOf(attribute);
        }
        return QString();
    }

    static void onEndElement(void *userData, const xmlChar *name)
    {
        Private *p = from(userData);
        const QString elementName = p->delegate ? p->name(name) : QString();
        if (p->pendingText.empty() || !p->delegate || !p->delegate->joinsTextAcrossEnd(elementName))
            p->deliverText();
        if (p->stopped())
            return;
        if (--p->depth == 0)
            p->rootClosed = true;
        if (p->delegate) {
            p->delegate->endElement(elementName);
            p->textWanted = p->delegate->wantsText();
        }
    }

    static void onCharacters(void *userData, const xmlChar *text, int length)
    {
        Private *p = from(userData);
        if (p->stopped() || !p->spendText(length) || !p->delegate || !p->textWanted)
            return;
        p->pendingText.append(reinterpret_cast<const char *>(text), size_t(length));
    }

    static void onCdataBlock(void *userData, const xmlChar *bytes, int length)
    {
        Private *p = from(userData);
        if (p->stopped() || !p->spendText(length) || !p->delegate || !p->textWanted)
            return;
        p->deliverText();
        p->delegate->cdataBlock(QByteArray(reinterpret_cast<const char *>(bytes), length));
    }

    // Declarations are recorded the way libxml2 records them, in a document
    // that only holds the internal subset; it is made when a subset appears.
    static void onInternalSubset(void *userData, const xmlChar *name, const xmlChar *externalID,
                                 const xmlChar *systemID)
    {
        Private *p = from(userData);
        if (!p->context->myDoc)
            xmlSAX2StartDocument(p->context);
        xmlSAX2InternalSubset(p->context, name, externalID, systemID);
    }

    static void onEntityDecl(void *userData, const xmlChar *name, int type, const xmlChar *publicID,
                             const xmlChar *systemID, xmlChar *content)
    {
        xmlSAX2EntityDecl(from(userData)->context, name, type, publicID, systemID, content);
    }

    // Once parsing has stopped every entity is unknown, so expansions still
    // under way in entity contexts end at their next reference instead of
    // running to completion.
    static xmlEntityPtr onGetEntity(void *userData, const xmlChar *name)
    {
        Private *p = from(userData);
        if (p->stopped())
            return nullptr;
        return xmlSAX2GetEntity(p->context, name);
    }

    static xmlEntityPtr onGetParameterEntity(void *userData, const xmlChar *name)
    {
        Private *p = from(userData);
        if (p->stopped())
            return nullptr;
        return xmlSAX2GetParameterEntity(p->context, name);
    }

    static xmlParserInputPtr onResolveEntity(void *, const xmlChar *, const xmlChar *) { return nullptr; }

    static xmlSAXHandler handler()
    {
        xmlSAXHandler sax;
        std::memset(&sax, 0, sizeof sax);
        // The SAX1 interface reports names as written and namespace
        // declarations as attributes. No callback loads an external subset
        // or resolves an external entity.
        sax.initialized = 1;
        sax.startElement = onStartElement;
        sax.endElement = onEndElement;
        sax.characters = onCharacters;
        sax.ignorableWhitespace = onCharacters;
        sax.cdataBlock = onCdataBlock;
        sax.internalSubset = onInternalSubset;
        sax.entityDecl = onEntityDecl;
        sax.getEntity = onGetEntity;
        sax.getParameterEntity = onGetParameterEntity;
        sax.resolveEntity = onResolveEntity;
        return sax;
    }

    QString lastErrorMessage() const
    {
        const xmlError *error = xmlCtxtGetLastError(context);
        if (!error || error->code == XML_ERR_OK || !error->message)
            return u"the document is not well-formed"_s;
        const QString message = QString::fromUtf8(error->message).trimmed();
        return u"line "_s + QString::number(error->line) + u": "_s + message;
    }
};

const char *const *SickXMLAttributes::find(QLatin1StringView name) const
{
    if (!m_pairs)
        return nullptr;
    for (const char *const *pair = m_pairs; pair[0]; pair += 2) {
        if (std::strncmp(pair[0], name.data(), size_t(name.size())) == 0 && pair[0][name.size()] == '\0')
            return pair;
    }
    return nullptr;
}

QString SickXMLAttributes::value(QLatin1StringView name) const
{
    const char *const *pair = find(name);
    return pair ? attributeValue(pair[1]) : QString();
}

bool SickXMLAttributes::contains(QLatin1StringView name) const
{
    return find(name) != nullptr;
}

QHash<QString, QString> SickXMLAttributes::toHash() const
{
    return m_makeTable(m_owner, m_pairs);
}

SickXMLParser::SickXMLParser(const QByteArray &document)
    : d(std::make_unique<Private>())
{
    d->document = Fixer::fixData(document);
}

SickXMLParser::~SickXMLParser() = default;

void SickXMLParser::setDelegate(SickXMLParserDelegate *delegate)
{
    d->delegate = delegate;
}

const QByteArray &SickXMLParser::document() const
{
    return d->document;
}

QString SickXMLParser::errorString() const
{
    return d->errorString;
}

void SickXMLParser::abortParsing()
{
    if (!d->context || d->aborted)
        return;
    d->aborted = true;
    d->errorString = u"parsing was aborted"_s;
    xmlStopParser(d->context);
}

bool SickXMLParser::parse()
{
    LibXmlScope scope;
    d->aborted = false;
    d->overExpanded = false;
    d->tooDeep = false;
    d->depth = 0;
    d->rootClosed = false;
    d->textWanted = !d->delegate || d->delegate->wantsText();
    d->errorString.clear();
    d->pendingText.clear();
    d->textBudget = d->document.size() + kMaxExpandedText;

    const char *data = d->document.constData();
    const qsizetype size = d->document.size();
    // The first bytes let libxml2 detect the encoding before the rest comes.
    const qsizetype head = qMin<qsizetype>(4, size);
    xmlSAXHandler sax = Private::handler();
    d->context = xmlCreatePushParserCtxt(&sax, d.get(), data, int(head), nullptr);
    if (!d->context) {
        d->errorString = u"the XML parser could not be created"_s;
        return false;
    }
    // No XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDVALID or
    // XML_PARSE_HUGE: external entities stay unloaded and libxml2's
    // expansion limits stay on. XML_PARSE_NOERROR and XML_PARSE_NOWARNING
    // remove the handlers that would print.
    xmlCtxtUseOptions(d->context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);

    qsizetype offset = head;
    do {
        const qsizetype chunk = qMin(kChunkSize, size - offset);
        const bool last = offset + chunk >= size;
        xmlParseChunk(d->context, data + offset, int(chunk), last ? 1 : 0);
        offset += chunk;
    } while (offset < size && !d->stopped() && d->context->wellFormed
             && d->context->instate != XML_PARSER_EOF);

    // Text read before the end or a fault still counts.
    d->deliverText();
    const bool wellFormed = d->context->wellFormed != 0;
    const bool ok = wellFormed && d->rootClosed && !d->stopped() && offset >= size;
    if (!wellFormed && !d->stopped())
        d->errorString = d->lastErrorMessage();
    else if (!ok && d->errorString.isEmpty())
        d->errorString = u"the document ends before its root element does"_s;
    if (!ok && !d->aborted && d->delegate)
        d->delegate->parseErrorOccurred(d->errorString);

    if (d->context->myDoc)
        xmlFreeDoc(d->context->myDoc);
    xmlFreeParserCtxt(d->context);
    d->context = nullptr;
    d->names.fill({});
    d->attributeTables.clear();
    d->attributeShapes.clear();
    d->pendingText.clear();
    return ok;
}

} // namespace corvane
