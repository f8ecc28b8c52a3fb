#include "base/itemdate.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datetestutils.h"

using namespace corvane;
using namespace Qt::Literals::StringLiterals;

namespace {

using corvane::test::utc;

std::string describe(Date date)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(date * 1000), Qt::UTC)
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

const Date kNow = utc(2024, 3, 10, 12);
const Date kJune10 = utc(2003, 6, 10, 4);

struct ItemRow
{
    const char *name;
    QHash<QString, QString> fields;
    Date expected;
};

void expectRows(const std::vector<ItemRow> &rows)
{
    for (const ItemRow &row : rows) {
        SCOPED_TRACE(row.name);
        const Date date = dateForDictionary(row.fields, kNow);
        EXPECT_EQ(date, row.expected) << describe(date) << " instead of " << describe(row.expected);
    }
}

} // namespace

TEST(ItemDate, ReadsEachFormatsElementWithItsReader)
{
    expectRows({
        {"rss-pub-date", {{u"pubDate"_s, u"Tue, 10 Jun 2003 04:00:00 GMT"_s}}, kJune10},
        {"rss-pub-date-trimmed", {{u"pubDate"_s, u"\n  Tue, 10 Jun 03 04:00:00 GMT\u00A0\n"_s}}, kJune10},
        {"atom-published", {{u"published"_s, u"2003-06-10T04:00:00Z"_s}}, kJune10},
        {"dublin-core-with-fraction", {{u"dc:date"_s, u" 2003-06-10T06:00:00.5+02:00 "_s}}, kJune10 + 0.5},
        {"dublin-core-date-only", {{u"dc:date"_s, u"2003-06-10 "_s}}, utc(2003, 6, 10)},
        {"pub-date-wins-over-published",
         {{u"pubDate"_s, u"Tue, 10 Jun 2003 04:00:00 GMT"_s}, {u"published"_s, u"2001-01-01T00:00:00Z"_s}},
         kJune10},
        {"published-wins-over-dc-date",
         {{u"published"_s, u"2003-06-10T04:00:00Z"_s}, {u"dc:date"_s, u"2001-01-01"_s}}, kJune10},
    });
}

TEST(ItemDate, FallsBackToTheFailOverParserOrNow)
{
    expectRows({
        {"rss-with-ut-zone", {{u"pubDate"_s, u"Tue, 10 Jun 2003 04:00 UT"_s}}, kJune10},
        {"atom-with-fraction-and-offset", {{u"published"_s, u"2003-06-10T05:00:00.25+01:00"_s}}, kJune10},
        {"lower-case-pubdate-only", {{u"pubdate"_s, u"Tue, 10 Jun 2003 04:00:00 GMT"_s}}, kJune10},
        {"lower-case-pubdate-before-pub-date",
         {{u"pubDate"_s, u""_s}, {u"pubdate"_s, u"2003-06-10T04:00Z"_s}}, kJune10},
        {"dc-date-with-two-digit-year", {{u"dc:date"_s, u"03-06-10"_s}}, utc(2003, 6, 10, 23, 59)},
        // The first present field is the only one tried, though a later one would parse.
        {"unreadable-pub-date-hides-published",
         {{u"pubDate"_s, u"soon"_s}, {u"published"_s, u"2003-06-10T04:00:00Z"_s}}, kNow},
        {"unreadable-everywhere", {{u"pubDate"_s, u"soon"_s}}, kNow},
        {"empty-dc-date", {{u"dc:date"_s, u""_s}}, kNow},
        {"white-space-dc-date", {{u"dc:date"_s, u" \n\t"_s}}, kNow},
        {"no-date-field", {{u"title"_s, u"Hello"_s}}, kNow},
        {"no-fields", {}, kNow},
    });
}

TEST(ItemDate, MovesFutureDatesIntoThePast)
{
    expectRows({
        {"5h20m-ahead-is-40m-ago", {{u"dc:date"_s, u"2024-03-10T17:20:00Z"_s}}, kNow - 40 * 60},
        {"half-second-ahead-is-now", {{u"dc:date"_s, u"2024-03-10T12:00:00.5Z"_s}}, kNow},
        {"5m-ahead-is-now", {{u"dc:date"_s, u"2024-03-10T12:05:00Z"_s}}, kNow},
        {"600s-ahead-is-now", {{u"dc:date"_s, u"2024-03-10T12:10:00Z"_s}}, kNow},
        {"601s-ahead-goes-back-an-hour", {{u"dc:date"_s, u"2024-03-10T12:10:01Z"_s}}, kNow + 601 - 3600},
        {"whole-hours-ahead-is-now", {{u"dc:date"_s, u"2024-03-10T15:00:00Z"_s}}, kNow},
        {"two-days-ahead", {{u"dc:date"_s, u"2024-03-12T12:30:00Z"_s}}, kNow - 30 * 60},
        {"past-kept", {{u"dc:date"_s, u"2024-03-10T11:59:59Z"_s}}, kNow - 1},
        {"far-past-kept", {{u"pubDate"_s, u"Tue, 10 Jun 2003 04:00:00 GMT"_s}}, kJune10},
    });
}
