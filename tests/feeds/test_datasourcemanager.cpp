#include "refreshfixture.h"
#include "feeds/subscriptions/subscriptionlist.h"

#include "base/clock.h"
#include "base/urltext.h"
#include "store/category.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"

using namespace corvane;

namespace {

class Manager : public corvane::test::RefreshFixture
{
};

} // namespace

TEST_F(Manager, AddingFindsAnExistingSubscriptionByItsNormalisedAddress)
{
    RSSDatasource *first = addFeed(QStringLiteral("http://news.example/rss.xml"));
    EXPECT_TRUE(first->enabled());
    EXPECT_EQ(addFeed(QStringLiteral("feed://news.example/rss.xml")), first);
    RSSDatasource *second = addFeed(QStringLiteral("http://news.example/other.xml"));
    EXPECT_NE(second, first);
    EXPECT_EQ(second->position(), first->position() + 1);
    EXPECT_EQ(manager->datasourcesForMain(), (QList<Datasource *>{first, second}));

    // Within a category only that category's subscriptions count.
    auto *category = main()->insert<Category>();
    category->setName(QStringLiteral("Work"));
    RSSDatasource *filed = subscriptionlist::addFeedWithURL(QStringLiteral("http://news.example/rss.xml"), main(), category);
    EXPECT_NE(filed, first);
    EXPECT_EQ(filed->category(), category);
    EXPECT_EQ(filed->position(), 1);
}

TEST_F(Manager, DefaultsAreCreatedOnlyForAnEmptyStoreAndOnlyOnce)
{
    Settings &settings = Settings::shared();
    Context *background = manager->contextBackground();
    addFeed(QStringLiteral("http://mine.example/rss"));
    settings.removeValue(QStringLiteral("DefaultFeedsAlreadyCreated"));
    background->performBlockConfinedAndWait([&] {
        EXPECT_FALSE(subscriptionlist::shouldCreateDefaultDatasourcesFromContext(background));
    });
    EXPECT_TRUE(settings.boolean(QStringLiteral("DefaultFeedsAlreadyCreated"))) << "marked even without defaults";

    manager->deleteDatasourceOrCategory(manager->datasourcesForMain().value(0));
    settings.removeValue(QStringLiteral("DefaultFeedsAlreadyCreated"));
    background->performBlockConfinedAndWait([&] {
        ASSERT_TRUE(subscriptionlist::shouldCreateDefaultDatasourcesFromContext(background));
        subscriptionlist::createDefaultDatasourcesFromContext(background);
        KeywordHelper::createDefaultKeywordsFromContext(background);
        EXPECT_FALSE(subscriptionlist::shouldCreateDefaultDatasourcesFromContext(background));
    });
    settle();
    const QList<Datasource *> defaults = manager->datasourcesForMain();
    ASSERT_EQ(defaults.size(), 4);
    QStringList urls;
    for (Datasource *datasource : defaults) {
        urls.append(datasource->url());
        EXPECT_EQ(datasource->clock(), Clock::defaultPast());
        EXPECT_EQ(datasource->customName(), datasource->name());
    }
    EXPECT_EQ(urls, subscriptionlist::defaultSourceUrls());
    EXPECT_EQ(defaults[1]->category(), defaults[2]->category());
    EXPECT_EQ(defaults[0]->category()->uuid(), Category::uuidForDefaultName(QStringLiteral("News")));
    QStringList keywords;
    for (const Keyword *keyword : KeywordHelper::shared().keywordsForContext(main()))
        keywords.append(keyword->name());
    EXPECT_EQ(keywords, (QStringList{QStringLiteral("breaking news"), QStringLiteral("Apple")}));
}

TEST_F(Manager, AnAddressThatIsNoUrlIsRetriedUntilItsFourthFailureThenWaits)
{
    // Adding refuses such an address; one arrives from other machines or older data.
    EXPECT_FALSE(addFeed(QStringLiteral("http://exa mple.org/feed")));
    RSSDatasource *feed = subscriptionlist::insertFeed(QStringLiteral("http://exa mple.org/feed"), main(), nullptr, 1);
    ASSERT_TRUE(StoreManager::saveFromContext(main()));
    ASSERT_FALSE(feedURL(feed->url()));
    for (int round = 1; round <= 3; ++round) {
        refreshRound(1);
        EXPECT_EQ(feed->failedTries(), round);
        main()->refresh(feed, false);
        EXPECT_FALSE(feed->lastUpdateDate()) << "still due after failure " << round;
    }
    refreshRound(1);
    EXPECT_EQ(feed->failedTries(), 4);
    main()->refresh(feed, false);
    EXPECT_TRUE(feed->lastUpdateDate()) << "the fourth failure waits like any other";

    const int requests = server.requestCount();
    manager->update();
    settle();
    EXPECT_EQ(server.requestCount(), requests);
}

TEST_F(Manager, ATwitterSubscriptionFailsCleanlyAndDisabledOnesAreNotRefreshed)
{
    RSSDatasource *twitter = addFeed(QStringLiteral("@someone"));
    serve(QStringLiteral("/off.xml"), "<rss version=\"2.0\"><channel><item><title>x</title></item></channel></rss>");
    RSSDatasource *off = subscriptionlist::addFeedWithURL(local(QStringLiteral("/off.xml")), main());
    off->setEnabled(false);
    ASSERT_TRUE(main()->save());
    refreshRound(1);
    EXPECT_EQ(errorOf(twitter), QStringLiteral("Error fetching"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/off.xml")), 0);
}
