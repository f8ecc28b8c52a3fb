#include "power.h"

#include <QDir>
#include <QFile>

#include <mutex>

namespace corvane::platform {

namespace {

const QString kDefaultPowerSupplyDirectory = QStringLiteral("/sys/class/power_supply");

std::mutex g_directoryMutex;
QString g_directory;

QString powerSupplyDirectory()
{
    std::lock_guard lock(g_directoryMutex);
    return g_directory.isEmpty() ? kDefaultPowerSupplyDirectory : g_directory;
}

// One attribute of a supply, trimmed; empty when it cannot be read.
QByteArray attribute(const QDir &supply, const char *name)
{
    QFile file(supply.filePath(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(256).trimmed();
}

} // namespace

bool onBatteryPower()
{
    const QDir directory(powerSupplyDirectory());
    const QStringList supplies = directory.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    bool battery = false;
    for (const QString &name : supplies) {
        const QDir supply(directory.filePath(name));
        const QByteArray type = attribute(supply, "type");
        if (type == "Mains" || type.startsWith("USB")) {
            // A USB-C charger may be the only external supply a laptop lists.
            if (attribute(supply, "online") == "1")
                return false;
        } else if (type == "Battery") {
            // Batteries of mice and keyboards say scope "Device"; they do not power the machine.
            if (attribute(supply, "scope") != "Device" && attribute(supply, "present") != "0")
                battery = true;
        }
    }
    return battery;
}

void setPowerSupplyDirectory(const QString &path)
{
    std::lock_guard lock(g_directoryMutex);
    g_directory = path;
}

} // namespace corvane::platform
