// Web pages through the feed and icon link lookups (libxml2's HTML parser
// and an XPath query each).
#include "feeds/reading/htmllinks.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray page(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QString> feed = htmllinks::rssFeedLink(page);
    const std::optional<QString> icon = htmllinks::shortcutIconLink(page);
    // Whatever link is found is the href of some element on the page.
    if (feed || icon) {
        const QList<QHash<QString, QString>> links = htmllinks::elementAttributes(page, QStringLiteral("//link"));
        for (const std::optional<QString> &found : {feed, icon}) {
            if (!found)
                continue;
            const bool listed = std::any_of(links.cbegin(), links.cend(), [&](const QHash<QString, QString> &a) {
                return a.value(QStringLiteral("href")) == *found;
            });
            if (!listed) {
                std::fprintf(stderr, "fuzz_htmllinks: a link that is no link element's href\n");
                std::abort();
            }
        }
    }
    return 0;
}
