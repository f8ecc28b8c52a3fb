#pragma once

#include "base/dispatch.h"

#include <QSemaphore>

#include <functional>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace corvane {

// Runs refreshes on low-priority pool threads, at most 5 at once plus one
// for every 30 subscriptions. A submission that finds no free slot runs its
// completion at once, so the subscription stays due and is tried again on a
// later tick; nothing waits for a slot. The slot is taken on the submitting
// thread (the serial background queue), so a submission costs no hop to a
// queue of its own.
class FetchPool
{
public:
    static constexpr int kBaseSlots = 5;
    static constexpr int kSubscriptionsPerExtraSlot = 30;

    FetchPool();
    ~FetchPool();
    FetchPool(const FetchPool &) = delete;
    FetchPool &operator=(const FetchPool &) = delete;

    // `subscriptionCount` sizes the pool; it is looked at once a minute at most.
    // Answers whether the work got a slot (without one, `completion` has run).
    bool submit(std::function<void()> work, std::function<void()> completion, qint64 subscriptionCount);
    // Whether a submission now would find a slot: a round need not prepare
    // refreshes that would only be turned away.
    bool hasFreeSlot() const { return m_slots.available() > 0; }

    // The number of fetches the pool admits at once once pending resizes have run.
    int targetSize() const;
    // Blocks until every submitted piece of work and completion has run (tests, shutdown).
    void waitUntilIdle();

    // Tests move the clock of the once-a-minute resize.
    std::function<double()> now;

private:
    void resize(qint64 subscriptionCount);

    QSemaphore m_slots{kBaseSlots};
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_extraSlots = 0;
    std::optional<double> m_lastAdjustment;
    int m_inFlight = 0;
};

} // namespace corvane
