#include "base/htmlentities.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

struct Row
{
    const char *name;
    QString input;
    QString expected;
};

void expectDecoded(std::initializer_list<Row> rows)
{
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(stringByDecodingHTMLEntities(row.input), row.expected);
    }
}

TEST(HtmlEntities, DecodesNamedEntitiesInAnyCase)
{
    expectDecoded({
        {"amp inside a word", u"AT&amp;T"_s, u"AT&T"_s},
        {"upper case", u"&AMP;"_s, u"&"_s},
        {"mixed case", u"&Lt;b&gT;"_s, u"<b>"_s},
        {"apos and quot", u"&apos;x&quot;"_s, u"'x\""_s},
        {"nbsp is a plain space", u"a&nbsp;b"_s, u"a b"_s},
        {"both dashes are hyphen-minus", u"1&ndash;2&mdash;3"_s, u"1-2-3"_s},
        {"no double decoding", u"&amp;lt;"_s, u"&lt;"_s},
        {"adjacent entities", u"&lt;&lt;&gt;"_s, u"<<>"_s},
    });
}

TEST(HtmlEntities, LeavesTextWithoutKnownEntitiesUnchanged)
{
    expectDecoded({
        {"no ampersand", u"plain text"_s, u"plain text"_s},
        {"empty", QString(), QString()},
        {"unknown named entity", u"&copy; 2024"_s, u"&copy; 2024"_s},
        {"known name without semicolon", u"&amp and &lt"_s, u"&amp and &lt"_s},
        {"lone ampersand at the end", u"a &"_s, u"a &"_s},
        {"ampersands only", u"&&&"_s, u"&&&"_s},
        {"hex reference without digits", u"&#xZZ;"_s, u"&#xZZ;"_s},
        {"upper-case X kept in malformed reference", u"&#XZZ;"_s, u"&#XZZ;"_s},
        {"empty reference", u"&#;"_s, u"&#;"_s},
        {"reference at the end", u"a&#"_s, u"a&#"_s},
        {"x at the end", u"&#x"_s, u"&#x"_s},
        {"sign without digits", u"&#-;"_s, u"&#-;"_s},
        {"no sign in hex", u"&#x-41;"_s, u"&#x-41;"_s},
        {"malformed reference stops at space", u"&#a b&amp;"_s, u"&#a b&"_s},
        {"malformed reference stops at tab, LF, CR", u"&#a\tb&amp;&#c\nd&amp;&#e\rf&amp;"_s,
         u"&#a\tb&&#c\nd&&#e\rf&"_s},
        // The malformed text runs to the next ";" and takes a following entity along.
        {"malformed reference swallows up to semicolon", u"&#q&amp;"_s, u"&#q&amp;"_s},
    });
}

TEST(HtmlEntities, NumericReferencesGiveOneCodeUnitFromLow16Bits)
{
    expectDecoded({
        {"decimal", u"&#65;"_s, u"A"_s},
        {"hex lower x", u"&#x41;"_s, u"A"_s},
        {"hex upper X without semicolon", u"&#X41"_s, u"A"_s},
        {"hex digits in any case", u"&#x4a;&#x4A;"_s, u"JJ"_s},
        {"semicolon optional, text follows", u"&#65BC"_s, u"ABC"_s},
        {"decimal stops at a hex letter", u"&#65a;"_s, u"Aa;"_s},
        {"plus sign", u"&#+65;"_s, u"A"_s},
        {"minus sign wraps", u"&#-65471;"_s, u"A"_s},
        {"above 16 bits", u"&#x10041;"_s, u"A"_s},
        {"non-BMP code point is truncated", u"&#x1F600;"_s, QString(QChar(0xF600))},
        {"huge decimal", u"&#99999999999999999999;"_s, QString(QChar(0xFFFF))},
        {"huge hex", u"&#x1234567890ABCDEF0041;"_s, u"A"_s},
        {"NUL", u"a&#0;b"_s, QStringView(u"a\0b", 3).toString()},
        {"lone surrogate", u"&#xD800;"_s, QString(QChar(0xD800))},
    });
}

TEST(HtmlEntities, DecodesMegabyteInput)
{
    const QString input = u"AT&amp;T &#x41;&copy; "_s.repeated(1 << 15);
    EXPECT_EQ(stringByDecodingHTMLEntities(input), u"AT&T A&copy; "_s.repeated(1 << 15));
    const QString ampersands(1 << 20, u'&');
    EXPECT_EQ(stringByDecodingHTMLEntities(ampersands), ampersands);
}

TEST(HtmlEntities, KnowsTheHtml4CharacterEntitiesByExactName)
{
    const struct { const char *name; char32_t expected; } rows[] = {
        {"AElig", 0xC6}, {"zwnj", 0x200C}, // the first and last names in byte order
        {"eacute", 0xE9}, {"Eacute", 0xC9}, {"nbsp", 0xA0}, {"thetasym", 0x3D1}, {"amp", 0x26},
        {"EACUTE", 0}, {"apos", 0}, {"eacut", 0}, {"eacutee", 0}, {"", 0}, {"zzzz", 0}, {"AAAA", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(htmlCharacterEntity(QLatin1StringView(row.name)), row.expected);
    }
}

} // namespace
} // namespace corvane
