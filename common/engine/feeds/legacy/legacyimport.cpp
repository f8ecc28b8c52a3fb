#include "feeds/legacy/legacyimport.h"

#include "feeds/subscriptions/subscriptionlist.h"
#include "feeds/legacy/keyedarchive.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/stringhash.h"
#include "base/urltext.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/storemanager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

namespace corvane {

const QString kLegacyFeedsKey = QStringLiteral("feeds");
const QString kLegacyStarredKey = QStringLiteral("starred");
const QString kLegacyKeywordsKey = QStringLiteral("keywords");
const QString kMigratedFromLegacyKey = QStringLiteral("MigratedFromLegacyDatastore");
const QString kMigratedWithNoErrorKey = QStringLiteral("MigratedFromLegacyDatastoreWithNoError");

namespace {

const QString kArchivedItemClass = QStringLiteral("DataItem");

// Texts of the earlier format: texts as they are, numbers written out; any
// other value counts as missing.
std::optional<QString> legacyText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toString();
    default:
        return std::nullopt;
    }
}

// Booleans may come back from a settings file as texts, where "NO" must not
// read as true the way QVariant would take it.
bool legacyBool(const QVariant &value, bool fallback)
{
    if (!value.isValid())
        return fallback;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed().toLower();
        if (text == u"yes" || text == u"true" || text == u"1")
            return true;
        if (text == u"no" || text == u"false" || text == u"0" || text.isEmpty())
            return false;
        return fallback;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? number != 0 : fallback;
}

// Archived dates are QDateTimes; dates in settings may also be ISO texts or
// seconds since 1970.
OptionalDate legacyDate(const QVariant &value)
{
    QDateTime date;
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        date = value.toDateTime();
        break;
    case QMetaType::QString:
        date = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toDouble();
    default:
        return std::nullopt;
    }
    if (!date.isValid())
        return std::nullopt;
    return Date(date.toMSecsSinceEpoch()) / 1000.0;
}

// One of the archived flag bytes; absent means 0.
std::optional<bool> archivedByte(const QVariantMap &fields, const QString &key)
{
    const QVariant value = fields.value(key);
    if (!value.isValid())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Double)
        return value.toDouble() != 0;
    return std::nullopt;
}

DataItem *insertItem(const QVariantMap &properties, const std::optional<QString> &link, bool read, Context *context)
{
    auto *item = context->insert<DataItem>();
    if (const auto title = legacyText(properties.value(QStringLiteral("title"))))
        item->setTitle(*title);
    if (const auto description = legacyText(properties.value(QStringLiteral("description"))))
        item->setItemDescription(*description);
    if (const auto content = legacyText(properties.value(QStringLiteral("content:encoded"))))
        item->setPreviewContent(*content);
    if (const auto guid = legacyText(properties.value(QStringLiteral("guid"))))
        item->setGuid(*guid);
    if (link)
        item->setLink(*link);
    if (const auto url = legacyText(properties.value(QStringLiteral("enclosureUrl"))))
        item->setEnclosureUrl(*url);
    if (const auto mime = legacyText(properties.value(QStringLiteral("enclosureMime"))))
        item->setEnclosureMime(*mime);
    item->setOriginalDate(legacyDate(properties.value(QStringLiteral("originalDate"))));
    item->setParsedDate(legacyDate(properties.value(QStringLiteral("parsedDate"))));
    item->setMark(legacyBool(properties.value(QStringLiteral("mark")), false));
    if (read)
        item->setRead(true);
    return item;
}

// Feed addresses are compared in their normalised form, as adding one does.
QString addressKey(const QString &url)
{
    const std::optional<QUrl> normalised = feedURL(url);
    return normalised ? normalised->toString() : url;
}

struct ImportRun
{
    Context *context = nullptr;
    bool clean = true;
    // Every address of "feeds" exactly as written, to the subscription it became.
    QHash<QString, RSSDatasource *> byLegacyUrl;
    QStringList readFiles;
    int subscriptions = 0;
    int items = 0;
    int starred = 0;
    int starredWithoutSubscription = 0;
    int keywords = 0;

    void problem(const QString &message)
    {
        logLine(message);
        clean = false;
    }

    void importItemFile(const QString &uuid, RSSDatasource *datasource)
    {
        const QString path = legacyItemFilePath(uuid);
        if (path.isEmpty()) {
            problem(QStringLiteral("legacy item file name \"%1\" is no plain file name; its items are skipped").arg(uuid));
            return;
        }
        if (!QFile::exists(path))
            return; // the subscription had no items
        const LegacyItemFile file = readLegacyItemFile(path);
        if (!file.error.isEmpty()) {
            problem(QStringLiteral("legacy item file %1 skipped: %2").arg(path, file.error));
            return;
        }
        if (file.skippedEntries > 0)
            problem(QStringLiteral("legacy item file %1: %2 entries are no items and were skipped")
                        .arg(path)
                        .arg(file.skippedEntries));
        for (const LegacyItem &legacy : file.items)
            datasource->addItem(migrateLegacyItem(legacy, context));
        items += int(file.items.size());
        readFiles.append(path);
    }

