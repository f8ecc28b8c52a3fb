#pragma once

// What the bar's benchmark programs share: the process's own figures, the
// event loop left to run, and a home of their own with no first-run feeds.
#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <sys/resource.h>

namespace corvane::bench {

inline long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop (sleeping between events) for that long.
inline void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Keeps every file below `home`, without the first-run subscriptions.
inline Settings &useHome(const QString &home)
{
    qputenv("CORVANE_HOME", home.toLocal8Bit());
    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    return settings;
}

// The engine on that home, never refreshing: the figures are the bar's.
inline DatasourceManager::Options quietEngine()
{
    DatasourceManager::Options options;
    options.startTimer = false;
    options.fetches = false;
    return options;
}

} // namespace corvane::bench
