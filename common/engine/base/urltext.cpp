#include "urltext.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

bool isWhiteSpaceOrNewline(QChar c)
{
    // The same set as QChar::isSpace(), spelled out because stored item
    // hashes depend on it and must not follow a change in Qt.
    const char16_t unit = c.unicode();
    if (unit < 0x80)
        return unit == u' ' || (unit >= u'\t' && unit <= u'\r');
    if (unit == 0x85)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool containsWhiteSpaceOrNewline(QStringView text)
{
    return std::any_of(text.begin(), text.end(), isWhiteSpaceOrNewline);
}

QStringView trimWhiteSpaceAndNewlines(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhiteSpaceOrNewline(text[begin]))
        ++begin;
    while (end > begin && isWhiteSpaceOrNewline(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<QUrl> urlFromString(const QString &text)
{
    // QUrl tolerates some white space even in strict mode (U+00A0 and the
    // other non-ASCII separators pass as IRI characters), hence the own check.
    if (text.isEmpty() || containsWhiteSpaceOrNewline(text))
        return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

namespace {

// The scheme a text begins with (RFC 3986, section 3.1: a letter, then
// letters, digits, "+", "-" or "."; then ":"), or an empty view. A "host:port"
// text ("example.com:8080/rss") has none: what follows its colon is a number.
QStringView leadingScheme(QStringView text)
{
    if (text.isEmpty() || !isAsciiLetter(text[0]))
        return {};
    qsizetype colon = 1;
    while (colon < text.size()
           && (isAsciiLetter(text[colon]) || (text[colon] >= u'0' && text[colon] <= u'9') || text[colon] == u'+'
               || text[colon] == u'-' || text[colon] == u'.'))
        ++colon;
    if (colon >= text.size() || text[colon] != u':')
        return {};
    qsizetype digits = colon + 1;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9')
        ++digits;
    const bool port = digits > colon + 1
                      && (digits == text.size() || text[digits] == u'/' || text[digits] == u'?' || text[digits] == u'#');
    return port ? QStringView() : text.first(colon);
}

} // namespace

std::optional<QUrl> feedURL(const QString &text)
{
    const auto startsWith = [&text](QLatin1StringView prefix, qsizetype minimumLength) {
        return text.size() >= minimumLength && text.startsWith(prefix, Qt::CaseInsensitive);
    };
    QString normalised;
    if (startsWith("feed://"_L1, 8)) {
        normalised = u"http"_s + QStringView(text).sliced(4);
    } else if (startsWith("http://"_L1, 8) || startsWith("https://"_L1, 9)) {
        normalised = text;
    } else if (startsWith("feed:http://"_L1, 13) || startsWith("feed:https://"_L1, 14)) {
        // The prefix put in front of a complete web address.
        normalised = text.sliced(5);
    } else {
        // Only web addresses are feeds. Putting "http://" in front of another
        // scheme's address would make one of it ("file:///etc/passwd" would
        // name the host "file"), so a text with any other scheme is none.
        if (!leadingScheme(text).isEmpty())
            return std::nullopt;
        normalised = u"http://"_s + text;
    }

    // Every result is an http or https URL, and one with an empty host is
    // invalid for that scheme (RFC 9110, section 4.2.1); without this check an
    // empty text would come out as "http://".
    std::optional<QUrl> url = urlFromString(normalised);
    if (url && url->host().isEmpty())
        return std::nullopt;
    return url;
}

bool isSubscribableAddress(const QString &text)
{
    return feedURL(text) || text.startsWith(u'@') || text.startsWith(u'#');
}

namespace {

// RFC 3986, section 3.1: scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
bool hasScheme(QStringView reference)
{
    const auto isAlpha = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (reference.isEmpty() || !isAlpha(reference.front()))
        return false;
    for (const QChar c : reference.sliced(1)) {
        if (c == u':')
            return true;
        if (!isAlpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return false;
}

} // namespace

QString resolvedReference(const QString &reference, const QUrl &base)
{
    if (reference.isEmpty() || hasScheme(reference) || !base.isValid() || base.scheme().isEmpty())
        return reference;
    const QUrl relative(reference, QUrl::TolerantMode);
    if (!relative.isValid())
        return reference;
    const QUrl resolved = base.resolved(relative);
    return resolved.isValid() ? resolved.toString(QUrl::FullyEncoded) : reference;
}

bool isWebURL(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
        && (scheme.compare("http"_L1, Qt::CaseInsensitive) == 0 || scheme.compare("https"_L1, Qt::CaseInsensitive) == 0);
}

QString urlEncode(const QString &text)
{
    // QUrl::toPercentEncoding keeps exactly the RFC 3986 unreserved set and
    // writes upper-case hex digits.
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace corvane
