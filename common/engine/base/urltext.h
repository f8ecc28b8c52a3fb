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

// A reference read from a document (an item link, a feed link in a web page,
// an icon's href, an xml:base) as the address it stands for: a relative
// reference is resolved against base by RFC 3986, section 5.2 ("feed.xml",
// "../x", "//host/x", "?q=1"), keeping the base's scheme, port and path as
// the rules say. A reference with a scheme is returned exactly as written,
// so stored links, and the item hashes made from them, do not change. An
// empty reference, or one without an absolute base, is returned as it is.
QString resolvedReference(const QString &reference, const QUrl &base);

// Whether a URL is one the engine downloads: http or https, with a host.
bool isWebURL(const QUrl &url);

// The text's UTF-8 bytes with everything but A-Z, a-z, 0-9 and "-._~" written
// as %XX (upper-case hex), for query strings and mailto parts. Not idempotent:
// an encoded text is encoded again, "%" included.
QString urlEncode(const QString &text);

} // namespace corvane
