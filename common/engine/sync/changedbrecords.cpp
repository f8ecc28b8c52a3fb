#include "changedbrecords.h"

#include <QtEndian>

namespace corvane::sync::changedb {

void appendRecord(QByteArray &out, const ReadStateRecord &record)
{
    const qsizetype at = out.size();
    out.resize(at + kRecordSize);
    uchar *p = reinterpret_cast<uchar *>(out.data() + at);
    qToLittleEndian<qint64>(record.itemHash, p);
    qToLittleEndian<qint64>(record.stamp, p + 8);
    qToLittleEndian<qint64>(record.read ? 1 : 0, p + 16);
}

std::vector<ReadStateRecord> readRecords(QByteArrayView bytes)
{
    std::vector<ReadStateRecord> records;
    const qsizetype count = bytes.size() / kRecordSize;
    records.reserve(size_t(count));
    const uchar *p = reinterpret_cast<const uchar *>(bytes.data());
    for (qsizetype i = 0; i < count; ++i, p += kRecordSize) {
        const qint64 state = qFromLittleEndian<qint64>(p + 16);
        if (state != 0 && state != 1)
            continue;
        records.push_back({qFromLittleEndian<qint64>(p), qFromLittleEndian<qint64>(p + 8), state == 1});
    }
    return records;
}

} // namespace corvane::sync::changedb
