#pragma once

#include "dispatch.h"

#include <QtGlobal>

#include <mutex>

namespace corvane {

class Settings;

// The Lamport clock that stamps every change travelling between machines.
// A local change takes currentIncreased(); a stamp received from elsewhere
// lifts the clock through remote(). The value is persisted under
// "LamportTimestamp" on the clock's own queue, in the order the values were
// set, so after a restart the clock continues where it stopped.
class Clock
{
public:
    static constexpr qint64 kDistantPast = -256;
    static constexpr qint64 kDefaultPast = -1024;

    explicit Clock(Settings &settings);
    ~Clock();
    Clock(const Clock &) = delete;
    Clock &operator=(const Clock &) = delete;

    static Clock &sharedClock();

    qint64 current() const;
    qint64 currentIncreased();
    qint64 remote(qint64 stamp);
    void setCurrent(qint64 value);

    static constexpr qint64 distantPast() { return kDistantPast; }
    static constexpr qint64 defaultPast() { return kDefaultPast; }

    // Blocks until every value set so far has been persisted.
    void flush();

private:
    void setCurrentLocked(qint64 value);
    void persistLatest();

    Settings &m_settings;
    mutable std::mutex m_lock;
    qint64 m_current = 0;
    bool m_persistPending = false;
    dispatch::SerialQueue m_queue;
};

} // namespace corvane
