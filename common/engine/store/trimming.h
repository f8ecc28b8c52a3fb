#pragma once

#include "base/date.h"

namespace corvane {

class Context;

// The age cut-off: now minus that many days.
Date earliestDateForAgeLimit(int days, Date now = currentDate());

// Deletes, subscription by subscription, the unstarred items whose ordering
// date lies before the subscription's age cut-off, in batches of 100 with a
// save and a reset after each, so memory stays flat however many expire.
// Items without an ordering date are never trimmed. Callers must not keep
// records of the context across the call.
void purgeOutdatedItemsWithContext(Context *context, Date now = currentDate());

} // namespace corvane
