#pragma once

#include <QString>

namespace corvane::platform {

// True when running on battery: a system battery is present and no external
// supply (a "Mains" supply, or a USB charger reporting itself) is online.
// A machine without a battery, or whose supplies cannot be read, is on mains.
bool onBatteryPower();

// Where the power supplies are listed; /sys/class/power_supply unless tests
// point elsewhere. An empty path restores the default.
void setPowerSupplyDirectory(const QString &path);

} // namespace corvane::platform
