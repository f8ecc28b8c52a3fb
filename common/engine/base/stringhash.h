#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>

namespace corvane {

// Item identity. Every news item is recognised across refreshes by its item
// hash, and stored items keep the value, so these functions must produce the
// same numbers forever.
//
// String hash: over the text's UTF-16 code units, h = h * 33 + unit modulo
// 2^32, of which the low 28 bits are kept. The result lies in 1 ... 0x0FFFFFFF:
// the empty text hashes to 0x0FFFFFFE and a text whose 28 bits are all zero to
// 0x0FFFFFFF, so that 0 is left for a missing text.
//
// Item hash: the string hash of the trimmed title in the high 32 bits, that of
// the canonical link in the low 32 bits. Each half is at most 0x0FFFFFFF, so
// an item hash is never negative.

quint32 permanentHash(QStringView text);
inline quint32 permanentHash(const QString &text)
{
    return permanentHash(QStringView(text));
}
// 0 for a missing text, as distinct from the empty one.
quint32 permanentHash(const std::optional<QString> &text);

// The link without white space at either end if that is a URL, else the link
// with all white space removed, inside too. None for a missing link.
std::optional<QString> canonizedLinkFromLink(const std::optional<QString> &link);

// A missing title or link contributes 0 to its half; an empty or all-white
// title contributes 0x0FFFFFFE.
qint64 calculateHashFromTitleAndLink(const std::optional<QString> &title,
                                     const std::optional<QString> &link);
// The item hash of a record's "title" and "link" values; an absent key counts
// as a missing value.
qint64 calculateHash(const QHash<QString, QString> &record);

} // namespace corvane
