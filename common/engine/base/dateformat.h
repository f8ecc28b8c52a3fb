#pragma once

#include "date.h"

#include <QString>

namespace corvane {

// Dates for people, in the current locale and time zone, in the locale's
// own styles (for English: short "1/12/52", medium "Jan 12, 1952"; times
// short "3:30 PM", medium "3:30:32 PM"). Qt has no medium style, ICU does.
enum class DateStyle { None, Short, Medium };

QString localDateText(Date date, DateStyle dateStyle, DateStyle timeStyle);

} // namespace corvane
