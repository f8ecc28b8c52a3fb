#include "base/relativetime.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>

#include "datetestutils.h"

using namespace corvane;
using namespace Qt::Literals::StringLiterals;

namespace {

using corvane::test::utc;

const Date kNow = utc(2024, 3, 10, 12);

} // namespace

TEST(RelativeTime, DescribesTheAgeInMinutesOrHours)
{
    struct Row
    {
        const char *name;
        double secondsAgo;
        QString expected;
    };
    const Row rows[] = {
        {"now", 0, u"0 minutes ago"_s},
        {"under-a-second", 0.9, u"0 minutes ago"_s},
        {"1s", 1, u"a minute ago"_s},
        {"30s", 30, u"a minute ago"_s},
        {"60s", 60, u"a minute ago"_s},
        {"61s", 61, u"2 minutes ago"_s},
        {"90s", 90, u"2 minutes ago"_s},
        {"59m30s", 59 * 60 + 30, u"60 minutes ago"_s},
        {"59m59.9s", 3599.9, u"60 minutes ago"_s},
        {"1h", 3600, u"a hour ago"_s},
        {"61m", 61 * 60, u"a hour ago"_s},
        {"1h59m59s", 7199, u"a hour ago"_s},
        {"2h", 7200, u"2 hours ago"_s},
        {"3h59m", 3 * 3600 + 59 * 60, u"3 hours ago"_s},
        {"25h", 25 * 3600, u"25 hours ago"_s},
        {"90s-in-the-future", -90, u"2 minutes ago"_s},
        {"3h-in-the-future", -3 * 3600, u"3 hours ago"_s},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(localizedTimeIntervalSinceNow(kNow - row.secondsAgo, kNow), row.expected);
    }
}

TEST(HoursSinceNow, CountsWholeHoursEitherWay)
{
    EXPECT_EQ(hoursSinceNow(kNow, kNow), 0);
    EXPECT_EQ(hoursSinceNow(kNow - 3599.9, kNow), 0);
    EXPECT_EQ(hoursSinceNow(kNow - 3600, kNow), 1);
    EXPECT_EQ(hoursSinceNow(kNow - 3 * 3600 - 3599, kNow), 3);
    EXPECT_EQ(hoursSinceNow(kNow + 7200.5, kNow), 2);
    EXPECT_EQ(hoursSinceNow(std::numeric_limits<double>::quiet_NaN(), kNow), 0);
    EXPECT_GT(hoursSinceNow(-std::numeric_limits<double>::infinity(), kNow), 0);
}

TEST(DateIsToday, SpansLocalMidnightToTheNextInTheGivenZone)
{
    struct Row
    {
        const char *name;
        QTimeZone zone;
        Date now;
        Date midnight; // local midnight of `now`
    };
    const Row rows[] = {
        {"berlin-winter", QTimeZone("Europe/Berlin"), utc(2024, 3, 10, 14), utc(2024, 3, 9, 23)},
        {"berlin-just-before-local-midnight", QTimeZone("Europe/Berlin"), utc(2024, 3, 10, 22, 59, 59),
         utc(2024, 3, 9, 23)},
        {"utc-minus-5-on-the-previous-utc-day", QTimeZone(-5 * 3600), utc(2024, 3, 10, 2),
         utc(2024, 3, 9, 5)},
        // Clocks went from 23:59:59 to 01:00 on 4 November 2018: the day starts at 01:00.
        {"sao-paulo-day-without-midnight", QTimeZone("America/Sao_Paulo"), utc(2018, 11, 4, 14),
         utc(2018, 11, 4, 3)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.zone.isValid());
        EXPECT_TRUE(dateIsToday(row.midnight, row.now, row.zone));
        EXPECT_TRUE(dateIsToday(row.now, row.now, row.zone));
        EXPECT_TRUE(dateIsToday(row.midnight + 23 * 3600 + 59 * 60, row.now, row.zone));
        EXPECT_TRUE(dateIsToday(row.midnight + 86399.9, row.now, row.zone));
        EXPECT_FALSE(dateIsToday(row.midnight + 86400, row.now, row.zone));
        EXPECT_FALSE(dateIsToday(row.midnight - 0.1, row.now, row.zone));
    }
}

// The day is counted as 86400 seconds even when daylight saving makes it 23 hours.
TEST(DateIsToday, CountsFullDayOnShortDaylightSavingDay)
{
    const QTimeZone berlin("Europe/Berlin");
    const Date now = utc(2024, 3, 31, 12);
    EXPECT_TRUE(dateIsToday(utc(2024, 3, 31, 22, 30), now, berlin));
    EXPECT_FALSE(dateIsToday(utc(2024, 3, 31, 23), now, berlin));
}

TEST(DateIsToday, RefusesUnrepresentableNow)
{
    EXPECT_FALSE(dateIsToday(0, std::numeric_limits<double>::quiet_NaN(), QTimeZone::utc()));
    EXPECT_FALSE(dateIsToday(1e300, 1e300, QTimeZone::utc()));
    EXPECT_TRUE(dateIsToday(kNow, kNow, QTimeZone::utc()));
}
