#pragma once

#include <QHash>
#include <QList>

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

    struct Registration
    {
        Context *context;
        dispatch::Queue *queue;
    };

    void registerContext(Context *context, dispatch::Queue *queue);
    void unregisterContext(const Context *context);
    dispatch::Queue *queueForContext(const Context *context) const;
    // Every registered context, as the registrations stand now.
    QList<Registration> registrations() const;

private:
    mutable std::mutex m_mutex;
    QHash<const Context *, Registration> m_registrations;
};

} // namespace corvane
