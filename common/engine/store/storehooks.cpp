#include "storehooks.h"

namespace corvane {

StoreHooks &StoreHooks::shared()
{
    static StoreHooks hooks;
    return hooks;
}

void StoreHooks::reportUserDeletion(Record *record, bool toFeedly)
{
    const StoreHooks &hooks = shared();
    if (hooks.reportCloudDeletion)
        hooks.reportCloudDeletion(record);
    if (toFeedly && hooks.reportFeedlyDeletion)
        hooks.reportFeedlyDeletion(record);
}

} // namespace corvane
