#pragma once

// The decoded picture of an image value, for code that draws it (it links
// Qt Gui itself; the engine does not).

#include "feeds/refresh/commonimage.h"

#include <QImage>

namespace corvane {

inline QImage pictureOf(const CommonImage &image)
{
    return image.hasImage() ? QImage::fromData(image.archive(), "TIFF") : QImage();
}

} // namespace corvane
