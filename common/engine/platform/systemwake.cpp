#include "systemwake.h"

#include "systemwake_p.h"

#include "base/dispatch.h"
#include "base/notificationcenter.h"

#include <QCoreApplication>

namespace corvane::platform {

const QString kSystemDidWakeNotification = QStringLiteral("SystemDidWake");

namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kPrepareForSleep = QStringLiteral("PrepareForSleep");

} // namespace

bool SleepWatcher::watch(QDBusConnection bus)
{
    if (!bus.isConnected())
        return false;
    // The match stays in place whether or not logind runs now; it is simply
    // never triggered without it.
    return bus.connect(kLogindService, kLogindPath, kLogindManager, kPrepareForSleep, this,
                       SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool starting)
{
    if (starting)
        return;
    if (dispatch::isMainThread())
        NotificationCenter::defaultCenter().post(kSystemDidWakeNotification);
    else
        dispatch::main().async([] { NotificationCenter::defaultCenter().post(kSystemDidWakeNotification); });
}

void startWatchingSystemWake()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    // Deleted with the application object.
    auto *watcher = new SleepWatcher(QCoreApplication::instance());
    if (!watcher->watch(QDBusConnection::systemBus()))
        delete watcher;
}

} // namespace corvane::platform
