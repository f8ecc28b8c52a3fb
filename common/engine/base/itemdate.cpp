#include "itemdate.h"

#include "feeddates.h"
#include "urltext.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace corvane {

namespace {

// Clocks of feed servers and readers disagree by a few minutes; within this
// a date ahead of now is taken as now.
constexpr double kToleratedClockSkew = 600;
constexpr double kHour = 3600;

QString trimmed(const QString &text)
{
    return trimWhiteSpaceAndNewlines(text).toString();
}

// The date from the element each format defines, read with that format's
// reader. An empty "dc:date" stands for the present moment.
OptionalDate dateFromFormatElement(const QHash<QString, QString> &fields, Date now)
{
    if (const auto it = fields.constFind(u"pubDate"_s); it != fields.cend())
        return dateWithRSSPubDate(trimmed(*it));
    if (const auto it = fields.constFind(u"published"_s); it != fields.cend())
        return dateWithAtomPubDate(trimmed(*it));
    if (const auto it = fields.constFind(u"dc:date"_s); it != fields.cend()) {
        const QString text = trimmed(*it);
        if (text.isEmpty())
            return now;
        return dateFromISO8601(text);
    }
    return std::nullopt;
}

// Feeds that the format readers could not read often still carry a usable
// text, also under a misspelt "pubdate". Only the first of these fields that
// is present is tried, even if a later one would parse. The fail-over parser
// trims it.
OptionalDate dateFromAnyElement(const QHash<QString, QString> &fields)
{
    for (const QString &key : {u"pubdate"_s, u"pubDate"_s, u"published"_s, u"dc:date"_s}) {
        if (const auto it = fields.constFind(key); it != fields.cend())
            return failOverParser(*it);
    }
    return std::nullopt;
}

Date withoutFutureOffset(Date date, Date now)
{
    const double ahead = date - now;
    if (ahead > kToleratedClockSkew) {
        date -= std::floor(ahead / kHour) * kHour;
        if (date > now)
            date -= kHour;
        return date;
    }
    if (ahead > 0)
        return now;
    return date;
}

} // namespace

Date dateForDictionary(const QHash<QString, QString> &fields, Date now)
{
    OptionalDate date = dateFromFormatElement(fields, now);
    if (!date)
        date = dateFromAnyElement(fields);
    return withoutFutureOffset(date.value_or(now), now);
}

} // namespace corvane
