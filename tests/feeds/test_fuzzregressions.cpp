// Inputs the fuzz targets in fuzz/ once crashed on, kept in
// tests/data/fuzz/<target>/ and run through the same code and checks as the
// target. A crash here is the regression; the expectations pin what the
// readers make of the inputs now.
#include "feeds/legacy/keyedarchive.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList inputsOf(const QString &target)
{
    const QDir dir(QStringLiteral(CORVANE_TEST_DATA "/fuzz/") + target);
    QStringList paths;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

// What fuzz/fuzz_keyedarchive.cpp does with one input.
void readLikeTheFuzzTarget(const QByteArray &bytes)
{
    KeyedArchiveLimits tight;
    tight.maxDepth = 4;
    tight.maxObjects = 16;
    tight.maxValues = 32;
    tight.maxPayloadBytes = 256;
    for (const KeyedArchiveLimits &limits : {KeyedArchiveLimits{}, tight}) {
        const KeyedArchiveResult result = readKeyedArchive(bytes, limits);
        EXPECT_EQ(result.ok(), result.error.isEmpty());
        if (!result.ok()) {
            EXPECT_FALSE(result.root.isValid());
        }
    }
}

TEST(FuzzRegressions, KeyedArchiveInputsReadCleanly)
{
    const QStringList inputs = inputsOf(QStringLiteral("keyedarchive"));
    ASSERT_FALSE(inputs.isEmpty());
    for (const QString &path : inputs) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = readFile(path);
        ASSERT_FALSE(bytes.isEmpty());
        readLikeTheFuzzTarget(bytes);
    }
}

// The first of them, reduced: an archive whose root is a UTF-16 text with a
// NUL character. libplist's getter that hands out a C string asserts on such
// a text; the reader takes the text by pointer and length instead.
TEST(FuzzRegressions, KeyedArchiveTextWithANulCharacterIsReadWhole)
{
    const QByteArray archive = QByteArray::fromHex(
        "62706c6973743030d4010203040506070a59246172636869766572582476657273696f6e5424746f7058246f626a6563"
        "74735f100f4e534b65796564417263686976657212000186a0d1080954726f6f748001a20b0c55246e756c6c64006100"
        "00006200e908111b24293244494c5153565c0000000000000101000000000000000d0000000000000000000000000000"
        "0065");
    const KeyedArchiveResult result = readKeyedArchive(archive);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.root.toString(), QString::fromUtf16(u"a\0b\u00E9", 4));
}

} // namespace
