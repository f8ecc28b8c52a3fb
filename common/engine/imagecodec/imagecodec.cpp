// The picture decoder behind CommonImage, a module of its own so that a
// process pays for Qt Gui and the image codecs only once it decodes an icon.
//
// Decoding is bounded: pictures whose declared size exceeds kMaximumSide on
// either side are refused before their pixels are read. Of an .ico holding
// several pictures, the largest one is taken (by area; the first of equal
// ones). The result is the picture's TIFF bytes.
#include "imagecodec.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <optional>

namespace {

constexpr int kMaximumSide = corvane::imagecodec::kMaximumSide;

// Formats whose content detection is too weak to tell them from text or
// noise (a WBMP header is two zero bytes, a TGA header a few plausible
// numbers); server error pages must not come out as pictures.
bool isWeaklyDetected(const QByteArray &format)
{
    return format == "wbmp" || format == "tga";
}

// Files of these formats may hold the same picture at several sizes.
bool holdsSeveralSizes(const QByteArray &format)
{
    return format == "ico" || format == "cur";
}

constexpr int kMostPicturesLooked = 64;

bool fits(const QSize &size)
{
    return size.width() <= kMaximumSide && size.height() <= kMaximumSide;
}

// Picks the largest picture of a multi-size file: the reader is left on it.
void jumpToLargest(QImageReader &reader)
{
    const int count = std::min(reader.imageCount(), kMostPicturesLooked);
    if (count < 2)
        return;
    int best = -1;
    qint64 bestArea = -1;
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            continue;
        const QSize size = reader.size();
        if (!size.isValid() || !fits(size))
            continue;
        const qint64 area = qint64(size.width()) * size.height();
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    reader.jumpToImage(std::max(best, 0));
}

// Pictures with transparency are kept premultiplied, the form a TIFF
// archive reads back as, so archiving the decoded picture again gives the
// same bytes.
QImage canonical(QImage image)
{
    if (image.hasAlphaChannel() && image.format() != QImage::Format_Indexed8
        && image.format() != QImage::Format_ARGB32_Premultiplied)
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return image;
}

std::optional<QImage> decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return std::nullopt;
    const QByteArray format = reader.format();
    if (isWeaklyDetected(format))
        return std::nullopt;
    if (holdsSeveralSizes(format))
        jumpToLargest(reader);
    // Refuse oversized pictures before any pixel memory is allocated.
    const QSize declared = reader.size();
    if (declared.isValid() && !fits(declared))
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull() || !fits(image.size()))
        return std::nullopt;
    return canonical(std::move(image));
}


QByteArray tiffArchive(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return QByteArray();
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(1); // LZW: icons are mostly flat colour
    if (!writer.write(image))
        return QByteArray();
    buffer.close();
    return bytes;
}

} // namespace

extern "C" Q_DECL_EXPORT bool corvane_image_to_archive(const QByteArray *bytes, QByteArray *archive)
{
    const std::optional<QImage> image = decode(*bytes);
    if (!image)
        return false;
    *archive = tiffArchive(*image);
    return !archive->isEmpty();
}
