#pragma once

#include <QString>

namespace corvane::platform {

// Posted on NotificationCenter::defaultCenter(), on the main thread, when the
// machine has woken from sleep.
extern const QString kSystemDidWakeNotification;

// Starts listening for logind's PrepareForSleep signal on the system bus.
// Call once, on the main thread. Without a system bus it does nothing.
void startWatchingSystemWake();

} // namespace corvane::platform
