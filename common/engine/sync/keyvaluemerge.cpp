#include "sync/keyvaluemerge.h"

#include "sync/keyvalueentries.h"
#include "sync/keyvaluehandler.h"

#include "base/clock.h"
#include "base/corvaneassert.h"
#include "base/log.h"
#include "base/urltext.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>

namespace corvane::sync {

namespace {

constexpr qsizetype kHashesPerFetch = 400;

bool isText(const QVariant &value)
{
    return value.typeId() == QMetaType::QString;
}

bool isNumber(const QVariant &value)
{
    const int type = value.typeId();
    return type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::Double;
}

// Optional fields: absent, or of the kind they must be.
bool textOrAbsent(const KeyValueRecord &record, const QString &field)
{
    return !record.contains(field) || isText(record.value(field));
}

bool numberOrAbsent(const KeyValueRecord &record, const QString &field)
{
    return !record.contains(field) || isNumber(record.value(field));
}

// Whether a record has the field kinds its key's records have; others are
// ignored whole rather than applied in part.
bool isWellFormed(const QString &key, const KeyValueRecord &record)
{
    if (record.contains(record::kDeleted) && record.value(record::kDeleted).typeId() != QMetaType::Bool)
        return false;
    if (record::isDeletion(record))
        return true;
    if (key.startsWith(entries::kCategoryPrefix))
        return textOrAbsent(record, QStringLiteral("name")) && numberOrAbsent(record, QStringLiteral("position"));
    if (key.startsWith(entries::kFeedPrefix))
        return isText(record.value(QStringLiteral("url"))) && textOrAbsent(record, QStringLiteral("customName"))
               && textOrAbsent(record, QStringLiteral("categoryUuid"))
               && numberOrAbsent(record, QStringLiteral("position"));
    if (key.startsWith(entries::kDataItemPrefix)) {
        if (record.value(QStringLiteral("starred")).typeId() != QMetaType::Bool)
            return false;
        for (const char *field : {"previewContent", "title", "itemDescription", "link", "enclosureUrl",
                                  "enclosureMime", "datasource"})
            if (!textOrAbsent(record, QString::fromLatin1(field)))
                return false;
        return true;
    }
    if (key.startsWith(entries::kKeywordPrefix))
        return numberOrAbsent(record, QStringLiteral("position"));
    return false;
}

// A subscription address a record may set: a web address (never file:,
// data:, javascript: or the like, which would be fetched) or a Twitter form.
bool isAcceptableFeedAddress(const QString &url)
{
    if (!isSubscribableAddress(url))
        return false;
    if (RSSDatasource::isTwitterUrl(url))
        return true;
    const std::optional<QUrl> parsed = urlFromString(url);
    return parsed && isWebURL(*parsed);
}

// Refusals are logged once per record version: every pass sees them again.
// Passes run on the background context's queue only.
void logRefusal(const QString &key, qint64 stamp, const QString &text)
{
    static QSet<QPair<QString, qint64>> logged;
    if (logged.size() > 10000)
        logged.clear();
    if (!logged.contains({key, stamp})) {
        logged.insert({key, stamp});
        logLine(text);
    }
}

// Sets a value only when it differs; the empty text is stored as none.
void setField(Record *record, int attribute, QVariant value)
{
    if (isText(value) && value.toString().isEmpty())
        value = QVariant();
    if (record->value(attribute) != value)
        record->setValue(attribute, value);
}

void setPosition(Record *record, int attribute, const KeyValueRecord &entry)
{
    if (entry.contains(QStringLiteral("position")))
        setField(record, attribute, entry.value(QStringLiteral("position")).toDouble());
}

OptionalDate dateField(const KeyValueRecord &entry, const QString &field)
{
    const QVariant value = entry.value(field);
    if (value.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    return double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

KeyValueMerge::KeyValueMerge(Context *context, SendBack sendBack)
    : m_context(context)
    , m_sendBack(std::move(sendBack))
{
}

void KeyValueMerge::fetchLocal(const QStringList *keys, bool categories, bool feeds, bool keywords)
{
    m_fetched = true;
    if (categories) {
        m_categoriesByUuid.clear();
        m_categoriesByName.clear();
        for (Category *category : m_context->fetchAs<Category>(Query{Entity::Category})) {
            entries::setupObject(category);
            m_categoriesByName.insert(category->name(), category);
            m_categoriesByUuid.insert(category->uuid(), category);
        }
    }
    if (feeds) {
        m_feedsByUuid.clear();
        m_feedsByUrl.clear();
        for (Datasource *datasource : m_context->fetchAs<Datasource>(Query{Entity::Datasource})) {
            entries::setupObject(datasource);
            if (datasource->url().isEmpty())
                logLine(QStringLiteral("no url for feed %1").arg(datasource->visibleName()));
            else
                m_feedsByUrl.insert(datasource->url(), datasource);
            if (datasource->uuid().isEmpty())
                logLine(QStringLiteral("no uuid for feed %1").arg(datasource->visibleName()));
            else
                m_feedsByUuid.insert(datasource->uuid(), datasource);
        }
    }
    if (keywords) {
        m_keywordsByName.clear();
        for (Keyword *keyword : m_context->fetchAs<Keyword>(Query{Entity::Keyword})) {
            entries::setupObject(keyword);
            m_keywordsByName.insert(keyword->name(), keyword);
        }
    }
    if (keys) {
        m_itemsByHash.clear();
        // One IN list per batch, which the item hash index serves.
        QVariantList batch;
        const auto flush = [&] {
            if (batch.isEmpty())
                return;
            for (DataItem *item :
                 m_context->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::in(QStringLiteral("itemHash"), batch)}))
                m_itemsByHash.insert(item->itemHash(), item);
            batch.clear();
        };
        for (const QString &key : *keys) {
            if (const std::optional<qint64> hash = entries::hashFromKey(key)) {
                batch.append(*hash);
                if (batch.size() == kHashesPerFetch)
                    flush();
            }
        }
        flush();
    }
}

void KeyValueMerge::handleItems(const KeyValueDictionary &dictionary)
{
    m_dictionary = &dictionary;
    m_deletedStamps = KeyValueHandler::deletedStamps();
    const auto apply = [&](const QString &prefix) {
        for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
            if (it.key().startsWith(prefix))
                handleRemoteKey(it.key(), it.value());
    };
    apply(entries::kCategoryPrefix);
    fetchLocal(nullptr, true, false, false);
    apply(entries::kFeedPrefix);
    fetchLocal(nullptr, false, true, true);
    apply(entries::kDataItemPrefix);
    apply(entries::kKeywordPrefix);
    m_dictionary = nullptr;
}

void KeyValueMerge::handleRemoteKey(const QString &key, const KeyValueRecord &record)
{
    CORVANE_ASSERT(m_fetched, "fetchLocal must be called");
    if (!isWellFormed(key, record))
        return;
    if (!record::isDeletion(record)) {
        const auto remembered = m_deletedStamps.constFind(key);
        if (remembered != m_deletedStamps.cend()) {
            // The deletion hides the record when it is at least as new; of
            // equal stamps the one the stores keep (record::winsMerge) counts,
            // so this machine and the others agree on which one stands.
            const KeyValueRecord deletion = record::deletion(remembered.value());
            if (remembered.value() > record::clock(record)
                || (remembered.value() == record::clock(record) && !record::winsMerge(record, deletion)))
                return;
            KeyValueHandler::undeleteKey(key);
            m_deletedStamps.remove(key);
        }
    }
    const QString identity = entries::identityFromKey(key);
    if (key.startsWith(entries::kCategoryPrefix))
        handleCategory(identity, record);
    else if (key.startsWith(entries::kFeedPrefix))
        handleFeed(identity, record);
    else if (const std::optional<qint64> hash = entries::hashFromKey(key))
        handleDataItem(*hash, record);
    else if (key.startsWith(entries::kKeywordPrefix))
        handleKeyword(key, identity, record);
}

void KeyValueMerge::remember(const QString &key, qint64 stamp)
{
    KeyValueHandler::storeDeletedStateForKey(key, stamp);
    if (!m_deletedStamps.contains(key))
        m_deletedStamps.insert(key, stamp);
}

void KeyValueMerge::handleCategory(const QString &uuid, const KeyValueRecord &record)
{
    if (uuid.isEmpty())
        return;
    const QString key = entries::keyForCategoryUuid(uuid);
    const bool deletion = record::isDeletion(record);
    Category *category = m_categoriesByUuid.value(uuid);
    const QString name = record.value(QStringLiteral("name")).toString();
    if (!category && !name.isEmpty()) {
        // A category made under the same name on another machine. One that
        // already travels under its own key stays itself: adopting it would
        // move it back and forth between the two keys on every pass.
        Category *named = m_categoriesByName.value(name);
        if (named && !(m_dictionary && m_dictionary->contains(entries::keyForCategory(named)))) {
            m_categoriesByUuid.remove(named->uuid());
            named->setUuid(uuid);
            m_categoriesByUuid.insert(uuid, named);
            category = named;
        }
    }
    const bool created = !category && !deletion;
    if (created) {
        category = m_context->insert<Category>();
        category->setUuid(uuid);
        category->setClock(Clock::distantPast());
        m_categoriesByUuid.insert(uuid, category);
    }
    if (!category)
        return;
    const qint64 stamp = record::clock(record);
    Clock::sharedClock().remote(stamp);
    // A category made for this record takes it whatever its stamp: records
    // of built-in categories carry a stamp below the new one's.
    if (!created && stamp < category->clock()) {
        m_sendBack(key, entries::entryForCategory(category));
        return;
    }
    if (!deletion) {
        setField(category, Category::Name, name);
        m_categoriesByName.insert(name, category);
        setPosition(category, Category::Position, record);
        // The record's own stamp: the entity then equals the record and is
        // not sent out again under a new stamp.
        category->setClock(stamp);
        return;
    }
    remember(key, stamp);
    m_categoriesByUuid.remove(uuid);
    if (m_categoriesByName.value(category->name()) == category)
        m_categoriesByName.remove(category->name());
    m_context->deleteObject(category);
}

bool KeyValueMerge::isDeletedCategory(const QString &uuid) const
{
    const QString key = entries::keyForCategoryUuid(uuid);
    if (m_deletedStamps.contains(key))
        return true;
    if (!m_dictionary)
        return false;
    const auto held = m_dictionary->constFind(key);
    return held != m_dictionary->cend() && record::isDeletion(held.value());
}

void KeyValueMerge::handleFeed(const QString &uuid, const KeyValueRecord &record)
{
    if (uuid.isEmpty())
        return;
    const QString key = entries::keyForDatasourceUuid(uuid);
    const bool deletion = record::isDeletion(record);
    const QString url = record.value(QStringLiteral("url")).toString();
    if (!deletion && !isAcceptableFeedAddress(url)) {
        logRefusal(key, record::clock(record), QStringLiteral("feed record %1 refused: %2 is no feed address").arg(key, url));
        return;
    }
    const QString categoryUuid = record.value(QStringLiteral("categoryUuid")).toString();
    Category *category = m_categoriesByUuid.value(categoryUuid);
    if (!deletion && !category && !categoryUuid.isEmpty() && !isDeletedCategory(categoryUuid))
        return; // applied once its category is known here
    // A feed of a deleted category lies at the top level, as the deletion
    // left it on the machines that had it.
    Datasource *datasource = m_feedsByUuid.value(uuid);
    if (!datasource && !url.isEmpty())
        datasource = m_feedsByUrl.value(url);
    const bool created = !datasource && !deletion;
    if (created) {
        Datasource::ExplicitPositionScope explicitPosition;
        datasource = m_context->insert<RSSDatasource>();
        datasource->setUuid(uuid);
        // Like every subscription the application creates, it is refreshed.
        datasource->setEnabled(true);
        datasource->setClock(Clock::distantPast());
        m_feedsByUuid.insert(uuid, datasource);
    }
    if (!datasource)
        return;
    const qint64 stamp = record::clock(record);
    Clock::sharedClock().remote(stamp);
    if (!created && stamp < datasource->clock()) {
        m_sendBack(key, entries::entryForDatasource(datasource));
        return;
    }
    if (!deletion) {
        if (datasource->url() != url) {
            m_feedsByUrl.remove(datasource->url());
            datasource->setUrl(url);
            m_feedsByUrl.insert(url, datasource);
        }
        setPosition(datasource, Datasource::Position, record);
        datasource->setClock(stamp);
        setField(datasource, Datasource::CustomName, record.value(QStringLiteral("customName")));
        if (datasource->category() != category)
            datasource->setCategory(category);
        return;
    }
    remember(key, stamp);
    m_feedsByUuid.remove(uuid);
    if (m_feedsByUrl.value(datasource->url()) == datasource)
        m_feedsByUrl.remove(datasource->url());
    m_context->deleteObject(datasource);
}

void KeyValueMerge::handleDataItem(qint64 hash, const KeyValueRecord &record)
{
    if (record::isDeletion(record))
        return;
    const bool starred = record.value(QStringLiteral("starred")).toBool();
    DataItem *item = m_itemsByHash.value(hash);
    if (!item) {
        if (!starred)
            return;
        Datasource *datasource = m_feedsByUuid.value(record.value(QStringLiteral("datasource")).toString());
        if (!datasource)
            return;
        item = m_context->insert<DataItem>();
        item->setDatasource(datasource);
        item->setValue(DataItem::ItemHash, hash);
        const auto text = [&](const char *field) { return record.value(QString::fromLatin1(field)).toString(); };
        item->setPreviewContent(text("previewContent"));
        item->setTitle(text("title"));
        item->setItemDescription(text("itemDescription"));
        item->setLink(text("link"));
        item->setEnclosureMime(text("enclosureMime"));
        item->setEnclosureUrl(text("enclosureUrl"));
        item->setParsedDate(dateField(record, QStringLiteral("parsedDate")));
        item->setOriginalDate(dateField(record, QStringLiteral("originalDate")));
        item->setOrderingDate(dateField(record, QStringLiteral("orderingDate")));
        // Items are known by the hash of their title and link; a record
        // whose key does not match them would make a new copy on every pass.
        item->canonizeLink();
        if (item->calculateHash() != hash) {
            logRefusal(entries::keyForItemHash(hash), record::clock(record),
                       QStringLiteral("item record %1 refused: its key does not match its title and link")
                           .arg(entries::keyForItemHash(hash)));
            m_context->deleteObject(item);
            return;
        }
        m_itemsByHash.insert(hash, item);
    }
    if (item->isStarred() == starred)
        return;
    // A pass works on a copy of the dictionary taken before it started; a
    // star changed here since then is newer than the record and stays.
    if (record::clock(record) < item->clock()) {
        m_sendBack(entries::keyForDataItem(item), entries::entryForDataItem(item));
        return;
    }
    item->setClock(record::clock(record));
    item->setStarred(starred);
}

void KeyValueMerge::handleKeyword(const QString &key, const QString &name, const KeyValueRecord &record)
{
    if (name.isEmpty())
        return;
    const qint64 stamp = record::clock(record);
    Clock::sharedClock().remote(stamp);
    const bool deletion = record::isDeletion(record);
    Keyword *keyword = m_keywordsByName.value(name);
    if (keyword) {
        // A local version newer than the record goes back, as for the other kinds.
        if (stamp < keyword->clock()) {
            m_sendBack(key, entries::entryForKeyword(keyword));
            return;
        }
        if (!deletion) {
            setPosition(keyword, Keyword::Position, record);
            keyword->setClock(stamp);
            return;
        }
        remember(key, stamp);
        m_keywordsByName.remove(name);
        m_context->deleteObject(keyword);
        m_keywordsChanged = true;
        return;
    }
    if (deletion)
        return;
    keyword = m_context->insert<Keyword>();
    keyword->setName(name);
    keyword->setPosition(float(record.value(QStringLiteral("position")).toDouble()));
    keyword->setClock(stamp);
    m_keywordsByName.insert(name, keyword);
    m_keywordsChanged = true;
}

void KeyValueMerge::fixPosition(Context *context, Entity entity, const QString &extraSort)
{
    struct Entry
    {
        Record *record;
        QString group;
        double position;
    };
    const int positionAttribute = entity == Entity::Category ? int(Category::Position)
                                  : entity == Entity::Datasource ? int(Datasource::Position)
                                                                 : int(Keyword::Position);
    std::vector<Entry> list;
    for (Record *record : context->fetch(Query{entity})) {
        const QString group = extraSort.isEmpty() ? QString() : record->valueForKeyPath(extraSort).toString();
        list.push_back({record, group, record->value(positionAttribute).toDouble()});
    }
    std::stable_sort(list.begin(), list.end(), [](const Entry &a, const Entry &b) {
        if (a.group != b.group)
            return a.group < b.group;
        return a.position < b.position;
    });
    double last = -1;
    double low = 0;
    const QString *previousGroup = nullptr;
    for (const Entry &entry : list) {
        if (!extraSort.isEmpty() && (!previousGroup || *previousGroup != entry.group)) {
            last = -1;
            low = 0;
        }
        previousGroup = &entry.group;
        const double position = entry.position;
        if (position != last) {
            if (last > 0)
                low = last;
            last = position;
        } else {
            const double moved = (low + last) / 2;
            entry.record->setValue(positionAttribute, moved);
            low = moved;
        }
    }
}

} // namespace corvane::sync
