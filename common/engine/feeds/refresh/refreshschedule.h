#pragma once

#include "base/date.h"
#include "store/datasource.h"

#include <QByteArray>
#include <functional>
#include <optional>

namespace corvane {


// When a subscription refreshes next. A subscription is due when it has not
// been refreshed in this run, has never been refreshed, or its interval has
// passed; Twitter rate limits may push the next refresh later, and a feed
// server's Retry-After holds the feed back even when it is due otherwise.
namespace refreshschedule {

// Minutes between refreshes of a subscription without its own rate: the
// "batteryRefreshRate" setting on battery when it is above 0, else
// "refreshRate" (never below 1).
qint32 defaultRefreshRate();
qint32 refreshRateOrDefault(const Datasource &datasource);
Date nextUpdateTime(const Datasource &datasource, Date now = currentDate());
bool updateNeeded(const Datasource &datasource, Date now = currentDate());

// Moves lastUpdateDate to now after a completed refresh; after a failed one
// to a random point within the last refresh interval, so failing feeds do not
// all retry together. `completed` also sets the process-wide time of the last
// successful refresh.
void setLastUpdateDateNow(Datasource &datasource, bool completed, Date now = currentDate());

// Process-wide time of the last successful refresh (seconds since 1970, 0 = none).
double lastUpdateSince1970();
void setLastUpdateSince1970(double seconds);

// Reads the rate-limit headers of a Twitter response and spreads the
// remaining requests until the reset over the refresh interval.
using HeaderLookup = std::function<QByteArray(const QByteArray &name)>;
void setHttpResponse(Datasource &datasource, const HeaderLookup &header, Date now = currentDate());

// A server's "Retry-After" (RFC 9110, section 10.2.3) on a 429 or 503:
// delay-seconds or an HTTP-date. The next refresh of the subscription waits
// at least that long, at most kMaxRetryAfterSeconds; other statuses, a
// missing or unreadable value and a time already past change nothing.
constexpr double kMaxRetryAfterSeconds = 24 * 3600;
std::optional<double> retryAfterSeconds(const QByteArray &value, Date now);
void holdForRetryAfter(Datasource &datasource, int status, const HeaderLookup &header, Date now = currentDate());

// Tests and the battery check plug in here; unset means "on mains power".
void setOnBatteryProbe(std::function<bool()> probe);

} // namespace refreshschedule
} // namespace corvane
