#pragma once

#include <QByteArray>

#include <optional>

namespace corvane {

// A colour as calibrated RGBA components in 0...1. Its archived form, used in
// settings and in the store, is the four components as IEEE 754 doubles in
// the order red, green, blue, alpha, each 8 bytes little-endian (32 bytes).
struct CommonColor
{
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    QByteArray archived() const;
    // None when the bytes are not a colour archive (wrong size, or a component
    // that is not a finite number).
    static std::optional<CommonColor> fromArchive(const QByteArray &bytes);

    friend bool operator==(const CommonColor &, const CommonColor &) = default;
};

} // namespace corvane
