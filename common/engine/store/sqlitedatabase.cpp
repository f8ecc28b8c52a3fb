#include "sqlitedatabase.h"

#include "base/log.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace corvane {

QString foldedForSearch(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const auto category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing)
            continue;
        folded.append(c);
    }
    return folded.toCaseFolded();
}

namespace {

QString textArgument(sqlite3_value *value)
{
    const auto *data = static_cast<const char16_t *>(sqlite3_value_text16(value));
    const int bytes = sqlite3_value_bytes16(value);
    return data ? QString(reinterpret_cast<const QChar *>(data), bytes / 2) : QString();
}

// corvane_contains_cd(haystack, needle): 1 when the folded needle occurs in
// the folded haystack, 0 otherwise; NULL haystacks never contain anything.
void containsFolded(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const QString haystack = foldedForSearch(textArgument(argv[0]));
    const QString needle = foldedForSearch(textArgument(argv[1]));
    sqlite3_result_int(context, haystack.contains(needle) ? 1 : 0);
}

bool hasSurrogate(const QString &text)
{
    for (const QChar c : text)
        if (c.isSurrogate())
            return true;
    return false;
}

bool isAscii(const unsigned char *text, int size)
{
    int i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, text + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < size; ++i)
        if (text[i] & 0x80)
            return false;
    return true;
}

} // namespace

SqliteStatement::SqliteStatement(sqlite3 *db, const QByteArray &sql)
{
    m_lastResult = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_statement, nullptr);
    if (m_lastResult != SQLITE_OK) {
        logLine(QStringLiteral("SQL error %1 preparing %2").arg(QString::fromUtf8(sqlite3_errmsg(db)),
                                                                 QString::fromUtf8(sql)));
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
    , m_lastResult(other.m_lastResult)
{
}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_lastResult = other.m_lastResult;
    }
    return *this;
}

