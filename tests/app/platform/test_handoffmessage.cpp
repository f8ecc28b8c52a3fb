#include "platform/handoffmessage.h"

#include <gtest/gtest.h>

using namespace corvane::desktop;

namespace {

constexpr qsizetype kMax = 1024;

QByteArray header(quint32 payloadSize)
{
    QByteArray bytes("CVN1");
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((payloadSize >> shift) & 0xff));
    return bytes;
}

} // namespace

TEST(HandOffMessage, RoundTripsUrlsAndStopsAtTheSizeLimit)
{
    const QStringList urls{QStringLiteral("feed://example.org/rss"), QString(),
                           QStringLiteral("https://例え.jp/フィード?q=ü&x=😀"), QStringLiteral("\ufeffbom first")};
    const HandOffParse parsed = parseHandOff(encodeHandOff(urls, kMax), kMax);
    EXPECT_EQ(parsed.status, HandOffParse::Complete);
    EXPECT_EQ(parsed.urls, urls);

    // 10 URLs of 4 + 96 bytes fit in 1024, the 11th does not.
    const QStringList many(20, QString(96, u'a'));
    const HandOffParse bounded = parseHandOff(encodeHandOff(many, kMax), kMax);
    EXPECT_EQ(bounded.status, HandOffParse::Complete);
    EXPECT_EQ(bounded.urls, many.mid(0, 10));
}

TEST(HandOffMessage, TellsPartialFromInvalidInput)
{
    const QByteArray good = encodeHandOff({QStringLiteral("feed://a"), QStringLiteral("feed://b")}, kMax);
    struct Case
    {
        const char *name;
        QByteArray bytes;
        HandOffParse::Status expected;
    };
    const Case cases[] = {
        {"nothing yet", QByteArray(), HandOffParse::Incomplete},
        {"part of the magic", QByteArray("CV"), HandOffParse::Incomplete},
        {"part of the header", good.left(6), HandOffParse::Incomplete},
        {"part of the payload", good.left(good.size() - 1), HandOffParse::Incomplete},
        {"whole message", good, HandOffParse::Complete},
        {"empty list", header(0), HandOffParse::Complete},
        {"wrong magic", QByteArray("GET / HTTP/1.1\r\n"), HandOffParse::Invalid},
        {"wrong first byte", QByteArray("X"), HandOffParse::Invalid},
        {"payload over the limit", header(kMax + 1), HandOffParse::Invalid},
        {"payload of 4 GiB", header(0xffffffffu), HandOffParse::Invalid},
        {"bytes after the message", good + 'x', HandOffParse::Invalid},
        {"URL longer than the payload", header(6) + QByteArray("\0\0\0\x09" "ab", 6), HandOffParse::Invalid},
        {"truncated URL length", header(2) + QByteArray("\0\0", 2), HandOffParse::Invalid},
        {"not UTF-8", header(6) + QByteArray("\0\0\0\x02\xff\xfe", 6), HandOffParse::Invalid},
        {"cut UTF-8 sequence", header(6) + QByteArray("\0\0\0\x02" "a\xc3", 6), HandOffParse::Invalid},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseHandOff(c.bytes, kMax).status, c.expected);
    }
}
