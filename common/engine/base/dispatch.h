#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QThread;
class QThreadPool;

namespace corvane::dispatch {

using Task = std::function<void()>;

// Where work runs. Every queue takes tasks from any thread.
class Queue
{
public:
    explicit Queue(QString label);
    virtual ~Queue();
    Queue(const Queue &) = delete;
    Queue &operator=(const Queue &) = delete;

    const QString &label() const { return m_label; }

    virtual void async(Task task) = 0;
    // Runs the task and returns when it has finished; inline when called from
    // the queue itself (or, for a concurrent queue, on the calling thread).
    virtual void sync(Task task) = 0;
    // Runs the task asynchronously once `seconds` have passed.
    virtual void after(double seconds, Task task) = 0;
    virtual bool isCurrent() const = 0;

private:
    QString m_label;
};

// A queue backed by one thread with its own event loop: tasks run one at a
// time in the order they were submitted. Timers and network objects created
// inside a task live on that thread. Destroying the queue runs the tasks
// already submitted, then stops the thread; tasks still waiting in after()
// are dropped, and so is everything once the application object is gone.
class SerialQueue final : public Queue
{
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue() override;

    void async(Task task) override;
    void sync(Task task) override;
    void after(double seconds, Task task) override;
    bool isCurrent() const override;

    // Blocks until every task submitted before the call has run.
    void drain();

private:
    std::unique_ptr<QThread> m_thread;
    QObject *m_context;
};

enum class Priority { Default, Low };

// The main thread's event loop. Needs a QCoreApplication.
Queue &main();
// Concurrent queues over thread pools. Low-priority threads run niced, so
// fetches and clean-ups yield to the interface.
Queue &global(Priority priority = Priority::Default);

bool isMainThread();

} // namespace corvane::dispatch
