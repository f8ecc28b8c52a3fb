#pragma once

#include <QString>

namespace corvane::paths {

// Where Corvane keeps its files. With CORVANE_HOME set (tests, portable
// installs) everything lives below that folder; otherwise the XDG folders
// of the user are used. The folders are created on first request.
QString configDir();   // settings file
QString storeDir();    // object store, snapshots, OPML backups
QString cachesDir();   // HTTP cache, files of the earlier data format

QString settingsFilePath();

} // namespace corvane::paths
