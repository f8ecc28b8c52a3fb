#include "paths.h"

#include <QDir>
#include <QStandardPaths>

namespace corvane::paths {

namespace {

const QString kApplicationFolder = QStringLiteral("Corvane");

// $CORVANE_HOME/<sub> when set, else <XDG location>/Corvane. Created if missing.
QString folder(const char *subfolder, QStandardPaths::StandardLocation location)
{
    QString path;
    const QString home = qEnvironmentVariable("CORVANE_HOME");
    if (!home.isEmpty())
        path = QDir(home).filePath(QLatin1String(subfolder));
    else
        path = QDir(QStandardPaths::writableLocation(location)).filePath(kApplicationFolder);
    QDir().mkpath(path);
    return path;
}

} // namespace

QString configDir()
{
    return folder("config", QStandardPaths::GenericConfigLocation);
}

QString storeDir()
{
    return folder("data", QStandardPaths::GenericDataLocation);
}

QString cachesDir()
{
    return folder("caches", QStandardPaths::GenericCacheLocation);
}

QString settingsFilePath()
{
    return QDir(configDir()).filePath(QStringLiteral("Corvane.conf"));
}

} // namespace corvane::paths
