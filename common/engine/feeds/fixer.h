#pragma once

#include <QByteArray>
#include <QString>

// Repair of fetched feed documents before they reach the XML reader. Many
// feeds write a bare "&" in text ("Tom & Jerry"), which no XML parser
// accepts; the repair turns such an ampersand into "&amp;" and leaves entity
// and character references ("&amp;", "&#8217;") and CDATA sections alone.
//
// An ampersand counts as a reference when the next of the tokens
// "<![CDATA[", "]]>", "&", ";" and "</" after it is ";". Otherwise it is bare.
// An ampersand followed by text and a much later ";" ("a & b; c") is thus
// taken for a reference and left as it is; an ampersand with no token after
// it at all is left too.
namespace corvane::Fixer {

// The document with its bare ampersands escaped, in the encoding it came in:
// the first of UTF-8, ISO 8859-2, ISO 8859-1 and ASCII that decodes it.
QByteArray fixData(const QByteArray &bytes);

// The same repair on decoded text.
QString fixString(const QString &text);

} // namespace corvane::Fixer
