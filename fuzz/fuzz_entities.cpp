// The entity decoder of plain-text fields on the input as UTF-8 text. Every
// replacement is shorter than the reference it replaces, so the result is
// never longer than the text.
#include "base/htmlentities.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString decoded = corvane::stringByDecodingHTMLEntities(text);
    if (decoded.size() > text.size()) {
        std::fprintf(stderr, "fuzz_entities: decoding made the text longer\n");
        std::abort();
    }
    if (!text.contains(u'&') && decoded != text) {
        std::fprintf(stderr, "fuzz_entities: a text without references changed\n");
        std::abort();
    }
    return 0;
}
