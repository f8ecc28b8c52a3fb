#include "predicate.h"

#include "store/entitydescription.h"
#include "store/sqlitedatabase.h"

#include "base/corvaneassert.h"
#include "base/log.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace corvane {

struct Predicate::Node
{
    enum class Kind : quint8 { False, Compare, In, And, Or, Not };

    Kind kind = Kind::False;
    QString keyPath;
    Op op = Op::Equal;
    QVariant value;
    QVariantList values; // In
    // In with only integer values (hashes, row ids): those values, for a
    // lookup instead of a walk through the list.
    std::optional<QSet<qint64>> integers;
    QList<Predicate> children;
};

namespace {

// A value reduced to SQLite's storage classes, so that memory and SQL
// compare the same things. Booleans become 0/1 and relationships their row
// id (a null ObjectID is NULL); NaN is NULL, as SQLite stores it.
struct Value
{
    enum class Kind : quint8 { Null, Integer, Real, Text, Blob };

    Kind kind = Kind::Null;
    qint64 integer = 0;
    double real = 0;
    QString text;
    QByteArray blob;

    // NULL < numbers < text < blobs, the class order of ORDER BY.
    int classRank() const
    {
        switch (kind) {
        case Kind::Null:
            return 0;
        case Kind::Integer:
        case Kind::Real:
            return 1;
        case Kind::Text:
            return 2;
        case Kind::Blob:
            break;
        }
        return 3;
    }
};

Value integerValue(qint64 v)
{
    Value value;
    value.kind = Value::Kind::Integer;
    value.integer = v;
    return value;
}

Value canonical(const QVariant &v)
{
    Value value;
    if (!v.isValid() || v.isNull())
        return value;
    if (v.metaType() == QMetaType::fromType<ObjectID>()) {
        const ObjectID id = v.value<ObjectID>();
        return id.isNull() ? value : integerValue(id.row);
    }
    switch (v.typeId()) {
    case QMetaType::Bool:
        return integerValue(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return integerValue(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isnan(d)) {
            value.kind = Value::Kind::Real;
            value.real = d;
        }
        return value;
    }
    case QMetaType::QByteArray:
        value.kind = Value::Kind::Blob;
        value.blob = v.toByteArray();
        return value;
    default:
        // Anything else binds as its text (SqliteStatement::bind does the same).
        value.kind = Value::Kind::Text;
        value.text = v.toString();
        return value;
    }
}

QVariant bindable(const Value &value)
{
    switch (value.kind) {
    case Value::Kind::Null:
        return QVariant();
    case Value::Kind::Integer:
        return value.integer;
    case Value::Kind::Real:
        return value.real;
    case Value::Kind::Text:
        return value.text;
    case Value::Kind::Blob:
        break;
    }
    return value.blob;
}

template<typename T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}


// Orders UTF-16 code units by code point: surrogates (D800-DFFF) encode code
// points above every BMP character, so they move past E000-FFFF. This is the
// order of SQLite's BINARY collation over UTF-8, which plain UTF-16 code
// unit order would get wrong for, e.g., emoji against U+FFFD.
char16_t codePointKey(char16_t unit)
{
    if (unit < 0xD800)
        return unit;
    return unit >= 0xE000 ? char16_t(unit - 0x800) : char16_t(unit + 0x2000);
}

int compareText(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x != y)
            return codePointKey(x) < codePointKey(y) ? -1 : 1;
    }
    return threeWay(a.size(), b.size());
}

int compareBlob(const QByteArray &a, const QByteArray &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.constData(), b.constData(), size_t(n)) : 0;
    return c != 0 ? (c < 0 ? -1 : 1) : threeWay(a.size(), b.size());
}

// Both of the same class rank.
int compareSameClass(const Value &a, const Value &b)
{
    switch (a.kind) {
    case Value::Kind::Null:
        return 0;
    case Value::Kind::Integer:
        return b.kind == Value::Kind::Integer ? threeWay(a.integer, b.integer)
                                              : compareIntegerReal(a.integer, b.real);
    case Value::Kind::Real:
        return b.kind == Value::Kind::Real ? threeWay(a.real, b.real) : -compareIntegerReal(b.integer, a.real);
    case Value::Kind::Text:
        return compareText(a.text, b.text);
    case Value::Kind::Blob:
        break;
    }
    return compareBlob(a.blob, b.blob);
}

