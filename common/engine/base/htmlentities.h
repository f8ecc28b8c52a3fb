#pragma once

#include <QString>

namespace corvane {

// Replaces the entities feeds commonly put in plain-text fields: the named
// ones &amp; &apos; &quot; &lt; &gt; &nbsp; &ndash; &mdash; (any letter case;
// &nbsp; becomes a plain space, both dashes a hyphen-minus) and numeric
// references &#65; &#x41; (";" optional), which yield the single UTF-16 code
// unit given by the number's low 16 bits. Other entities pass unchanged.
QString stringByDecodingHTMLEntities(const QString &text);

} // namespace corvane
