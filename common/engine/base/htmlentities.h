#pragma once

#include <QLatin1StringView>
#include <QString>

namespace corvane {

// Replaces the entities feeds commonly put in plain-text fields: the named
// ones &amp; &apos; &quot; &lt; &gt; &nbsp; &ndash; &mdash; (any letter case;
// &nbsp; becomes a plain space, both dashes a hyphen-minus) and numeric
// references &#65; &#x41; (";" optional), which yield the single UTF-16 code
// unit given by the number's low 16 bits. Other entities pass unchanged.
QString stringByDecodingHTMLEntities(const QString &text);

// The character an HTML 4.01 character entity stands for ("eacute" gives
// U+00E9, "nbsp" U+00A0; names are case-sensitive, without "&" and ";"),
// or 0 for a name HTML does not define.
char32_t htmlCharacterEntity(QLatin1StringView name);

} // namespace corvane
