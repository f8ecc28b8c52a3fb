#include "feeds/refresh/fetchpool.h"
#include "feeds/refresh/refreshschedule.h"

#include "base/notificationcenter.h"
#include "base/settings.h"
#include "store/datasource.h"

#include "storefixture.h"

#include <QThread>

#include <atomic>

using namespace corvane;

namespace {

class RefreshSchedule : public test::StoreFixture
{
protected:
    RSSDatasource *savedFeed(const QString &url)
    {
        auto *feed = m_context->insert<RSSDatasource>();
        feed->setUrl(url);
        EXPECT_TRUE(m_context->save());
        return feed;
    }
    void TearDown() override
    {
        refreshschedule::setOnBatteryProbe(nullptr);
        Settings::shared().removeValue(QStringLiteral("batteryRefreshRate"));
        Settings::shared().removeValue(QStringLiteral("refreshRate"));
    }
};

} // namespace

TEST_F(RefreshSchedule, DueWhenNotRefreshedThisRunOrWhenTheIntervalHasPassed)
{
    Settings::shared().setValue(QStringLiteral("refreshRate"), 5);
    RSSDatasource *feed = savedFeed(QStringLiteral("http://a.org/due"));
    const Date now = 1'000'000;
    EXPECT_TRUE(refreshschedule::updateNeeded(*feed, now));

    feed->setEverUpdatedThisRun(true);
    EXPECT_TRUE(refreshschedule::updateNeeded(*feed, now)) << "never refreshed";
    feed->setLastUpdateDate(now - 299);
    EXPECT_FALSE(refreshschedule::updateNeeded(*feed, now));
    EXPECT_DOUBLE_EQ(refreshschedule::nextUpdateTime(*feed, now), now + 1);
    EXPECT_TRUE(refreshschedule::updateNeeded(*feed, now + 1)) << "due exactly at the next update time";

    feed->setRefreshRate(10);
    EXPECT_DOUBLE_EQ(refreshschedule::nextUpdateTime(*feed, now), now - 299 + 600);
    feed->setSoonestPossibleRefresh(now + 5000);
    EXPECT_DOUBLE_EQ(refreshschedule::nextUpdateTime(*feed, now), now + 5000);
    feed->setSoonestPossibleRefresh(std::nullopt);

    feed->setEverUpdatedThisRun(false);
    EXPECT_TRUE(refreshschedule::updateNeeded(*feed, now)) << "a wake or a new run makes it due";
}

TEST_F(RefreshSchedule, BatteryRateAppliesOnlyOnBatteryAndZeroRatesAreRaised)
{
    Settings &settings = Settings::shared();
    settings.setValue(QStringLiteral("refreshRate"), 5);
    settings.setValue(QStringLiteral("batteryRefreshRate"), 30);
    bool battery = true;
    refreshschedule::setOnBatteryProbe([&] { return battery; });
    RSSDatasource *feed = savedFeed(QStringLiteral("http://a.org/battery"));
    EXPECT_EQ(refreshschedule::refreshRateOrDefault(*feed), 30);
    battery = false;
    EXPECT_EQ(refreshschedule::refreshRateOrDefault(*feed), 5);
    feed->setRefreshRate(7);
    EXPECT_EQ(refreshschedule::refreshRateOrDefault(*feed), 7);

    settings.setValue(QStringLiteral("refreshRate"), 0);
    EXPECT_EQ(refreshschedule::defaultRefreshRate(), 1);
}

TEST_F(RefreshSchedule, LastUpdateDateIsNowAfterASuccessAndRandomisedForANewFailure)
{
    Settings::shared().setValue(QStringLiteral("refreshRate"), 5);
    RSSDatasource *feed = savedFeed(QStringLiteral("http://a.org/last"));
    int announced = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kDatasourceConfigurationDidChangeNotification, feed,
                            [&](const Notification &) { ++announced; });
    const Date now = 2'000'000;
    refreshschedule::setLastUpdateSince1970(0);
    for (int i = 0; i < 50; ++i) {
        refreshschedule::setLastUpdateDateNow(*feed, false, now);
        ASSERT_TRUE(feed->lastUpdateDate());
        EXPECT_LE(*feed->lastUpdateDate(), now);
        EXPECT_GT(*feed->lastUpdateDate(), now - 300);
    }
    EXPECT_EQ(refreshschedule::lastUpdateSince1970(), 0) << "a failure is not a successful refresh";

    feed->setEverUpdatedThisRun(true);
    refreshschedule::setLastUpdateDateNow(*feed, true, now);
    EXPECT_EQ(*feed->lastUpdateDate(), now);
    EXPECT_EQ(refreshschedule::lastUpdateSince1970(), now);
    EXPECT_EQ(announced, 51);
}

TEST_F(RefreshSchedule, TwitterRateLimitsSpreadTheRemainingRequestsUntilTheReset)
{
    Settings::shared().setValue(QStringLiteral("refreshRate"), 5);
    RSSDatasource *feed = savedFeed(QStringLiteral("@someone"));
    const Date now = 3'000'000;
    QHash<QByteArray, QByteArray> headers{{"X-RateLimit-Limit", "150"},
                                          {"X-RateLimit-Reset", QByteArray::number(qint64(now + 900))}};
    const auto lookup = [&](const QByteArray &name) { return headers.value(name); };

    refreshschedule::setHttpResponse(*feed, lookup, now);
    EXPECT_EQ(feed->lastRateLimitRemaining(), 150);
    EXPECT_FALSE(feed->soonestPossibleRefresh()) << "the first response only records the figure";

    refreshschedule::setHttpResponse(*feed, lookup, now);
    ASSERT_TRUE(feed->soonestPossibleRefresh());
    EXPECT_NEAR(*feed->soonestPossibleRefresh(), now + 225, 0.01);

    headers["X-RateLimit-Reset"] = QByteArray::number(qint64(now - 10));
    refreshschedule::setHttpResponse(*feed, lookup, now);
    EXPECT_EQ(*feed->soonestPossibleRefresh(), now - 10) << "a passed reset does not hold the feed back";

    RSSDatasource *plain = savedFeed(QStringLiteral("http://a.org/plain"));
    refreshschedule::setHttpResponse(*plain, lookup, now);
    EXPECT_EQ(plain->lastRateLimitRemaining(), 0) << "only Twitter subscriptions have rate limits";
}

TEST(FetchPool, SizeFollowsTheSubscriptionCountAndNeverRunsMoreThanItsSlots)
{
    FetchPool pool;
    double clock = 1000;
    pool.now = [&] { return clock; };

    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> worked{0};
    std::atomic<int> completed{0};
    auto work = [&] {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        QThread::msleep(150);
        --running;
        ++worked;
    };
    for (int i = 0; i < 12; ++i)
        pool.submit(work, [&] { ++completed; }, 61);
    pool.waitUntilIdle();
    EXPECT_EQ(pool.targetSize(), 7);
    EXPECT_EQ(completed.load(), 12) << "every submission completes, with or without a slot";
    EXPECT_LE(most.load(), 7);
    EXPECT_GE(most.load(), 2);
    EXPECT_LT(worked.load(), 12) << "submissions that find no free slot are not queued";

    pool.submit([] {}, [] {}, 29);
    EXPECT_EQ(pool.targetSize(), 7) << "resized at most once a minute";
    clock += 61;
    pool.submit([] {}, [] {}, 29);
    pool.waitUntilIdle();
    EXPECT_EQ(pool.targetSize(), 5);
}
