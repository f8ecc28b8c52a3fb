#include "feeds/reading/feeddocumentreader.h"

#include "feeds/reading/fixer.h"

#include "base/itemdate.h"
#include "base/urltext.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

constexpr qsizetype kItemFieldsReserved = 24;

// The item fields that hold text, which elements nested in them add to.
bool isTextField(const QString &name)
{
    return name == "title"_L1 || name == "description"_L1 || name == "content:encoded"_L1 || name == "summary"_L1
        || name == "content"_L1;
}

bool isItem(FeedDocumentReader::PathKind kind)
{
    return kind == FeedDocumentReader::PathKind::Item || kind == FeedDocumentReader::PathKind::AtomEntry;
}

} // namespace

FeedDocumentReader::FeedDocumentReader(Options options)
    : m_options(std::move(options))
{
}

const QList<ItemRecord> &FeedDocumentReader::records() const
{
    return m_records;
}

QString FeedDocumentReader::channelName() const
{
    return m_channelName;
}

QString FeedDocumentReader::mainLink() const
{
    return m_mainLink.value_or(QString());
}

QUrl FeedDocumentReader::channelImageUrl() const
{
    return m_channelImageUrl;
}

bool FeedDocumentReader::sawHtml() const
{
    return m_sawHtml;
}

QString FeedDocumentReader::errorString() const
{
    return m_errorString;
}

void FeedDocumentReader::reset()
{
    m_path.clear();
    m_currentElement.clear();
    m_itemDepth = 0;
    m_fieldDepth = 0;
    m_guidIsPermaLink = true;
    m_bases.clear();
    m_currentIsOrigLink = false;
    m_item.reset();
    m_currentValue = nullptr;
    m_buffer.clear();
    m_imageUrlText.clear();
    m_channelName.clear();
    m_mainLink.reset();
    m_channelImageUrl.clear();
    m_atlassian = false;
    m_sawHtml = false;
    m_errorString.clear();
    m_records.clear();
}

bool FeedDocumentReader::read(const QByteArray &document)
{
    QByteArray repaired;
    if (readOnce(document, &repaired) || m_sawHtml)
        return !m_sawHtml;
    // Raw HTML in a description ("<br>") is the commonest fault; with its
    // void elements closed the document often reads to the end. The second
    // reading is kept when it read further than the first.
    const QByteArray closed = Fixer::closeVoidElements(repaired);
    if (closed.size() == repaired.size())
        return false;
    const qsizetype firstCount = m_records.size();
    if (readOnce(closed, nullptr))
        return true;
    if (m_records.size() < firstCount)
        readOnce(document, nullptr);
    return false;
}

bool FeedDocumentReader::readOnce(const QByteArray &document, QByteArray *repaired)
{
    reset();
    m_now = m_options.now != 0 ? m_options.now : currentDate();
    SickXMLParser parser(document);
    parser.setDelegate(this);
    m_parser = &parser;
    const bool parsed = parser.parse();
    m_parser = nullptr;
    m_pause.settle();
    m_errorString = parser.errorString();
    if (repaired)
        *repaired = parser.document();
    return parsed && !m_sawHtml;
}

QUrl FeedDocumentReader::currentBase() const
{
    return m_bases.isEmpty() ? m_options.documentURL : m_bases.last().second;
}

void FeedDocumentReader::startBase(const SickXMLAttributes &attributes)
{
    // XML Base (W3C, section 4.2): an xml:base is relative to the base in
    // scope of its element, and applies to the element and its content.
    const QString base = attributes.value("xml:base"_L1);
    if (!base.isNull())
        m_bases.append({m_path.size(), QUrl(resolvedReference(base.trimmed(), currentBase()))});
}

FeedDocumentReader::PathKind FeedDocumentReader::childPathKind(PathKind parent, const QString &name)
{
    switch (parent) {
    case PathKind::Root:
        if (name == "rss"_L1)
            return PathKind::Rss;
        if (name == "rdf:RDF"_L1)
            return PathKind::Rdf;
        if (name == "feed"_L1)
            return PathKind::Feed;
        break;
    case PathKind::Rss:
        if (name == "channel"_L1)
            return PathKind::RssChannel;
        break;
    case PathKind::Rdf:
        if (name == "channel"_L1)
            return PathKind::RdfChannel;
        [[fallthrough]];
    case PathKind::RssChannel:
    case PathKind::RdfChannel:
    case PathKind::Feed: {
        // The channel's fields are named alike in RSS, RDF and Atom; only the items differ.
        const bool atom = parent == PathKind::Feed;
        if (atom ? name == "entry"_L1 : name == "item"_L1)
            return atom ? PathKind::AtomEntry : PathKind::Item;
        if (name == "title"_L1)
            return PathKind::ChannelTitle;
        if (name == "link"_L1)
            return PathKind::ChannelLink;
        if (name == "image"_L1)
            return PathKind::ChannelImage;
        if (parent == PathKind::RdfChannel && name == "items"_L1)
            return PathKind::RdfItems;
        break;
    }
    case PathKind::ChannelImage:
        if (name == "url"_L1)
            return PathKind::ChannelImageUrl;
        break;
    case PathKind::AtomEntry:
        if (name == "link"_L1)
            return PathKind::ItemLink;
        break;
    case PathKind::RdfItems:
        if (name == "rdf:Seq"_L1)
            return PathKind::RdfSeq;
        break;
    case PathKind::RdfSeq:
        if (name == "rdf:li"_L1)
            return PathKind::ItemLink;
        break;
    default:
        break;
    }
    return PathKind::Other;
}

