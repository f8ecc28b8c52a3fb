#pragma once

#include "date.h"

#include <QString>

namespace corvane {

// Readers for the date texts of feeds. All are free of shared state and safe
// on any thread; none trims its input except failOverParser.

// RSS 2.0 <pubDate>: RFC 822 dates as feeds really write them ("Tue, 10 Jun
// 2003 04:00:00 GMT", two-digit years, numeric zones). English names only.
// Two-digit years 71...99 are 1971...1999 and 00...70 are 2000...2070, the
// same window as getDateFromString, so both readers agree on a text.
OptionalDate dateWithRSSPubDate(const QString &text);

// Atom <published>: exactly "yyyy-MM-ddTHH:mm:ssZ" in UTC. Fractional seconds
// and numeric offsets are refused here; failOverParser reads them.
OptionalDate dateWithAtomPubDate(const QString &text);

// Dublin Core <dc:date>: an ISO 8601 calendar date "yyyy-MM-dd", optionally
// followed by "T" and "HH:mm", ":ss", a fraction, and "Z" or an offset
// "+hh:mm", "+hhmm" or "+hh". Without a zone the time is taken as UTC.
OptionalDate dateFromISO8601(const QString &text);

// libcurl's curl_getdate: RFC 822, RFC 850 and asctime forms. Texts with
// non-ASCII characters or NULs are refused.
OptionalDate getDateFromString(const QString &text);

// Last resort for texts the readers above refused: repairs "UT" zones and
// missing seconds, tries getDateFromString, then reads an ISO 8601-like
// "year[-month[-day]][Thour[:minute[:second[.fraction]]]][Z|±hours]".
OptionalDate failOverParser(const QString &text);

} // namespace corvane
