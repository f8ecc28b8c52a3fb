#include "feeds/refresh/commonimage.h"

#include "imagecodec/imagecodec.h"

#include "base/log.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibrary>

#include <mutex>

namespace corvane {
namespace {

static_assert(CommonImage::kMaximumSide == imagecodec::kMaximumSide);

// The module next to an installed program, else the one of the build tree.
imagecodec::DecodeFunction loadDecoder()
{
    QStringList places;
    if (QCoreApplication::instance())
        places.append(QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/corvane/")
                      + QStringLiteral(CORVANE_IMAGECODEC_NAME));
    places.append(QStringLiteral(CORVANE_IMAGECODEC_PATH));
    for (const QString &place : std::as_const(places)) {
        if (!QFile::exists(place))
            continue;
        // Kept loaded for the life of the process.
        auto *library = new QLibrary(place);
        if (auto decode = reinterpret_cast<imagecodec::DecodeFunction>(library->resolve(imagecodec::kDecodeSymbol)))
            return decode;
        logLine(QStringLiteral("cannot load the image decoder %1: %2").arg(place, library->errorString()));
        delete library;
    }
    logLine(QStringLiteral("no image decoder found: pictures are not decoded"));
    return nullptr;
}

imagecodec::DecodeFunction decoder()
{
    static std::once_flag once;
    static imagecodec::DecodeFunction decode = nullptr;
    std::call_once(once, [] { decode = loadDecoder(); });
    return decode;
}

} // namespace

CommonImage::CommonImage(QByteArray archive)
    : m_archive(std::move(archive))
{
}

std::optional<CommonImage> CommonImage::fromBytes(const QByteArray &bytes)
{
    const imagecodec::DecodeFunction decode = bytes.isEmpty() ? nullptr : decoder();
    QByteArray archive;
    if (!decode || !decode(&bytes, &archive))
        return std::nullopt;
    return CommonImage(std::move(archive));
}

CommonImage CommonImage::fromArchive(const QByteArray &archive)
{
    return fromBytes(archive).value_or(CommonImage());
}

std::optional<CommonImage> CommonImage::imageNamed(const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    QFile file(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromBytes(file.readAll());
}

} // namespace corvane
