#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace corvane {

// White space as item identities and URL checks understand it: the Unicode
// separators (categories Zs, Zl, Zp) plus tab, line feed, vertical tab, form
// feed, carriage return and next line (U+0085).
bool isWhiteSpaceOrNewline(QChar c);
bool containsWhiteSpaceOrNewline(QStringView text);
// The text without white space at either end, as a view into text.
QStringView trimWhiteSpaceAndNewlines(QStringView text);

// The URL a text stands for, or none when the text does not parse as one.
// Parsing is strict; a text with white space anywhere, an empty text and a
// relative reference ("host/rss", "/a/b") do not parse, so a parsed URL
// always has a scheme. Callers that accept scheme-less input put a scheme in
// front first, as feedURL does.
std::optional<QUrl> urlFromString(const QString &text);

// The URL of a feed address as typed, pasted or dropped: "feed://" becomes
// "http://", "feed:" in front of a web address is dropped, an address
// starting with "http://" or "https://" is kept, and one without a scheme
// ("example.com/rss", "localhost:8080/rss") gets "http://" in front. None for
// any other scheme (file:, javascript:, data:, ftp:), and when the result does
// not parse or names no host: so a result is always an http or https URL.
std::optional<QUrl> feedURL(const QString &text);

// Whether a subscription may have this address: a feed address (feedURL) or
// one of Twitter's "@user" and "#search" forms.
bool isSubscribableAddress(const QString &text);

// The text's UTF-8 bytes with everything but A-Z, a-z, 0-9 and "-._~" written
// as %XX (upper-case hex), for query strings and mailto parts. Not idempotent:
// an encoded text is encoded again, "%" included.
QString urlEncode(const QString &text);

} // namespace corvane
