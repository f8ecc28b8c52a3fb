#include "schemehandler.h"

#include "desktopentry.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace corvane::desktop::schemehandler {

namespace {

constexpr int kXdgMimeTimeoutMs = 5000;

QString mimeType(const QString &scheme)
{
    return QStringLiteral("x-scheme-handler/") + scheme;
}

// The "applications" folders in XDG order of precedence.
QStringList applicationFolders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

// Runs xdg-mime; its standard output, or nothing when it cannot be run or fails.
std::optional<QByteArray> xdgMime(const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (program.isEmpty())
        return std::nullopt;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kXdgMimeTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

QList<Handler> handlers(const QString &scheme)
{
    const QString wanted = mimeType(scheme);
    QList<Handler> result;
    QSet<QString> seen;
    for (const QString &folder : applicationFolders()) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            // Files in sub-folders get ids joined by "-" (kde4/app.desktop -> kde4-app.desktop).
            const QString id = QDir(folder).relativeFilePath(path).replace(u'/', u'-');
            if (seen.contains(id))
                continue;
            seen.insert(id); // the first folder's file hides later ones, handler or not
            const DesktopEntry entry = DesktopEntry::read(path);
            if (entry.flag(QStringLiteral("Hidden")) || !entry.list(QStringLiteral("MimeType")).contains(wanted))
                continue;
            const QString name = entry.value(QStringLiteral("Name"));
            result.append({id, name.isEmpty() ? id : name});
        }
    }
    std::sort(result.begin(), result.end(), [](const Handler &a, const Handler &b) {
        const int byName = QString::localeAwareCompare(a.name, b.name);
        return byName != 0 ? byName < 0 : a.desktopId < b.desktopId;
    });
    return result;
}

QString defaultHandler(const QString &scheme)
{
    const auto output = xdgMime({QStringLiteral("query"), QStringLiteral("default"), mimeType(scheme)});
    return output ? QString::fromUtf8(*output).trimmed() : QString();
}

bool setDefaultHandler(const QString &desktopId, const QString &scheme)
{
    if (desktopId.isEmpty() || !desktopId.endsWith(QLatin1String(".desktop")))
        return false;
    return xdgMime({QStringLiteral("default"), desktopId, mimeType(scheme)}).has_value();
}

QString ownDesktopId()
{
    return QStringLiteral("org.corvane.Corvane.desktop");
}

} // namespace corvane::desktop::schemehandler
