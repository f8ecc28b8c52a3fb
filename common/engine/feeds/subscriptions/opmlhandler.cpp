#include "feeds/subscriptions/opmlhandler.h"

#include "feeds/reading/sickxmlparser.h"
#include "feeds/subscriptions/subscriptionlist.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "base/notificationcenter.h"
#include "base/urltext.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/query.h"
#include "store/storemanager.h"

#include "xmlwriter.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace corvane {
namespace {

const char kNoMainThread[] = "no main thread here!";
// An OPML file is a list of addresses; anything larger is not one.
constexpr qint64 kMaxOpmlBytes = 64 * 1024 * 1024;

void writeFeedOutline(XMLWriter &writer, const Datasource &datasource)
{
    const QString title = !datasource.customName().isNull() ? datasource.customName() : datasource.name();
    writer.writeStartElement(QStringLiteral("outline"));
    writer.writeAttribute(QStringLiteral("type"), QStringLiteral("rss"));
    writer.writeAttribute(QStringLiteral("title"), title);
    writer.writeAttribute(QStringLiteral("text"), title);
    if (!datasource.url().isNull())
        writer.writeAttribute(QStringLiteral("xmlUrl"), datasource.url());
    writer.writeEndElement();
}

// Counts the subscription outlines of a file without touching the store:
// a restore deletes what the file does not list, so it runs only on a file
// read to its end that lists at least one subscription.
class OpmlSurvey : public SickXMLParserDelegate
{
public:
    int subscriptions() const { return m_subscriptions; }

    void startElement(const QString &name, const QHash<QString, QString> &attributes) override
    {
        if (name != u"outline")
            return;
        const auto type = attributes.constFind(QStringLiteral("type"));
        const auto xmlUrl = attributes.constFind(QStringLiteral("xmlUrl"));
        if (xmlUrl != attributes.constEnd() && (type == attributes.constEnd() || *type == u"rss") && feedURL(*xmlUrl))
            ++m_subscriptions;
    }
    void characters(const QString &) override {}
    void cdataBlock(const QByteArray &) override {}
    void endElement(const QString &) override {}

private:
    int m_subscriptions = 0;
};

// The reading side: one pass over the outlines of one file.
class OpmlImport : public SickXMLParserDelegate
{
public:
    OpmlImport(Context *context, const QList<Datasource *> &datasources, const QList<Category *> &categories)
        : m_context(context)
    {
        for (Datasource *datasource : datasources) {
            m_leftovers.insert(datasource);
            m_known.insert(keyFor(datasource->url()), datasource);
            m_highestFeedPosition = std::max(m_highestFeedPosition, datasource->position());
        }
        for (Category *category : categories) {
            m_leftovers.insert(category);
            m_highestPosition = std::max(m_highestPosition, category->position());
            if (!category->name().isNull())
                m_categories[category->name()] = category; // sorted by name: the last one wins
        }
    }

    // Addresses are compared in their normalised form; one that does not
    // normalise only matches the same text.
    static QString keyFor(const QString &url)
    {
        const std::optional<QUrl> normalised = feedURL(url);
        return normalised ? normalised->toString(QUrl::FullyEncoded) : QStringLiteral(" ") + url;
    }

    const QSet<Record *> &leftovers() const { return m_leftovers; }

    void startElement(const QString &name, const QHash<QString, QString> &attributes) override
    {
        if (name != u"outline")
            return;
        ++m_depth;
        const auto type = attributes.constFind(QStringLiteral("type"));
        const auto xmlUrl = attributes.constFind(QStringLiteral("xmlUrl"));
        auto title = attributes.constFind(QStringLiteral("title"));
        if (title == attributes.constEnd())
            title = attributes.constFind(QStringLiteral("text"));
        const bool hasTitle = title != attributes.constEnd();

        if (xmlUrl == attributes.constEnd()) {
            if (hasTitle)
                m_folder = *title;
            return;
        }
        if (type != attributes.constEnd() && *type != u"rss")
            return;
        const QString key = keyFor(*xmlUrl);
        if (Datasource *known = m_known.value(key)) {
            m_leftovers.remove(known);
            if (Category *category = known->category())
                m_leftovers.remove(category);
            return;
        }
        if (key.startsWith(u' '))
            return;
        RSSDatasource *datasource = subscriptionlist::insertFeed(key, m_context, nullptr, ++m_highestFeedPosition);
        if (hasTitle)
            datasource->setCustomName(*title);
        m_known.insert(key, datasource);
        if (!m_folder)
            return;
        Category *category = m_categories.value(*m_folder);
        if (category) {
            m_leftovers.remove(category);
        } else {
            category = m_context->insert<Category>();
            category->setName(*m_folder);
            category->setPosition(++m_highestPosition);
            m_categories.insert(*m_folder, category);
        }
        datasource->setCategory(category);
    }

