#pragma once

#include "date.h"

#include <QHash>
#include <QString>

namespace corvane {

// The date of one parsed feed item, from the texts it collected under their
// element names ("pubDate", "published", "dc:date", ...). Never fails: an
// item without a readable date is dated `now`. Dates up to ten minutes ahead
// of `now` become `now`; dates further ahead, typically from a feed whose
// zone is wrong by whole hours, are moved back by whole hours into the last
// hour, keeping their minutes and seconds.
Date dateForDictionary(const QHash<QString, QString> &fields, Date now = currentDate());

} // namespace corvane
