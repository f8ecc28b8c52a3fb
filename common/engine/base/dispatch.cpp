#include "dispatch.h"

#include "corvaneassert.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane::dispatch {

namespace {

int milliseconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return int(std::min(std::ceil(seconds * 1000.0), double(std::numeric_limits<int>::max())));
}

// Posts a task into the event loop of the thread `context` lives in.
void post(QObject *context, Task task)
{
    QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

void postAfter(QObject *context, double seconds, Task task)
{
    const int ms = milliseconds(seconds);
    post(context, [context, ms, task = std::move(task)]() mutable {
        QTimer::singleShot(ms, context, std::move(task));
    });
}

// The main queue: the event loop of the application object's thread.
class MainQueue final : public Queue
{
public:
    MainQueue()
        : Queue(QStringLiteral("main"))
    {
    }

    void async(Task task) override { post(application(), std::move(task)); }

    void sync(Task task) override
    {
        if (isCurrent()) {
            task();
            return;
        }
        QMetaObject::invokeMethod(application(), std::move(task), Qt::BlockingQueuedConnection);
    }

    void after(double seconds, Task task) override { postAfter(application(), seconds, std::move(task)); }

    bool isCurrent() const override { return isMainThread(); }

private:
    static QObject *application()
    {
        QCoreApplication *app = QCoreApplication::instance();
        CORVANE_ASSERT(app, "the main queue needs an application object");
        return app;
    }
};

thread_local const Queue *t_currentPoolQueue = nullptr;

// A concurrent queue over a thread pool.
class PoolQueue final : public Queue
{
public:
    PoolQueue(const QString &label, QThreadPool *pool, bool lowPriority)
        : Queue(label)
        , m_pool(pool)
        , m_lowPriority(lowPriority)
    {
    }

    void async(Task task) override
    {
        m_pool->start([this, task = std::move(task)] {
            if (m_lowPriority)
                lowerThisThreadsPriority();
            const Queue *previous = std::exchange(t_currentPoolQueue, this);
            task();
            t_currentPoolQueue = previous;
        });
    }

    void sync(Task task) override
    {
        const Queue *previous = std::exchange(t_currentPoolQueue, this);
        task();
        t_currentPoolQueue = previous;
    }

    void after(double seconds, Task task) override
    {
        timerQueue().after(seconds, [this, task = std::move(task)]() mutable { async(std::move(task)); });
    }

    bool isCurrent() const override { return t_currentPoolQueue == this; }

private:
    // Pool threads are never raised again once lowered (an unprivileged
    // process may not), so a low-priority pool keeps its own threads.
    static void lowerThisThreadsPriority()
    {
        thread_local bool lowered = false;
        if (lowered)
            return;
        lowered = true;
        const auto tid = id_t(::syscall(SYS_gettid));
        ::setpriority(PRIO_PROCESS, tid, 10);
    }

    static SerialQueue &timerQueue()
    {
        static SerialQueue queue(QStringLiteral("org.corvane.timers"));
        return queue;
    }

    QThreadPool *m_pool;
    bool m_lowPriority;
};

} // namespace

Queue::Queue(QString label)
    : m_label(std::move(label))
{
}

Queue::~Queue() = default;

SerialQueue::SerialQueue(const QString &label)
    : Queue(label)
    , m_thread(std::make_unique<QThread>())
    , m_context(new QObject)
{
    m_thread->setObjectName(label);
    m_context->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
}

SerialQueue::~SerialQueue()
{
    CORVANE_ASSERT(!isCurrent(), "a serial queue cannot be destroyed from its own thread");
    QThread *thread = m_thread.get();
    if (QCoreApplication::instance())
        async([thread] { thread->quit(); });
    else
        thread->quit(); // process exit: events are no longer delivered, so stop at once
    // The context is deleted on its thread as the loop ends (deleteLater on finished).
    m_thread->wait();
}

void SerialQueue::async(Task task)
{
    post(m_context, std::move(task));
}

void SerialQueue::sync(Task task)
{
    if (isCurrent()) {
        task();
        return;
    }
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::BlockingQueuedConnection);
}

void SerialQueue::after(double seconds, Task task)
{
    postAfter(m_context, seconds, std::move(task));
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == m_thread.get();
}

void SerialQueue::drain()
{
    sync([] {});
}

Queue &main()
{
    static MainQueue queue;
    return queue;
}

Queue &global(Priority priority)
{
    static PoolQueue defaultQueue(QStringLiteral("global.default"), QThreadPool::globalInstance(), false);
    // Fetches block on the network while they hold a slot; the fetch pool
    // bounds how many run, so this pool only needs headroom.
    static QThreadPool lowPool;
    static const bool sized = (lowPool.setMaxThreadCount(64), true);
    Q_UNUSED(sized);
    static PoolQueue lowQueue(QStringLiteral("global.low"), &lowPool, true);
    return priority == Priority::Low ? lowQueue : defaultQueue;
}

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace corvane::dispatch