    void endElement(const QString &name) override
    {
        if (name != u"outline" || m_depth == 0)
            return;
        if (--m_depth == 0)
            m_folder.reset();
    }

    void characters(const QString &) override {}
    void cdataBlock(const QByteArray &) override {}

private:
    Context *m_context;
    QHash<QString, Datasource *> m_known;
    double m_highestFeedPosition = 0;
    QSet<Record *> m_leftovers;
    QHash<QString, Category *> m_categories;
    double m_highestPosition = 0;
    std::optional<QString> m_folder;
    int m_depth = 0;
};

} // namespace

OPMLHandler::OPMLHandler(StoreManager &stores)
    : m_stores(stores)
{
}

QList<Datasource *> OPMLHandler::datasources()
{
    return subscriptionlist::datasourcesForContext(m_stores.contextBackground());
}

QList<Category *> OPMLHandler::categories()
{
    return m_stores.contextBackground()->fetchAs<Category>(
        Query{Entity::Category, Predicate(), {{QStringLiteral("name"), true}}});
}

QByteArray OPMLHandler::exportDocument()
{
    XMLWriter writer;
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("opml"));
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writer.writeStartElement(QStringLiteral("head"));
    writer.writeStartElement(QStringLiteral("title"));
    writer.writeCharacters(QStringLiteral("Subscriptions in Corvane"));
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("body"));
    for (const Datasource *datasource : datasources())
        if (!datasource->category())
            writeFeedOutline(writer, *datasource);
    for (const Category *category : categories()) {
        writer.writeStartElement(QStringLiteral("outline"));
        writer.writeAttribute(QStringLiteral("title"), category->name());
        writer.writeAttribute(QStringLiteral("text"), category->name());
        QList<Datasource *> members = category->datasources();
        std::sort(members.begin(), members.end(),
                  [](const Datasource *a, const Datasource *b) { return a->position() < b->position(); });
        for (const Datasource *datasource : std::as_const(members))
            writeFeedOutline(writer, *datasource);
        writer.writeEndElement();
    }
    writer.writeEndDocument();
    return writer.data();
}

bool OPMLHandler::exportURL(const QString &path)
{
    CORVANE_ASSERT(!dispatch::isMainThread(), kNoMainThread);
    QByteArray document;
    m_stores.contextBackground()->performBlockConfinedAndWait([&] { document = exportDocument(); });
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() || !file.commit()) {
        logLine(QStringLiteral("error writing %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

std::optional<QString> OPMLHandler::importURL(const QString &path, bool deleteOthers)
{
    CORVANE_ASSERT(!dispatch::isMainThread(), kNoMainThread);
    m_deleted.clear();
    std::optional<QString> error;
    QByteArray bytes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        error = QStringLiteral("The file %1 could not be opened: %2").arg(path, file.errorString());
    else if (file.size() > kMaxOpmlBytes)
        error = QStringLiteral("The file %1 is too large for a subscription list").arg(path);
    else
        bytes = file.readAll();

    if (deleteOthers) {
        if (!error) {
            OpmlSurvey survey;
            SickXMLParser parser(bytes);
            parser.setDelegate(&survey);
            if (!parser.parse())
                error = QStringLiteral("The file %1 is not a complete OPML document").arg(path);
            else if (survey.subscriptions() == 0)
                error = QStringLiteral("The file %1 lists no subscriptions").arg(path);
        }
        if (error)
            return *error + QStringLiteral("; nothing was restored");
    }

    Context *context = m_stores.contextBackground();
    context->performBlockConfinedAndWait([&] {
        OpmlImport import(context, datasources(), categories());
        if (!error) {
            SickXMLParser parser(bytes);
            parser.setDelegate(&import);
            if (!parser.parse())
                error = parser.errorString().isEmpty() ? QStringLiteral("The file is not a readable OPML document")
                                                       : parser.errorString();
        }
        if (deleteOthers) {
            // Subscriptions first, so a deleted category's own subscriptions are reported as such.
            QList<Record *> leftovers = import.leftovers().values();
            std::stable_sort(leftovers.begin(), leftovers.end(), [](Record *a, Record *b) {
                return a->entity() == Entity::Datasource && b->entity() != Entity::Datasource;
            });
            for (Record *record : std::as_const(leftovers)) {
                if (auto *datasource = dynamic_cast<Datasource *>(record)) {
                    m_deleted.append(QStringLiteral("subscription %1").arg(datasource->url()));
                    datasource->deleteObjectByUser();
                } else if (auto *category = dynamic_cast<Category *>(record)) {
                    m_deleted.append(QStringLiteral("category %1").arg(category->name()));
                    category->deleteObjectByUser();
                }
            }
        }
    });
    m_stores.processChangesFromContext(context);
    dispatch::main().async([] { NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification); });
    return error;
}

} // namespace corvane