bool equalValues(const Value &a, const Value &b)
{
    return a.classRank() == b.classRank() && compareSameClass(a, b) == 0;
}

bool evaluateComparison(const QVariant &left, Predicate::Op op, const QVariant &right)
{
    using Op = Predicate::Op;
    const Value l = canonical(left);
    const Value r = canonical(right);
    switch (op) {
    case Op::Equal:
        return equalValues(l, r);
    case Op::NotEqual:
        return !equalValues(l, r);
    case Op::ContainsCaseDiacriticInsensitive:
        return l.kind == Value::Kind::Text && r.kind == Value::Kind::Text
               && foldedForSearch(l.text).contains(foldedForSearch(r.text));
    default:
        break;
    }
    if (l.kind == Value::Kind::Null || r.kind == Value::Kind::Null || l.classRank() != r.classRank())
        return false;
    const int c = compareSameClass(l, r);
    switch (op) {
    case Op::Less:
        return c < 0;
    case Op::LessOrEqual:
        return c <= 0;
    case Op::Greater:
        return c > 0;
    case Op::GreaterOrEqual:
        return c >= 0;
    default:
        break;
    }
    return false;
}

struct ResolvedKeyPath
{
    QByteArray sql;
    const Attribute *attribute = nullptr;
    bool hop = false;
    // For one hop: the relationship column, the target table and the
    // target's column as `hop."name"`.
    QByteArray relationship;
    QByteArray targetTable;
    QByteArray targetColumn;
};

QByteArray quotedColumn(const QByteArray &table, const Attribute &attribute)
{
    return table + ".\"" + attribute.name.toUtf8() + '"';
}

std::optional<ResolvedKeyPath> resolve(Entity entity, QStringView keyPath)
{
    const EntityDescription &d = describe(entity);
    const qsizetype dot = keyPath.indexOf(u'.');
    const int index = d.indexOf(dot < 0 ? keyPath : keyPath.left(dot));
    if (index < 0)
        return std::nullopt;
    const Attribute &head = d.attributes[index];
    if (dot < 0)
        return ResolvedKeyPath{quotedColumn(d.table, head), &head, false, {}, {}, {}};
    if (head.type != AttributeType::ToOne)
        return std::nullopt;
    const EntityDescription &target = describe(head.target);
    const QStringView rest = keyPath.mid(dot + 1);
    const int tailIndex = rest.contains(u'.') ? -1 : target.indexOf(rest);
    if (tailIndex < 0)
        return std::nullopt;
    const Attribute &tail = target.attributes[tailIndex];
    // A correlated subquery answers NULL when the relationship is NULL or
    // dangling, like the in-memory lookup.
    const QByteArray sql = "(SELECT " + quotedColumn("hop", tail) + " FROM " + target.table + " hop WHERE hop.id = "
                           + quotedColumn(d.table, head) + ')';
    return ResolvedKeyPath{sql, &tail, true, quotedColumn(d.table, head), target.table, quotedColumn("hop", tail)};
}

int classRankOf(AttributeType type)
{
    switch (type) {
    case AttributeType::String:
        return 2;
    case AttributeType::Blob:
        return 3;
    default:
        return 1;
    }
}

QByteArray comparisonOperator(Predicate::Op op)
{
    using Op = Predicate::Op;
    switch (op) {
    case Op::Less:
        return " < ?";
    case Op::LessOrEqual:
        return " <= ?";
    case Op::Greater:
        return " > ?";
    case Op::GreaterOrEqual:
        return " >= ?";
    default:
        break;
    }
    return " IS ?";
}

