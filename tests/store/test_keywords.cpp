#include "storefixture.h"

#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"

#include "base/clock.h"

using namespace corvane;
using corvane::test::StoreFixture;

namespace {

class KeywordsTest : public StoreFixture
{
protected:
    QStringList storedNames()
    {
        QStringList names;
        for (Keyword *k : m_context->fetchAs<Keyword>(Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}}))
            names.append(QStringLiteral("%1@%2").arg(k->name()).arg(k->position()));
        return names;
    }
    DataItem *addItem(Datasource *source, const QString &title, const QString &description = QString())
    {
        auto *item = m_context->insert<DataItem>();
        item->setDatasource(source);
        item->setTitle(title);
        item->setItemDescription(description);
        return item;
    }
};

} // namespace

TEST_F(KeywordsTest, ReplacingTheListKeepsDeletesAndAddsByExactName)
{
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("a"), QStringLiteral("b")}, m_context.get(), false));
    EXPECT_EQ(storedNames(), (QStringList{QStringLiteral("a@1"), QStringLiteral("b@2")}));
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("c"), QStringLiteral("B")},
                                              m_context.get(), false));
    EXPECT_EQ(storedNames(), (QStringList{QStringLiteral("b@2"), QStringLiteral("c@3"), QStringLiteral("B@4")}));
    ASSERT_TRUE(KeywordHelper::insertKeywords({}, m_context.get(), false));
    EXPECT_TRUE(storedNames().isEmpty());

    ASSERT_TRUE(KeywordHelper::createDefaultKeywordsFromContext(m_context.get()));
    const QList<Keyword *> defaults = m_context->fetchAs<Keyword>(Query{Entity::Keyword});
    ASSERT_EQ(defaults.size(), 2);
    for (Keyword *k : defaults)
        EXPECT_EQ(k->clock(), Clock::defaultPast()) << k->name().toStdString();
}

TEST_F(KeywordsTest, MarksFollowTitlesDescriptionsAndSubscriptionNamesIgnoringCaseAndAccents)
{
    auto *source = m_context->insert<RSSDatasource>();
    source->setUrl(QStringLiteral("http://a.org/rss"));
    auto *named = m_context->insert<RSSDatasource>();
    named->setUrl(QStringLiteral("http://b.org/rss"));
    named->setCustomName(QStringLiteral("CAFE news"));
    DataItem *byTitle = addItem(source, QStringLiteral("Café Opening"));
    DataItem *byDescription = addItem(source, QStringLiteral("Other"), QStringLiteral("<p>a new cafe</p>"));
    DataItem *bySource = addItem(named, QStringLiteral("Unrelated"));
    DataItem *none = addItem(source, QStringLiteral("Nothing here"));
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("cafe")}, m_context.get(), false));
    EXPECT_TRUE(byTitle->mark());
    EXPECT_TRUE(byDescription->mark());
    EXPECT_TRUE(bySource->mark());
    EXPECT_FALSE(none->mark());

    ASSERT_TRUE(KeywordHelper::insertKeywords({}, m_context.get(), false));
    Keyword::updateMarkInContext(m_context.get());
    EXPECT_FALSE(byTitle->mark());
    EXPECT_FALSE(bySource->mark());

    // Stored items, read again: a new keyword marks by title and by name.
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("opening"), QStringLiteral("news")}, m_context.get(), false));
    ASSERT_TRUE(m_context->save());
    const ObjectID titled = byTitle->objectID();
    const ObjectID ofNamed = bySource->objectID();
    const ObjectID unrelated = none->objectID();
    m_context->reset();
    Keyword::updateMarkInContext(m_context.get());
    const auto marked = [&](ObjectID id) { return static_cast<DataItem *>(m_context->existingObject(id))->mark(); };
    EXPECT_TRUE(marked(titled));
    EXPECT_TRUE(marked(ofNamed));
    EXPECT_FALSE(marked(unrelated));
}

TEST_F(KeywordsTest, RenamingSubscriptionsInOneSaveRemarksTheirStoredItems)
{
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("cafe")}, m_context.get(), false));
    auto *first = m_context->insert<RSSDatasource>();
    first->setUrl(QStringLiteral("http://a.org/rss"));
    auto *second = m_context->insert<RSSDatasource>();
    second->setUrl(QStringLiteral("http://b.org/rss"));
    second->setCustomName(QStringLiteral("Café daily"));
    const QList<DataItem *> items{addItem(first, QStringLiteral("Plain")), addItem(first, QStringLiteral("A cafe")),
                                  addItem(second, QStringLiteral("Plain too"))};
    ASSERT_TRUE(m_context->save());
    QList<ObjectID> ids{first->objectID(), second->objectID()};
    for (const DataItem *item : items)
        ids.append(item->objectID());
    const auto object = [&](int index) { return m_context->existingObject(ids[index]); };
    const auto marks = [&] {
        QList<bool> marks;
        for (int i = 2; i < ids.size(); ++i)
            marks.append(static_cast<DataItem *>(object(i))->mark());
        return marks;
    };
    EXPECT_EQ(marks(), (QList<bool>{false, true, true}));

    // The stored items are read again, not the ones in memory.
    m_context->reset();
    static_cast<Datasource *>(object(0))->setName(QStringLiteral("  CAFE world "));
    static_cast<Datasource *>(object(1))->setCustomName(QStringLiteral("Tea daily"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(marks(), (QList<bool>{true, true, false}));

    static_cast<Datasource *>(object(0))->setName(QStringLiteral("World"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(marks(), (QList<bool>{false, true, false}));
}
