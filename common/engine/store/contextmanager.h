#pragma once

#include <QHash>

#include <mutex>

namespace corvane {

class Context;
namespace dispatch { class Queue; }

// The table from each long-lived context to the queue that owns it.
// Registration is synchronous, so a lookup sees every registration made
// before it on any thread.
class ContextManager
{
public:
    static ContextManager &shared();

    void registerContext(const Context *context, dispatch::Queue *queue);
    void unregisterContext(const Context *context);
    dispatch::Queue *queueForContext(const Context *context) const;

private:
    mutable std::mutex m_mutex;
    QHash<const Context *, dispatch::Queue *> m_queues;
};

} // namespace corvane
