#include "commoncolor.h"

#include <QtEndian>

#include <bit>
#include <cmath>
#include <cstring>

namespace corvane {

namespace {

constexpr qsizetype kComponentCount = 4;
constexpr qsizetype kArchiveSize = kComponentCount * qsizetype(sizeof(double));

} // namespace

QByteArray CommonColor::archived() const
{
    QByteArray bytes(kArchiveSize, Qt::Uninitialized);
    const double components[kComponentCount] = {red, green, blue, alpha};
    for (qsizetype i = 0; i < kComponentCount; ++i)
        qToLittleEndian(std::bit_cast<quint64>(components[i]), bytes.data() + i * 8);
    return bytes;
}

std::optional<CommonColor> CommonColor::fromArchive(const QByteArray &bytes)
{
    if (bytes.size() != kArchiveSize)
        return std::nullopt;
    double components[kComponentCount];
    for (qsizetype i = 0; i < kComponentCount; ++i) {
        components[i] = std::bit_cast<double>(qFromLittleEndian<quint64>(bytes.constData() + i * 8));
        if (!std::isfinite(components[i]))
            return std::nullopt;
    }
    return CommonColor{components[0], components[1], components[2], components[3]};
}

} // namespace corvane
