#include "stringhash.h"

#include "urltext.h"

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

constexpr qsizetype kStackUnits = 64;
constexpr quint32 kHashMask = 0x0FFFFFFF;
constexpr quint32 kEmptyTextHash = 0x0FFFFFFE;
constexpr quint32 kZeroHash = 0x0FFFFFFF;

quint32 hashUnits(const char16_t *units, qsizetype count)
{
    quint32 h = 0;
    for (qsizetype i = 0; i < count; ++i)
        h = h * 33 + units[i];
    return h;
}

std::optional<QString> recordValue(const QHash<QString, QString> &record, const QString &key)
{
    const auto it = record.constFind(key);
    if (it == record.cend())
        return std::nullopt;
    return *it;
}

} // namespace

quint32 permanentHash(QStringView text)
{
    const qsizetype count = text.size();
    if (count == 0)
        return kEmptyTextHash;

    // Titles and links nearly always fit the stack buffer; only longer texts
    // pay for a heap buffer, freed when it goes out of scope.
    char16_t stackUnits[kStackUnits];
    std::unique_ptr<char16_t[]> heapUnits;
    char16_t *units = stackUnits;
    if (count > kStackUnits) {
        heapUnits = std::make_unique_for_overwrite<char16_t[]>(count);
        units = heapUnits.get();
    }
    std::copy_n(text.utf16(), count, units);

    const quint32 hash = hashUnits(units, count) & kHashMask;
    return hash == 0 ? kZeroHash : hash;
}

quint32 permanentHash(const std::optional<QString> &text)
{
    return text ? permanentHash(QStringView(*text)) : 0;
}

std::optional<QString> canonizedLinkFromLink(const std::optional<QString> &link)
{
    if (!link)
        return std::nullopt;
    const QStringView trimmed = trimWhiteSpaceAndNewlines(*link);
    // Without inner white space both rules give the trimmed text, so the URL
    // parse is needed only for a text that has some.
    if (!containsWhiteSpaceOrNewline(trimmed) || urlFromString(trimmed.toString()))
        return trimmed.size() == link->size() ? *link : trimmed.toString();

    QString joined;
    joined.reserve(link->size());
    for (const QChar c : *link) {
        if (!isWhiteSpaceOrNewline(c))
            joined.append(c);
    }
    return joined;
}

qint64 calculateHashFromTitleAndLink(const std::optional<QString> &title,
                                     const std::optional<QString> &link)
{
    const quint64 titleHash = title ? permanentHash(trimWhiteSpaceAndNewlines(*title)) : 0;
    const quint64 linkHash = permanentHash(canonizedLinkFromLink(link));
    return qint64(titleHash << 32 | linkHash);
}

qint64 calculateHash(const QHash<QString, QString> &record)
{
    return calculateHashFromTitleAndLink(recordValue(record, u"title"_s),
                                         recordValue(record, u"link"_s));
}

} // namespace corvane