// The comparison of the value of `expr`, a plain column, as an expression
// that is 0 or 1.
void appendColumnComparison(const QByteArray &expr, const Attribute &attribute, Predicate::Op op, const Value &v,
                            SqlFragment &out)
{
    using Op = Predicate::Op;
    const bool sameClass = v.classRank() == classRankOf(attribute.type);
    switch (op) {
    case Op::ContainsCaseDiacriticInsensitive:
        if (attribute.type != AttributeType::String || v.kind != Value::Kind::Text) {
            out.sql += '0';
            return;
        }
        out.sql += "corvane_contains_cd(" + expr + ", ?)";
        out.parameters.append(v.text);
        return;
    case Op::Equal:
    case Op::NotEqual: {
        const bool equal = op == Op::Equal;
        if (v.kind == Value::Kind::Null) {
            out.sql += expr + (equal ? " IS NULL" : " IS NOT NULL");
        } else if (!sameClass) {
            out.sql += equal ? '0' : '1';
        } else {
            out.sql += expr + (equal ? " IS ?" : " IS NOT ?");
            out.parameters.append(bindable(v));
        }
        return;
    }
    default:
        break;
    }
    if (v.kind == Value::Kind::Null || !sameClass) {
        out.sql += '0';
        return;
    }
    // `x < ?` is NULL when x is; the plain column form lets an index serve
    // the range.
    out.sql += '(' + expr + " IS NOT NULL AND " + expr + comparisonOperator(op) + ')';
    out.parameters.append(bindable(v));
}

// Every comparison compiles to an expression that is 0 or 1, never NULL, so
// AND, OR and NOT behave in SQL exactly as in memory.
void appendComparison(Entity entity, const QString &keyPath, Predicate::Op op, const QVariant &value,
                      SqlFragment &out)
{
    const std::optional<ResolvedKeyPath> resolved = resolve(entity, keyPath);
    if (!resolved) {
        logLine(QStringLiteral("predicate: %1 has no key path \"%2\"").arg(entityName(entity), keyPath));
        CORVANE_ASSERT(false, "unknown key path in a predicate");
        out.sql += '0';
        return;
    }
    const Attribute &attribute = *resolved->attribute;
    CORVANE_ASSERT(value.metaType() != QMetaType::fromType<ObjectID>() || attribute.type != AttributeType::ToOne
                       || value.value<ObjectID>().entity == attribute.target,
                   "object of the wrong entity in a predicate");
    const Value v = canonical(value);
    if (!resolved->hop) {
        appendColumnComparison(resolved->sql, attribute, op, v, out);
        return;
    }

    // One hop: the condition on the target's column picks a set of target
    // rows, computed once, instead of a lookup per row. A row without a
    // target (NULL or dangling) reads NULL there, so it matches exactly when
    // the condition holds for NULL.
    SqlFragment condition;
    appendColumnComparison(resolved->targetColumn, attribute, op, v, condition);
    if (condition.sql == "0" || condition.sql == "1") {
        out.sql += condition.sql;
        return;
    }
    // The unary plus keeps the planner from driving the query by this set:
    // it cannot know how many rows it selects (every enabled subscription,
    // say), and stepping an index through most of the table costs more
    // than scanning it.
    const QByteArray relationship = '+' + resolved->relationship;
    const QByteArray targets = "(SELECT hop.id FROM " + resolved->targetTable + " hop WHERE ";
    if (!evaluateComparison(QVariant(), op, value))
        out.sql += '(' + relationship + " IS NOT NULL AND " + relationship + " IN " + targets + condition.sql + "))";
    else
        out.sql += '(' + relationship + " IS NULL OR " + relationship + " NOT IN " + targets + "NOT (" + condition.sql
                   + ")))";
    out.parameters.append(condition.parameters);
}

