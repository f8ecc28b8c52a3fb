#include "reachability.h"

#include "base/dispatch.h"
#include "base/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkInformation>

#include <atomic>
#include <mutex>

namespace corvane::platform {

namespace {

const QString kAssumeReachableKey = QStringLiteral("AssumeNetworkReachable");
const QString kDefaultRouteDirectory = QStringLiteral("/proc/net");

// Route flags of <linux/route.h>.
constexpr uint kRouteUp = 0x0001;
constexpr uint kRouteReject = 0x0200;

std::atomic<bool> g_assumeReachable{false};

std::mutex g_routeDirectoryMutex;
QString g_routeDirectory;

// The backend's last reachability report, -1 while none is loaded. Written on
// the main thread (where the backend lives), read from any thread.
std::atomic<int> g_backendReachability{-1};
std::atomic<bool> g_backendRequested{false};

QString routeDirectory()
{
    std::lock_guard lock(g_routeDirectoryMutex);
    return g_routeDirectory.isEmpty() ? kDefaultRouteDirectory : g_routeDirectory;
}

// Runs on the main thread: the backend object and its signals live there.
void loadBackend()
{
    if (!QNetworkInformation::instance()
        && !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *info = QNetworkInformation::instance();
    if (!info)
        return;
    QObject::connect(info, &QNetworkInformation::reachabilityChanged, info,
                     [](QNetworkInformation::Reachability reachability) {
                         g_backendReachability.store(int(reachability));
                     });
    g_backendReachability.store(int(info->reachability()));
}

// Asks for the backend once. From another thread the load is posted to the
// main thread; without an application object it is asked again next time.
void requestBackend()
{
    if (g_backendRequested.exchange(true))
        return;
    if (dispatch::isMainThread()) {
        loadBackend();
        return;
    }
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &loadBackend, Qt::QueuedConnection);
    else
        g_backendRequested.store(false);
}

bool backendSaysReachable()
{
    const int reachability = g_backendReachability.load();
    return reachability == int(QNetworkInformation::Reachability::Online)
           || reachability == int(QNetworkInformation::Reachability::Site);
}

// Whitespace-separated fields of a routing table line.
QList<QByteArray> fields(const QByteArray &line)
{
    QList<QByteArray> result = line.simplified().split(' ');
    result.removeAll(QByteArray());
    return result;
}

bool usableRoute(const QByteArray &flagsHex, const QByteArray &interface)
{
    bool ok = false;
    const uint flags = flagsHex.toUInt(&ok, 16);
    return ok && (flags & kRouteUp) && !(flags & kRouteReject) && interface != "lo";
}

bool allZeros(const QByteArray &hex)
{
    return !hex.isEmpty() && hex.count('0') == hex.size();
}

// /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
bool ipv4DefaultRoute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // the first line names the columns
        const QList<QByteArray> f = fields(lines[i]);
        if (f.size() < 8)
            continue;
        if (allZeros(f[1]) && allZeros(f[7]) && usableRoute(f[3], f[0]))
            return true;
    }
    return false;
}

// /proc/net/ipv6_route: destination prefix-length source prefix-length
// next-hop metric refcount use flags interface
bool ipv6DefaultRoute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = fields(line);
        if (f.size() < 10)
            continue;
        if (allZeros(f[0]) && allZeros(f[1]) && usableRoute(f[8], f[9]))
            return true;
    }
    return false;
}

} // namespace

bool hasDefaultRoute(const QString &directory)
{
    const QDir dir(directory);
    return ipv4DefaultRoute(dir.filePath(QStringLiteral("route")))
           || ipv6DefaultRoute(dir.filePath(QStringLiteral("ipv6_route")));
}

bool networkReachable()
{
    if (g_assumeReachable.load() || Settings::shared().boolean(kAssumeReachableKey))
        return true;
    requestBackend();
    // The backend can miss interfaces it does not manage, and the main table
    // can miss routes of other tables (VPNs), so either one saying yes counts.
    return backendSaysReachable() || hasDefaultRoute(routeDirectory());
}

void setAssumeReachable(bool assume)
{
    g_assumeReachable.store(assume);
}

void setRouteTableDirectory(const QString &path)
{
    std::lock_guard lock(g_routeDirectoryMutex);
    g_routeDirectory = path;
}

} // namespace corvane::platform
