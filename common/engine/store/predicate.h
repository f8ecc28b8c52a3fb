#pragma once

#include "objectid.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

namespace corvane {

// A piece of SQL with its values, in the order of its `?` placeholders.
struct SqlFragment
{
    QByteArray sql;
    QVariantList parameters;
};

// Answers the value at a key path of one object ("title", "datasource.name");
// a relationship answers QVariant::fromValue(ObjectID), a missing value an
// invalid QVariant. A Record supplies valueForKeyPath().
using KeyPathLookup = std::function<QVariant(QStringView keyPath)>;

// A condition on the objects of one entity, built in code and evaluated two
// ways that agree on every input: compiled to SQL over the entity's table,
// and evaluated in memory on values from a KeyPathLookup (objects inserted
// but not yet saved, keyword marks).
//
// Values: bool (as 0/1), integers (qint64 exact), double, QString,
// QByteArray, QVariant::fromValue(ObjectID) (compared by row id) and an
// invalid QVariant for NULL.
//
// Semantics, the same in SQL and in memory (two-valued, never NULL):
// - Values fall in classes: NULL, number, text, blob. Numbers compare by
//   value; an integer and a double compare exactly, as SQLite does. Text
//   compares by Unicode code point (SQLite's BINARY collation on UTF-8),
//   blobs bytewise.
// - Equal with NULL is "is null"; NULL equals only NULL. NotEqual is the
//   negation of Equal, so NULL != 5 is true.
// - Ordering comparisons are false when a side is NULL or the classes differ.
// - Equal is false and NotEqual true when the classes differ ("title == 5").
// - contains[cd] folds case and diacritics (foldedForSearch) and is false
//   unless both sides are text.
//
// Key paths name an attribute of the entity, or one hop through a to-one
// relationship ("datasource.enabled", "datasource.category"). An unknown key
// path is a programming error.
//
// Immutable; copies share the tree.
class Predicate
{
public:
    enum class Op : quint8 {
        Equal,
        NotEqual,
        Less,
        LessOrEqual,
        Greater,
        GreaterOrEqual,
        ContainsCaseDiacriticInsensitive,
    };

    // Matches everything.
    Predicate();

    static Predicate alwaysTrue();
    static Predicate alwaysFalse();

    static Predicate compare(const QString &keyPath, Op op, const QVariant &value);
    static Predicate equal(const QString &keyPath, const QVariant &value);
    static Predicate notEqual(const QString &keyPath, const QVariant &value);
    static Predicate lessThan(const QString &keyPath, const QVariant &value);
    static Predicate lessOrEqual(const QString &keyPath, const QVariant &value);
    static Predicate greaterThan(const QString &keyPath, const QVariant &value);
    static Predicate greaterOrEqual(const QString &keyPath, const QVariant &value);
    static Predicate containsCD(const QString &keyPath, const QString &text);
    static Predicate isNull(const QString &keyPath);
    static Predicate isNotNull(const QString &keyPath);
    // The value at the key path equals one of `values` (each compared as by
    // equal()); no values match nothing.
    static Predicate in(const QString &keyPath, const QVariantList &values);

    // An empty conjunction matches everything, an empty disjunction nothing.
    static Predicate andAll(const QList<Predicate> &predicates);
    static Predicate orAny(const QList<Predicate> &predicates);
    Predicate negated() const;

    friend Predicate operator&&(const Predicate &a, const Predicate &b) { return andAll({a, b}); }
    friend Predicate operator||(const Predicate &a, const Predicate &b) { return orAny({a, b}); }
    friend Predicate operator!(const Predicate &p) { return p.negated(); }

    // True for the predicate that matches everything without a condition.
    bool matchesEverything() const;

    bool evaluate(const KeyPathLookup &lookup) const;

    // A boolean SQL expression over `entity`'s table, referred to by its
    // table name (SELECT ... FROM item WHERE <sql>).
    SqlFragment toSql(Entity entity) const;

private:
    struct Node;
    explicit Predicate(std::shared_ptr<const Node> node);

    std::shared_ptr<const Node> m_node;
};

// The SQL expression of a key path of `entity` (a quoted column, or a
// correlated subquery for one hop), or an empty array when the entity has no
// such key path. Names come from the entity description only.
QByteArray keyPathSql(Entity entity, QStringView keyPath);

// The order of two values in SQLite's ORDER BY (ascending): NULL first, then
// numbers, text, blobs; < 0, 0 or > 0.
int compareForSort(const QVariant &a, const QVariant &b);

// Exact three-way comparison of an integer with a double (-1, 0, 1).
int compareIntegerReal(qint64 i, double r);

} // namespace corvane
