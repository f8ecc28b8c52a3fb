#pragma once

#include <QString>

namespace corvane {

// Free-text log lines ("error saving context: ..."): always written.
void logLine(const QString &message);

// Leveled log: a message is written only when its level bit is set in the
// mask stored under "LogLevel". The mask is read once, on first use.
bool logLevelEnabled(unsigned level);
void logAtLevel(unsigned level, const QString &message);

// Where log lines go; tests capture them. An empty sink restores stderr.
using LogSink = void (*)(const QString &line);
void setLogSink(LogSink sink);

} // namespace corvane
