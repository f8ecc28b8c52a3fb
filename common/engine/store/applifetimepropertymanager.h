#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

#include <mutex>

namespace corvane {

// Run-time values of records that must not be stored but must outlive a
// record being unloaded, shared by all contexts: keyed by the record's
// permanent identifier (URI) and the property name. Every assignment posts
// "AppLifetimePropertyChanged" (object: a pointer to the URI text valid for
// the call; userInfo "key": the property name, "uri": the URI).
class AppLifetimePropertyManager
{
public:
    static AppLifetimePropertyManager &shared();

    QVariant value(const QString &uri, const QString &property) const;
    void setValue(const QString &uri, const QString &property, const QVariant &value);
    // Clears one property for every record (the hourly and wake resets).
    void clearProperty(const QString &property);
    void clear();

private:
    mutable std::mutex m_mutex;
    QHash<QString, QVariantHash> m_values; // uri -> property -> value
};

extern const QString kAppLifetimePropertyChangedNotification;

} // namespace corvane
