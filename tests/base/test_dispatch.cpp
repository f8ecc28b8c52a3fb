#include "base/dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <gtest/gtest.h>

#include "spinuntil.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace corvane;

TEST(SerialQueue, RunsTasksInSubmissionOrderOnItsOwnThread)
{
    std::vector<int> order;
    std::atomic<bool> wrongThread{false};
    {
        dispatch::SerialQueue queue(QStringLiteral("org.corvane.test"));
        for (int i = 0; i < 1000; ++i)
            queue.async([&, i] {
                if (!queue.isCurrent() || dispatch::isMainThread())
                    wrongThread = true;
                order.push_back(i);
            });
        EXPECT_FALSE(queue.isCurrent());
        EXPECT_EQ(queue.label(), QStringLiteral("org.corvane.test"));
    } // destruction runs what was submitted
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(order[size_t(i)], i);
    EXPECT_FALSE(wrongThread);
}

TEST(SerialQueue, SyncRunsInlineOnItsOwnQueueAndWaitsFromOthers)
{
    dispatch::SerialQueue queue(QStringLiteral("org.corvane.test"));
    std::vector<int> order;
    queue.async([&] { QThread::msleep(20); order.push_back(1); });
    queue.sync([&] {
        order.push_back(2);
        queue.sync([&] { order.push_back(3); }); // nested: inline, no deadlock
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, AfterRunsLaterThanWorkSubmittedNow)
{
    dispatch::SerialQueue queue(QStringLiteral("org.corvane.test"));
    std::mutex mutex;
    std::vector<int> order;
    QSemaphore done;
    queue.after(0.3, [&] { std::lock_guard l(mutex); order.push_back(2); done.release(); });
    queue.async([&] { std::lock_guard l(mutex); order.push_back(1); });
    ASSERT_TRUE(done.tryAcquire(1, 10000));
    std::lock_guard l(mutex);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MainQueue, TasksFromOtherThreadsRunOnTheMainThread)
{
    EXPECT_TRUE(dispatch::main().isCurrent());
    std::atomic<int> ranOnMain{0};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        EXPECT_FALSE(dispatch::main().isCurrent());
        dispatch::main().async([&] { ranOnMain += dispatch::isMainThread() ? 1 : 100; });
        dispatch::main().after(0.05, [&] { ranOnMain += dispatch::isMainThread() ? 1 : 100; });
    }));
    worker->start();
    worker->wait();
    EXPECT_TRUE(test::spinUntil([&] { return ranOnMain >= 2; }));
    EXPECT_EQ(ranOnMain, 2);
}

TEST(GlobalQueue, LowPriorityWorkRunsNicedAndKnowsItsQueue)
{
    QSemaphore done;
    std::atomic<int> niceness{0};
    std::atomic<bool> current{false}, otherCurrent{true};
    dispatch::global(dispatch::Priority::Low).async([&] {
        niceness = ::getpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)));
        current = dispatch::global(dispatch::Priority::Low).isCurrent();
        otherCurrent = dispatch::global().isCurrent();
        done.release();
    });
    ASSERT_TRUE(done.tryAcquire(1, 10000));
    EXPECT_GE(niceness, 10);
    EXPECT_TRUE(current);
    EXPECT_FALSE(otherCurrent);

    dispatch::global().after(0.01, [&] { done.release(); });
    EXPECT_TRUE(done.tryAcquire(1, 10000));
}
