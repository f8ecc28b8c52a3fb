#include "storehooks.h"

namespace corvane {

StoreHooks &StoreHooks::shared()
{
    static StoreHooks hooks;
    return hooks;
}

} // namespace corvane
