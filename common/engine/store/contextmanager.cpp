#include "contextmanager.h"

namespace corvane {

ContextManager &ContextManager::shared()
{
    static ContextManager manager;
    return manager;
}

void ContextManager::registerContext(const Context *context, dispatch::Queue *queue)
{
    std::lock_guard lock(m_mutex);
    m_queues.insert(context, queue);
}

void ContextManager::unregisterContext(const Context *context)
{
    std::lock_guard lock(m_mutex);
    m_queues.remove(context);
}

dispatch::Queue *ContextManager::queueForContext(const Context *context) const
{
    std::lock_guard lock(m_mutex);
    return m_queues.value(context);
}

} // namespace corvane
