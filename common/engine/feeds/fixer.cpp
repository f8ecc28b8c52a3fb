#include "feeds/fixer.h"

#include <QByteArrayView>
#include <QStringView>
#include <QVarLengthArray>

#include <cstring>
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

using Insertions = QVarLengthArray<qsizetype, 32>;

// The positions just behind each bare ampersand, where "amp;" goes. Tokens
// cannot overlap one another, so testing each position in turn finds the
// same occurrences as searching for each token on its own.
//
// While no ampersand is pending only "&" and "<![CDATA[" change anything,
// so the search jumps from one of these to the next (memchr and a substring
// search, both much faster than looking at every character); the other
// tokens are looked for only between an ampersand and the token after it.
template <typename Char>
Insertions bareAmpersands(const Char *data, qsizetype size)
{
    Insertions insertions;
    qsizetype ampersand = -1;
    qsizetype cdata = -1;
    qsizetype pos = 0;
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
            insertions.append(behind);
    }
    return insertions;
}

template <typename Text, typename Char>
Text withInsertions(const Text &input, const Char *data, qsizetype size)
{
    const Insertions insertions = bareAmpersands(data, size);
    if (insertions.isEmpty())
        return input;

    Text output;
    output.reserve(size + 4 * insertions.size());
    qsizetype copied = 0;
    for (const qsizetype at : insertions) {
        output.append(input.sliced(copied, at - copied));
        if constexpr (sizeof(Char) == 1)
            output.append("amp;", 4);
        else
            output.append(u"amp;");
        copied = at;
    }
    output.append(input.sliced(copied));
    return output;
}

} // namespace

QByteArray fixData(const QByteArray &bytes)
{
    // The text is the first decoding that succeeds: UTF-8 when the bytes are
    // valid UTF-8, and otherwise ISO 8859-2, which as registered for the
    // internet gives every byte value a character (0x80-0x9F being the C1
    // controls) and so decodes anything. ISO 8859-1 and ASCII, tried after
    // it, are never reached, and no document is left unrepaired for want of
    // an encoding. Both encodings extend ASCII and round-trip, so the byte
    // repair gives what repairing the text and encoding it again would.
    return withInsertions(bytes, bytes.constData(), bytes.size());
}

QString fixString(const QString &text)
{
    return withInsertions(text, reinterpret_cast<const char16_t *>(text.utf16()), text.size());
}

} // namespace corvane::Fixer
