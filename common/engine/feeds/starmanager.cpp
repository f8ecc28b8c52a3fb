#include "starmanager.h"

#include "store/context.h"
#include "store/dataitem.h"
#include "store/storemanager.h"

#include "base/notificationcenter.h"

namespace corvane {

const char kStarChangedNotificationName[] = "NotificationStarChanged";

StarManager::StarManager(StoreManager &stores)
    : m_stores(stores)
{
}

bool StarManager::isStarred(const DataItem *item)
{
    return item->isStarred();
}

void StarManager::starItem(DataItem *item)
{
    item->setStarred(true);
    item->context()->save();
    NotificationCenter::defaultCenter().post(QString::fromLatin1(kStarChangedNotificationName), item);
}

void StarManager::unstarItem(DataItem *item)
{
    item->setStarred(false);
    item->context()->save();
}

void StarManager::removeAll()
{
    Context *background = m_stores.contextBackground();
    // The block may run after this manager is gone; the store manager outlives it.
    background->performBlockConfined([stores = &m_stores, background] {
        const QList<DataItem *> starred = background->fetchFewAs<DataItem>(
            Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)});
        for (DataItem *item : starred)
            item->setStarred(false);
        stores->processChangesFromContext(background);
    });
}

} // namespace corvane
