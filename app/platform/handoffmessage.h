#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

namespace corvane::desktop {

// The message a starting instance hands its URLs over with (see
// SingleInstance): "CVN1", a 32-bit big-endian payload length, then per URL a
// 32-bit big-endian length and its UTF-8 bytes.
inline constexpr char kHandOffMagic[] = "CVN1";
inline constexpr qsizetype kHandOffHeaderSize = 8;
inline constexpr char kHandOffAcknowledgement = '\x06';

// The message of as many of `urls` (in order) as fit in `maxPayload` bytes.
QByteArray encodeHandOff(const QStringList &urls, qsizetype maxPayload);

struct HandOffParse
{
    enum Status { Incomplete, Complete, Invalid };
    Status status = Incomplete;
    QStringList urls;
};

// Reads what a client has sent so far. Invalid as soon as the bytes cannot
// start a message of at most `maxPayload` bytes, or hold more than one, or a
// URL is not UTF-8.
HandOffParse parseHandOff(QByteArrayView received, qsizetype maxPayload);

} // namespace corvane::desktop
