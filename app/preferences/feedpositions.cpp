#include "feedpositions.h"

namespace corvane::desktop::feedpositions {

double nextPosition(const QList<double> &ordered)
{
    return ordered.isEmpty() ? 1.0 : ordered.last() + 1.0;
}

double positionAt(const QList<double> &ordered, int index)
{
    if (ordered.isEmpty())
        return 1.0;
    if (index < 0 || index >= ordered.size())
        return nextPosition(ordered);
    if (index == 0) {
        // Half of the first position lies before it only while it is above 0.
        const double first = ordered.first();
        return first > 0 ? first / 2.0 : first - 1.0;
    }
    return (ordered[index - 1] + ordered[index]) / 2.0;
}

} // namespace corvane::desktop::feedpositions
