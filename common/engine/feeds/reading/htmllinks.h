#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// Links found in web pages: the feed a page announces and its shortcut icon.
// Pages are read with libxml2's forgiving HTML parser (encoding detected from
// the bytes and meta tags, no network, no diagnostics).
namespace corvane::htmllinks {

// Attributes (name -> value) of each element the XPath expression selects,
// in document order. Nothing for an invalid expression or unreadable page.
QList<QHash<QString, QString>> elementAttributes(const QByteArray &html, const QString &xpath);

// href of the first "/html/*/link" whose "type" begins with
// "application/rss" and that has an "href".
std::optional<QString> rssFeedLink(const QByteArray &html);

// href of the first "/html/head/link" whose "rel" is exactly "shortcut icon"
// and that has an "href".
std::optional<QString> shortcutIconLink(const QByteArray &html);

} // namespace corvane::htmllinks
