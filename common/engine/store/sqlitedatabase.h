#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace corvane {

// A thin RAII layer over the SQLite C API. Values only ever reach SQL as
// bound parameters.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, const QByteArray &sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    // Binds by 1-based index. Invalid QVariants bind NULL; booleans bind 0/1;
    // byte arrays bind blobs; doubles bind reals; everything else as text or integer.
    void bind(int index, const QVariant &value);
    void bindAll(const QVariantList &values);

    // Steps once: true while a row is available.
    bool step();
    // Runs to completion; false on error.
    bool exec();
    void reset();

    int columnCount() const;
    QVariant column(int index) const;
    qint64 columnInt64(int index) const;
    double columnDouble(int index) const;
    bool columnIsNull(int index) const;

    int lastResult() const { return m_lastResult; }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_lastResult = 0;
};

class SqliteDatabase
{
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens (creating if missing). Registers the case- and diacritic-folding
    // functions used by predicates. False with errorString() set on failure.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    sqlite3 *handle() const { return m_db; }
    QString errorString() const;

    bool exec(const QByteArray &sql, const QVariantList &values = {});
    SqliteStatement prepare(const QByteArray &sql) const;
    // A prepared statement kept for reuse, reset and with bindings cleared.
    // For statements that are never in use twice at the same time (single-row
    // reads and writes); it stays valid until the database closes.
    SqliteStatement &cached(const QByteArray &sql);
    // The first column of the first row, or an invalid value.
    QVariant scalar(const QByteArray &sql, const QVariantList &values = {}) const;
    qint64 lastInsertRowId() const;

    // Copies the whole database into a new file at `path` with SQLite's
    // online backup, so the copy is consistent even while the WAL holds
    // committed pages that were not checkpointed.
    bool backupTo(const QString &path, QString *error = nullptr) const;

private:
    sqlite3 *m_db = nullptr;
    QHash<QByteArray, std::shared_ptr<SqliteStatement>> m_cache;
};

// Case-folded text with diacritics removed (NFD, combining marks dropped):
// the comparison form of contains[cd].
QString foldedForSearch(const QString &text);

} // namespace corvane
