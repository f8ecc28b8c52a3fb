#include "handoffmessage.h"

#include <QStringDecoder>
#include <QtEndian>

namespace corvane::desktop {

namespace {

void appendLength(QByteArray &out, quint32 length)
{
    char bytes[4];
    qToBigEndian(length, bytes);
    out.append(bytes, 4);
}

quint32 lengthAt(QByteArrayView bytes, qsizetype offset)
{
    return qFromBigEndian<quint32>(bytes.data() + offset);
}

} // namespace

QByteArray encodeHandOff(const QStringList &urls, qsizetype maxPayload)
{
    QByteArray payload;
    for (const QString &url : urls) {
        const QByteArray utf8 = url.toUtf8();
        if (payload.size() + 4 + utf8.size() > maxPayload)
            break;
        appendLength(payload, quint32(utf8.size()));
        payload.append(utf8);
    }
    QByteArray message(kHandOffMagic, 4);
    appendLength(message, quint32(payload.size()));
    return message + payload;
}

HandOffParse parseHandOff(QByteArrayView received, qsizetype maxPayload)
{
    HandOffParse result;
    const QByteArrayView magic(kHandOffMagic, 4);
    if (!magic.startsWith(received.first(qMin<qsizetype>(received.size(), 4)))) {
        result.status = HandOffParse::Invalid;
        return result;
    }
    if (received.size() < kHandOffHeaderSize)
        return result;
    const quint32 payloadSize = lengthAt(received, 4);
    if (payloadSize > quint64(maxPayload)
        || received.size() > kHandOffHeaderSize + qsizetype(payloadSize)) {
        result.status = HandOffParse::Invalid;
        return result;
    }
    if (received.size() < kHandOffHeaderSize + qsizetype(payloadSize))
        return result;

    const QByteArrayView payload = received.sliced(kHandOffHeaderSize);
    qsizetype offset = 0;
    while (offset < payload.size()) {
        if (payload.size() - offset < 4) {
            result.status = HandOffParse::Invalid;
            return result;
        }
        const quint32 length = lengthAt(payload, offset);
        offset += 4;
        if (length > quint64(payload.size() - offset)) {
            result.status = HandOffParse::Invalid;
            return result;
        }
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString url = decoder(payload.sliced(offset, length));
        if (decoder.hasError()) {
            result.status = HandOffParse::Invalid;
            return result;
        }
        result.urls.append(std::move(url));
        offset += length;
    }
    result.status = HandOffParse::Complete;
    return result;
}

} // namespace corvane::desktop
