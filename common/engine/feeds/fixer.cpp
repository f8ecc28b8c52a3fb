#include "feeds/fixer.h"

#include <QByteArrayView>
#include <QStringView>
#include <QVarLengthArray>

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

template <typename Char>
bool mayStartToken(Char c)
{
    return c == Char('&') || c == Char(';') || c == Char('<') || c == Char(']');
}

template <typename Char>
qsizetype cdataEnd(const Char *data, qsizetype size, qsizetype from)
{
    if constexpr (sizeof(Char) == 1)
        return QByteArrayView(data + from, size - from).indexOf(QByteArrayView("]]>"));
    else
        return QStringView(data + from, size - from).indexOf(u"]]>");
}

using Insertions = QVarLengthArray<qsizetype, 32>;

// The positions just behind each bare ampersand, where "amp;" goes. Tokens
// cannot overlap one another, so testing each position in turn finds the
// same occurrences as searching for each token on its own.
template <typename Char>
Insertions bareAmpersands(const Char *data, qsizetype size)
{
    Insertions insertions;
    qsizetype pendingBehind = -1;
    // Any token but ";" shows that the pending ampersand starts no reference.
    const auto endPending = [&](bool bare) {
        if (pendingBehind >= 0 && bare)
            insertions.append(pendingBehind);
        pendingBehind = -1;
    };

    qsizetype pos = 0;
    while (pos < size) {
        const Char c = data[pos];
        if (!mayStartToken(c)) {
            ++pos;
            continue;
        }
        if (c == Char('&')) {
            endPending(true);
            pendingBehind = ++pos;
        } else if (c == Char(';')) {
            endPending(false);
            ++pos;
        } else if (c == Char('<')) {
            if (matchesAt(data, size, pos, "<![CDATA[")) {
                endPending(true);
                // Inside a section only its end counts, and nothing in it is changed.
                const qsizetype end = cdataEnd(data, size, pos + 9);
                if (end < 0)
                    break;
                pos += 9 + end + 3;
            } else if (matchesAt(data, size, pos, "</")) {
                endPending(true);
                pos += 2;
            } else {
                ++pos;
            }
        } else if (matchesAt(data, size, pos, "]]>")) {
            endPending(true);
            pos += 3;
        } else {
            ++pos;
        }
    }
    // An ampersand still pending at the end stays as it is.
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