// `keyPath IN (...)` over a plain column, 0 or 1 like every comparison: the
// values of the column's class go into the list, a NULL among them matches
// NULL, the others can never be equal.
void appendInComparison(Entity entity, const QString &keyPath, const QVariantList &values, SqlFragment &out)
{
    const std::optional<ResolvedKeyPath> resolved = resolve(entity, keyPath);
    if (!resolved || resolved->hop) {
        logLine(QStringLiteral("predicate: %1 has no plain key path \"%2\"").arg(entityName(entity), keyPath));
        CORVANE_ASSERT(false, "unknown key path in a predicate");
        out.sql += '0';
        return;
    }
    const QByteArray &expr = resolved->sql;
    const int rank = classRankOf(resolved->attribute->type);
    bool matchesNull = false;
    QVariantList listed;
    for (const QVariant &value : values) {
        const Value v = canonical(value);
        if (v.kind == Value::Kind::Null)
            matchesNull = true;
        else if (v.classRank() == rank)
            listed.append(bindable(v));
    }
    QByteArrayList terms;
    if (!listed.isEmpty()) {
        QByteArray marks(listed.size() * 2 - 1, ',');
        for (qsizetype i = 0; i < listed.size(); ++i)
            marks[i * 2] = '?';
        terms.append('(' + expr + " IS NOT NULL AND " + expr + " IN (" + marks + "))");
        out.parameters.append(listed);
    }
    if (matchesNull)
        terms.append(expr + " IS NULL");
    out.sql += terms.isEmpty() ? QByteArray("0") : '(' + terms.join(" OR ") + ')';
}

} // namespace

Predicate::Predicate() = default;

Predicate::Predicate(std::shared_ptr<const Node> node)
    : m_node(std::move(node))
{
}

Predicate Predicate::alwaysTrue()
{
    return Predicate();
}

Predicate Predicate::alwaysFalse()
{
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::False;
    return Predicate(std::move(node));
}

Predicate Predicate::compare(const QString &keyPath, Op op, const QVariant &value)
{
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::Compare;
    node->keyPath = keyPath;
    node->op = op;
    node->value = value;
    return Predicate(std::move(node));
}

Predicate Predicate::equal(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::Equal, value);
}

Predicate Predicate::notEqual(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::NotEqual, value);
}

Predicate Predicate::lessThan(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::Less, value);
}

Predicate Predicate::lessOrEqual(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::LessOrEqual, value);
}

Predicate Predicate::greaterThan(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::Greater, value);
}

Predicate Predicate::greaterOrEqual(const QString &keyPath, const QVariant &value)
{
    return compare(keyPath, Op::GreaterOrEqual, value);
}

Predicate Predicate::containsCD(const QString &keyPath, const QString &text)
{
    return compare(keyPath, Op::ContainsCaseDiacriticInsensitive, text);
}

Predicate Predicate::isNull(const QString &keyPath)
{
    return compare(keyPath, Op::Equal, QVariant());
}

Predicate Predicate::isNotNull(const QString &keyPath)
{
    return compare(keyPath, Op::NotEqual, QVariant());
}

Predicate Predicate::in(const QString &keyPath, const QVariantList &values)
{
    if (values.isEmpty())
        return alwaysFalse();
    // Through a relationship, the comparisons of equal() already do it.
    if (keyPath.contains(u'.')) {
        QList<Predicate> terms;
        for (const QVariant &value : values)
            terms.append(equal(keyPath, value));
        return orAny(terms);
    }
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::In;
    node->keyPath = keyPath;
    node->values = values;
    QSet<qint64> integers;
    integers.reserve(values.size());
    for (const QVariant &value : values) {
        const Value v = canonical(value);
        if (v.kind != Value::Kind::Integer)
            return Predicate(std::move(node));
        integers.insert(v.integer);
    }
    node->integers = std::move(integers);
    return Predicate(std::move(node));
}

Predicate Predicate::andAll(const QList<Predicate> &predicates)
{
    QList<Predicate> terms;
    for (const Predicate &p : predicates) {
        if (p.matchesEverything())
            continue;
        if (p.m_node->kind == Node::Kind::False)
            return alwaysFalse();
        if (p.m_node->kind == Node::Kind::And)
            terms.append(p.m_node->children);
        else
            terms.append(p);
    }
    if (terms.isEmpty())
        return Predicate();
    if (terms.size() == 1)
        return terms.first();
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::And;
    node->children = std::move(terms);
    return Predicate(std::move(node));
}