FeedDocumentReader::PathKind FeedDocumentReader::pathKind() const
{
    return m_path.isEmpty() ? PathKind::Root : m_path.last();
}

void FeedDocumentReader::handleItemLink(const SickXMLAttributes &attributes)
{
    // Links to XML (the entry's own Atom document, comment feeds) are not
    // the item's page.
    if (attributes.value("type"_L1).contains(u"xml"))
        return;
    QString address = attributes.value("href"_L1);
    if (address.isNull())
        address = attributes.value("rdf:resource"_L1);
    if (address.isNull() || !m_item)
        return;
    if (!m_atlassian) {
        // The last link of an entry wins; enclosures are not its page.
        if (attributes.value("rel"_L1) != "enclosure"_L1)
            m_item->insert(u"href"_s, address);
    } else if (!m_item->contains(u"href"_s)) {
        // Atlassian (Jira, Confluence) feeds list the item's page first.
        m_item->insert(u"href"_s, address);
    }
}

void FeedDocumentReader::startElementView(const QString &name, const SickXMLAttributes &attributes)
{
    if (name == "html"_L1 && m_fieldDepth == 0) {
        // A web page where a feed was expected, typically a login or error page.
        m_sawHtml = true;
        if (m_parser)
            m_parser->abortParsing();
        return;
    }
    if (m_options.pausePerElement)
        m_pause.elementStarted();

    const PathKind kind = childPathKind(pathKind(), name);
    m_path.append(kind);
    const qsizetype depth = m_path.size();
    const bool hasAttributes = !attributes.isEmpty();
    if (hasAttributes)
        startBase(attributes);
    const bool declaresAtlassian = hasAttributes && attributes.contains("xmlns:atlassian"_L1);
    if (m_item && m_fieldDepth > 0) {
        // Inside a text field (XHTML in a title, HTML in a description):
        // the text goes on into the field.
        m_atlassian = m_atlassian || declaresAtlassian;
        return;
    }
    m_currentValue = nullptr;
    if (isItem(kind)) {
        // Room for a typical item's fields from the start: growing the table
        // hashes every key again, and hashing strings is what costs most here.
        m_item.emplace().reserve(kItemFieldsReserved);
        m_itemDepth = depth;
        m_guidIsPermaLink = true;
        if (!m_bases.isEmpty())
            m_item->insert(u"xml:base"_s, currentBase().toString(QUrl::FullyEncoded));
    } else if (kind == PathKind::ItemLink) {
        handleItemLink(attributes);
        if (m_item && !m_bases.isEmpty() && m_bases.last().first == depth && m_item->contains(u"href"_s))
            m_item->insert(u"xml:base"_s, currentBase().toString(QUrl::FullyEncoded));
    } else if (kind == PathKind::ChannelImageUrl) {
        m_imageUrlText.clear();
    }

    if (declaresAtlassian)
        m_atlassian = true;

    m_currentElement = name;
    m_currentIsOrigLink = name == "feedburner:origLink"_L1;

    if (m_item && depth == m_itemDepth + 1) {
        if (isTextField(name)) {
            m_fieldDepth = depth;
        } else if (name == "guid"_L1) {
            const QString permaLink = attributes.value("isPermaLink"_L1);
            m_guidIsPermaLink = permaLink.isNull() || permaLink.trimmed().compare(u"false", Qt::CaseInsensitive) != 0;
        }
    }

    if (m_item && hasAttributes && (name == "enclosure"_L1 || name == "media:content"_L1)) {
        if (const QString url = attributes.value("url"_L1); !url.isNull())
            m_item->insert(u"enclosureUrl"_s, url);
        if (const QString type = attributes.value("type"_L1); !type.isNull())
            m_item->insert(u"enclosureMime"_s, type);
    }
}

void FeedDocumentReader::characters(const QString &text)
{
    if (m_currentIsOrigLink) {
        m_buffer += text;
        return;
    }
    if (m_item) {
        // Text after an end tag goes on under the same name, so the value
        // stays at hand until the item changes otherwise.
        if (!m_currentValue)
            m_currentValue = &(*m_item)[m_currentElement];
        *m_currentValue += text;
        return;
    }
    const PathKind kind = pathKind();
    if (kind == PathKind::ChannelTitle || kind == PathKind::ChannelLink) {
        m_buffer += text;
    } else if (kind == PathKind::ChannelImageUrl && !m_options.subscriptionHasIcon) {
        // The address may come in pieces (around an entity, say); each piece
        // re-reads the text so far.
        m_imageUrlText += text;
        const QString address = trimWhiteSpaceAndNewlines(m_imageUrlText).toString();
        m_channelImageUrl = urlFromString(address).value_or(QUrl());
        if (m_channelImageUrl.isEmpty() && !address.isEmpty() && !containsWhiteSpaceOrNewline(address)) {
            // A relative address, relative to the document (or an xml:base).
            m_channelImageUrl = QUrl(resolvedReference(address, currentBase()), QUrl::StrictMode);
        }
        // Only a web address is ever downloaded as the icon.
        if (!isWebURL(m_channelImageUrl))
            m_channelImageUrl.clear();
    }
}

