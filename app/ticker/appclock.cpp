#include "appclock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace corvane::desktop {

void TimerHandle::cancel()
{
    if (m_state)
        m_state->cancelled = true;
}

bool TimerHandle::isPending() const
{
    return m_state && !m_state->cancelled && !m_state->fired;
}

TimerHandle AppClock::after(double seconds, QObject *context, std::function<void()> task)
{
    auto state = newState();
    schedule(seconds, false, context, state, std::move(task));
    return handle(state);
}

TimerHandle AppClock::every(double seconds, QObject *context, std::function<void()> task)
{
    auto state = newState();
    schedule(seconds, true, context, state, std::move(task));
    return handle(state);
}

void AppClock::fire(State &state, bool repeating, const std::function<void()> &task)
{
    if (state.cancelled || state.fired)
        return;
    if (!repeating)
        state.fired = true;
    task();
}

namespace {

class SystemClock final : public AppClock
{
public:
    Date now() const override { return currentDate(); }

protected:
    void schedule(double seconds, bool repeating, QObject *context, std::shared_ptr<State> state,
                  std::function<void()> task) override
    {
        auto *timer = new QTimer(context);
        timer->setSingleShot(!repeating);
        // Ticks of a fraction of a second do not need millisecond precision;
        // coarse timers let the system bundle wake-ups.
        timer->setTimerType(seconds < 1 ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, repeating, state, task = std::move(task)] {
            fire(*state, repeating, task);
            if (!repeating || state->cancelled)
                timer->deleteLater();
        });
        timer->start(int(seconds * 1000));
    }
};

} // namespace

AppClock &AppClock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace corvane::desktop