    void importSubscriptions(const QVariant &feeds)
    {
        if (feeds.typeId() != QMetaType::QVariantList && feeds.typeId() != QMetaType::QStringList) {
            problem(QStringLiteral("legacy setting \"feeds\" is no list; no subscriptions imported"));
            return;
        }
        QHash<QString, RSSDatasource *> byAddress;
        for (Datasource *existing : subscriptionlist::datasourcesForContext(context))
            if (auto *feed = dynamic_cast<RSSDatasource *>(existing))
                byAddress.insert(addressKey(feed->url()), feed);

        for (const QVariant &entry : feeds.toList()) {
            if (entry.typeId() != QMetaType::QVariantMap && entry.typeId() != QMetaType::QVariantHash) {
                problem(QStringLiteral("legacy subscription that is no dictionary skipped"));
                continue;
            }
            QVariantMap configuration = entry.toMap();
            const QString url = legacyText(configuration.value(QStringLiteral("url"))).value_or(QString());
            if (url.trimmed().isEmpty()) {
                problem(QStringLiteral("legacy subscription without an address skipped"));
                continue;
            }
            RSSDatasource *datasource = byAddress.value(addressKey(url));
            if (!datasource) {
                datasource = context->insert<RSSDatasource>();
                datasource->setUrl(url);
                configuration.insert(QStringLiteral("enabled"),
                                     legacyBool(configuration.value(QStringLiteral("enabled")), true));
                datasource->updateWithConfiguration(configuration);
                byAddress.insert(addressKey(url), datasource);
                ++subscriptions;
            }
            byLegacyUrl.insert(url, datasource);
            const QString uuid = legacyText(configuration.value(QStringLiteral("uuid"))).value_or(QString());
            if (!uuid.isEmpty())
                importItemFile(uuid, datasource);
        }
    }

    // The subscription's item that a starred dictionary stands for: same guid,
    // or, without a guid, same item hash.
    static DataItem *sameItem(RSSDatasource *datasource, const QVariantMap &dictionary)
    {
        const QString guid = legacyText(dictionary.value(QStringLiteral("guid"))).value_or(QString());
        const qint64 hash = calculateHashFromTitleAndLink(legacyText(dictionary.value(QStringLiteral("title"))),
                                                          legacyText(dictionary.value(QStringLiteral("link"))));
        for (DataItem *item : datasource->items()) {
            if (!guid.isEmpty() ? item->guid() == guid : item->calculateHash() == hash)
                return item;
        }
        return nullptr;
    }

    void importStarred(const QVariant &starredList)
    {
        if (starredList.typeId() != QMetaType::QVariantList && starredList.typeId() != QMetaType::QStringList) {
            problem(QStringLiteral("legacy setting \"starred\" is no list; no starred items imported"));
            return;
        }
        const QList<Datasource *> all = subscriptionlist::datasourcesForContext(context);
        for (const QVariant &entry : starredList.toList()) {
            if (entry.typeId() != QMetaType::QVariantMap && entry.typeId() != QMetaType::QVariantHash) {
                problem(QStringLiteral("legacy starred item that is no dictionary skipped"));
                continue;
            }
            const QVariantMap dictionary = entry.toMap();
            const auto url = legacyText(dictionary.value(QStringLiteral("DataSourceUrl")));
            RSSDatasource *datasource = nullptr;
            if (url) {
                datasource = byLegacyUrl.value(*url);
                for (qsizetype i = 0; !datasource && i < all.size(); ++i)
                    if (all[i]->url() == *url)
                        datasource = dynamic_cast<RSSDatasource *>(all[i]);
            }
            // An item that is also in its subscription's file is starred
            // there rather than stored twice.
            DataItem *item = datasource ? sameItem(datasource, dictionary) : nullptr;
            if (item) {
                if (legacyBool(dictionary.value(QStringLiteral("read")), false)
                    || legacyBool(dictionary.value(QStringLiteral("hidden")), false))
                    item->setRead(true);
            } else {
                item = migrateLegacyDictionary(dictionary, context);
                if (datasource)
                    datasource->addItem(item);
                else
                    ++starredWithoutSubscription;
            }
            item->setStarred(true);
            ++starred;
        }
    }

    // The legacy keywords join the stored ones; none is replaced or deleted.
    void importKeywords(const QVariant &list)
    {
        QStringList legacy;
        for (const QString &name : list.toStringList())
            if (!name.trimmed().isEmpty() && !legacy.contains(name))
                legacy.append(name);
        if (legacy.isEmpty())
            return;
        QStringList names;
        for (const Keyword *keyword : context->fetchAs<Keyword>(
                 Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}}))
            names.append(keyword->name());
        for (const QString &name : std::as_const(legacy))
            if (!names.contains(name)) {
                names.append(name);
                ++keywords;
            }
        if (!KeywordHelper::insertKeywords(names, context, true))
            problem(QStringLiteral("error saving the legacy keywords"));
    }
};

} // namespace

