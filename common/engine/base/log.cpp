#include "log.h"

#include "settings.h"

#include <QDateTime>

#include <atomic>
#include <cstdio>

namespace corvane {

namespace {

std::atomic<LogSink> g_sink{nullptr};

void writeToStderr(const QString &line)
{
    const QByteArray text = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' '
                            + line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
}

} // namespace

void setLogSink(LogSink sink)
{
    g_sink.store(sink);
}

void logLine(const QString &message)
{
    if (LogSink sink = g_sink.load())
        sink(message);
    else
        writeToStderr(message);
}

bool logLevelEnabled(unsigned level)
{
    static const unsigned mask = unsigned(Settings::shared().integer(QStringLiteral("LogLevel")));
    return (mask & level) != 0;
}

void logAtLevel(unsigned level, const QString &message)
{
    if (logLevelEnabled(level))
        logLine(message);
}

} // namespace corvane
