#include "itemmarking.h"

#include "store/context.h"
#include "store/dataitem.h"
#include "store/storemanager.h"

#include "base/dispatch.h"

namespace corvane::itemmarking {

void markAll(StoreManager &stores, const Predicate &predicate, bool read, std::function<void()> done)
{
    Context *background = stores.contextBackground();
    background->performBlockConfined([background, predicate, read, done = std::move(done)] {
        for (DataItem *item : background->fetchAs<DataItem>(Query{Entity::DataItem, predicate}))
            item->setRead(read);
        StoreManager::saveFromContext(background);
        if (done)
            dispatch::main().async(done);
    });
}

void markReadInBackground(StoreManager &stores, ObjectID item)
{
    Context *background = stores.contextBackground();
    background->performBlockConfined([background, item] {
        auto *record = static_cast<DataItem *>(background->existingObject(item));
        if (!record || record->isRead())
            return;
        record->setRead(true);
        StoreManager::saveFromContext(background);
    });
}

} // namespace corvane::itemmarking
