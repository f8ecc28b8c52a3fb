#include "feeds/reading/fixer.h"

#include "base/htmlentities.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QList>
#include <QStringView>
#include <QVarLengthArray>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

namespace corvane::Fixer {

namespace {

// The repair is defined on text, but every token it looks for is ASCII. In
// the encodings it accepts (UTF-8 and single-byte sets that extend ASCII) an
// ASCII byte always stands for that character and never occurs inside another
// character's bytes, and decoding followed by encoding gives back the same
// bytes. So the bytes are repaired directly: the result is the one the text
// would give, without two conversions on every refresh.
template <typename Char>
bool matchesAt(const Char *data, qsizetype size, qsizetype pos, std::string_view token)
{
    if (size - pos < qsizetype(token.size()))
        return false;
    for (size_t i = 0; i < token.size(); ++i) {
        if (data[pos + qsizetype(i)] != Char(token[i]))
            return false;
    }
    return true;
}

// Where needle next occurs at or after from, or size when it does not.
// In bytes the search jumps between occurrences of the needle's rarest
// character, "[" or "]" for the tokens searched for, with memchr.
template <typename Char>
qsizetype nextOccurrence(const Char *data, qsizetype size, qsizetype from, std::string_view needle,
                         qsizetype rareAt)
{
    if constexpr (sizeof(Char) == 1) {
        const char rare = needle[size_t(rareAt)];
        qsizetype pos = from + rareAt;
        while (pos < size) {
            const void *found = std::memchr(data + pos, rare, size_t(size - pos));
            if (!found)
                break;
            const qsizetype start = static_cast<const char *>(found) - data - rareAt;
            if (matchesAt(data, size, start, needle))
                return start;
            pos = start + rareAt + 1;
        }
        return size;
    } else {
        Q_UNUSED(rareAt);
        const qsizetype found =
            QStringView(data + from, size - from).indexOf(QLatin1StringView(needle.data(), needle.size()));
        return found < 0 ? size : from + found;
    }
}

template <typename Char>
qsizetype nextAmpersand(const Char *data, qsizetype size, qsizetype from)
{
    if constexpr (sizeof(Char) == 1) {
        const void *found = std::memchr(data + from, '&', size_t(size - from));
        return found ? static_cast<const Char *>(found) - data : size;
    } else {
        const qsizetype found = QStringView(data + from, size - from).indexOf(u'&');
        return found < 0 ? size : from + found;
    }
}

// One change to the document: "amp;" put in behind a bare ampersand, or the
// name of an HTML character entity (between "&" and ";") replaced by "#N",
// its character's number, so that "&eacute;" reads as "&#233;".
struct Edit
{
    qsizetype at = 0;
    qsizetype removed = 0; // 0: "amp;" is inserted
    char32_t codePoint = 0;
};

using Edits = QVarLengthArray<Edit, 32>;

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiLetterOrDigit(char16_t c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}

// The names the document declares as entities ("<!ENTITY name"), which it
// defines itself and which must stay references.
template <typename Char>
QList<QByteArray> declaredEntities(const Char *data, qsizetype size)
{
    QList<QByteArray> names;
    for (qsizetype pos = nextOccurrence(data, size, 0, "<!ENTITY", 2); pos < size;
         pos = nextOccurrence(data, size, pos + 8, "<!ENTITY", 2)) {
        qsizetype i = pos + 8;
        while (i < size && (data[i] == Char(' ') || data[i] == Char('\t') || data[i] == Char('\n') || data[i] == Char('\r')))
            ++i;
        QByteArray name;
        while (i < size && isAsciiLetterOrDigit(char16_t(data[i])))
            name.append(char(data[i++]));
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

// The character of an HTML entity reference whose name runs from begin to
// end, when the repair should write it out: a name HTML defines, which is
// neither one of XML's own five nor declared by the document. Feeds copy
// such references ("&nbsp;", "&eacute;") from their HTML without a DTD that
// would define them, and an undefined entity is a fatal error in XML; under
// the Netscape RSS 0.91 DOCTYPE, whose DTD is never loaded, they vanish.
template <typename Char>
char32_t entityToWriteOut(const Char *data, qsizetype begin, qsizetype end, const QList<QByteArray> &declared)
{
    constexpr qsizetype kLongestName = 8; // "thetasym"
    const qsizetype length = end - begin;
    if (length < 2 || length > kLongestName || !isAsciiLetter(char16_t(data[begin])))
        return 0;
    char name[kLongestName];
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = char16_t(data[begin + i]);
        if (!isAsciiLetterOrDigit(c))
            return 0;
        name[i] = char(c);
    }
    const QLatin1StringView view(name, length);
    for (const char *own : {"amp", "lt", "gt", "quot", "apos"}) {
        if (view == QLatin1StringView(own))
            return 0;
    }
    const char32_t codePoint = htmlCharacterEntity(view);
    if (codePoint == 0 || declared.contains(QByteArray(name, length)))
        return 0;
    return codePoint;
}

// The edits, in document order. Tokens cannot overlap one another, so
// testing each position in turn finds the same occurrences as searching for
// each token on its own.
//
// While no ampersand is pending only "&" and "<![CDATA[" change anything,
// so the search jumps from one of these to the next (memchr and a substring
// search, both much faster than looking at every character); the other
// tokens are looked for only between an ampersand and the token after it.
template <typename Char>
Edits documentEdits(const Char *data, qsizetype size)
{
    Edits edits;
    qsizetype ampersand = -1;
    qsizetype cdata = -1;
    qsizetype pos = 0;
    std::optional<QList<QByteArray>> declared;
    while (pos < size) {
        if (ampersand < pos)
            ampersand = nextAmpersand(data, size, pos);
        if (cdata < pos)
            cdata = nextOccurrence(data, size, pos, "<![CDATA[", 2);
        if (cdata < ampersand) {
            // Inside a section only its end counts, and nothing in it is changed.
            const qsizetype end = nextOccurrence(data, size, cdata + 9, "]]>", 0);
            pos = end + 3;
            continue;
        }
        if (ampersand >= size)
            break;

        // An ampersand: the token after it decides whether it is bare.
        const qsizetype behind = ampersand + 1;
        pos = behind;
        bool bare = false;
        while (pos < size) {
            const Char c = data[pos];
            if (c == Char(';')) {
                if (!declared)
                    declared = declaredEntities(data, size);
                if (const char32_t codePoint = entityToWriteOut(data, behind, pos, *declared))
                    edits.append({behind, pos - behind, codePoint});
                ++pos;
                break;
            }
            if (c == Char('&')) {
                bare = true;
                break;
            }
            if (c == Char('<') && (matchesAt(data, size, pos, "</") || matchesAt(data, size, pos, "<![CDATA["))) {
                bare = true;
                break;
            }
            if (c == Char(']') && matchesAt(data, size, pos, "]]>")) {
                bare = true;
                pos += 3;
                break;
            }
            ++pos;
        }
        // An ampersand still pending at the end stays as it is.
        if (bare)
            edits.append({behind, 0, 0});
    }
    return edits;
}

template <typename Text, typename Char>
Text withEdits(const Text &input, const Char *data, qsizetype size)
{
    const Edits edits = documentEdits(data, size);
    if (edits.isEmpty())
        return input;

    Text output;
    output.reserve(size + 8 * edits.size());
    qsizetype copied = 0;
    for (const Edit &edit : edits) {
        output.append(input.sliced(copied, edit.at - copied));
        if (edit.removed == 0) {
            if constexpr (sizeof(Char) == 1)
                output.append("amp;", 4);
            else
                output.append(u"amp;");
        } else {
            const QByteArray number = '#' + QByteArray::number(quint32(edit.codePoint));
            if constexpr (sizeof(Char) == 1)
                output.append(number);
            else
                output.append(QLatin1StringView(number));
        }
        copied = edit.at + edit.removed;
    }
    output.append(input.sliced(copied));
    return output;
}


// UTF-16 by its byte-order mark (RFC 7303, section 3.3; XML 1.0, appendix F).
std::optional<QStringConverter::Encoding> utf16Encoding(QByteArrayView bytes)
{
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE)
        return QStringConverter::Utf16LE;
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFE && uchar(bytes[1]) == 0xFF)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const uchar lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int length;
        char32_t value;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            value = value << 6 | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF.
        if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF))
            || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        p += length;
    }
    return true;
}

