#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <unordered_map>

#include <sqlite3.h>

namespace corvane {

class SqliteValue;

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
    void bindText(int index, const QString &text);

    // Steps once: true while a row is available.
    bool step();
    // Runs to completion; false on error.
    bool exec();
    void reset();

    // SQLite's storage class of a column of the current row.
    enum class ColumnType { Integer = 1, Real = 2, Text = 3, Blob = 4, Null = 5 };

    int columnCount() const;
    QVariant column(int index) const;
    ColumnType columnType(int index) const;
    qint64 columnInt64(int index) const;
    double columnDouble(int index) const;
    // The column as text / as bytes, converted the way column() converts it.
    QString columnText(int index) const;
    QByteArray columnBlob(int index) const;
    // The bytes SQLite holds for a text or blob column (text as UTF-8), the
    // ones its BINARY collation compares; valid until the next step or reset.
    QByteArrayView columnBytes(int index) const;
    bool columnIsNull(int index) const;
    // One column of the current row, to read several ways at the cost of one
    // column lookup; valid until the next step or reset.
    inline SqliteValue value(int index) const;

    int lastResult() const { return m_lastResult; }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_lastResult = 0;
};

// A column value of a statement's current row.
class SqliteValue
{
public:
    using Type = SqliteStatement::ColumnType;

    // Inline: the survey of long lists reads several values of every row.
    Type type() const { return Type(sqlite3_value_type(m_value)); }
    qint64 toInt64() const { return sqlite3_value_int64(m_value); }
    double toDouble() const { return sqlite3_value_double(m_value); }
    // Text and bytes converted as SqliteStatement::column() converts them.
    QString toText() const;
    QByteArray toBlob() const;
    QByteArrayView bytes() const
    {
        const auto *data = static_cast<const char *>(sqlite3_value_blob(m_value));
        return QByteArrayView(data, sqlite3_value_bytes(m_value));
    }
    QVariant toVariant() const;

private:
    friend class SqliteStatement;
    explicit SqliteValue(sqlite3_value *value)
        : m_value(value)
    {
    }
    sqlite3_value *m_value;
};

inline SqliteValue SqliteStatement::value(int index) const
{
    return SqliteValue(sqlite3_column_value(m_statement, index));
}

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
    // True between BEGIN and COMMIT/ROLLBACK.
    bool inTransaction() const;
    QString errorString() const;

    bool exec(const QByteArray &sql, const QVariantList &values = {});
    SqliteStatement prepare(const QByteArray &sql) const;
    // A prepared statement kept for reuse, reset and with bindings cleared.
    // For statements that are never in use twice at the same time (single-row
    // reads and writes); it stays valid until the database closes.
    SqliteStatement &cached(const QByteArray &sql);
    // A prepared statement for `sql` taken from a pool of finished ones (or
    // newly prepared), for queries that are stepped through while other
    // statements run; hand it back with recycle() when done. Unlike cached(),
    // a statement in use belongs to its caller alone, so running the same
    // SQL again meanwhile is safe.
    SqliteStatement reusable(const QByteArray &sql);
    void recycle(const QByteArray &sql, SqliteStatement &&statement);
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
    struct SqlHash
    {
        size_t operator()(const QByteArray &sql) const noexcept { return qHash(sql); }
    };
    std::unordered_map<QByteArray, SqliteStatement, SqlHash> m_pool;
};

// Case-folded text with diacritics removed (NFD, combining marks dropped):
// the comparison form of contains[cd].
QString foldedForSearch(const QString &text);

} // namespace corvane
