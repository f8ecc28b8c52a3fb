#include "feeds/refresh/networkstate.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"
#include "platform/reachability.h"

#include <mutex>

namespace corvane::networkstate {

const QString kNetworkBecameReachableNotification = QStringLiteral("NetworkBecameReachable");

namespace {

std::mutex g_mutex;
bool g_reachable = false;
std::once_flag g_monitorOnce;

void setReachable(bool reachable)
{
    bool becameReachable = false;
    {
        std::lock_guard lock(g_mutex);
        becameReachable = reachable && !g_reachable;
        g_reachable = reachable;
    }
    if (becameReachable)
        dispatch::main().async([] { NotificationCenter::defaultCenter().post(kNetworkBecameReachableNotification); });
}

void poll()
{
    setReachable(platform::networkReachable());
    dispatch::global(dispatch::Priority::Low).after(1.0, poll);
}

void startMonitor()
{
    std::call_once(g_monitorOnce, [] {
        // The first answer comes at once, so a reachable machine starts refreshing on the first tick.
        setReachable(platform::networkReachable());
        dispatch::global(dispatch::Priority::Low).after(1.0, poll);
    });
}

} // namespace

bool internetAvailable()
{
    startMonitor();
    std::lock_guard lock(g_mutex);
    return g_reachable;
}

void internetMightBeUnavailable()
{
    std::lock_guard lock(g_mutex);
    g_reachable = false;
}

} // namespace corvane::networkstate
