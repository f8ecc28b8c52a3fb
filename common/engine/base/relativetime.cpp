#include "relativetime.h"

#include <QDateTime>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace corvane {

namespace {

// Bounds that keep conversions to integers defined: intervals clamp at
// about 285 million years (seconds, inside qint64); "now" must lie within
// about 300,000 years of 1970 (milliseconds, inside QDateTime's range).
// Neither is reached by a real date.
constexpr double kSecondsLimit = 9.0e15;
constexpr double kNowLimit = 1.0e13;

// |date - now| in whole seconds, the fraction cut off.
qint64 wholeSecondsApart(Date date, Date now)
{
    const double seconds = std::fabs(std::trunc(date - now));
    if (std::isnan(seconds))
        return 0;
    return seconds >= kSecondsLimit ? qint64(kSecondsLimit) : qint64(seconds);
}

} // namespace

Date currentDate()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

bool dateIsToday(Date date, Date now, const QTimeZone &zone)
{
    if (!std::isfinite(now) || std::fabs(now) >= kNowLimit)
        return false;
    const QDateTime current =
        QDateTime::fromMSecsSinceEpoch(qint64(std::floor(now * 1000)), zone);
    // startOfDay() is midnight, or the first moment of the day in zones where
    // a daylight-saving change skips midnight.
    const QDateTime midnight = current.date().startOfDay(zone);
    if (!midnight.isValid())
        return false;
    const Date start = midnight.toMSecsSinceEpoch() / 1000.0;
    return date >= start && date < start + 86400;
}

qint64 hoursSinceNow(Date date, Date now)
{
    return wholeSecondsApart(date, now) / 3600;
}

QString localizedTimeIntervalSinceNow(Date date, Date now)
{
    const qint64 seconds = wholeSecondsApart(date, now);
    const qint64 hours = seconds / 3600;
    if (hours == 1)
        return u"a hour ago"_s;
    if (hours > 1)
        return QString::number(hours) + u" hours ago"_s;
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes == 1)
        return u"a minute ago"_s;
    return QString::number(minutes) + u" minutes ago"_s;
}

} // namespace corvane
