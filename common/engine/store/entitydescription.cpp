#include "entitydescription.h"

#include <QStringList>

namespace corvane {

namespace {

using T = AttributeType;

// The attribute order here is the index order of the record classes'
// attribute enums (category.h, datasource.h, dataitem.h, keyword.h).
const EntityDescription kCategory{
    Entity::Category, QStringLiteral("Category"), "category",
    {
        {QStringLiteral("name"), T::String},
        {QStringLiteral("position"), T::Double},
        {QStringLiteral("uuid"), T::String},
        {QStringLiteral("clock"), T::Integer},
        {QStringLiteral("open"), T::Boolean},
        {QStringLiteral("sidebar"), T::Boolean},
    }};

const EntityDescription kDatasource{
    Entity::Datasource, QStringLiteral("Datasource"), "datasource",
    {
        {QStringLiteral("kind"), T::Integer},
        {QStringLiteral("url"), T::String},
        {QStringLiteral("name"), T::String},
        {QStringLiteral("customName"), T::String},
        {QStringLiteral("enabled"), T::Boolean},
        {QStringLiteral("position"), T::Double},
        {QStringLiteral("category"), T::ToOne, Entity::Category},
        {QStringLiteral("limit"), T::Integer},
        {QStringLiteral("ageLimit"), T::Integer},
        {QStringLiteral("refreshRate"), T::Integer},
        {QStringLiteral("lastUpdateDate"), T::Double},
        {QStringLiteral("errorString"), T::String},
        {QStringLiteral("backgroundColor"), T::Blob},
        {QStringLiteral("fontColor"), T::Blob},
        {QStringLiteral("image"), T::Blob},
        {QStringLiteral("googleSync"), T::Boolean},
        {QStringLiteral("sidebar"), T::Boolean},
        {QStringLiteral("uuid"), T::String},
        {QStringLiteral("clock"), T::Integer},
        // The validators of the last feed document read (RFC 9110, section 8.8),
        // sent back in a conditional GET. Added later: older files get them by
        // ALTER TABLE when opened.
        {QStringLiteral("httpETag"), T::String},
        {QStringLiteral("httpLastModified"), T::String},
    }};

const EntityDescription kDataItem{
    Entity::DataItem, QStringLiteral("DataItem"), "item",
    {
        {QStringLiteral("datasource"), T::ToOne, Entity::Datasource},
        {QStringLiteral("guid"), T::String},
        {QStringLiteral("itemHash"), T::Integer},
        {QStringLiteral("title"), T::String},
        {QStringLiteral("itemDescription"), T::String},
        {QStringLiteral("previewContent"), T::String},
        {QStringLiteral("link"), T::String},
        {QStringLiteral("enclosureUrl"), T::String},
        {QStringLiteral("enclosureMime"), T::String},
        {QStringLiteral("creator"), T::String},
        {QStringLiteral("originalDate"), T::Double},
        {QStringLiteral("parsedDate"), T::Double},
        {QStringLiteral("orderingDate"), T::Double},
        {QStringLiteral("read"), T::Boolean},
        {QStringLiteral("starred"), T::Boolean},
        {QStringLiteral("deleted"), T::Boolean},
        {QStringLiteral("mark"), T::Boolean},
        {QStringLiteral("pendingGoogleRead"), T::Boolean},
        {QStringLiteral("pendingGoogleStarred"), T::Boolean},
        {QStringLiteral("readLocalStamp"), T::Integer},
        {QStringLiteral("feedlyId"), T::String},
        {QStringLiteral("clock"), T::Integer},
    }};

const EntityDescription kKeyword{
    Entity::Keyword, QStringLiteral("Keyword"), "keyword",
    {
        {QStringLiteral("name"), T::String},
        {QStringLiteral("position"), T::Double},
        {QStringLiteral("clock"), T::Integer},
    }};

QByteArray columnType(const Attribute &attribute)
{
    switch (attribute.type) {
    case T::String:
        return "TEXT";
    case T::Integer:
    case T::Boolean:
        // Never NULL, so SQL comparisons see the 0/false the records read.
        return "INTEGER NOT NULL DEFAULT 0";
    case T::Double:
        return "REAL";
    case T::Blob:
        return "BLOB";
    case T::ToOne:
        return "INTEGER REFERENCES " + describe(attribute.target).table + "(id) ON DELETE "
               // A deleted subscription takes its items along; a deleted
               // category leaves its subscriptions at the top level.
               + (attribute.target == Entity::Datasource ? "CASCADE" : "SET NULL");
    }
    return "BLOB";
}

} // namespace

QString entityName(Entity entity)
{
    return describe(entity).name;
}

int EntityDescription::indexOf(QStringView attributeName) const
{
    for (int i = 0; i < attributes.size(); ++i)
        if (attributes[i].name == attributeName)
            return i;
    return -1;
}

const EntityDescription &describe(Entity entity)
{
    switch (entity) {
    case Entity::Category:
        return kCategory;
    case Entity::Datasource:
        return kDatasource;
    case Entity::DataItem:
        return kDataItem;
    case Entity::Keyword:
        break;
    }
    return kKeyword;
}

bool isSyncAttribute(const QString &name)
{
    static const QStringList names = {QStringLiteral("uuid"), QStringLiteral("clock"), QStringLiteral("itemHash"),
                                      QStringLiteral("readLocalStamp"), QStringLiteral("feedlyId"),
                                      QStringLiteral("pendingGoogleRead"), QStringLiteral("pendingGoogleStarred")};
    return names.contains(name);
}

QByteArray columnDefinition(const Attribute &attribute)
{
    return '"' + attribute.name.toUtf8() + "\" " + columnType(attribute);
}

QList<QByteArray> tableStatements(bool withSyncAttributes)
{
    QList<QByteArray> statements;
    for (Entity entity : {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword}) {
        const EntityDescription &d = describe(entity);
        // AUTOINCREMENT: a row id, and so an object's URI, is never handed out
        // twice, so run-time values kept by URI cannot pass to a newer record.
        QByteArray sql = "CREATE TABLE IF NOT EXISTS " + d.table + " (id INTEGER PRIMARY KEY AUTOINCREMENT";
        for (const Attribute &a : d.attributes)
            if (withSyncAttributes || !isSyncAttribute(a.name))
                sql += ", " + columnDefinition(a);
        sql += ")";
        statements.append(sql);
    }
    statements.append("CREATE TABLE IF NOT EXISTS metadata (key TEXT PRIMARY KEY, value)");
    return statements;
}

QList<QByteArray> indexStatements()
{
    return {
        // Also holds what the visibility of an item is decided on (with the
        // timestamp as received), so the badge of a subscription or a
        // category is counted from the index alone.
        "CREATE INDEX IF NOT EXISTS item_datasource_guid_state ON item(datasource, guid, starred, read, deleted, "
        "parsedDate)",
        "CREATE INDEX IF NOT EXISTS item_ordering ON item(orderingDate)",
        "CREATE INDEX IF NOT EXISTS item_hash ON item(itemHash)",
        "CREATE INDEX IF NOT EXISTS datasource_category ON datasource(category)",
    };
}

QList<QByteArray> retiredIndexStatements()
{
    // The flags read and deleted are shared by most rows: the planner took
    // their indexes for selective ("read IS 0") and stepped through half the
    // table by index. And every index costs each insert a page or more to
    // write, so the item table keeps three: (datasource, guid, ...) for the
    // guid lookups, which also finds a subscription's items (trimming, counts
    // of a category); the hash alone, nearly unique, for the hash lookups
    // with or without a subscription; the ordering date for ordered pages.
    return {
        "DROP INDEX IF EXISTS item_read",
        "DROP INDEX IF EXISTS item_deleted",
        "DROP INDEX IF EXISTS item_guid",
        "DROP INDEX IF EXISTS item_datasource_ordering",
        "DROP INDEX IF EXISTS item_datasource_hash",
        "DROP INDEX IF EXISTS item_datasource_guid",
    };
}

QList<QByteArray> schemaStatements()
{
    return tableStatements(true) + indexStatements();
}

} // namespace corvane
