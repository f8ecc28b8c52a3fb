#pragma once

#include "date.h"

#include <QString>
#include <QTimeZone>

namespace corvane {

// Whether `date` falls on the calendar day of `now` in `zone`: at or after
// that day's local midnight and less than 86400 seconds after it.
bool dateIsToday(Date date, Date now = currentDate(),
                 const QTimeZone &zone = QTimeZone::systemTimeZone());

// Whole hours between `date` and `now`, rounded down; dates in the future
// count like dates in the past.
qint64 hoursSinceNow(Date date, Date now = currentDate());

// "a minute ago", "%d minutes ago", "a hour ago", "%d hours ago". English on
// purpose: these texts are not translated. Minutes are rounded up, hours down.
QString localizedTimeIntervalSinceNow(Date date, Date now = currentDate());

} // namespace corvane
