// Predicates and queries, run against both evaluations: the SQL a predicate
// compiles to, on a real store file, and the in-memory evaluation on the same
// values. Each row also names the rows it must match, so a fault shared by
// both sides still shows.
#include "store/entitydescription.h"
#include "store/predicate.h"
#include "store/query.h"
#include "store/sqlitedatabase.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace corvane;

namespace {

using Ids = std::vector<qint64>;

constexpr qint64 kHash = qint64(1) << 62;

ObjectID category(qint64 row)
{
    return {Entity::Category, row};
}

ObjectID datasource(qint64 row)
{
    return {Entity::Datasource, row};
}

QVariant ref(ObjectID id)
{
    return QVariant::fromValue(id);
}

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

struct Row
{
    Entity entity;
    qint64 id;
    QVariantHash values; // as a record holds them: bool, qint64, double, QString, ObjectID
};

class PredicateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_db.open(m_dir.filePath(QStringLiteral("store.db"))));
        for (const QByteArray &statement : schemaStatements())
            ASSERT_TRUE(m_db.exec(statement)) << statement.constData();

        const QVariant null;
        const auto cat = [](qint64 id, const char *name) {
            return Row{Entity::Category, id, {{QStringLiteral("name"), text(name)}}};
        };
        const auto ds = [](qint64 id, const char *name, const QVariant &customName, bool enabled,
                           const QVariant &categoryRef, qint64 limit) {
            return Row{Entity::Datasource, id,
                       {{QStringLiteral("name"), text(name)}, {QStringLiteral("customName"), customName},
                        {QStringLiteral("enabled"), enabled}, {QStringLiteral("category"), categoryRef},
                        {QStringLiteral("limit"), limit}}};
        };
        // id, datasource, guid, itemHash, title, itemDescription, orderingDate, originalDate, read, starred, deleted
        const auto item = [](qint64 id, const QVariant &dsRef, const QVariant &guid, qint64 hash, const QVariant &title,
                             const QVariant &description, const QVariant &ordering, const QVariant &original,
                             bool read, bool starred, bool deleted) {
            return Row{Entity::DataItem, id,
                       {{QStringLiteral("datasource"), dsRef}, {QStringLiteral("guid"), guid},
                        {QStringLiteral("itemHash"), hash}, {QStringLiteral("title"), title},
                        {QStringLiteral("itemDescription"), description}, {QStringLiteral("orderingDate"), ordering},
                        {QStringLiteral("originalDate"), original}, {QStringLiteral("read"), read},
                        {QStringLiteral("starred"), starred}, {QStringLiteral("deleted"), deleted}}};
        };
        m_rows = {
            cat(1, "News"),
            cat(2, "Tech"),
            ds(1, "Café Crème", null, true, ref(category(1)), 0),
            ds(2, "CAFE RADIO", text("Straße"), false, ref(category(2)), 50),
            ds(3, "Plain", null, true, null, 10),
            item(1, ref(datasource(1)), text("g1"), kHash, text("Café au lait"), null, 1000.0, 900.0, false, false, false),
            item(2, ref(datasource(1)), text("g2"), kHash + 1, text("CAFÉ NOIR"), text("strong"), 2000.0, 2000.0, true,
                 true, false),
            item(3, ref(datasource(2)), text("g3"), -5, text("Straße und Weg"), text("🎉 party"), null, 1500.0, false,
                 false, true),
            item(4, ref(datasource(2)), null, kHash, null, text("cafe ordinaire"), 1000.0, 900.0, false, false, false),
            item(5, ref(datasource(3)), text("x' OR 1=1 --"), 0, text("STRASSE"), text(""), 1000.0, null, true, false,
                 false),
            item(6, null, text("g6"), 7, text("\xEF\xBF\xBD replacement"), null, 3000.0, 100.0, false, false, false),
            item(7, ref(datasource(3)), text("😀 emoji"), kHash - 1, text("😀 grin"), null, 1000.0, 900.0, false, false,
                 false),
            item(8, ref(datasource(1)), text("g1"), kHash + 1, text("Other"), null, 1000.0, 900.0, true, false, true),
        };
        ASSERT_TRUE(m_db.exec("BEGIN"));
        for (const Row &row : std::as_const(m_rows))
            insert(row);
        ASSERT_TRUE(m_db.exec("COMMIT"));
    }

    void insert(const Row &row)
    {
        QByteArray sql = "INSERT INTO " + describe(row.entity).table + " (id";
        QByteArray marks = "?";
        QVariantList values{row.id};
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it) {
            sql += ", \"" + it.key().toUtf8() + '"';
            marks += ", ?";
            const QVariant &v = it.value();
            values.append(v.metaType() == QMetaType::fromType<ObjectID>() ? QVariant(v.value<ObjectID>().row) : v);
        }
        ASSERT_TRUE(m_db.exec(sql + ") VALUES (" + marks + ')', values)) << qPrintable(m_db.errorString());
    }

    const Row *find(Entity entity, qint64 id) const
    {
        for (const Row &row : m_rows)
            if (row.entity == entity && row.id == id)
                return &row;
        return nullptr;
    }

    // The in-memory lookup of one row, with the hop resolved by hand.
    KeyPathLookup lookup(const Row &row) const
    {
        return [this, &row](QStringView keyPath) -> QVariant {
            const qsizetype dot = keyPath.indexOf(u'.');
            if (dot < 0)
                return row.values.value(keyPath.toString());
            const QVariant head = row.values.value(keyPath.left(dot).toString());
            if (head.metaType() != QMetaType::fromType<ObjectID>())
                return {};
            const ObjectID id = head.value<ObjectID>();
            const Row *target = find(id.entity, id.row);
            return target ? target->values.value(keyPath.mid(dot + 1).toString()) : QVariant();
        };
    }

    Ids sqlIds(const Query &query) const
    {
        const SqlFragment select = selectSql(query, describe(query.entity).table + ".id");
        SqliteStatement statement = m_db.prepare(select.sql);
        EXPECT_TRUE(statement.isValid()) << select.sql.constData();
        statement.bindAll(select.parameters);
        Ids ids;
        while (statement.step())
            ids.push_back(statement.columnInt64(0));
        return ids;
    }

    Ids memoryIds(Entity entity, const Predicate &predicate) const
    {
        Ids ids;
        for (const Row &row : m_rows)
            if (row.entity == entity && predicate.evaluate(lookup(row)))
                ids.push_back(row.id);
        return ids;
    }

    QStringList plan(const Query &query) const
    {
        const SqlFragment select = selectSql(query, "item.id");
        SqliteStatement statement = m_db.prepare("EXPLAIN QUERY PLAN " + select.sql);
        statement.bindAll(select.parameters);
        QStringList details;
        while (statement.step())
            details.append(statement.column(3).toString());
        return details;
    }

    QTemporaryDir m_dir;
    SqliteDatabase m_db;
    QList<Row> m_rows;
};

