#pragma once

#include "base/date.h"
#include "store/datasource.h"

#include <QByteArray>
#include <functional>

namespace corvane {


// When a subscription refreshes next. A subscription is due when it has not
// been refreshed in this run, has never been refreshed, or its interval has
// passed; Twitter rate limits may push the next refresh later.
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

// Tests and the battery check plug in here; unset means "on mains power".
void setOnBatteryProbe(std::function<bool()> probe);

} // namespace refreshschedule
} // namespace corvane
