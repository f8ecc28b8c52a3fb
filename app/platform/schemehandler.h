#pragma once

#include <QList>
#include <QString>

namespace corvane::desktop::schemehandler {

// An application registered for a URL scheme by its .desktop file.
struct Handler
{
    QString desktopId; // "org.corvane.Corvane.desktop"
    QString name;      // its display name
};

// The applications whose .desktop files (in the XDG data folders, the user's
// first) declare "x-scheme-handler/<scheme>", each id once, sorted by name.
QList<Handler> handlers(const QString &scheme);

// The desktop id of the default application for the scheme, as xdg-mime
// tells it; empty when there is none or xdg-mime cannot be run.
QString defaultHandler(const QString &scheme);

// Makes `desktopId` the default application for the scheme (xdg-mime).
bool setDefaultHandler(const QString &desktopId, const QString &scheme);

// The id under which Corvane's own .desktop file is installed.
QString ownDesktopId();

} // namespace corvane::desktop::schemehandler
