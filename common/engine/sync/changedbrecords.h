#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

namespace corvane::sync {

// One read state as the change database carries it between machines.
struct ReadStateRecord
{
    qint64 itemHash = 0;
    qint64 stamp = 0; // the item's readLocalStamp
    bool read = false;

    friend bool operator==(const ReadStateRecord &, const ReadStateRecord &) = default;
};

// The snapshot file: 24-byte records without header or padding, each field a
// signed 64-bit little-endian integer: item hash, stamp, state (1 read, 0 unread).
namespace changedb {

constexpr qsizetype kRecordSize = 24;

void appendRecord(QByteArray &out, const ReadStateRecord &record);
// The records of `bytes`; a trailing part shorter than a record is ignored.
// A state field other than 0 or 1 makes the record "unreadable": it is
// skipped, so a damaged record never flips an item either way.
std::vector<ReadStateRecord> readRecords(QByteArrayView bytes);

} // namespace changedb
} // namespace corvane::sync
