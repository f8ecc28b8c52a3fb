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

// The repair also writes out HTML character entities the document uses
// without defining them ("&eacute;" becomes "&#233;"; XML's five and the
// document's own declarations stay), repairs UTF-16 documents as text, and
// hands on a document that is not UTF-8 and declares no encoding as UTF-8,
// read as Windows-1252.

// The document with its bare ampersands escaped and HTML entities written
// out: UTF-16 (by its byte-order mark) stays UTF-16; bytes that are valid
// UTF-8, or declare an encoding, stay as they are; anything else becomes
// UTF-8 from Windows-1252.
QByteArray fixData(const QByteArray &bytes);

// The document with the HTML void elements br, hr, img and wbr closed where
// written as in HTML ("<br>" becomes "<br/>"), outside CDATA sections. Raw
// HTML in a description is the commonest reason a feed is not well-formed;
// the reader tries this when a document fails.
QByteArray closeVoidElements(const QByteArray &bytes);

// The same repair on decoded text.
QString fixString(const QString &text);

} // namespace corvane::Fixer
