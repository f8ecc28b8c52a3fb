#include "base/urltext.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

TEST(UrlText, WhiteSpaceIsUnicodeSeparatorsAndLineBreaks)
{
    for (const int unit : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000,
                            0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << unit);
        EXPECT_TRUE(isWhiteSpaceOrNewline(QChar(char16_t(unit))));
    }
    // Controls next to the set, format characters that look blank, a letter.
    for (const int unit : {0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x7F, 0x180E, 0x200B, 0x2060, 0xFEFF,
                            0xD800, 0x61}) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << unit);
        EXPECT_FALSE(isWhiteSpaceOrNewline(QChar(char16_t(unit))));
    }
}

TEST(UrlText, TrimRemovesWhiteSpaceAtBothEndsOnly)
{
    const struct { const char *name; QString text; QString expected; } rows[] = {
        {"spaces and line breaks", u" \r\n a b \t"_s, u"a b"_s},
        {"Unicode separators", u"\u2028\u00A0a\u3000\u0085"_s, u"a"_s},
        {"all white", u" \u2029 "_s, u""_s},
        {"nothing to trim", u"a"_s, u"a"_s},
        {"zero-width space stays", u"\u200Ba\u200B"_s, u"\u200Ba\u200B"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(trimWhiteSpaceAndNewlines(row.text), row.expected);
    }
}

TEST(UrlText, OnlyWellFormedAbsoluteUrlsParse)
{
    const struct { const char *name; QString text; bool parses; } rows[] = {
        {"http", u"http://host/a?b=c#d"_s, true},
        {"mailto", u"mailto:a@b.example"_s, true},
        {"IRI with non-ASCII path", u"http://host/\u00E9"_s, true},
        {"IPv6 host", u"http://[::1]/"_s, true},
        {"empty", u""_s, false},
        {"relative path", u"host/rss"_s, false},
        {"absolute path", u"/a/b"_s, false},
        {"space in path", u"http://host/a b"_s, false},
        {"trailing newline", u"http://host/a\n"_s, false},
        {"no-break space QUrl would accept", u"http://host/a\u00A0b"_s, false},
        {"line separator QUrl would accept", u"http://host/a\u2028"_s, false},
        {"bad percent escape", u"http://host/%zz"_s, false},
        {"port out of range", u"http://host:99999/"_s, false},
        {"character not allowed in path", u"http://host/a<b>"_s, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<QUrl> url = urlFromString(row.text);
        EXPECT_EQ(url.has_value(), row.parses);
        if (url) {
            EXPECT_FALSE(url->scheme().isEmpty());
        }
    }
}

TEST(FeedUrl, NormalisesTypedAddresses)
{
    const struct { const char *name; QString text; std::optional<QString> expected; } rows[] = {
        {"feed scheme in upper case", u"FEED://host/rss"_s, u"http://host/rss"_s},
        {"shortest feed address", u"feed://x"_s, u"http://x"_s},
        {"https kept", u"HTTPS://host/rss"_s, u"https://host/rss"_s},
        {"http kept", u"http://host/rss?a=1"_s, u"http://host/rss?a=1"_s},
        {"shortest http address", u"http://x"_s, u"http://x"_s},
        {"no scheme", u"host/rss"_s, u"http://host/rss"_s},
        {"host and port", u"localhost:8080/rss"_s, u"http://localhost:8080/rss"_s},
        {"host and port alone", u"example.com:80"_s, u"http://example.com:80"_s},
        {"feed prefix before https", u"feed:https://host/rss"_s, u"https://host/rss"_s},
        {"feed prefix before http", u"FEED:http://host/rss"_s, u"http://host/rss"_s},
        // Addresses of other schemes are no feeds: with "http://" in front
        // they would name a host ("file", "javascript") and be fetched.
        {"file", u"file:///etc/passwd"_s, std::nullopt},
        {"file in upper case", u"FILE:///etc/passwd"_s, std::nullopt},
        {"file with a host", u"file://localhost/etc/passwd"_s, std::nullopt},
        {"javascript", u"javascript:alert(1)"_s, std::nullopt},
        {"data", u"data:text/xml,%3Crss%2F%3E"_s, std::nullopt},
        {"ftp", u"ftp://x"_s, std::nullopt},
        {"mailto", u"mailto:news@example.com"_s, std::nullopt},
        {"view-source before http", u"view-source:http://host/rss"_s, std::nullopt},
        {"feed prefix before file", u"feed:file:///etc/passwd"_s, std::nullopt},
        {"feed prefix before javascript", u"feed:javascript:alert(1)"_s, std::nullopt},
        // Too short for their rules: a scheme with nothing after it.
        {"feed:// alone", u"feed://"_s, std::nullopt},
        {"http:// alone", u"http://"_s, std::nullopt},
        {"https:// alone", u"https://"_s, std::nullopt},
        {"empty", u""_s, std::nullopt},
        {"no host", u"http:///rss"_s, std::nullopt},
        {"space", u"host/my rss"_s, std::nullopt},
        {"space after feed scheme", u"feed://host/my rss"_s, std::nullopt},
        {"leading space", u" http://host/rss"_s, std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<QUrl> url = feedURL(row.text);
        ASSERT_EQ(url.has_value(), row.expected.has_value());
        if (url) {
            EXPECT_EQ(*url, QUrl(*row.expected, QUrl::StrictMode)) << qPrintable(url->toString());
        }
    }
}

TEST(FeedUrl, SubscribableAddressesAreWebOrTwitterForms)
{
    const struct { QString text; bool subscribable; } rows[] = {
        {u"http://host/rss"_s, true},   {u"feed://host/rss"_s, true},    {u"host/rss"_s, true},
        {u"@someone"_s, true},          {u"#topic"_s, true},             {u"file:///etc/passwd"_s, false},
        {u"javascript:alert(1)"_s, false}, {u"data:,x"_s, false},      {u""_s, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(isSubscribableAddress(row.text), row.subscribable);
    }
}

TEST(UrlEncode, EncodesEverythingButUnreservedAsUtf8)
{
    const struct { const char *name; QString text; QString expected; } rows[] = {
        {"mixed", u"a b&c/d~"_s, u"a%20b%26c%2Fd~"_s},
        {"two-byte UTF-8", u"\u00E9"_s, u"%C3%A9"_s},
        {"four-byte UTF-8", u"\U0001F600"_s, u"%F0%9F%98%80"_s},
        {"percent encoded again", u"%41"_s, u"%2541"_s},
        {"reserved set", u"!*'();:@&=+$,/?%#[]"_s,
         u"%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"_s},
        {"unreserved kept", u"AZaz09-._~"_s, u"AZaz09-._~"_s},
        {"controls", QStringView(u"\0\n\x7F", 3).toString(), u"%00%0A%7F"_s},
        {"empty", u""_s, u""_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(urlEncode(row.text), row.expected);
    }
}

TEST(UrlText, RelativeReferencesResolveByRfc3986AgainstTheDocument)
{
    const QUrl plain(u"http://news.example.org/feeds/main.rss"_s);
    const QUrl ported(u"https://news.example.org:8443/feeds/main.rss?x=1"_s);
    const struct { const char *name; QString reference; QUrl base; QString expected; } rows[] = {
        {"sibling file", u"feed.xml"_s, plain, u"http://news.example.org/feeds/feed.xml"_s},
        {"sibling file, port", u"feed.xml"_s, ported, u"https://news.example.org:8443/feeds/feed.xml"_s},
        {"dot segment", u"./a/b.xml"_s, plain, u"http://news.example.org/feeds/a/b.xml"_s},
        {"dot segment, port", u"./a/b.xml"_s, ported, u"https://news.example.org:8443/feeds/a/b.xml"_s},
        {"parent", u"../x.xml"_s, plain, u"http://news.example.org/x.xml"_s},
        {"parent, port", u"../x.xml"_s, ported, u"https://news.example.org:8443/x.xml"_s},
        {"above the root", u"../../../x.xml"_s, plain, u"http://news.example.org/x.xml"_s},
        {"root-relative", u"/abs.xml"_s, plain, u"http://news.example.org/abs.xml"_s},
        {"root-relative, port", u"/abs.xml"_s, ported, u"https://news.example.org:8443/abs.xml"_s},
        {"network-path", u"//other.host/x.xml"_s, plain, u"http://other.host/x.xml"_s},
        {"network-path, port", u"//other.host/x.xml"_s, ported, u"https://other.host/x.xml"_s},
        {"query only", u"?q=1"_s, plain, u"http://news.example.org/feeds/main.rss?q=1"_s},
        {"query only, port", u"?q=1"_s, ported, u"https://news.example.org:8443/feeds/main.rss?q=1"_s},
        {"fragment only", u"#top"_s, ported, u"https://news.example.org:8443/feeds/main.rss?x=1#top"_s},
        // Absolute references come back as written, not normalised by QUrl.
        {"absolute, kept byte for byte", u"HTTP://Example.org:80/a/../b?c=d&e"_s, ported,
         u"HTTP://Example.org:80/a/../b?c=d&e"_s},
        {"other scheme kept", u"javascript:alert(1)"_s, plain, u"javascript:alert(1)"_s},
        {"no base", u"feed.xml"_s, QUrl(), u"feed.xml"_s},
        {"relative base", u"feed.xml"_s, QUrl(u"feeds/"_s), u"feed.xml"_s},
        {"empty stays empty", QString(), plain, QString()},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(resolvedReference(row.reference, row.base), row.expected);
    }
}

TEST(UrlText, OnlyHttpAndHttpsWithAHostAreWebUrls)
{
    EXPECT_TRUE(isWebURL(QUrl(u"http://a.org/x"_s)));
    EXPECT_TRUE(isWebURL(QUrl(u"HTTPS://a.org:8443/"_s)));
    for (const QString &text : {u"file:///etc/passwd"_s, u"javascript:alert(1)"_s, u"ftp://a.org/x"_s,
                                u"http:///x"_s, u"feed.xml"_s, QString()}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_FALSE(isWebURL(QUrl(text)));
    }
}

} // namespace
} // namespace corvane
