#pragma once

#include <QDBusConnection>
#include <QObject>

namespace corvane::platform {

// Receives logind's PrepareForSleep(bool) and posts the wake notification when
// the argument is false (the machine has resumed). Lives on the main thread.
class SleepWatcher : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Subscribes on `bus`; false when the bus is not connected.
    bool watch(QDBusConnection bus);

public Q_SLOTS:
    void prepareForSleep(bool starting);
};

} // namespace corvane::platform
