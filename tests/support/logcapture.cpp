#include "logcapture.h"

#include "base/log.h"

#include <mutex>

namespace corvane::test {
namespace {

std::mutex g_lock;
QStringList g_lines;

void capture(const QString &line)
{
    std::lock_guard lock(g_lock);
    g_lines.append(line);
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    setLogSink(capture);
}

LogCapture::~LogCapture()
{
    setLogSink(nullptr);
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(g_lock);
    return g_lines;
}

void LogCapture::clear()
{
    std::lock_guard lock(g_lock);
    g_lines.clear();
}

bool LogCapture::contains(const QString &needle) const
{
    const QStringList all = lines();
    return std::any_of(all.cbegin(), all.cend(), [&](const QString &line) { return line.contains(needle); });
}

} // namespace corvane::test
