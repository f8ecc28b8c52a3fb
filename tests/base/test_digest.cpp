#include "base/digest.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

TEST(Digest, Md5IsLowerCaseHexOfUtf8Bytes)
{
    const struct { const char *name; QString text; QString expected; } rows[] = {
        {"empty", u""_s, u"d41d8cd98f00b204e9800998ecf8427e"_s},
        {"RFC 1321 test suite abc", u"abc"_s, u"900150983cd24fb0d6963f7d28e17f72"_s},
        {"pangram", u"The quick brown fox jumps over the lazy dog"_s,
         u"9e107d9d372bb6826bd81d3542a419d6"_s},
        {"non-ASCII hashed as UTF-8", u"\u00E9"_s, u"66ddcd97cfdeabb2f6fb8a999b4bc76f"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(MD5(row.text), row.expected);
    }
}

TEST(Digest, UuidIsNewRandomUpperCaseText)
{
    // Version 4 (random) in the third group, RFC 4122 variant in the fourth.
    static const QRegularExpression format(
        u"^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"_s);
    const QString first = uuid();
    const QString second = uuid();
    EXPECT_TRUE(format.match(first).hasMatch()) << qPrintable(first);
    EXPECT_TRUE(format.match(second).hasMatch()) << qPrintable(second);
    EXPECT_NE(first, second);
}

} // namespace
} // namespace corvane
