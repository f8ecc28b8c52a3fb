#include "contextmanager.h"

namespace corvane {

ContextManager &ContextManager::shared()
{
    static ContextManager manager;
    return manager;
}

void ContextManager::registerContext(Context *context, dispatch::Queue *queue)
{
    std::lock_guard lock(m_mutex);
    m_registrations.insert(context, Registration{context, queue});
}

void ContextManager::unregisterContext(const Context *context)
{
    std::lock_guard lock(m_mutex);
    m_registrations.remove(context);
}

dispatch::Queue *ContextManager::queueForContext(const Context *context) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_registrations.constFind(context);
    return it == m_registrations.cend() ? nullptr : it->queue;
}

QList<ContextManager::Registration> ContextManager::registrations() const
{
    std::lock_guard lock(m_mutex);
    return m_registrations.values();
}

} // namespace corvane