// True for bytes without a byte-order mark or an encoding in their XML
// declaration that are not valid UTF-8.
bool isUndeclaredNonUtf8(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return false;
    if (bytes.startsWith("<?xml")) {
        const qsizetype close = bytes.indexOf("?>");
        const QByteArrayView declaration = bytes.first(close < 0 ? qMin<qsizetype>(bytes.size(), 256) : close);
        if (declaration.contains("encoding"))
            return false;
    }
    return !isValidUtf8(bytes);
}

// Windows-1252 (the WHATWG table): ISO 8859-1 but for 0x80-0x9F, which hold
// quotes, dashes and a few letters; the five bytes it leaves open stay the
// C1 controls of ISO 8859-1.
QByteArray windows1252ToUtf8(QByteArrayView bytes)
{
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const uchar c = uchar(byte);
        *out++ = QChar(c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : char16_t(c));
    }
    return text.toUtf8();
}

} // namespace

QByteArray fixData(const QByteArray &bytes)
{
    // UTF-16 is the one encoding a feed may come in that does not extend
    // ASCII: its bytes are repaired as text and written back as they came,
    // byte-order mark first.
    if (const std::optional<QStringConverter::Encoding> utf16 = utf16Encoding(bytes)) {
        QStringDecoder decode(*utf16, QStringDecoder::Flag::Stateless);
        const QString text = decode(bytes);
        if (decode.hasError())
            return bytes;
        QStringEncoder encode(*utf16, QStringEncoder::Flag::WriteBom);
        return encode(fixString(text));
    }
    // Otherwise the text is the first decoding that succeeds: UTF-8 when the
    // bytes are valid UTF-8, and otherwise ISO 8859-2, which as registered for
    // the internet gives every byte value a character (0x80-0x9F being the C1
    // controls) and so decodes anything. Both extend ASCII and round-trip, so
    // the byte repair gives what repairing the text and encoding it again
    // would. A document that is not UTF-8 and does not say what it is
    // would fail in the XML reader, which then assumes UTF-8; such bytes are
    // nearly always Windows-1252 (or its subset ISO 8859-1), and are handed
    // on as UTF-8.
    if (isUndeclaredNonUtf8(bytes)) {
        const QByteArray utf8 = windows1252ToUtf8(bytes);
        return withEdits(utf8, utf8.constData(), utf8.size());
    }
    return withEdits(bytes, bytes.constData(), bytes.size());
}

