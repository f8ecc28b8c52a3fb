#pragma once

#include "store/objectid.h"

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QImage>

namespace corvane {
class Datasource;
}

namespace corvane::desktop::pictures {

// The subscription's own picture, decoded once per change of its image
// data; a null image when it has none or the data is no picture.
QImage subscriptionPicture(const Datasource *source);

// The built-in pictures, drawn in code: "corvane-single" (a feed), "twitter"
// and "share-icon", as 24 x 24 images at the device pixel ratio, in `tint`
// where the picture is a single colour ("share-icon").
QImage builtin(const QString &name, qreal devicePixelRatio, const QColor &tint = Qt::white);

} // namespace corvane::desktop::pictures
