// Image values: decoding of downloaded bytes in the formats favicons come
// in, the TIFF archive kept in the store, and what is refused.
#include "feeds/refresh/commonimagepicture.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

// A picture whose every pixel differs, with some transparency.
QImage pattern(int width, int height, bool alpha = true)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba((x * 37) % 256, (y * 53) % 256, (x * y * 7 + 11) % 256,
                                       alpha && (x + y) % 3 == 0 ? 128 : 255));
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << format << ": " << qPrintable(writer.errorString());
    return bytes;
}

// Same size and the same colour at every pixel (compared premultiplied, so
// fully transparent pixels of any colour agree).
::testing::AssertionResult samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "sizes " << a.width() << "x" << a.height() << " and " << b.width()
                                             << "x" << b.height();
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column)
            if (x.pixel(column, row) != y.pixel(column, row))
                return ::testing::AssertionFailure()
                       << "pixel " << column << "," << row << ": " << std::hex << x.pixel(column, row) << " and "
                       << y.pixel(column, row);
    return ::testing::AssertionSuccess();
}

// Several single-picture .ico files (as QImageWriter writes them) joined
// into one directory of pictures, in the given order.
QByteArray joinedIco(const QList<QByteArray> &icos)
{
    const int count = int(icos.size());
    QByteArray header(6, '\0');
    qToLittleEndian<quint16>(1, header.data() + 2);
    qToLittleEndian<quint16>(quint16(count), header.data() + 4);
    QByteArray entries;
    QByteArray payloads;
    quint32 offset = quint32(6 + 16 * count);
    for (const QByteArray &ico : icos) {
        EXPECT_EQ(qFromLittleEndian<quint16>(ico.constData() + 4), 1);
        QByteArray entry = ico.mid(6, 16);
        const quint32 size = qFromLittleEndian<quint32>(entry.constData() + 8);
        const quint32 from = qFromLittleEndian<quint32>(entry.constData() + 12);
        qToLittleEndian<quint32>(offset + quint32(payloads.size()), entry.data() + 12);
        entries += entry;
        payloads += ico.mid(from, size);
    }
    return header + entries + payloads;
}

// A GIF89a with a four-colour palette. QImageWriter has no GIF encoder, so
// the LZW stream is written here: literal codes only, 3 bits wide, with a
// clear code after every two so the code table never widens them.
QByteArray gif(int width, int height, const QList<QRgb> &palette, const std::function<int(int, int)> &index)
{
    QByteArray out("GIF89a");
    const auto u16 = [&out](int v) {
        out += char(v & 0xff);
        out += char((v >> 8) & 0xff);
    };
    u16(width);
    u16(height);
    out += char(0x91); // global colour table, 4 entries
    out += char(0);
    out += char(0);
    for (int i = 0; i < 4; ++i) {
        out += char(qRed(palette[i]));
        out += char(qGreen(palette[i]));
        out += char(qBlue(palette[i]));
    }
    out += char(0x2c);
    u16(0);
    u16(0);
    u16(width);
    u16(height);
    out += char(0);
    out += char(2); // minimum code size

    QByteArray data;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        count += 3;
        while (count >= 8) {
            data += char(bits & 0xff);
            bits >>= 8;
            count -= 8;
        }
    };
    constexpr int kClear = 4, kEnd = 5;
    int sinceClear = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (sinceClear % 2 == 0)
                put(kClear);
            put(index(x, y));
            ++sinceClear;
        }
    put(kEnd);
    if (count > 0)
        data += char(bits & 0xff);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        out += char(block.size());
        out += block;
    }
    out += char(0);
    out += char(0x3b);
    return out;
}

} // namespace

