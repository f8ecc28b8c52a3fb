#pragma once

#include "store/objectid.h"
#include "store/predicate.h"

#include <functional>

namespace corvane {

class StoreManager;

// Read-state changes the interface asks for that run on the background
// context, so the main thread never waits for them.
namespace itemmarking {

// Sets `read` of every item matching the predicate (read ones included) and
// saves; `done` then runs on the main queue.
void markAll(StoreManager &stores, const Predicate &predicate, bool read, std::function<void()> done = {});

// Marks one item read unless it is read already (or gone).
void markReadInBackground(StoreManager &stores, ObjectID item);

} // namespace itemmarking
} // namespace corvane
