#include "applifetimepropertymanager.h"

#include "base/notificationcenter.h"

namespace corvane {

const QString kAppLifetimePropertyChangedNotification = QStringLiteral("AppLifetimePropertyChanged");

AppLifetimePropertyManager &AppLifetimePropertyManager::shared()
{
    static AppLifetimePropertyManager manager;
    return manager;
}

QVariant AppLifetimePropertyManager::value(const QString &uri, const QString &property) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_values.constFind(uri);
    return it == m_values.cend() ? QVariant() : it->value(property);
}

void AppLifetimePropertyManager::setValue(const QString &uri, const QString &property, const QVariant &value)
{
    {
        std::lock_guard lock(m_mutex);
        if (value.isValid())
            m_values[uri].insert(property, value);
        else if (auto it = m_values.find(uri); it != m_values.end())
            it->remove(property);
    }
    QString object = uri;
    NotificationCenter::defaultCenter().post(kAppLifetimePropertyChangedNotification, &object,
                                             {{QStringLiteral("key"), property}, {QStringLiteral("uri"), uri}});
}

void AppLifetimePropertyManager::clearProperty(const QString &property)
{
    std::lock_guard lock(m_mutex);
    for (auto &properties : m_values)
        properties.remove(property);
}

void AppLifetimePropertyManager::clear()
{
    std::lock_guard lock(m_mutex);
    m_values.clear();
}

} // namespace corvane
