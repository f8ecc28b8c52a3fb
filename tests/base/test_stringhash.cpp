#include "base/stringhash.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

constexpr quint32 kMask = 0x0FFFFFFF;

// h before masking, by the plain definition, so rows can state which branch
// of the hash they exercise and long texts have a value to compare with.
quint32 rawHash(QStringView text)
{
    quint32 h = 0;
    for (const QChar c : text)
        h = h * 33 + c.unicode();
    return h;
}

quint32 referenceHash(QStringView text)
{
    if (text.isEmpty())
        return 0x0FFFFFFE;
    const quint32 masked = rawHash(text) & kMask;
    return masked == 0 ? kMask : masked;
}

QString fromUnits(std::initializer_list<char16_t> units)
{
    return QStringView(units.begin(), qsizetype(units.size())).toString();
}

// Code units 0x20 ... 0xFFFF in a spread that reaches the high bits of h.
QString variedText(qsizetype length)
{
    QString text(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        text[i] = QChar(char16_t(0x20 + (i * 7919) % 0xFFDF));
    return text;
}

TEST(StringHash, MatchesKnownValues)
{
    const struct { const char *name; QString text; quint32 expected; } rows[] = {
        {"empty", QString(), 268435454},
        {"a", u"a"_s, 97},
        {"abc", u"abc"_s, 108966},
        {"Hello", u"Hello"_s, 89137236},
        {"U+1F600 counts as two code units", u"\U0001F600"_s, 0xD83D * 33 + 0xDE00},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(permanentHash(row.text), row.expected);
    }
}

TEST(StringHash, AllZeroLowBitsGiveMaximumNotZero)
{
    const struct { const char *name; QString text; } rows[] = {
        {"one NUL unit", fromUnits({0})},
        {"three NUL units", fromUnits({0, 0, 0})},
        // 7469 * 33^3 + 20 * 33^2 + 6 * 33 + 25 = 2^28
        {"raw value 2^28", fromUnits({7469, 20, 6, 25})},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(rawHash(row.text) & kMask, 0u);
        EXPECT_EQ(permanentHash(row.text), 0x0FFFFFFFu);
    }
}

TEST(StringHash, AgreesWithPlainDefinitionForAnyLengthAndContent)
{
    const struct { const char *name; QString text; } rows[] = {
        {"63 units", variedText(63)},
        {"64 units, largest on the stack", variedText(64)},
        {"65 units, smallest on the heap", variedText(65)},
        {"65 units differing from 64 in the last one", variedText(64) + u'x'},
        {"several thousand units", variedText(5000)},
        {"one megabyte", variedText(1 << 19)},
        {"lone high surrogate", fromUnits({u'a', 0xD800, u'b'})},
        {"lone low surrogate", fromUnits({0xDC00})},
        {"surrogates in reverse order", fromUnits({0xDE00, 0xD83D})},
        {"embedded NULs", fromUnits({u'a', 0, u'b', 0})},
        {"non-BMP text over 64 units",
         QString(40, u'x') + u"\U0001F600\U0001F600\U00010400"_s.repeated(5)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(permanentHash(row.text), referenceHash(row.text));
    }
}

TEST(StringHash, MissingTextHashesToZeroButEmptyDoesNot)
{
    EXPECT_EQ(permanentHash(std::optional<QString>()), 0u);
    EXPECT_EQ(permanentHash(std::optional<QString>(QString())), 0x0FFFFFFEu);
    EXPECT_EQ(permanentHash(std::optional<QString>(u"abc"_s)), 108966u);
}

TEST(ItemHash, CombinesTitleAndCanonicalLinkHashes)
{
    constexpr qint64 kEmpty = 0x0FFFFFFE;
    constexpr qint64 kHello = qint64(89137236) << 32;
    const std::optional<QString> missing;
    const struct {
        const char *name;
        std::optional<QString> title, link;
        qint64 expected;
    } rows[] = {
        {"missing title and link", missing, missing, 0},
        {"empty title, missing link", u""_s, missing, kEmpty << 32},
        {"missing title, empty link", missing, u""_s, kEmpty},
        {"all-white title", u" \t\n\u3000"_s, missing, kEmpty << 32},
        {"both present", u"a"_s, u"abc"_s, qint64(97) << 32 | 108966},
        {"title trimmed of spaces and newlines", u"  Hello \r\n"_s, missing, kHello},
        {"title trimmed of Unicode separators", u"\u00A0Hello\u2029\u0085"_s, missing, kHello},
        {"inner white space of title kept", u"a b"_s, missing, qint64(referenceHash(u"a b")) << 32},
        {"link with trailing space", missing, u"abc "_s, 108966},
        {"link with surrounding line breaks", missing, u"\nabc\r\n"_s, 108966},
        {"link losing inner white space", missing, u"a b\u2028c"_s, 108966},
        {"both halves at their maximum", fromUnits({0}), fromUnits({0}), 0x0FFFFFFF0FFFFFFF},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const qint64 hash = calculateHashFromTitleAndLink(row.title, row.link);
        EXPECT_EQ(hash, row.expected);
        EXPECT_GE(hash, 0);
    }
}

TEST(ItemHash, CanonicalLinkKeepsUrlAndDropsWhiteSpaceOtherwise)
{
    const struct { const char *name; std::optional<QString> link, expected; } rows[] = {
        {"missing", std::nullopt, std::nullopt},
        {"URL unchanged", u"http://host/a?b=c"_s, u"http://host/a?b=c"_s},
        {"URL trimmed", u" \thttp://host/a \n"_s, u"http://host/a"_s},
        {"space inside", u"http://host/a b"_s, u"http://host/ab"_s},
        {"Unicode separators inside and around", u"\u3000http://host/a\u00A0b\u2028"_s,
         u"http://host/ab"_s},
        {"not a URL", u" not a url "_s, u"notaurl"_s},
        {"relative link", u"/item/1\n"_s, u"/item/1"_s},
        {"empty", u""_s, u""_s},
        {"all white", u" \r\n\t"_s, u""_s},
        {"zero-width space is not white space", u"http://host/\u200B"_s, u"http://host/\u200B"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(canonizedLinkFromLink(row.link), row.expected);
    }
}

TEST(ItemHash, RecordHashUsesTitleAndLinkKeys)
{
    const qint64 full = calculateHashFromTitleAndLink(u"Title"_s, u"http://host/"_s);
    const struct { const char *name; QHash<QString, QString> record; qint64 expected; } rows[] = {
        {"both keys", {{u"title"_s, u"Title"_s}, {u"link"_s, u"http://host/"_s}}, full},
        {"other keys ignored",
         {{u"title"_s, u"Title"_s}, {u"link"_s, u"http://host/"_s}, {u"guid"_s, u"x"_s}},
         full},
        {"no link key", {{u"title"_s, u"Title"_s}}, full & ~qint64(0xFFFFFFFF)},
        {"empty link value", {{u"link"_s, QString()}}, 0x0FFFFFFE},
        {"keys are case-sensitive", {{u"Title"_s, u"Title"_s}, {u"LINK"_s, u"x"_s}}, 0},
        {"empty record", {}, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(calculateHash(row.record), row.expected);
    }
}

} // namespace
} // namespace corvane
