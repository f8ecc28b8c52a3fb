#pragma once

#include "base/date.h"

#include <QDateTime>

namespace corvane::test {

// The instant of a UTC calendar date and time, for expected values.
inline Date utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return Date(QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC).toSecsSinceEpoch());
}

} // namespace corvane::test