Predicate Predicate::orAny(const QList<Predicate> &predicates)
{
    QList<Predicate> terms;
    for (const Predicate &p : predicates) {
        if (p.matchesEverything())
            return Predicate();
        if (p.m_node->kind == Node::Kind::False)
            continue;
        if (p.m_node->kind == Node::Kind::Or)
            terms.append(p.m_node->children);
        else
            terms.append(p);
    }
    if (terms.isEmpty())
        return alwaysFalse();
    if (terms.size() == 1)
        return terms.first();
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::Or;
    node->children = std::move(terms);
    return Predicate(std::move(node));
}

Predicate Predicate::negated() const
{
    if (matchesEverything())
        return alwaysFalse();
    if (m_node->kind == Node::Kind::False)
        return Predicate();
    if (m_node->kind == Node::Kind::Not)
        return m_node->children.first();
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::Not;
    node->children = {*this};
    return Predicate(std::move(node));
}

bool Predicate::matchesEverything() const
{
    return !m_node;
}

bool Predicate::evaluate(const KeyPathLookup &lookup) const
{
    if (!m_node)
        return true;
    switch (m_node->kind) {
    case Node::Kind::False:
        return false;
    case Node::Kind::Compare:
        return evaluateComparison(lookup(m_node->keyPath), m_node->op, m_node->value);
    case Node::Kind::In: {
        const Value l = canonical(lookup(m_node->keyPath));
        if (m_node->integers && l.kind != Value::Kind::Real)
            return l.kind == Value::Kind::Integer && m_node->integers->contains(l.integer);
        for (const QVariant &value : m_node->values)
            if (equalValues(l, canonical(value)))
                return true;
        return false;
    }
    case Node::Kind::And:
        for (const Predicate &p : m_node->children)
            if (!p.evaluate(lookup))
                return false;
        return true;
    case Node::Kind::Or:
        for (const Predicate &p : m_node->children)
            if (p.evaluate(lookup))
                return true;
        return false;
    case Node::Kind::Not:
        return !m_node->children.first().evaluate(lookup);
    }
    return false;
}

SqlFragment Predicate::toSql(Entity entity) const
{
    SqlFragment out;
    if (!m_node) {
        out.sql = "1";
        return out;
    }
    switch (m_node->kind) {
    case Node::Kind::False:
        out.sql = "0";
        break;
    case Node::Kind::Compare:
        appendComparison(entity, m_node->keyPath, m_node->op, m_node->value, out);
        break;
    case Node::Kind::In:
        appendInComparison(entity, m_node->keyPath, m_node->values, out);
        break;
    case Node::Kind::And:
    case Node::Kind::Or: {
        const QByteArray glue = m_node->kind == Node::Kind::And ? " AND " : " OR ";
        out.sql = "(";
        for (qsizetype i = 0; i < m_node->children.size(); ++i) {
            const SqlFragment child = m_node->children[i].toSql(entity);
            if (i)
                out.sql += glue;
            out.sql += child.sql;
            out.parameters.append(child.parameters);
        }
        out.sql += ')';
        break;
    }
    case Node::Kind::Not: {
        const SqlFragment child = m_node->children.first().toSql(entity);
        out.sql = "(NOT (" + child.sql + "))";
        out.parameters = child.parameters;
        break;
    }
    }
    return out;
}

QByteArray keyPathSql(Entity entity, QStringView keyPath)
{
    const std::optional<ResolvedKeyPath> resolved = resolve(entity, keyPath);
    return resolved ? resolved->sql : QByteArray();
}

int compareForSort(const QVariant &a, const QVariant &b)
{
    const Value x = canonical(a);
    const Value y = canonical(b);
    if (x.classRank() != y.classRank())
        return x.classRank() < y.classRank() ? -1 : 1;
    return compareSameClass(x, y);
}

// No rounding of the integer to 53 bits: item hashes near 2^62 must stay
// distinct from nearby doubles.
int compareIntegerReal(qint64 i, double r)
{
    if (r < -9223372036854775808.0)
        return 1;
    if (r >= 9223372036854775808.0)
        return -1;
    const double whole = std::trunc(r);
    const qint64 y = qint64(whole);
    if (i != y)
        return i < y ? -1 : 1;
    return whole < r ? -1 : (r < whole ? 1 : 0);
}

} // namespace corvane
