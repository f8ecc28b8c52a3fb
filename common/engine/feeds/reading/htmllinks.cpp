#include "feeds/reading/htmllinks.h"

#include "feeds/reading/sickxmlparser.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace corvane::htmllinks {

namespace {

struct DocumentFree
{
    void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
};
struct XPathContextFree
{
    void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectFree
{
    void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};

void discardXPathError(void *, xmlErrorPtr) {}

QString text(const xmlChar *utf8)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(utf8));
}

QHash<QString, QString> attributesOf(xmlNodePtr node)
{
    QHash<QString, QString> attributes;
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
        xmlChar *value = xmlNodeListGetString(node->doc, attribute->children, 1);
        attributes.insert(text(attribute->name), value ? text(value) : QString());
        xmlFree(value);
    }
    return attributes;
}

std::optional<QString> firstHref(const QByteArray &html, const QString &xpath,
                                 bool (*accepts)(const QHash<QString, QString> &))
{
    for (const QHash<QString, QString> &attributes : elementAttributes(html, xpath)) {
        const auto href = attributes.constFind(u"href"_s);
        if (href != attributes.cend() && accepts(attributes))
            return *href;
    }
    return std::nullopt;
}

} // namespace

QList<QHash<QString, QString>> elementAttributes(const QByteArray &html, const QString &xpath)
{
    QList<QHash<QString, QString>> result;
    if (html.isEmpty() || html.size() > std::numeric_limits<int>::max())
        return result;

    LibXmlScope scope;
    const std::unique_ptr<xmlDoc, DocumentFree> document(
        htmlReadMemory(html.constData(), int(html.size()), nullptr, nullptr,
                       HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
    if (!document)
        return result;
    const std::unique_ptr<xmlXPathContext, XPathContextFree> context(xmlXPathNewContext(document.get()));
    if (!context)
        return result;
    context->error = discardXPathError;

    const QByteArray expression = xpath.toUtf8();
    const std::unique_ptr<xmlXPathObject, XPathObjectFree> selected(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(expression.constData()), context.get()));
    if (!selected || selected->type != XPATH_NODESET || !selected->nodesetval)
        return result;

    const xmlNodeSetPtr nodes = selected->nodesetval;
    for (int i = 0; i < nodes->nodeNr; ++i) {
        if (nodes->nodeTab[i]->type == XML_ELEMENT_NODE)
            result.append(attributesOf(nodes->nodeTab[i]));
    }
    return result;
}

std::optional<QString> rssFeedLink(const QByteArray &html)
{
    // Only RSS is announced this way; a page offering Atom alone has no link here.
    return firstHref(html, u"/html/*/link"_s, [](const QHash<QString, QString> &attributes) {
        return attributes.value(u"type"_s).startsWith(u"application/rss");
    });
}

std::optional<QString> shortcutIconLink(const QByteArray &html)
{
    return firstHref(html, u"/html/head/link"_s, [](const QHash<QString, QString> &attributes) {
        return attributes.value(u"rel"_s) == u"shortcut icon";
    });
}

} // namespace corvane::htmllinks
