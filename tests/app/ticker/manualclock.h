#pragma once

#include "ticker/appclock.h"

#include <QObject>
#include <QPointer>

#include <algorithm>
#include <vector>

namespace corvane::test {

// An AppClock whose time moves only when the test says so; advancing runs
// the timers that fall due, in the order of their due times.
class ManualClock final : public desktop::AppClock
{
public:
    explicit ManualClock(Date start = 1'800'000'000.0) : m_now(start) {}

    Date now() const override { return m_now; }

    void advance(double seconds)
    {
        const Date end = m_now + seconds;
        while (true) {
            auto next = std::min_element(m_timers.begin(), m_timers.end(),
                                         [](const Timer &a, const Timer &b) { return a.due < b.due; });
            if (next == m_timers.end() || next->due > end)
                break;
            m_now = std::max(m_now, next->due);
            Timer timer = *next;
            if (timer.repeating && timer.interval > 0)
                next->due += timer.interval;
            else
                m_timers.erase(next);
            if (timer.context)
                fire(*timer.state, timer.repeating, timer.task);
            m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                          [](const Timer &t) { return !t.context || t.state->cancelled; }),
                           m_timers.end());
        }
        m_now = end;
    }

    size_t pendingCount() const { return m_timers.size(); }

protected:
    void schedule(double seconds, bool repeating, QObject *context, std::shared_ptr<State> state,
                  std::function<void()> task) override
    {
        m_timers.push_back(Timer{m_now + seconds, seconds, repeating, QPointer<QObject>(context), std::move(state),
                                 std::move(task)});
    }

private:
    struct Timer
    {
        Date due;
        double interval;
        bool repeating;
        QPointer<QObject> context;
        std::shared_ptr<State> state;
        std::function<void()> task;
    };
    Date m_now;
    std::vector<Timer> m_timers;
};

} // namespace corvane::test
