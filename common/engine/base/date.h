#pragma once

#include <optional>

namespace corvane {

// A point in time: seconds since 1 January 1970 UTC, with sub-second resolution.
using Date = double;
using OptionalDate = std::optional<Date>;

// The current time. Operations whose result depends on "now" take it as a
// parameter defaulting to this, so tests can pin it.
Date currentDate();

} // namespace corvane
