#include "pictures.h"

#include "store/datasource.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

namespace corvane::desktop::pictures {

namespace {

struct Cached
{
    size_t digest = 0;
    qsizetype size = 0;
    QImage image;
};

QHash<ObjectID, Cached> &cache()
{
    static QHash<ObjectID, Cached> pictures;
    return pictures;
}

QImage decode(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    // Stored pictures are bounded when they are stored; this bound keeps a
    // forged store from making the bar allocate gigabytes.
    if (reader.size().width() > 4096 || reader.size().height() > 4096)
        return QImage();
    QImage image = reader.read();
    if (image.isNull())
        return image;
    // The entry draws at most about 100 points: keep a small copy only.
    if (image.width() > 256 || image.height() > 256)
        image = image.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

static QImage drawBuiltin(const QString &name, qreal devicePixelRatio, const QColor &tint);

QImage subscriptionPicture(const Datasource *source)
{
    if (!source)
        return QImage();
    const QByteArray bytes = source->imageData();
    if (bytes.isEmpty()) {
        cache().remove(source->objectID());
        return QImage();
    }
    const size_t digest = qHash(bytes);
    Cached &entry = cache()[source->objectID()];
    if (entry.digest != digest || entry.size != bytes.size()) {
        entry.digest = digest;
        entry.size = bytes.size();
        entry.image = decode(bytes);
    }
    return entry.image;
}

static QImage drawBuiltin(const QString &name, qreal devicePixelRatio, const QColor &tint)
{
    const int side = qRound(24 * devicePixelRatio);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (name == u"twitter") {
        p.setBrush(QColor(29, 161, 242));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(1, 1, 22, 22));
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(15);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, 24, 23), Qt::AlignCenter, QStringLiteral("t"));
    } else if (name == u"share-icon") {
        QPen pen(tint, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath box;
        box.moveTo(8, 9);
        box.lineTo(5, 9);
        box.lineTo(5, 21);
        box.lineTo(19, 21);
        box.lineTo(19, 9);
        box.lineTo(16, 9);
        p.drawPath(box);
        p.drawLine(QPointF(12, 3), QPointF(12, 15));
        p.drawLine(QPointF(8, 7), QPointF(12, 3));
        p.drawLine(QPointF(16, 7), QPointF(12, 3));
    } else {
        // A feed: a rounded orange square with a dot and two arcs.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(242, 140, 40));
        p.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5, 15, 4.5, 4.5));
        QPen pen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(-2.5, 8.5, 17, 17), 0, 90 * 16);
        p.drawArc(QRectF(-9.5, 1.5, 31, 31), 0, 90 * 16);
    }
    p.end();
    return image;
}

QImage builtin(const QString &name, qreal devicePixelRatio, const QColor &tint)
{
    static QHash<QString, QImage> drawn;
    const QString key = name + u'/' + QString::number(devicePixelRatio) + u'/' + QString::number(tint.rgba());
    auto it = drawn.constFind(key);
    if (it != drawn.cend())
        return *it;
    if (drawn.size() > 64)
        drawn.clear();
    return *drawn.insert(key, drawBuiltin(name, devicePixelRatio, tint));
}

} // namespace corvane::desktop::pictures