QString fixString(const QString &text)
{
    return withEdits(text, reinterpret_cast<const char16_t *>(text.utf16()), text.size());
}

QByteArray closeVoidElements(const QByteArray &bytes)
{
    static constexpr std::string_view kVoid[] = {"br", "hr", "img", "wbr"};
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    QByteArray output;
    qsizetype copied = 0;
    qsizetype cdata = nextOccurrence(data, size, 0, "<![CDATA[", 2);
    for (qsizetype pos = 0; pos < size;) {
        const void *found = std::memchr(data + pos, '<', size_t(size - pos));
        if (!found)
            break;
        const qsizetype open = static_cast<const char *>(found) - data;
        if (open == cdata) {
            pos = nextOccurrence(data, size, open + 9, "]]>", 0) + 3;
            cdata = nextOccurrence(data, size, pos, "<![CDATA[", 2);
            continue;
        }
        pos = open + 1;
        qsizetype nameEnd = pos;
        while (nameEnd < size && isAsciiLetter(char16_t(uchar(data[nameEnd]))))
            ++nameEnd;
        const QByteArrayView name(data + pos, nameEnd - pos);
        const bool isVoid = std::any_of(std::begin(kVoid), std::end(kVoid), [&](std::string_view v) {
            return name.compare(QByteArrayView(v.data(), qsizetype(v.size())), Qt::CaseInsensitive) == 0;
        });
        if (!isVoid || nameEnd >= size || !(data[nameEnd] == '>' || data[nameEnd] == '/' || std::isspace(uchar(data[nameEnd]))))
            continue;
        // The tag's end, passing over ">" inside quoted attribute values.
        qsizetype close = nameEnd;
        char quote = 0;
        for (; close < size; ++close) {
            const char c = data[close];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>' || c == '<') {
                break;
            }
        }
        if (close >= size || data[close] != '>' || data[close - 1] == '/')
            continue;
        output.append(data + copied, close - copied);
        output.append('/');
        copied = close;
        pos = close;
    }
    if (copied == 0)
        return bytes;
    output.append(data + copied, size - copied);
    return output;
}

} // namespace corvane::Fixer
