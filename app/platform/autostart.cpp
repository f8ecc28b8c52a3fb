#include "autostart.h"

#include "desktopentry.h"
#include "schemehandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace corvane::desktop::autostart {

namespace {

QString entryPath()
{
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                               .filePath(QStringLiteral("autostart"));
    return QDir(folder).filePath(schemehandler::ownDesktopId());
}

} // namespace

bool isEnabled()
{
    const QString path = entryPath();
    if (!QFile::exists(path))
        return false;
    const DesktopEntry entry = DesktopEntry::read(path);
    return !entry.flag(QStringLiteral("Hidden"))
           && entry.value(QStringLiteral("X-GNOME-Autostart-enabled")) != u"false";
}

bool setEnabled(bool on)
{
    const QString path = entryPath();
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // The program as it runs now, so a start from another place keeps working.
    const QString exec = quotedExecArgument(QCoreApplication::applicationFilePath()) + QStringLiteral(" --autostart");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(desktopEntryText({
        {QStringLiteral("Type"), QStringLiteral("Application")},
        {QStringLiteral("Name"), QStringLiteral("Corvane")},
        {QStringLiteral("Comment"), QStringLiteral("News bar at the edge of the screen")},
        {QStringLiteral("Exec"), exec},
        {QStringLiteral("Icon"), QStringLiteral("org.corvane.Corvane")},
        {QStringLiteral("Terminal"), QStringLiteral("false")},
        {QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true")},
    }));
    return file.commit();
}

} // namespace corvane::desktop::autostart
