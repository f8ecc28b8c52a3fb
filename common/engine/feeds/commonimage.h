#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QImage;

namespace corvane {

// An image value of a record field; its archived form is the image's TIFF bytes (empty: no image).
//
// Decoding is bounded: pictures whose declared size exceeds kMaximumSide on
// either side are refused before their pixels are read. Of an .ico holding
// several pictures, the largest one is taken (by area; the first of equal ones).
class CommonImage {
public:
    static constexpr int kMaximumSide = 4096;

    CommonImage() = default;                                  // no image
    static std::optional<CommonImage> fromBytes(const QByteArray &bytes); // any format Qt reads (ico, png, gif, jpeg, bmp, tiff...); none when not a picture
    static CommonImage fromArchive(const QByteArray &archive); // empty data → object without image
    static std::optional<CommonImage> imageNamed(const QString &name);   // an application image from Qt resources ":/images/<name>.png" (none if missing)
    bool hasImage() const;
    QImage image() const;         // the decoded picture; callers include <QImage>
    QByteArray archive() const;   // TIFF bytes of the image, empty when none

private:
    explicit CommonImage(QImage image);

    std::shared_ptr<const QImage> m_image; // shared: copies of a value share one picture
};

} // namespace corvane
