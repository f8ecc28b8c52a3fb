#pragma once

#include "objectid.h"
#include "sqlitedatabase.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

// While alive, the connection reads through its bounded page cache instead
// of the memory map: a pass over a whole table (the open check, writing or
// applying a read-state snapshot, trimming) then leaves little resident,
// where the map would keep every page it touched for as long as the store
// is open.
class WholeTableReadScope
{
public:
    explicit WholeTableReadScope(SqliteDatabase &db);
    ~WholeTableReadScope();
    WholeTableReadScope(const WholeTableReadScope &) = delete;
    WholeTableReadScope &operator=(const WholeTableReadScope &) = delete;

private:
    SqliteDatabase &m_db;
    QByteArray m_mappedBytes; // the connection's own setting, put back at the end
};

// How a connection reads the file's pages: through a memory map of the file
// (no copy per page; what it touched stays resident while the store is
// open), or through its bounded page cache only.
enum class ConnectionReads { ThroughMap, ThroughPageCache };

// The store file "Corvane-v3.db" (SQLite in WAL mode) and what belongs to it
// as a whole: the schema, the store's identity (the host part of object
// URIs), the lock held while merging saves and while copying the file, and
// connections for the contexts. Each context has a connection of its own;
// WAL lets the main context read while the background context writes.
class ObjectStore
{
public:
    static const QString kStoreFileName; // "Corvane-v3.db"

    struct OpenOptions
    {
        // Move the existing store aside and start empty (the "reset at
        // start" the user can ask for).
        bool reset = false;
    };

    // Opens the store in `directory`, creating it and the directory when
    // missing. A file that cannot be opened as a store is moved aside (its
    // path with the date appended, its -wal/-shm companions alongside) and an
    // empty store takes its place. Null, with `reason` set, when the folder
    // cannot be made or used (nothing is touched then) or even that fails.
    static std::unique_ptr<ObjectStore> open(const QString &directory, OpenOptions options,
                                             QString *reason = nullptr);
    static std::unique_ptr<ObjectStore> open(const QString &directory) { return open(directory, OpenOptions()); }

    ~ObjectStore();
    ObjectStore(const ObjectStore &) = delete;
    ObjectStore &operator=(const ObjectStore &) = delete;

    QString directory() const { return m_directory; }
    QString path() const { return m_path; }
    QString uuid() const { return m_uuid; }

    // "x-corvane://<store uuid>/<Entity>/p<row>"; temporary ids have no URI.
    QString uriForID(ObjectID id) const;
    std::optional<ObjectID> idForURI(const QString &uri) const;

    // Opens a connection configured for this store (WAL, foreign keys).
    bool openConnection(SqliteDatabase &db, QString *error = nullptr,
                        ConnectionReads reads = ConnectionReads::ThroughMap) const;

    std::recursive_mutex &lock() { return m_lock; }

    // A consistent copy of the store at `path` (replacing a file there),
    // made under the store lock with SQLite's online backup.
    bool copyTo(const QString &path, QString *error = nullptr);

    // The path the store was moved to by the last recovery, if any.
    QString movedAsidePath() const { return m_movedAside; }

private:
    ObjectStore(const QString &directory, const QString &path);
    bool initialise(QString *error);

    QString m_directory;
    QString m_path;
    QString m_uuid;
    QString m_movedAside;
    SqliteDatabase m_db; // kept open so the WAL index stays mapped and for copies
    std::recursive_mutex m_lock;
};

} // namespace corvane