// What characters() would keep; text between channel elements, most of it
// white space, is then never converted.
bool FeedDocumentReader::wantsText() const
{
    if (m_currentIsOrigLink || m_item)
        return true;
    const PathKind kind = pathKind();
    return kind == PathKind::ChannelTitle || kind == PathKind::ChannelLink
        || (kind == PathKind::ChannelImageUrl && !m_options.subscriptionHasIcon);
}

// Within an item, text after an end tag goes where the text before it went,
// except at the end of the item itself and of "feedburner:origLink", whose
// text the end handles.
bool FeedDocumentReader::joinsTextAcrossEnd(const QString &name) const
{
    return m_item && !isItem(pathKind()) && name != "feedburner:origLink"_L1;
}

void FeedDocumentReader::cdataBlock(const QByteArray &bytes)
{
    characters(QString::fromUtf8(bytes));
}

void FeedDocumentReader::finishItem(PathKind kind)
{
    if (kind == PathKind::AtomEntry) {
        m_item = convertAtomToRSS(*m_item);
    } else if (!m_item->contains(u"link"_s) && m_guidIsPermaLink) {
        // RSS 2.0: a guid that is a permalink is the item's address.
        if (const auto guid = m_item->constFind(u"guid"_s); guid != m_item->cend()) {
            const QString address = trimWhiteSpaceAndNewlines(*guid).toString();
            if (isWebURL(QUrl(address, QUrl::StrictMode)))
                m_item->insert(u"link"_s, *guid);
        }
    }
    // Dating an item takes longer than reading it, and only the cut-off
    // needs the date here.
    if (!m_options.earliestDate || dateForDictionary(*m_item, m_now) >= *m_options.earliestDate)
        m_records.append(std::move(*m_item));
    m_item.reset();
    m_fieldDepth = 0;
}

void FeedDocumentReader::endElement(const QString &name)
{
    const PathKind kind = pathKind();
    if (kind == PathKind::ChannelTitle) {
        m_channelName = m_buffer;
        m_buffer.clear();
    } else if (kind == PathKind::ChannelLink) {
        if (!m_mainLink)
            m_mainLink = m_buffer;
        m_buffer.clear();
    } else if (name == "feedburner:origLink"_L1) {
        if (m_item) {
            m_item->insert(u"feedburner:origLink"_s, m_buffer);
            m_currentValue = nullptr;
        }
        m_buffer.clear();
    } else if (isItem(kind) && m_item && (!m_options.subscriptionAlive || m_options.subscriptionAlive())) {
        finishItem(kind);
        m_currentValue = nullptr;
    }
    if (!m_bases.isEmpty() && m_bases.last().first == m_path.size())
        m_bases.removeLast();
    if (m_fieldDepth == m_path.size())
        m_fieldDepth = 0;
    if (!m_path.isEmpty())
        m_path.removeLast();
}

ItemRecord FeedDocumentReader::convertAtomToRSS(const ItemRecord &entry)
{
    // One pass over the entry; where two fields feed one name the
    // preferred one is remembered and wins.
    const QString *href = nullptr;
    const QString *origLink = nullptr;
    const QString *title = nullptr;
    const QString *content = nullptr;
    const QString *summary = nullptr;
    const QString *id = nullptr;
    const QString *published = nullptr;
    const QString *updated = nullptr;
    const QString *base = nullptr;
    for (auto it = entry.cbegin(); it != entry.cend(); ++it) {
        const QString &key = it.key();
        if (key == "href"_L1)
            href = &it.value();
        else if (key == "feedburner:origLink"_L1)
            origLink = &it.value();
        else if (key == "title"_L1)
            title = &it.value();
        else if (key == "content"_L1)
            content = &it.value();
        else if (key == "summary"_L1)
            summary = &it.value();
        else if (key == "id"_L1)
            id = &it.value();
        else if (key == "published"_L1)
            published = &it.value();
        else if (key == "updated"_L1)
            updated = &it.value();
        else if (key == "xml:base"_L1)
            base = &it.value();
    }
    ItemRecord rss;
    if (const QString *link = origLink ? origLink : href)
        rss.insert(u"link"_s, *link);
    if (title)
        rss.insert(u"title"_s, *title);
    if (const QString *description = content ? content : summary)
        rss.insert(u"description"_s, *description);
    if (id)
        rss.insert(u"guid"_s, *id);
    if (const QString *date = published ? published : updated)
        rss.insert(u"published"_s, *date);
    // The base the link resolves against, where the entry has one.
    if (base && (href || origLink))
        rss.insert(u"xml:base"_s, *base);
    return rss;
}

} // namespace corvane