Ids sorted(Ids ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool usesIndex(const QStringList &plan)
{
    return std::any_of(plan.cbegin(), plan.cend(), [](const QString &line) {
        return line.contains(QLatin1String("USING INDEX")) || line.contains(QLatin1String("USING COVERING INDEX"));
    });
}

struct Case
{
    const char *name;
    Entity entity;
    Predicate predicate;
    Ids expected;
};

} // namespace

TEST_F(PredicateTest, SqlAndMemoryAgreeWithTheExpectedRows)
{
    using P = Predicate;
    const QString title = QStringLiteral("title");
    const QString orderingDate = QStringLiteral("orderingDate");
    const QString itemHash = QStringLiteral("itemHash");
    const auto search = [](const QString &t) {
        return P::containsCD(QStringLiteral("title"), t) || P::containsCD(QStringLiteral("itemDescription"), t)
               || P::containsCD(QStringLiteral("datasource.name"), t)
               || P::containsCD(QStringLiteral("datasource.customName"), t);
    };
    const Entity I = Entity::DataItem;
    const Case cases[] = {
        {"matches-everything", I, P(), {1, 2, 3, 4, 5, 6, 7, 8}},
        {"matches-nothing", I, P::alwaysFalse(), {}},
        {"contains-cd-folds-case-and-accents", I, P::containsCD(title, QStringLiteral("cafe")), {1, 2}},
        {"contains-cd-accented-needle", I, P::containsCD(title, text("CAFÉ")), {1, 2}},
        {"contains-cd-keeps-eszett-apart-from-ss", I, P::containsCD(title, QStringLiteral("strasse")), {5}},
        {"contains-cd-eszett-any-case", I, P::containsCD(title, text("STRAßE")), {3}},
        {"contains-cd-emoji", I, P::containsCD(QStringLiteral("itemDescription"), text("🎉")), {3}},
        {"contains-cd-empty-needle-matches-non-null-text", I,
         P::containsCD(QStringLiteral("itemDescription"), QString()), {2, 3, 4, 5}},
        {"contains-cd-null-needle-matches-nothing", I,
         P::compare(title, P::Op::ContainsCaseDiacriticInsensitive, QVariant()), {}},
        {"negated-contains-includes-null-text", I, !P::containsCD(title, QStringLiteral("cafe")), {3, 4, 5, 6, 7, 8}},
        {"equal-null-is-is-null", I, P::equal(title, QVariant()), {4}},
        {"not-equal-null-is-is-not-null", I, P::notEqual(title, QVariant()), {1, 2, 3, 5, 6, 7, 8}},
        {"not-equal-value-includes-nulls", I, P::notEqual(QStringLiteral("guid"), QStringLiteral("g1")),
         {2, 3, 4, 5, 6, 7}},
        {"less-than-false-on-null", I, P::lessThan(orderingDate, 1500.0), {1, 4, 5, 7, 8}},
        {"negated-less-than-includes-null", I, !P::lessThan(orderingDate, 1500.0), {2, 3, 6}},
        {"less-than-null-matches-nothing", I, P::lessThan(orderingDate, QVariant()), {}},
        {"negated-less-than-null-matches-everything", I, !P::lessThan(orderingDate, QVariant()),
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"closed-date-range", I, P::greaterOrEqual(orderingDate, 1000) && P::lessOrEqual(orderingDate, 2000.0),
         {1, 2, 4, 5, 7, 8}},
        {"visible-items", I,
         P::equal(QStringLiteral("datasource.enabled"), true) && P::equal(QStringLiteral("deleted"), false),
         {1, 2, 5, 7}},
        {"datasource-category", I, P::equal(QStringLiteral("datasource.category"), ref(category(1))), {1, 2, 8}},
        {"datasource-category-null-includes-items-without-datasource", I,
         P::isNull(QStringLiteral("datasource.category")), {5, 6, 7}},
        {"datasource-custom-name-null", I, P::isNull(QStringLiteral("datasource.customName")), {1, 2, 5, 6, 7, 8}},
        {"datasource-equal", I, P::equal(QStringLiteral("datasource"), ref(datasource(2))), {3, 4}},
        {"datasource-not-equal-includes-null", I, P::notEqual(QStringLiteral("datasource"), ref(datasource(2))),
         {1, 2, 5, 6, 7, 8}},
        {"temporary-datasource-matches-no-stored-item", I,
         P::equal(QStringLiteral("datasource"), ref(datasource(-3))), {}},
        {"trimming-candidates", I,
         P::andAll({P::equal(QStringLiteral("starred"), false), P::isNotNull(orderingDate),
                    P::lessThan(orderingDate, 1500.0), P::equal(QStringLiteral("datasource"), ref(datasource(1)))}),
         {1, 8}},
        {"hash-exact", I, P::equal(itemHash, kHash), {1, 4}},
        {"hash-exact-last-bit", I, P::equal(itemHash, kHash + 1), {2, 8}},
        {"hash-greater", I, P::greaterThan(itemHash, kHash), {2, 8}},
        {"hash-less-than-double-is-exact", I, P::lessThan(itemHash, double(kHash)), {3, 5, 6, 7}},
        {"hash-equal-double-is-exact", I, P::equal(itemHash, double(kHash)), {1, 4}},
        {"hash-in", I, P::in(itemHash, {kHash + 1, kHash, qint64(12345)}), {1, 2, 4, 8}},
        {"hash-in-double-is-exact", I, P::in(itemHash, {double(kHash), 0.5}), {1, 4}},
        {"in-nothing", I, P::in(itemHash, {}), {}},
        {"negated-in-includes-null-text", I, !P::in(title, {QStringLiteral("x"), 5}), {1, 2, 3, 4, 5, 6, 7, 8}},
        {"in-with-null", I, P::in(title, {QVariant(), 7}), {4}},
        {"in-over-hop", I, P::in(QStringLiteral("datasource.category"), {ref(category(1))}), {1, 2, 8}},
        {"search-over-hop", I, search(QStringLiteral("cafe")), {1, 2, 3, 4, 8}},
        {"search-custom-name", I, search(text("straße")), {3, 4}},
        {"not-read-or-starred", I, !(P::equal(QStringLiteral("read"), true) || P::equal(QStringLiteral("starred"), true)),
         {1, 3, 4, 6, 7}},
        {"boolean-equals-integer", I, P::equal(QStringLiteral("read"), 1), {2, 5, 8}},
        {"text-equal-number-is-false", I, P::equal(title, 5), {}},
        {"text-not-equal-number-is-true", I, P::notEqual(title, 5), {1, 2, 3, 4, 5, 6, 7, 8}},
        {"text-order-is-code-point-order", I, P::greaterThan(title, text("\xEF\xBF\xBD")), {6, 7}},
        {"hostile-text-is-data", I, P::equal(QStringLiteral("guid"), QStringLiteral("x' OR 1=1 --")), {5}},
        {"reserved-word-column", Entity::Datasource, P::greaterThan(QStringLiteral("limit"), 10), {2}},
        {"datasource-category-hop", Entity::Datasource, P::containsCD(QStringLiteral("category.name"), text("TÉCH")),
         {2}},
        {"category-null-or-enabled", Entity::Datasource,
         P::isNull(QStringLiteral("category")) || P::equal(QStringLiteral("enabled"), true), {1, 3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Ids sql = sorted(sqlIds(Query{c.entity, c.predicate}));
        EXPECT_EQ(sql, memoryIds(c.entity, c.predicate));
        EXPECT_EQ(sql, c.expected);
    }
}

TEST_F(PredicateTest, SortOrderAgreesWithOrderByIncludingNullsAndTies)
{
    const QList<SortDescriptor> itemOrder{{QStringLiteral("orderingDate"), false},
                                          {QStringLiteral("originalDate"), false},
                                          {QStringLiteral("guid"), true},
                                          {QStringLiteral("itemHash"), true}};
    const QList<SortDescriptor> ascending{{QStringLiteral("orderingDate"), true},
                                          {QStringLiteral("guid"), false},
                                          {QStringLiteral("itemHash"), true}};
    const struct
    {
        const char *name;
        QList<SortDescriptor> order;
        Ids expected;
    } cases[] = {
        {"item-order-nulls-last", itemOrder, {6, 2, 4, 1, 8, 7, 5, 3}},
        {"ascending-nulls-first", ascending, {3, 7, 5, 1, 8, 4, 2, 6}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sqlIds(Query{Entity::DataItem, Predicate(), c.order}), c.expected);

        QList<const Row *> items;
        for (const Row &row : m_rows)
            if (row.entity == Entity::DataItem)
                items.prepend(&row);
        std::stable_sort(items.begin(), items.end(), [&](const Row *a, const Row *b) {
            return lessThanForSort(c.order, lookup(*a), lookup(*b));
        });
        Ids memory;
        for (const Row *row : std::as_const(items))
            memory.push_back(row->id);
        EXPECT_EQ(memory, c.expected);
    }
}

TEST_F(PredicateTest, LimitAndOffsetAreBoundAndCounted)
{
    const QList<SortDescriptor> order{{QStringLiteral("orderingDate"), false},
                                      {QStringLiteral("originalDate"), false},
                                      {QStringLiteral("guid"), true},
                                      {QStringLiteral("itemHash"), true}};
    Query page{Entity::DataItem, Predicate(), order, 3, 2};
    EXPECT_EQ(sqlIds(page), (Ids{4, 1, 8}));
    Query tail{Entity::DataItem, Predicate(), order, 0, 6};
    EXPECT_EQ(sqlIds(tail), (Ids{5, 3}));

    const auto count = [this](const Query &query) {
        const SqlFragment select = countSql(query);
        return m_db.scalar(select.sql, select.parameters).toLongLong();
    };
    EXPECT_EQ(count(page), 3);
    EXPECT_EQ(count(tail), 2);
    EXPECT_EQ(count(Query{Entity::DataItem, Predicate::equal(QStringLiteral("read"), false)}), 5);
}

TEST_F(PredicateTest, FetchTemplatesUseIndexesAndTreatValuesAsData)
{
    const Query byGuid = itemWithGuid(QStringLiteral("g1"), datasource(1));
    const Query byHash = itemWithHash(kHash + 1, datasource(1));
    EXPECT_EQ(sorted(sqlIds(byGuid)), (Ids{1, 8}));
    EXPECT_EQ(sorted(sqlIds(byHash)), (Ids{2, 8}));
    EXPECT_EQ(sqlIds(itemWithHash(kHash, datasource(2))), (Ids{4}));
    const Query fromTemplate = Query::fetchRequestTemplate(
        QStringLiteral("ItemWithHash"), {{QStringLiteral("HASH"), kHash}, {QStringLiteral("DATASOURCE"), ref(datasource(1))}});
    EXPECT_EQ(sqlIds(fromTemplate), (Ids{1}));
    const Query guidTemplate = Query::fetchRequestTemplate(
        QStringLiteral("ItemWithGuid"),
        {{QStringLiteral("GUID"), QStringLiteral("g3")}, {QStringLiteral("DATASOURCE"), ref(datasource(2))}});
    EXPECT_EQ(sqlIds(guidTemplate), (Ids{3}));

    const Query bySubscription{Entity::DataItem, Predicate::equal(QStringLiteral("datasource"), ref(datasource(1)))};
    for (const Query *query : {&byGuid, &byHash, &bySubscription}) {
        const QStringList details = plan(*query);
        EXPECT_TRUE(usesIndex(details)) << qPrintable(details.join(u'\n'));
    }

    const QString hostile = QStringLiteral("x' OR 1=1 --");
    const Query attack = itemWithGuid(hostile, datasource(1));
    const SqlFragment select = selectSql(attack, "item.id");
    EXPECT_FALSE(select.sql.contains("1=1"));
    EXPECT_TRUE(select.parameters.contains(QVariant(hostile)));
    EXPECT_EQ(sqlIds(attack), Ids{});
    EXPECT_EQ(sqlIds(itemWithGuid(hostile, datasource(3))), (Ids{5}));
}
