#include "enginebridge.h"

#include "base/settings.h"
#include "feeds/starmanager.h"
#include "platform/systemwake.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/record.h"
#include "store/storemanager.h"

#include <QPointer>

namespace corvane::desktop {

namespace {

EngineBridge *g_shared = nullptr;

ObjectID idOf(const Notification &notification)
{
    const auto *record = notification.objectAs<Record>();
    return record ? record->objectID() : ObjectID{};
}

QList<ObjectID> idsOf(const QVariant &records)
{
    QList<ObjectID> ids;
    for (const Record *record : records.value<QList<Record *>>())
        ids.append(record->objectID());
    return ids;
}

} // namespace

EngineBridge::EngineBridge(Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    g_shared = this;
    observe(kObjectsUpdatedNotification, [this](const Notification &n) {
        QList<ObjectID> inserted = idsOf(n.userInfo.value(QStringLiteral("inserted")));
        QList<ObjectID> updated = idsOf(n.userInfo.value(QStringLiteral("updated")));
        QList<ObjectID> deleted = idsOf(n.userInfo.value(QStringLiteral("deleted")));
        later([this, inserted, updated, deleted] { Q_EMIT objectsUpdated(inserted, updated, deleted); });
    });
    observe(kDatasourcesChangedNotification, [this](const Notification &) {
        later([this] { Q_EMIT datasourcesChanged(); });
    });
    observe(kDatasourceConfigurationDidChangeNotification, [this](const Notification &n) {
        const ObjectID id = idOf(n);
        later([this, id] { Q_EMIT datasourceConfigurationChanged(id); });
    });
    observe(QStringLiteral("NotificationItemsChangedFromCloud"), [this](const Notification &) {
        later([this] { Q_EMIT itemsChangedFromCloud(); });
    });
    observe(kDataItemTurnedIntoFaultNotification, [this](const Notification &n) {
        const ObjectID id = idOf(n);
        later([this, id] { Q_EMIT itemTurnedIntoFault(id); });
    });
    observe(kItemPropertiesChangedNotification, [this](const Notification &n) {
        const ObjectID id = idOf(n);
        later([this, id] { Q_EMIT itemPropertiesChanged(id); });
    });
    observe(QString::fromLatin1(kStarChangedNotificationName), [this](const Notification &n) {
        const ObjectID id = idOf(n);
        later([this, id] { Q_EMIT starChanged(id); });
    });
    for (const QString &name : {kKeywordsChangedNotification, kKeywordChangeFromCloudNotification})
        observe(name, [this](const Notification &) { later([this] { Q_EMIT keywordsChanged(); }); });
    observe(platform::kSystemDidWakeNotification, [this](const Notification &) {
        later([this] { Q_EMIT systemDidWake(); });
    });
}

EngineBridge::~EngineBridge()
{
    m_observers.clear();
    for (quint64 token : std::as_const(m_settingTokens))
        m_settings.removeObserver(token);
    if (g_shared == this)
        g_shared = nullptr;
}

EngineBridge *EngineBridge::shared()
{
    return g_shared;
}

void EngineBridge::watchSetting(const QString &key)
{
    if (m_watchedSettings.contains(key))
        return;
    m_watchedSettings.insert(key);
    m_settingTokens.append(m_settings.observe(key, [this, key](const QVariant &) {
        later([this, key] { Q_EMIT settingChanged(key); });
    }));
}

void EngineBridge::watchSettings(const QStringList &keys)
{
    for (const QString &key : keys)
        watchSetting(key);
}

void EngineBridge::observe(const QString &name, std::function<void(const Notification &)> handler)
{
    m_observers.emplace_back(NotificationCenter::defaultCenter(), name, nullptr, std::move(handler));
}

void EngineBridge::later(std::function<void()> emitter)
{
    // Queued even on the main thread: receivers never run inside the
    // engine's own call (a merge, a save) that posted the event.
    QMetaObject::invokeMethod(this, std::move(emitter), Qt::QueuedConnection);
}

} // namespace corvane::desktop
