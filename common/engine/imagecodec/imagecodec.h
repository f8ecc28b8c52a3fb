#pragma once

// The interface of the picture decoder module (loaded at run time by
// CommonImage; nothing links it).

#include <QByteArray>

namespace corvane::imagecodec {

// Pictures larger than this on either side are refused.
inline constexpr int kMaximumSide = 4096;
// The symbol the module exports:
//   bool corvane_image_to_archive(const QByteArray *bytes, QByteArray *archive)
// decodes any format Qt reads (ico, png, gif, jpeg, bmp, tiff...) and sets
// the picture's TIFF bytes; false when the bytes are no picture.
inline constexpr char kDecodeSymbol[] = "corvane_image_to_archive";
using DecodeFunction = bool (*)(const QByteArray *bytes, QByteArray *archive);

} // namespace corvane::imagecodec
