#include "base/feeddates.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "datetestutils.h"

using namespace corvane;
using namespace Qt::Literals::StringLiterals;

namespace {

using corvane::test::utc;

std::string describe(OptionalDate date)
{
    if (!date)
        return "none";
    return QDateTime::fromMSecsSinceEpoch(qint64(*date * 1000), Qt::UTC)
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

struct DateRow
{
    const char *name;
    QString text;
    OptionalDate expected;
};

void expectRows(OptionalDate (*parse)(const QString &), const std::vector<DateRow> &rows)
{
    for (const DateRow &row : rows) {
        SCOPED_TRACE(row.name);
        const OptionalDate date = parse(row.text);
        EXPECT_EQ(date, row.expected)
            << describe(date) << " instead of " << describe(row.expected) << " from "
            << row.text.left(80).toStdString();
    }
}

const Date kJune10 = utc(2003, 6, 10, 4);
const Date kDecember13 = utc(2003, 12, 13, 18, 30, 2);
const QString kNul(QChar(0));

} // namespace

TEST(RssPubDate, ReadsTheFormsFeedsWrite)
{
    expectRows(dateWithRSSPubDate, {
        {"four-digit-year", u"Tue, 10 Jun 2003 04:00:00 GMT"_s, kJune10},
        {"two-digit-year", u"Tue, 10 Jun 03 04:00:00 GMT"_s, kJune10},
        {"full-month-name", u"Tue, 10 June 2003 04:00:00 GMT"_s, kJune10},
        {"lower-case-names", u"tue, 10 jun 2003 04:00:00 gmt"_s, kJune10},
        {"weekday-not-matching-the-date", u"Fri, 10 Jun 2003 04:00:00 GMT"_s, kJune10},
        {"zone-ut", u"Tue, 10 Jun 2003 04:00:00 UT"_s, kJune10},
        {"zone-utc", u"Tue, 10 Jun 2003 04:00:00 UTC"_s, kJune10},
        {"numeric-zone-east", u"Tue, 10 Jun 2003 06:00:00 +0200"_s, kJune10},
        {"numeric-zone-west-half-hour", u"Mon, 09 Jun 2003 22:30:00 -0530"_s, kJune10},
        {"long-zone-name", u"Tue, 10 Jun 2003 06:00:00 Central European Summer Time"_s, kJune10},
        {"two-digit-99-is-1999", u"Thu, 10 Jun 99 04:00:00 GMT"_s, utc(1999, 6, 10, 4)},
        {"two-digit-71-is-1971", u"Thu, 10 Jun 71 04:00:00 GMT"_s, utc(1971, 6, 10, 4)},
        {"two-digit-70-is-2070", u"Tue, 10 Jun 70 04:00:00 GMT"_s, utc(2070, 6, 10, 4)},
    });
}

TEST(RssPubDate, RefusesWhatIsNotAWholeValidDate)
{
    expectRows(dateWithRSSPubDate, {
        {"empty", QString(), std::nullopt},
        {"garbage", u"yesterday"_s, std::nullopt},
        {"trailing-text", u"Tue, 10 Jun 2003 04:00:00 GMT and more"_s, std::nullopt},
        {"trailing-nul", u"Tue, 10 Jun 2003 04:00:00 GMT"_s + kNul, std::nullopt},
        {"missing-seconds", u"Tue, 10 Jun 2003 04:00 GMT"_s, std::nullopt},
        {"day-32", u"Tue, 32 Jun 2003 04:00:00 GMT"_s, std::nullopt},
        {"february-29-of-common-year", u"Sat, 29 Feb 2003 04:00:00 GMT"_s, std::nullopt},
        {"hour-24", u"Tue, 10 Jun 2003 24:00:00 GMT"_s, std::nullopt},
        {"minutes-60", u"Tue, 10 Jun 2003 04:60:00 GMT"_s, std::nullopt},
        {"atom-form", u"2003-12-13T18:30:02Z"_s, std::nullopt},
    });
}

// Both readers see RSS dates; a two-digit year must mean the same to both.
TEST(RssPubDate, AgreesWithTheGeneralParserOnTwoDigitYears)
{
    for (const char16_t *year : {u"00", u"03", u"50", u"69", u"70", u"71", u"99"}) {
        const QString text = u"10 Jun "_s + QStringView(year) + u" 04:00:00 GMT"_s;
        SCOPED_TRACE(text.toStdString());
        const OptionalDate rss = dateWithRSSPubDate(u"Tue, "_s + text);
        ASSERT_TRUE(rss.has_value());
        EXPECT_EQ(rss, getDateFromString(text));
    }
}

// Each round starts its threads together on the same fresh texts built from
// literals: the first use of such a text is where sharing it between threads
// has gone wrong before.
TEST(RssPubDate, ParsesOnManyThreadsAtOnce)
{
    std::atomic<int> wrong = 0;
    for (int round = 0; round < 20; ++round) {
        const std::vector<DateRow> rows = {
            {"four-digit-year", u"Tue, 10 Jun 2003 04:00:00 GMT"_s, kJune10},
            {"two-digit-year", u"Tue, 10 Jun 03 04:00:00 GMT"_s, kJune10},
            {"numeric-zone", u"Tue, 10 Jun 2003 06:00:00 +0200"_s, kJune10},
            {"refused", u"Tue, 32 Jun 2003 04:00:00 GMT"_s, std::nullopt},
        };
        std::latch start(4);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&rows, &wrong, &start] {
                start.arrive_and_wait();
                for (size_t i = 0; i < 100; ++i) {
                    const DateRow &row = rows[i % rows.size()];
                    if (dateWithRSSPubDate(row.text) != row.expected)
                        ++wrong;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

TEST(AtomPubDate, ReadsOnlyTheUtcFormWithoutFraction)
{
    expectRows(dateWithAtomPubDate, {
        {"utc", u"2003-12-13T18:30:02Z"_s, kDecember13},
        {"leap-day", u"2004-02-29T00:00:00Z"_s, utc(2004, 2, 29)},
        {"fraction", u"2003-12-13T18:30:02.25Z"_s, std::nullopt},
        {"numeric-offset", u"2003-12-13T18:30:02+01:00"_s, std::nullopt},
        {"fraction-and-offset", u"2003-12-13T18:30:02.25+01:00"_s, std::nullopt},
        {"no-zone", u"2003-12-13T18:30:02"_s, std::nullopt},
        {"two-digit-year", u"03-12-13T18:30:02Z"_s, std::nullopt},
        {"one-digit-fields", u"2003-2-3T8:3:2Z"_s, std::nullopt},
        {"month-13", u"2003-13-13T18:30:02Z"_s, std::nullopt},
        {"february-30", u"2004-02-30T18:30:02Z"_s, std::nullopt},
        {"hour-24", u"2003-12-13T24:30:02Z"_s, std::nullopt},
        {"leading-space", u" 2003-12-13T18:30:02Z"_s, std::nullopt},
        {"empty", QString(), std::nullopt},
    });
}

TEST(Iso8601Date, ReadsCalendarDatesWithOptionalTimeAndZone)
{
    expectRows(dateFromISO8601, {
        {"date-only-is-utc-midnight", u"2003-12-13"_s, utc(2003, 12, 13)},
        {"utc", u"2003-12-13T18:30:02Z"_s, kDecember13},
        {"lower-case-letters", u"2003-12-13t18:30:02z"_s, kDecember13},
        {"no-seconds", u"2003-12-13T18:30Z"_s, utc(2003, 12, 13, 18, 30)},
        {"no-zone-is-utc", u"2003-12-13T18:30:02"_s, kDecember13},
        {"fraction-kept", u"2003-12-13T18:30:02.25Z"_s, kDecember13 + 0.25},
        {"long-fraction", u"2003-12-13T18:30:02.5000000000001Z"_s, kDecember13 + 0.5},
        {"offset-with-colon", u"2003-12-13T19:30:02+01:00"_s, kDecember13},
        {"offset-without-colon", u"2003-12-13T19:30:02+0100"_s, kDecember13},
        {"offset-hours-only", u"2003-12-13T19:30:02+01"_s, kDecember13},
        {"negative-half-hour-offset", u"2003-12-13T13:00:02-05:30"_s, kDecember13},
        {"leap-day", u"2004-02-29"_s, utc(2004, 2, 29)},
        {"before-1970", u"1969-12-31T23:59:59Z"_s, -1.0},
    });
}

TEST(Iso8601Date, RefusesOtherTexts)
{
    const char *texts[] = {
        "", "2003-12", "20031213", "03-12-13", "2003-13-01", "2003-00-01", "2003-12-32",
        "2003-04-31", "2003-02-29", "2003-12-13T", "2003-12-13T18", "2003-12-13T24:00",
        "2003-12-13T18:60", "2003-12-13T18:30:60", "2003-12-13T18:30:02.", "2003-12-13T18:30:02+24:00",
        "2003-12-13T18:30:02+01:60", "2003-12-13 18:30:02Z", "2003-12-13T18:30:02Z junk",
        "2003-12-13Z", "Tue, 10 Jun 2003 04:00:00 GMT",
    };
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(dateFromISO8601(QString::fromLatin1(text)), std::nullopt);
    }
}

TEST(GeneralDateParser, ReadsRfc822Rfc850AndAsctime)
{
    expectRows(getDateFromString, {
        {"rfc-822", u"Tue, 10 Jun 2003 04:00:00 GMT"_s, kJune10},
        {"rfc-850", u"Tuesday, 10-Jun-03 04:00:00 GMT"_s, kJune10},
        {"asctime", u"Tue Jun 10 04:00:00 2003"_s, kJune10},
        {"named-zone", u"Tue, 10 Jun 2003 00:00:00 EDT"_s, kJune10},
        {"zone-plus-1400", u"Tue, 10 Jun 2003 18:00:00 +1400"_s, kJune10},
    });
}

// Each refused text differs from a readable one only by what is refused.
TEST(GeneralDateParser, RefusesNonAsciiNulAndUnreadableTexts)
{
    const QString readable = u"10 Jun 2003 04:00:00 GMT"_s;
    ASSERT_EQ(getDateFromString(readable), kJune10);
    expectRows(getDateFromString, {
        {"empty", QString(), std::nullopt},
        {"garbage", u"not a date"_s, std::nullopt},
        {"zone-beyond-1400", u"Tue, 10 Jun 2003 04:00:00 +1401"_s, std::nullopt},
        {"non-ascii-space", readable + QChar(0x00A0), std::nullopt},
        {"non-ascii-letter", readable + u" \u00E9"_s, std::nullopt},
        {"embedded-nul", readable + kNul + u"garbage"_s, std::nullopt},
        {"megabyte", QString(1 << 20, u'x'), std::nullopt},
    });
}

TEST(FailOverParser, RepairsAndReadsWhatTheFormatReadersRefuse)
{
    expectRows(failOverParser, {
        {"ut-zone-without-seconds", u"Tue, 10 Jun 2003 04:00 UT"_s, kJune10},
        {"ut-zone-with-seconds", u"Tue, 10 Jun 2003 04:00:00 UT"_s, kJune10},
        {"missing-seconds", u"Tue, 10 Jun 2003 04:00 GMT"_s, kJune10},
        {"one-digit-day", u"Tue, 1 Jun 2003 04:00:00 GMT"_s, utc(2003, 6, 1, 4)},
        {"unicode-white-space-around",
         u"\u2028\u00A0 Tue, 10 Jun 2003 04:00 UT\n\u3000"_s, kJune10},
        {"fraction-and-offset", u"2003-12-13T18:30:02.25+01:00"_s, utc(2003, 12, 13, 17, 30, 2)},
        {"utc", u"2003-12-13T18:30:02Z"_s, kDecember13},
        {"lower-case-letters", u"2003-12-13t18:30:02z"_s, kDecember13},
        {"long-fraction", u"2003-12-13T18:30:02.123456789012345678Z"_s, kDecember13},
        {"missing-seconds-before-offset", u"2003-12-13T12:34+02:00"_s, utc(2003, 12, 13, 10, 34)},
        {"minutes-at-end", u"2003-12-13T18:30"_s, utc(2003, 12, 13, 18, 30)},
        {"hour-only", u"2003-12-13T18"_s, utc(2003, 12, 13, 18)},
        {"offset-minutes-ignored", u"2003-12-13T18:30:02+05:30"_s, utc(2003, 12, 13, 13, 30, 2)},
        {"negative-offset", u"2003-12-13T18:30:02-05:00"_s, utc(2003, 12, 13, 23, 30, 2)},
        {"offset-12", u"2003-12-13T10:00+12"_s, utc(2003, 12, 12, 22)},
        {"offset-minus-13-passes", u"2003-12-13T10:00-13"_s, utc(2003, 12, 13, 23)},
        {"hour-modulo-24", u"2003-12-13T26:30:00Z"_s, utc(2003, 12, 13, 2, 30)},
        {"negative-hour-counts-back", u"2003-12-13T-1:00Z"_s, utc(2003, 12, 12, 23)},
        {"date-only-is-end-of-day", u"2003-12-13"_s, utc(2003, 12, 13, 23, 59)},
        {"two-digit-year", u"03-12-13"_s, utc(2003, 12, 13, 23, 59)},
        {"spaces-between-tokens", u"2003 - 12 - 13"_s, utc(2003, 12, 13, 23, 59)},
        {"day-31-of-april-carries-over", u"2003-04-31"_s, utc(2003, 5, 1, 23, 59)},
        {"no-day-is-day-0", u"2003-05"_s, utc(2003, 4, 30, 23, 59)},
    });
}

TEST(FailOverParser, RefusesOutOfRangeAndUnreadableTexts)
{
    expectRows(failOverParser, {
        {"empty", QString(), std::nullopt},
        {"white-space", u" \n\t "_s, std::nullopt},
        {"garbage", u"not a date"_s, std::nullopt},
        {"month-13", u"2003-13-13"_s, std::nullopt},
        {"month-0", u"2003-0-13"_s, std::nullopt},
        {"day-32", u"2003-12-32"_s, std::nullopt},
        {"day-0", u"2003-12-0"_s, std::nullopt},
        {"minutes-60", u"2003-12-13T18:60Z"_s, std::nullopt},
        {"seconds-60", u"2003-12-13T18:30:60Z"_s, std::nullopt},
        {"zone-13", u"2003-12-13T18:30:02+13:00"_s, std::nullopt},
        {"zone-as-four-digits", u"2003-12-13T18:30:02+0100"_s, std::nullopt},
        {"missing-month", u"2003-"_s, std::nullopt},
        {"missing-hour", u"2003-12-13T"_s, std::nullopt},
        {"missing-minutes", u"2003-12-13T18:"_s, std::nullopt},
        {"missing-fraction", u"2003-12-13T18:30:02."_s, std::nullopt},
        {"year-beyond-32-bits", u"99999999999-01-01"_s, std::nullopt},
        {"hour-beyond-32-bits", u"2003-12-13T99999999999Z"_s, std::nullopt},
        {"zone-beyond-32-bits", u"2003-12-13T18:30:02-99999999999"_s, std::nullopt},
        {"non-ascii-digits", u"\u0662\u0660\u0660\u0663-12-13"_s, std::nullopt},
        {"embedded-nul", u"2003-12-13"_s + kNul + u"T18:30:02Z"_s, std::nullopt},
        {"megabyte", QString(1 << 20, u'7') + u"-12-13"_s, std::nullopt},
    });
}