std::optional<LegacyItem> LegacyItem::fromArchived(const QVariant &archived)
{
    if (archived.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap fields = archived.toMap();
    if (fields.value(kKeyedArchiveClassNameKey).toString() != kArchivedItemClass)
        return std::nullopt;
    const QVariant properties = fields.value(QStringLiteral("$0"));
    if (properties.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const auto marked = archivedByte(fields, QStringLiteral("$1"));
    const auto shown = archivedByte(fields, QStringLiteral("$2"));
    const auto read = archivedByte(fields, QStringLiteral("$3"));
    const auto hidden = archivedByte(fields, QStringLiteral("$4"));
    if (!marked || !shown || !read || !hidden)
        return std::nullopt;
    LegacyItem item;
    item.properties = properties.toMap();
    item.marked = *marked;
    item.shown = *shown;
    item.read = *read;
    item.hidden = *hidden;
    return item;
}

std::optional<QString> LegacyItem::link() const
{
    return canonizedLinkFromLink(legacyText(properties.value(QStringLiteral("link"))));
}

QString legacyItemFilePath(const QString &uuid)
{
    if (uuid.isEmpty() || uuid.size() > 200 || uuid == u"." || uuid == u".." || uuid.contains(u'/')
        || uuid.contains(u'\\') || uuid.contains(QChar(0)))
        return QString();
    return QDir(paths::cachesDir()).filePath(uuid + QStringLiteral(".db"));
}

LegacyItemFile readLegacyItemFile(const QString &path)
{
    LegacyItemFile result;
    const KeyedArchiveLimits limits;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot be opened: %1").arg(file.errorString());
        return result;
    }
    if (file.size() > limits.maxInputBytes) {
        result.error = QStringLiteral("%1 bytes is more than an item file can hold").arg(file.size());
        return result;
    }
    const QByteArray bytes = file.readAll();
    const KeyedArchiveResult archive = readKeyedArchive(bytes, limits);
    if (!archive.ok()) {
        result.error = archive.error;
        return result;
    }
    if (archive.root.typeId() != QMetaType::QVariantList) {
        result.error = QStringLiteral("the archive holds no list of items");
        return result;
    }
    for (const QVariant &entry : archive.root.toList()) {
        if (const auto item = LegacyItem::fromArchived(entry))
            result.items.append(*item);
        else
            ++result.skippedEntries;
    }
    return result;
}

DataItem *migrateLegacyItem(const LegacyItem &legacy, Context *context)
{
    return insertItem(legacy.properties, legacy.link(), legacy.read || legacy.hidden, context);
}

DataItem *migrateLegacyDictionary(const QVariantMap &dictionary, Context *context)
{
    // The raw link; the save canonises it.
    const bool read = legacyBool(dictionary.value(QStringLiteral("read")), false)
                      || legacyBool(dictionary.value(QStringLiteral("hidden")), false);
    return insertItem(dictionary, legacyText(dictionary.value(QStringLiteral("link"))), read, context);
}

void importLegacyDatastore(Context *context)
{
    Settings &settings = Settings::shared();
    if (settings.boolean(kMigratedFromLegacyKey))
        return;

    ImportRun run;
    run.context = context;

    // Subscriptions and their item files; a file goes once its items are saved.
    const QVariant feeds = settings.value(kLegacyFeedsKey);
    if (feeds.isValid()) {
        run.importSubscriptions(feeds);
        if (StoreManager::saveFromContext(context)) {
            for (const QString &path : std::as_const(run.readFiles))
                QFile::remove(path);
        } else {
            run.clean = false;
        }
    }

    const QVariant starred = settings.value(kLegacyStarredKey);
    if (starred.isValid())
        run.importStarred(starred);

    const QVariant keywords = settings.value(kLegacyKeywordsKey);
    if (keywords.isValid())
        run.importKeywords(keywords);

    if (!StoreManager::saveFromContext(context))
        run.clean = false;

    if (feeds.isValid() || starred.isValid() || keywords.isValid())
        logLine(QStringLiteral("imported from the earlier data format: %1 subscriptions, %2 items, %3 starred items "
                               "(%4 without a subscription), %5 keywords%6")
                    .arg(run.subscriptions)
                    .arg(run.items)
                    .arg(run.starred)
                    .arg(run.starredWithoutSubscription)
                    .arg(run.keywords)
                    .arg(run.clean ? QString() : QStringLiteral(", with errors")));
    // The second marker only claims what it says; the first ends the import for good.
    settings.setValue(kMigratedWithNoErrorKey, run.clean);
    settings.setValue(kMigratedFromLegacyKey, true);
}

} // namespace corvane
