#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace corvane {

// An image value of a record field; its archived form is the image's TIFF
// bytes (empty: no image). Pictures are decoded by the image codec module,
// loaded on the first decoding, so a process that decodes none never loads
// Qt Gui; the bar draws from archive() with QImage::fromData.
//
// Decoding is bounded: pictures whose declared size exceeds kMaximumSide on
// either side are refused before their pixels are read. Of an .ico holding
// several pictures, the largest one is taken (by area; the first of equal ones).
class CommonImage {
public:
    static constexpr int kMaximumSide = 4096;

    CommonImage() = default;                                  // no image
    static std::optional<CommonImage> fromBytes(const QByteArray &bytes); // any format Qt reads (ico, png, gif, jpeg, bmp, tiff...); none when not a picture
    static CommonImage fromArchive(const QByteArray &archive); // bytes that are no picture → object without image
    static std::optional<CommonImage> imageNamed(const QString &name);   // an application image from Qt resources ":/images/<name>.png" (none if missing)
    bool hasImage() const { return !m_archive.isEmpty(); }
    QByteArray archive() const { return m_archive; } // TIFF bytes of the image, empty when none

private:
    explicit CommonImage(QByteArray archive);

    QByteArray m_archive;
};

} // namespace corvane
