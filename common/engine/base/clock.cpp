#include "clock.h"

#include "settings.h"

#include <QCoreApplication>

namespace corvane {

namespace {

const QString kTimestampKey = QStringLiteral("LamportTimestamp");

} // namespace

Clock::Clock(Settings &settings)
    : m_settings(settings)
    , m_queue(QStringLiteral("org.corvane.clock"))
{
    bool ok = false;
    const qint64 stored = m_settings.value(kTimestampKey).toLongLong(&ok);
    m_current = ok ? stored : 0;
}

Clock::~Clock()
{
    flush();
}

Clock &Clock::sharedClock()
{
    // Never destroyed: stamps may still be taken while the process exits.
    static Clock *clock = [] {
        auto *c = new Clock(Settings::shared());
        // Write the last stamp before the application object goes away.
        qAddPostRoutine([] { Clock::sharedClock().flush(); });
        return c;
    }();
    return *clock;
}

qint64 Clock::current() const
{
    std::lock_guard lock(m_lock);
    return m_current;
}

qint64 Clock::currentIncreased()
{
    std::lock_guard lock(m_lock);
    setCurrentLocked(m_current + 1);
    return m_current;
}

qint64 Clock::remote(qint64 stamp)
{
    std::lock_guard lock(m_lock);
    if (m_current < stamp)
        setCurrentLocked(stamp);
    return m_current;
}

void Clock::setCurrent(qint64 value)
{
    std::lock_guard lock(m_lock);
    setCurrentLocked(value);
}

// One write is queued at a time and writes the newest value when it runs, so
// a burst of stamps costs one file write and the file ends with the last
// value set.
void Clock::setCurrentLocked(qint64 value)
{
    m_current = value;
    if (m_persistPending)
        return;
    m_persistPending = true;
    m_queue.async([this] { persistLatest(); });
}

void Clock::persistLatest()
{
    qint64 value;
    {
        std::lock_guard lock(m_lock);
        value = m_current;
        m_persistPending = false;
    }
    m_settings.setValue(kTimestampKey, value);
}

void Clock::flush()
{
    m_queue.drain();
}

} // namespace corvane
