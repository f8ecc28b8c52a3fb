#include "memoryprobe.h"

#include <QByteArrayView>
#include <QFile>

namespace corvane::test {
namespace {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
qint64 statusKb(QByteArrayView field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field) && line.size() > field.size() && line[field.size()] == ':')
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

PeakGrowth::PeakGrowth()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    m_reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    m_start = m_reset ? statusKb("VmRSS") : statusKb("VmHWM");
}

qint64 PeakGrowth::kb() const
{
    return statusKb("VmHWM") - m_start;
}

} // namespace corvane::test
