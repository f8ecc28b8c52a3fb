#pragma once

#include <QList>

namespace corvane::desktop {

// Where a record dropped into an ordered list goes. Order is by position
// alone, so a record placed between two others takes a position between
// theirs and nothing is renumbered.
namespace feedpositions {

// The position after the last one, or 1 in an empty list.
double nextPosition(const QList<double> &ordered);

// The position for index `index` of the ascending positions `ordered`:
// 1 in an empty list; before the first when 0; the next position when the
// index is negative (no index) or at or past the end; else the mean of the
// two neighbours.
double positionAt(const QList<double> &ordered, int index);

} // namespace feedpositions
} // namespace corvane::desktop
