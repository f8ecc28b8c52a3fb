#include "htmlentities.h"

#include <QStringBuilder>
#include <QStringView>

#include <optional>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

struct NamedEntity
{
    QLatin1StringView text;
    char16_t replacement;
};

constexpr NamedEntity kNamedEntities[] = {
    {"&amp;"_L1, u'&'},  {"&apos;"_L1, u'\''}, {"&quot;"_L1, u'"'},  {"&lt;"_L1, u'<'},
    {"&gt;"_L1, u'>'},   {"&nbsp;"_L1, u' '},  {"&ndash;"_L1, u'-'}, {"&mdash;"_L1, u'-'},
};

int digitValue(QChar c, bool hex)
{
    const char16_t unit = c.unicode();
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (hex && unit >= u'a' && unit <= u'f')
        return unit - u'a' + 10;
    if (hex && unit >= u'A' && unit <= u'F')
        return unit - u'A' + 10;
    return -1;
}

// Reads a hexadecimal number, or a decimal one with an optional sign, at pos
// and moves pos past it; none (pos unchanged) when no digit follows. The
// value wraps modulo 2^32, so however long the number, its low 16 bits (the
// only part used) are those of its true value; a negative number gives its
// two's complement.
std::optional<quint32> readNumber(QStringView text, qsizetype &pos, bool hex)
{
    qsizetype i = pos;
    bool negative = false;
    if (!hex && i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const qsizetype firstDigit = i;
    const quint32 base = hex ? 16 : 10;
    quint32 value = 0;
    for (int digit; i < text.size() && (digit = digitValue(text[i], hex)) >= 0; ++i)
        value = value * base + quint32(digit);
    if (i == firstDigit)
        return std::nullopt;
    pos = i;
    return negative ? 0u - value : value;
}

// Where the text of a malformed numeric reference ends: before the first
// space, tab, line feed, carriage return or ";".
qsizetype endOfMalformedReference(QStringView text, qsizetype pos)
{
    while (pos < text.size()) {
        const char16_t unit = text[pos].unicode();
        if (unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r' || unit == u';')
            break;
        ++pos;
    }
    return pos;
}

// Decodes the entity starting with the "&" at pos, appends its replacement
// and moves pos past what it consumed.
void decodeEntityAt(QStringView text, qsizetype &pos, QString &out)
{
    const QStringView rest = text.sliced(pos);
    for (const NamedEntity &entity : kNamedEntities) {
        if (rest.startsWith(entity.text, Qt::CaseInsensitive)) {
            out.append(QChar(entity.replacement));
            pos += entity.text.size();
            return;
        }
    }
    if (!rest.startsWith(u"&#")) {
        out.append(u'&');
        ++pos;
        return;
    }

    pos += 2;
    const bool hex = pos < text.size() && (text[pos] == u'x' || text[pos] == u'X');
    const QStringView x = hex ? text.sliced(pos++, 1) : QStringView();
    if (const std::optional<quint32> number = readNumber(text, pos, hex)) {
        out.append(QChar(char16_t(*number & 0xFFFF)));
        if (pos < text.size() && text[pos] == u';')
            ++pos;
        return;
    }
    // Not a number: the reference is copied as it stands, and the stopping
    // character is left for the caller to copy.
    const qsizetype end = endOfMalformedReference(text, pos);
    out += u"&#" % x % text.sliced(pos, end - pos);
    pos = end;
}

} // namespace

QString stringByDecodingHTMLEntities(const QString &text)
{
    if (!text.contains(u'&'))
        return text;

    const QStringView in(text);
    QString out;
    out.reserve(in.size() + in.size() / 4);
    qsizetype pos = 0;
    while (pos < in.size()) {
        const qsizetype ampersand = in.indexOf(u'&', pos);
        const qsizetype plainEnd = ampersand < 0 ? in.size() : ampersand;
        out.append(in.sliced(pos, plainEnd - pos));
        pos = plainEnd;
        if (ampersand >= 0)
            decodeEntityAt(in, pos, out);
    }
    return out;
}

} // namespace corvane
