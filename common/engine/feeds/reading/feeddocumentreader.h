#pragma once

#include "feeds/reading/elementpause.h"
#include "feeds/reading/sickxmlparser.h"

#include "base/date.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVarLengthArray>

#include <functional>
#include <optional>

namespace corvane {

// One feed item as read: the text of each element under the element's
// qualified name ("title", "pubDate", "content:encoded"), plus "href",
// "enclosureUrl" and "enclosureMime" taken from attributes.
using ItemRecord = QHash<QString, QString>;

// Reads RSS 2.0, RSS 1.0 (RDF) and Atom documents into item records and the
// channel's name, link and image.
//
// State while reading: the path of open elements; the current element (the
// one started last, whether or not still open), whose name keys the text
// that follows within an item; the current item, from the start of an item
// element to its end; and a text buffer for the channel's title and link and
// for "feedburner:origLink". Elements are recognised by their path from the
// root, so the same names elsewhere (an item's "title", an "atom:link" in an
// RSS channel) do not count as the channel's:
//
//   item          rss/channel/item, rdf:RDF/item, rdf:RDF/channel/item, feed/entry
//   channel title rss/channel/title, rdf:RDF/title, rdf:RDF/channel/title, feed/title
//   channel link  the same with "link"
//   channel image the same with "image/url"
//   item link     feed/entry/link, rdf:RDF/channel/items/rdf:Seq/rdf:li (from attributes)
//
// Text of elements nested in an item's text field (title, description,
// content, summary, content:encoded), as in Atom's type="xhtml" or raw HTML
// in a description, is the field's text. An RSS item without a link whose
// guid is a permalink (isPermaLink true or absent) and a web address gets
// the guid as its "link". Where xml:base is in scope of an item, the record
// holds the base, resolved to an address, under "xml:base"; ItemCreation
// resolves the link against it.
//
// An item is finished at its end tag (startElement begins it; endElement
// converts an Atom entry to RSS names, drops it when an age cut-off is set
// and its date is older, and keeps it otherwise). A document whose root turns out to be "html" stops the
// reading at once.
class FeedDocumentReader : public SickXMLParserDelegate
{
public:
    struct Options
    {
        bool subscriptionHasIcon = false;
        // Age cut-off; none keeps every record.
        OptionalDate earliestDate;
        // The moment item dates are computed against (0: current time).
        Date now = 0;
        // Pause 10 microseconds per element start, which keeps a refresh
        // light on the machine (see ElementPause).
        bool pausePerElement = true;
        // Unset means alive; records stop being collected when it answers false.
        std::function<bool()> subscriptionAlive;
        // Where the document came from; relative xml:base values resolve against it.
        QUrl documentURL;
    };

    explicit FeedDocumentReader(Options options);

    // Reads one document (empties the element path and the records first).
    // False on a reader error or when reading stopped at an "html" start tag.
    bool read(const QByteArray &document);
    const QList<ItemRecord> &records() const;
    QString channelName() const;
    // The channel's own link text (the first one).
    QString mainLink() const;
    QUrl channelImageUrl() const;
    bool sawHtml() const;
    // Why the last read() failed, as the XML reader put it.
    QString errorString() const;

    // An Atom entry with RSS names: "link" from "feedburner:origLink" or else
    // "href", "title", "description" from "content" or else "summary",
    // "guid" from "id", "published" from "published" or else "updated".
    static ItemRecord convertAtomToRSS(const ItemRecord &entry);

    void startElementView(const QString &name, const SickXMLAttributes &attributes) override;
    void characters(const QString &text) override;
    void cdataBlock(const QByteArray &bytes) override;
    void endElement(const QString &name) override;
    bool wantsText() const override;
    bool joinsTextAcrossEnd(const QString &name) const override;

    // What an element path means to the reader; see the table above. Each
    // open element's meaning follows from its parent's and its own name.
    enum class PathKind : quint8 {
        Root,
        Other,
        Rss,
        RssChannel,
        Rdf,
        RdfChannel,
        RdfItems,
        RdfSeq,
        Feed,
        Item,
        AtomEntry,
        ChannelTitle,
        ChannelLink,
        ChannelImage,
        ChannelImageUrl,
        ItemLink,
    };
    static PathKind childPathKind(PathKind parent, const QString &name);

private:
    PathKind pathKind() const;
    void handleItemLink(const SickXMLAttributes &attributes);
    void finishItem(PathKind kind);
    void reset();
    bool readOnce(const QByteArray &document, QByteArray *repaired);
    // Notes an xml:base of the element just pushed.
    void startBase(const SickXMLAttributes &attributes);
    QUrl currentBase() const;

    Options m_options;
    ElementPause m_pause;
    Date m_now = 0;
    SickXMLParser *m_parser = nullptr;

    QVarLengthArray<PathKind, 16> m_path;
    QString m_currentElement;
    // Depth of the item element in m_path, and of its text field whose
    // nested elements' text it collects (0: none).
    qsizetype m_itemDepth = 0;
    qsizetype m_fieldDepth = 0;
    bool m_guidIsPermaLink = true;
    // xml:base values in scope, resolved, with the depth of their element.
    QVarLengthArray<QPair<qsizetype, QUrl>, 4> m_bases;
    bool m_currentIsOrigLink = false;
    std::optional<ItemRecord> m_item;
    // The current item's value under the current element, once text came;
    // reset whenever the item may have changed otherwise.
    QString *m_currentValue = nullptr;
    QString m_buffer;
    QString m_imageUrlText;

    QString m_channelName;
    std::optional<QString> m_mainLink;
    QUrl m_channelImageUrl;
    bool m_atlassian = false;
    bool m_sawHtml = false;
    QString m_errorString;
    QList<ItemRecord> m_records;
};

} // namespace corvane
