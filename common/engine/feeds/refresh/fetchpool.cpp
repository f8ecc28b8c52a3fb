#include "feeds/refresh/fetchpool.h"

#include "base/date.h"

namespace corvane {

FetchPool::FetchPool()
    : now([] { return currentDate(); })
{
}

FetchPool::~FetchPool()
{
    waitUntilIdle();
}

int FetchPool::targetSize() const
{
    std::lock_guard lock(m_mutex);
    return kBaseSlots + m_extraSlots;
}

void FetchPool::resize(qint64 subscriptionCount)
{
    std::lock_guard lock(m_mutex);
    const double moment = now();
    if (m_lastAdjustment && moment - *m_lastAdjustment <= 60.0)
        return;
    m_lastAdjustment = moment;
    const int target = int(subscriptionCount / kSubscriptionsPerExtraSlot);
    while (m_extraSlots < target) {
        m_slots.release();
        ++m_extraSlots;
    }
    while (m_extraSlots > target) {
        // Taking a slot back may have to wait for a running fetch to end.
        --m_extraSlots;
        dispatch::global(dispatch::Priority::Low).async([this] { m_slots.acquire(); });
    }
}

bool FetchPool::submit(std::function<void()> work, std::function<void()> completion, qint64 subscriptionCount)
{
    resize(subscriptionCount);
    if (!m_slots.tryAcquire()) {
        completion();
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_inFlight;
    }
    dispatch::global(dispatch::Priority::Low).async([this, work = std::move(work), completion = std::move(completion)] {
        work();
        completion();
        m_slots.release();
        std::lock_guard lock(m_mutex);
        if (--m_inFlight == 0)
            m_idle.notify_all();
    });
    return true;
}

void FetchPool::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_inFlight == 0; });
}

} // namespace corvane
