#include "feeds/refresh/refreshschedule.h"

#include "base/feeddates.h"
#include "base/notificationcenter.h"
#include "base/settings.h"
#include "platform/power.h"
#include "store/datasource.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace corvane {

namespace refreshschedule {
namespace {

std::mutex g_lastUpdateMutex;
double g_lastUpdateSince1970 = 0;

std::mutex g_probeMutex;
std::function<bool()> g_onBattery;

bool onBattery()
{
    std::lock_guard lock(g_probeMutex);
    return g_onBattery ? g_onBattery() : platform::onBatteryPower();
}

} // namespace

void setOnBatteryProbe(std::function<bool()> probe)
{
    std::lock_guard lock(g_probeMutex);
    g_onBattery = std::move(probe);
}

qint32 defaultRefreshRate()
{
    Settings &settings = Settings::shared();
    const qint64 battery = settings.integer(QStringLiteral("batteryRefreshRate"));
    if (battery > 0 && onBattery())
        return qint32(battery);
    // A rate of 0 or less would make every feed due on every tick and the
    // randomised retry date undefined; a minute is the shortest interval.
    return qint32(std::max<qint64>(1, settings.integer(QStringLiteral("refreshRate"))));
}

qint32 refreshRateOrDefault(const Datasource &datasource)
{
    const qint32 own = datasource.refreshRate();
    return own > 0 ? own : defaultRefreshRate();
}

Date nextUpdateTime(const Datasource &datasource, Date now)
{
    const OptionalDate last = datasource.lastUpdateDate();
    Date next = last ? *last + refreshRateOrDefault(datasource) * 60.0 : now;
    if (const OptionalDate soonest = datasource.soonestPossibleRefresh(); soonest && *soonest > next)
        next = *soonest;
    return next;
}

bool updateNeeded(const Datasource &datasource, Date now)
{
    // For a feed the earliest refresh comes only from a server's Retry-After:
    // the server asked, so a wake or the hourly reset does not override it.
    if (const OptionalDate soonest = datasource.soonestPossibleRefresh();
        soonest && now < *soonest && !datasource.isTwitter())
        return false;
    if (!datasource.everUpdatedThisRun() || !datasource.lastUpdateDate())
        return true;
    return now >= nextUpdateTime(datasource, now);
}

void setLastUpdateDateNow(Datasource &datasource, bool completed, Date now)
{
    if (datasource.everUpdatedThisRun()) {
        datasource.setLastUpdateDate(now);
    } else {
        const quint32 sum = QRandomGenerator::global()->generate() + QRandomGenerator::global()->generate();
        const qint64 interval = std::max<qint64>(1, Settings::shared().integer(QStringLiteral("refreshRate"))) * 60;
        datasource.setLastUpdateDate(now - double(sum % quint64(interval)));
    }
    NotificationCenter::defaultCenter().post(kDatasourceConfigurationDidChangeNotification, &datasource);
    if (completed)
        setLastUpdateSince1970(now);
}

double lastUpdateSince1970()
{
    std::lock_guard lock(g_lastUpdateMutex);
    return g_lastUpdateSince1970;
}

void setLastUpdateSince1970(double seconds)
{
    std::lock_guard lock(g_lastUpdateMutex);
    g_lastUpdateSince1970 = seconds;
}

void setHttpResponse(Datasource &datasource, const HeaderLookup &header, Date now)
{
    if (!datasource.isTwitter())
        return;
    const qint32 limit = header(QByteArrayLiteral("X-RateLimit-Limit")).trimmed().toInt();
    const qint32 remaining = datasource.lastRateLimitRemaining();
    if (remaining == 0) {
        datasource.setLastRateLimitRemaining(limit);
        return;
    }
    const qint32 used = remaining - limit;
    datasource.setLastRateLimitRemaining(limit);

    const Date reset = header(QByteArrayLiteral("X-RateLimit-Reset")).trimmed().toDouble();
    const float untilReset = float(reset - now);
    const double perRefresh = (used > 0 ? used * 60.0 : 60.0) * refreshRateOrDefault(datasource);
    const double ratio = untilReset / perRefresh;
    const qint64 n = std::isfinite(ratio) ? qint64(ratio) : 0;
    if (n <= 0)
        datasource.setSoonestPossibleRefresh(reset);
    else
        datasource.setSoonestPossibleRefresh(now + (reset - now) / double(n + 1));
}

std::optional<double> retryAfterSeconds(const QByteArray &value, Date now)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const qulonglong seconds = text.toULongLong(&ok);
        // Too many digits for a number is a delay longer than any cap.
        return ok ? double(seconds) : kMaxRetryAfterSeconds;
    }
    // HTTP-date: IMF-fixdate, or the obsolete RFC 850 and asctime forms.
    const OptionalDate date = getDateFromString(QString::fromLatin1(text));
    if (!date)
        return std::nullopt;
    return *date - now;
}

void holdForRetryAfter(Datasource &datasource, int status, const HeaderLookup &header, Date now)
{
    if ((status != 429 && status != 503) || datasource.isTwitter())
        return;
    const std::optional<double> delay = retryAfterSeconds(header(QByteArrayLiteral("Retry-After")), now);
    if (!delay || *delay <= 0)
        return;
    const Date until = now + std::min(*delay, kMaxRetryAfterSeconds);
    const OptionalDate soonest = datasource.soonestPossibleRefresh();
    // A hold already further out stays only while it is within the cap from now.
    if (soonest && *soonest > until && *soonest <= now + kMaxRetryAfterSeconds)
        return;
    datasource.setSoonestPossibleRefresh(until);
}

} // namespace refreshschedule
} // namespace corvane