TEST(CommonImageTest, FaviconFormatsAreDecodedAndRoundTripThroughTheTiffArchive)
{
    const QImage small = pattern(16, 16);
    const QImage large = pattern(48, 48);
    const QImage opaque = pattern(12, 10, false);
    const QList<QRgb> palette{qRgb(255, 0, 0), qRgb(0, 128, 0), qRgb(0, 0, 255), qRgb(250, 250, 250)};
    const auto index = [](int x, int y) { return (x + 2 * y) % 4; };
    QImage gifPicture(9, 7, QImage::Format_ARGB32);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            gifPicture.setPixel(x, y, palette[index(x, y)]);
    const struct
    {
        const char *name;
        QByteArray bytes;
        QImage expected;
        bool lossy = false; // only the size must survive
    } rows[] = {
        {"png", encoded(pattern(23, 17), "png"), pattern(23, 17)},
        {"ico", encoded(small, "ico"), small},
        // The largest is neither the first nor the last of the directory.
        {"ico directory", joinedIco({encoded(small, "ico"), encoded(large, "ico"), encoded(pattern(32, 32, false), "ico")}),
         large},
        {"gif", gif(9, 7, palette, index), gifPicture},
        {"bmp", encoded(opaque, "bmp"), opaque},
        {"tiff", encoded(opaque, "tiff"), opaque},
        {"jpeg", encoded(opaque, "jpeg"), opaque, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<CommonImage> decoded = CommonImage::fromBytes(row.bytes);
        ASSERT_TRUE(decoded);
        ASSERT_TRUE(decoded->hasImage());
        if (row.lossy)
            EXPECT_EQ(pictureOf(*decoded).size(), row.expected.size());
        else
            EXPECT_TRUE(samePixels(pictureOf(*decoded), row.expected));

        const QByteArray archive = decoded->archive();
        EXPECT_TRUE(archive.startsWith("II*") || archive.startsWith("MM")) << archive.left(4).toHex().constData();
        const CommonImage back = CommonImage::fromArchive(archive);
        ASSERT_TRUE(back.hasImage());
        EXPECT_TRUE(samePixels(pictureOf(back), pictureOf(*decoded)));
        // Archiving is stable: the same picture gives the same bytes.
        EXPECT_EQ(back.archive(), archive);
    }
}

TEST(CommonImageTest, ErrorPagesGarbageAndEmptyBytesAreNoPictureAndNoArchive)
{
    const QByteArray html = "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
                            "<body><h1>Not Found</h1><p>The requested URL was not found.</p></body></html>\n";
    EXPECT_FALSE(CommonImage::fromBytes(html));
    QByteArray garbage;
    for (int i = 0; i < 512; ++i)
        garbage += char((i * 7919 + 13) % 251);
    EXPECT_FALSE(CommonImage::fromBytes(garbage));
    EXPECT_FALSE(CommonImage::fromBytes(QByteArray()));
    // A PNG cut short after its header is no picture either.
    EXPECT_FALSE(CommonImage::fromBytes(encoded(pattern(20, 20), "png").left(40)));
    // Garbage where an archive should be reads as no image, and so does none.
    EXPECT_FALSE(CommonImage::fromArchive(html).hasImage());
    const CommonImage none = CommonImage::fromArchive(QByteArray());
    EXPECT_FALSE(none.hasImage());
    EXPECT_TRUE(pictureOf(none).isNull());
    EXPECT_TRUE(none.archive().isEmpty());
    EXPECT_FALSE(CommonImage().hasImage());
    EXPECT_TRUE(CommonImage().archive().isEmpty());
}

TEST(CommonImageTest, PicturesDeclaredLargerThanTheBoundAreRefused)
{
    constexpr int kSide = CommonImage::kMaximumSide;
    const auto whitePng = [](int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::white);
        return encoded(image, "png");
    };
    EXPECT_FALSE(CommonImage::fromBytes(whitePng(kSide + 1, 1)));
    EXPECT_FALSE(CommonImage::fromBytes(whitePng(1, kSide + 1)));
    const std::optional<CommonImage> accepted = CommonImage::fromBytes(whitePng(kSide, 1));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(pictureOf(*accepted).size(), QSize(kSide, 1));
}

TEST(CommonImageTest, ApplicationImagesComeFromTheResources)
{
    // tests/feeds/images/testdot.png, compiled into this test program.
    const std::optional<CommonImage> dot = CommonImage::imageNamed(QStringLiteral("testdot"));
    ASSERT_TRUE(dot);
    ASSERT_EQ(pictureOf(*dot).size(), QSize(8, 8));
    EXPECT_EQ(QColor(pictureOf(*dot).pixel(0, 0)), QColor(0x20, 0x60, 0xc0));
    EXPECT_FALSE(CommonImage::imageNamed(QStringLiteral("no-such-image")));
    EXPECT_FALSE(CommonImage::imageNamed(QString()));
}