void SqliteStatement::bind(int index, const QVariant &value)
{
    if (!m_statement)
        return;
    if (!value.isValid() || value.isNull()) {
        sqlite3_bind_null(m_statement, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        sqlite3_bind_int(m_statement, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        sqlite3_bind_int64(m_statement, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(m_statement, index, value.toDouble());
        break;
    case QMetaType::QByteArray: {
        const auto &bytes = *static_cast<const QByteArray *>(value.constData());
        sqlite3_bind_blob64(m_statement, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                            SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::QString:
        bindText(index, *static_cast<const QString *>(value.constData()));
        break;
    default:
        bindText(index, value.toString());
        break;
    }
}

void SqliteStatement::bindText(int index, const QString &text)
{
    if (!m_statement)
        return;
    // The store keeps UTF-8, and Qt's conversion is the quicker one. It
    // writes an unpaired surrogate as '?', though, where SQLite's own keeps
    // it (and reads it back as U+FFFD), so such text takes SQLite's.
    if (hasSurrogate(text)) {
        sqlite3_bind_text16(m_statement, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text64(m_statement, index, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                        SQLITE_UTF8);
}

void SqliteStatement::bindAll(const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i)
        bind(i + 1, values[i]);
}

bool SqliteStatement::step()
{
    if (!m_statement)
        return false;
    m_lastResult = sqlite3_step(m_statement);
    if (m_lastResult != SQLITE_ROW && m_lastResult != SQLITE_DONE)
        logLine(QStringLiteral("SQL error %1").arg(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_statement)))));
    return m_lastResult == SQLITE_ROW;
}

bool SqliteStatement::exec()
{
    while (step()) {
    }
    return m_lastResult == SQLITE_DONE;
}

void SqliteStatement::reset()
{
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

int SqliteStatement::columnCount() const
{
    return m_statement ? sqlite3_column_count(m_statement) : 0;
}

QVariant SqliteStatement::column(int index) const
{
    return value(index).toVariant();
}

SqliteStatement::ColumnType SqliteStatement::columnType(int index) const
{
    return ColumnType(sqlite3_column_type(m_statement, index));
}

qint64 SqliteStatement::columnInt64(int index) const
{
    return sqlite3_column_int64(m_statement, index);
}

double SqliteStatement::columnDouble(int index) const
{
    return sqlite3_column_double(m_statement, index);
}

QString SqliteStatement::columnText(int index) const
{
    return value(index).toText();
}

QByteArray SqliteStatement::columnBlob(int index) const
{
    return value(index).toBlob();
}

QByteArrayView SqliteStatement::columnBytes(int index) const
{
    return value(index).bytes();
}

QString SqliteValue::toText() const
{
    // ASCII text widens as it is. Anything else goes through SQLite's own
    // UTF-16 conversion, which is what decides how stored text that is not
    // well-formed UTF-8 reads back.
    const auto *utf8 = sqlite3_value_text(m_value);
    const int size = sqlite3_value_bytes(m_value);
    if (utf8 && isAscii(utf8, size))
        return QString::fromLatin1(reinterpret_cast<const char *>(utf8), size);
    const auto *data = static_cast<const QChar *>(sqlite3_value_text16(m_value));
    return data ? QString(data, sqlite3_value_bytes16(m_value) / 2) : QString();
}

QByteArray SqliteValue::toBlob() const
{
    const auto *data = static_cast<const char *>(sqlite3_value_blob(m_value));
    return QByteArray(data, sqlite3_value_bytes(m_value));
}

QVariant SqliteValue::toVariant() const
{
    switch (sqlite3_value_type(m_value)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_value_int64(m_value));
    case SQLITE_FLOAT:
        return sqlite3_value_double(m_value);
    case SQLITE_TEXT:
        return toText();
    case SQLITE_BLOB:
        return toBlob();
    default:
        return QVariant();
    }
}

bool SqliteStatement::columnIsNull(int index) const
{
    return sqlite3_column_type(m_statement, index) == SQLITE_NULL;
}

SqliteDatabase::~SqliteDatabase()
{
    close();
}

bool SqliteDatabase::open(const QString &path)
{
    // Without the allocation statistics SQLite takes no global lock per
    // allocation. This only works before SQLite starts; later it is refused.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    Q_UNUSED(configured);
    close();
    const QByteArray file = path.toUtf8();
    const int rc = sqlite3_open_v2(file.constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return false;
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_create_function_v2(m_db, "corvane_contains_cd", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                               containsFolded, nullptr, nullptr, nullptr);
    return true;
}

SqliteStatement &SqliteDatabase::cached(const QByteArray &sql)
{
    std::shared_ptr<SqliteStatement> &slot = m_cache[sql];
    if (!slot)
        slot = std::make_shared<SqliteStatement>(m_db, sql);
    else
        slot->reset();
    return *slot;
}

SqliteStatement SqliteDatabase::reusable(const QByteArray &sql)
{
    const auto it = m_pool.find(sql);
    if (it == m_pool.end())
        return SqliteStatement(m_db, sql);
    SqliteStatement statement = std::move(it->second);
    m_pool.erase(it);
    return statement;
}

void SqliteDatabase::recycle(const QByteArray &sql, SqliteStatement &&statement)
{
    // Queries with values in their text would fill the pool with one-offs;
    // past a few dozen the pool starts over.
    constexpr size_t kPooled = 48;
    if (!statement.isValid() || !m_db)
        return;
    statement.reset();
    if (m_pool.size() >= kPooled && !m_pool.contains(sql))
        m_pool.clear();
    m_pool.insert_or_assign(sql, std::move(statement));
}

void SqliteDatabase::close()
{
    m_pool.clear();
    m_cache.clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool SqliteDatabase::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

QString SqliteDatabase::errorString() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("database not open");
}

bool SqliteDatabase::exec(const QByteArray &sql, const QVariantList &values)
{
    SqliteStatement statement(m_db, sql);
    statement.bindAll(values);
    return statement.isValid() && statement.exec();
}

SqliteStatement SqliteDatabase::prepare(const QByteArray &sql) const
{
    return SqliteStatement(m_db, sql);
}

QVariant SqliteDatabase::scalar(const QByteArray &sql, const QVariantList &values) const
{
    SqliteStatement statement(m_db, sql);
    statement.bindAll(values);
    return statement.step() ? statement.column(0) : QVariant();
}

qint64 SqliteDatabase::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

bool SqliteDatabase::backupTo(const QString &path, QString *error) const
{
    sqlite3 *target = nullptr;
    const QByteArray file = path.toUtf8();
    if (sqlite3_open_v2(file.constData(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(target));
        sqlite3_close_v2(target);
        return false;
    }
    sqlite3_backup *backup = sqlite3_backup_init(target, "main", m_db, "main");
    int rc = SQLITE_ERROR;
    if (backup) {
        rc = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok && error)
        *error = QString::fromUtf8(sqlite3_errmsg(target));
    sqlite3_close_v2(target);
    return ok;
}

} // namespace corvane
