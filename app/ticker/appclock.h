#pragma once

#include "base/date.h"

#include <functional>
#include <memory>

class QObject;

namespace corvane::desktop {

// A pending timer of an AppClock. Dropping the handle does not cancel it.
class TimerHandle
{
public:
    TimerHandle() = default;
    void cancel();
    bool isPending() const;

private:
    friend class AppClock;
    struct State
    {
        bool cancelled = false;
        bool fired = false; // one-shot timers only
    };
    explicit TimerHandle(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

// Time and timers of the interface (ticks, countdowns, delays), so that tests
// can drive them without sleeping. Timers run on the main thread and are
// dropped when their context object is destroyed.
class AppClock
{
public:
    virtual ~AppClock() = default;

    virtual Date now() const = 0;
    TimerHandle after(double seconds, QObject *context, std::function<void()> task);
    TimerHandle every(double seconds, QObject *context, std::function<void()> task);

    // The wall clock and Qt timers.
    static AppClock &system();

protected:
    using State = TimerHandle::State;
    static std::shared_ptr<State> newState() { return std::make_shared<State>(); }
    static TimerHandle handle(std::shared_ptr<State> state) { return TimerHandle(std::move(state)); }
    // Runs the task unless the timer was cancelled; one-shot timers are
    // marked fired first.
    static void fire(State &state, bool repeating, const std::function<void()> &task);

    virtual void schedule(double seconds, bool repeating, QObject *context, std::shared_ptr<State> state,
                          std::function<void()> task) = 0;
};

} // namespace corvane::desktop
