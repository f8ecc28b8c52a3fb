#include "objectstore.h"

#include "entitydescription.h"

#include "base/digest.h"
#include "base/log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace corvane {

const QString ObjectStore::kStoreFileName = QStringLiteral("Corvane-v3.db");

namespace {

constexpr int kSchemaVersion = 1;
constexpr qint64 kMappedBytes = qint64(1) << 30;
constexpr int kCacheKibibytes = 8 * 1024;
const QString kUriScheme = QStringLiteral("x-corvane");

const QStringList kCompanionSuffixes = {QStringLiteral("-wal"), QStringLiteral("-shm")};

// Moves the store file and its companions to `<path><date text>`. The
// companions must go too: a stale -wal beside a fresh store would be replayed
// into it.
QString moveAside(const QString &path)
{
    const QString suffix = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    const QString target = path + suffix;
    QFile::rename(path, target);
    for (const QString &companion : kCompanionSuffixes)
        if (QFile::exists(path + companion))
            QFile::rename(path + companion, target + companion);
    return target;
}

// A store of an earlier version lacks some columns; add them with their
// NULL default (the records read NULL integers as 0 and booleans as false).
bool addMissingColumns(SqliteDatabase &db)
{
    for (Entity entity : {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword}) {
        const EntityDescription &d = describe(entity);
        QSet<QString> present;
        SqliteStatement info = db.prepare("PRAGMA table_info(" + d.table + ")");
        while (info.step())
            present.insert(info.column(1).toString());
        for (const Attribute &a : d.attributes)
            if (!present.contains(a.name) && !db.exec("ALTER TABLE " + d.table + " ADD COLUMN " + columnDefinition(a)))
                return false;
    }
    return true;
}

} // namespace

ObjectStore::ObjectStore(const QString &directory, const QString &path)
    : m_directory(directory)
    , m_path(path)
{
}

ObjectStore::~ObjectStore() = default;

std::unique_ptr<ObjectStore> ObjectStore::open(const QString &directory, OpenOptions options, QString *reason)
{
    // The caller tells the user; nothing is logged here.
    const auto refuse = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return nullptr;
    };
    // Only a file that is there and not a store is moved aside; a folder
    // that cannot be made, or a store path that is no file, is left alone.
    if (!QDir().mkpath(directory) || !QFileInfo(directory).isDir())
        return refuse(QFileInfo::exists(directory) ? QStringLiteral("it is not a folder")
                                                   : QStringLiteral("the folder cannot be created"));
    const QString path = QDir(directory).filePath(kStoreFileName);
    const QFileInfo file(path);
    if (file.exists() && !file.isFile())
        return refuse(QStringLiteral("%1 is not a file").arg(kStoreFileName));

    std::unique_ptr<ObjectStore> store(new ObjectStore(directory, path));
    QString error;
    if (!options.reset && store->initialise(&error))
        return store;

    if (!options.reset)
        logLine(QStringLiteral("error while opening store: %1").arg(error));
    store->m_db.close();
    if (QFile::exists(path))
        store->m_movedAside = moveAside(path);
    if (!store->initialise(&error)) {
        logLine(QStringLiteral("even more error while opening store: %1").arg(error));
        if (reason)
            *reason = error;
        return nullptr;
    }
    return store;
}

