#include "sync/keyvaluefile.h"

#include "testfiles.h"

#include <QDateTime>
#include <QFile>

#include <gtest/gtest.h>

using namespace corvane::sync;

namespace {

// A binary property list from its object bytes: offsets of one byte,
// references of one byte, the top object first.
QByteArray plist(const QList<QByteArray> &objects, quint8 top = 0)
{
    QByteArray bytes("bplist00");
    QByteArray offsets;
    for (const QByteArray &object : objects) {
        offsets.append(char(bytes.size()));
        bytes.append(object);
    }
    const int tableOffset = int(bytes.size());
    bytes.append(offsets);
    QByteArray trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = char(objects.size());
    trailer[23] = char(top);
    trailer[31] = char(tableOffset);
    return bytes + trailer;
}

QByteArray ascii(const char *text)
{
    const QByteArray body(text);
    return QByteArray(1, char(0x50 | body.size())) + body;
}

QByteArray integer(qint8 value)
{
    return QByteArray("\x10", 1) + QByteArray(1, char(value));
}

} // namespace

TEST(KeyValueFile, RoundTripsEveryKindOfFieldValue)
{
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    KeyValueDictionary dictionary;
    dictionary.insert(QStringLiteral("Category.A"),
                      {{QStringLiteral("name"), QStringLiteral("Nachrichten ü")},
                       {QStringLiteral("position"), 2.5},
                       {QStringLiteral("clock"), qint64(-1024)}});
    dictionary.insert(QStringLiteral("DataItem.-9223372036854775807"),
                      {{QStringLiteral("starred"), true},
                       {QStringLiteral("parsedDate"), date},
                       {QStringLiteral("clock"), qint64(1) << 40}});
    dictionary.insert(QStringLiteral("Keyword.a.b"), {{QStringLiteral("clock"), qint64(0)}});

    const QByteArray bytes = writeKeyValueFile(dictionary);
    ASSERT_TRUE(bytes.startsWith("bplist00"));
    const KeyValueFileContent content = readKeyValueFile(bytes);
    ASSERT_TRUE(content.ok()) << qPrintable(content.error);
    EXPECT_EQ(content.skippedRecords, 0);
    ASSERT_EQ(content.dictionary.size(), 3);
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        SCOPED_TRACE(qPrintable(it.key()));
        EXPECT_TRUE(record::equal(content.dictionary.value(it.key()), it.value()));
    }
    EXPECT_EQ(content.dictionary.value(QStringLiteral("Category.A")).value(QStringLiteral("clock")).toLongLong(), -1024);
    EXPECT_EQ(writeKeyValueFile(content.dictionary), bytes) << "equal dictionaries give equal files";
}

TEST(KeyValueFile, RefusesFilesThatAreNoDictionaryOfRecords)
{
    const QByteArray good = writeKeyValueFile({{QStringLiteral("Keyword.x"), {{QStringLiteral("clock"), qint64(3)}}}});
    // Object 0 is a dictionary whose only value is itself.
    const QByteArray cyclic = plist({QByteArray("\xD1\x01\x00", 3), ascii("k")});
    const QByteArray topArray = plist({QByteArray("\xA1\x01", 2), integer(1)});
    const QByteArray pastEnd = plist({QByteArray("\xD1\x01\x07", 3), ascii("k")});
    const struct
    {
        const char *name;
        QByteArray bytes;
    } rows[] = {
        {"empty", QByteArray()},
        {"text", QByteArray("clock = 3;")},
        {"xml property list", QByteArray("<?xml version=\"1.0\"?><plist><dict/></plist>")},
        {"truncated", good.left(good.size() - 5)},
        {"cut in the middle", good.left(good.size() / 2)},
        {"cyclic", cyclic},
        {"top level array", topArray},
        {"reference past the objects", pastEnd},
        {"oversized", QByteArray(32 * 1024 * 1024 + 1, '\0')},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const KeyValueFileContent content = readKeyValueFile(row.bytes);
        EXPECT_FALSE(content.ok());
        EXPECT_TRUE(content.dictionary.isEmpty());
    }
}

TEST(KeyValueFile, SkipsBadRecordsAndKeepsTheRest)
{
    // {"good": {"clock": 5}, "noclock": {"name": "x"}, "textclock": {"clock": "5"},
    //  "notamap": 7, "data": {"clock": 1, "blob": <00>}, "nested": {"clock": 1, "list": [1]}}
    const QList<QByteArray> objects = {
        QByteArray("\xD6\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 13), // 0: top
        ascii("good"), ascii("noclock"), ascii("textclock"), ascii("notamap"), ascii("data"), ascii("nested"),
        QByteArray("\xD1\x0D\x0E", 3),                 // 7: {"clock": 5}
        QByteArray("\xD1\x0F\x10", 3),                 // 8: {"name": "x"}
        QByteArray("\xD1\x0D\x11", 3),                 // 9: {"clock": "5"}
        integer(7),                                    // 10
        QByteArray("\xD2\x0D\x12\x14\x13", 5),         // 11: {"clock": 1, "blob": <00>}
        QByteArray("\xD2\x0D\x15\x14\x16", 5),         // 12: {"clock": 1, "list": [1]}
        ascii("clock"),                                // 13
        integer(5),                                    // 14
        ascii("name"),                                 // 15
        ascii("x"),                                    // 16
        ascii("5"),                                    // 17
        ascii("blob"),                                 // 18
        QByteArray("\x41\x00", 2),                     // 19: data
        integer(1),                                    // 20
        ascii("list"),                                 // 21
        QByteArray("\xA1\x14", 2),                     // 22: [1]
    };
    const KeyValueFileContent content = readKeyValueFile(plist(objects));
    ASSERT_TRUE(content.ok()) << qPrintable(content.error);
    EXPECT_EQ(content.dictionary.keys(), QStringList{QStringLiteral("good")});
    EXPECT_EQ(record::clock(content.dictionary.value(QStringLiteral("good"))), 5);
    EXPECT_EQ(content.skippedRecords, 5);
}

// A file another writer made (Python's plistlib, binary format 1.0): the
// published format, not only what libplist writes.
TEST(KeyValueFile, ReadsFilesOfOtherWriters)
{
    const KeyValueFileContent content =
        readKeyValueFile(corvane::test::readFile(QStringLiteral(CORVANE_SYNC_TEST_DATA "/keyvalue-written-elsewhere.bplist")));
    ASSERT_TRUE(content.ok()) << qPrintable(content.error);
    EXPECT_EQ(content.dictionary.size(), 7);
    const KeyValueRecord item = content.dictionary.value(QStringLiteral("DataItem.-4611686018427387904"));
    EXPECT_EQ(item.value(QStringLiteral("parsedDate")).toDateTime(), QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC));
    EXPECT_EQ(item.value(QStringLiteral("orderingDate")).toString(), QString());
    EXPECT_TRUE(item.value(QStringLiteral("starred")).toBool());
    EXPECT_EQ(record::clock(content.dictionary.value(QStringLiteral("Category.b0f7f1dd3ebd6fef2f6c3ad0e8bc0d7c"))), -1024);
    EXPECT_TRUE(record::isDeletion(content.dictionary.value(QStringLiteral("Keyword.gone"))));
}