bool ObjectStore::openConnection(SqliteDatabase &db, QString *error, ConnectionReads reads) const
{
    const auto fail = [&] {
        if (error)
            *error = db.errorString();
        db.close();
        return false;
    };
    if (!db.open(m_path))
        return fail();
    // journal_mode reads the header first, so a file that is not a database fails here.
    if (db.scalar("PRAGMA journal_mode=WAL").toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return fail();
    if (!db.exec("PRAGMA foreign_keys=ON") || !db.exec("PRAGMA synchronous=NORMAL"))
        return fail();
    // Reads go through a memory map of the file instead of a copy per page,
    // and a save of a thousand items keeps its pages in the cache rather than
    // spilling them half-way (the size is an upper bound, used as needed).
    db.exec("PRAGMA mmap_size=" + QByteArray::number(reads == ConnectionReads::ThroughMap ? kMappedBytes : 0));
    db.exec("PRAGMA cache_size=-" + QByteArray::number(kCacheKibibytes));
    db.exec("PRAGMA temp_store=MEMORY");
    db.exec("PRAGMA wal_autocheckpoint=8000");
    return true;
}

WholeTableReadScope::WholeTableReadScope(SqliteDatabase &db)
    : m_db(db)
    , m_mappedBytes(QByteArray::number(db.scalar("PRAGMA mmap_size").toLongLong()))
{
    m_db.exec("PRAGMA mmap_size=0");
}

WholeTableReadScope::~WholeTableReadScope()
{
    m_db.exec("PRAGMA mmap_size=" + m_mappedBytes);
    m_db.exec("PRAGMA shrink_memory");
}

bool ObjectStore::initialise(QString *error)
{
    if (!openConnection(m_db, error))
        return false;
    bool healthy = false;
    {
        const WholeTableReadScope scope(m_db); // the check reads every page
        healthy = m_db.scalar("PRAGMA quick_check").toString() == QLatin1String("ok");
    }
    if (!healthy) {
        *error = QStringLiteral("the store file is damaged");
        m_db.close();
        return false;
    }
    if (!m_db.exec("BEGIN IMMEDIATE")) {
        *error = m_db.errorString();
        m_db.close();
        return false;
    }
    bool ok = true;
    for (const QByteArray &statement : tableStatements(true))
        ok = ok && m_db.exec(statement);
    ok = ok && addMissingColumns(m_db);
    for (const QByteArray &statement : retiredIndexStatements() + indexStatements())
        ok = ok && m_db.exec(statement);
    QVariant uuidValue = m_db.scalar("SELECT value FROM metadata WHERE key = 'uuid'");
    if (ok && !uuidValue.isValid()) {
        uuidValue = corvane::uuid();
        ok = m_db.exec("INSERT INTO metadata(key, value) VALUES ('uuid', ?)", {uuidValue})
             && m_db.exec("INSERT OR REPLACE INTO metadata(key, value) VALUES ('schemaVersion', ?)", {kSchemaVersion});
    }
    if (!ok || !m_db.exec("COMMIT")) {
        *error = m_db.errorString();
        m_db.exec("ROLLBACK");
        m_db.close();
        return false;
    }
    m_uuid = uuidValue.toString();
    return true;
}

QString ObjectStore::uriForID(ObjectID id) const
{
    if (id.row <= 0)
        return QString();
    return QStringLiteral("%1://%2/%3/p%4").arg(kUriScheme, m_uuid, entityName(id.entity)).arg(id.row);
}

std::optional<ObjectID> ObjectStore::idForURI(const QString &uri) const
{
    static const QRegularExpression pattern(QStringLiteral("^x-corvane://([^/]+)/([A-Za-z]+)/p([0-9]{1,18})$"));
    const auto match = pattern.match(uri);
    if (!match.hasMatch() || match.captured(1) != m_uuid)
        return std::nullopt;
    for (Entity entity : {Entity::Category, Entity::Datasource, Entity::DataItem, Entity::Keyword})
        if (entityName(entity) == match.captured(2)) {
            const qint64 row = match.captured(3).toLongLong();
            if (row <= 0)
                return std::nullopt;
            return ObjectID{entity, row};
        }
    return std::nullopt;
}

bool ObjectStore::copyTo(const QString &path, QString *error)
{
    std::lock_guard guard(m_lock);
    for (const QString &file : {path, QString(path + kCompanionSuffixes[0]), QString(path + kCompanionSuffixes[1])})
        QFile::remove(file);
    return m_db.backupTo(path, error);
}

} // namespace corvane
