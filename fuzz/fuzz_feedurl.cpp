// Addresses as typed or pasted, and item links, on the input as UTF-8 text.
#include "base/stringhash.h"
#include "base/urltext.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_feedurl: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    if (const std::optional<QUrl> url = feedURL(text)) {
        if (url->host().isEmpty())
            fail("feedURL gave a URL without a host");
        if (url->scheme() != u"http" && url->scheme() != u"https")
            fail("feedURL gave a scheme other than http and https");
    }

    if (const std::optional<QUrl> url = urlFromString(text)) {
        if (url->scheme().isEmpty())
            fail("urlFromString gave a URL without a scheme");
        if (text.isEmpty() || containsWhiteSpaceOrNewline(text))
            fail("urlFromString accepted an empty text or one with white space");
    }

    const std::optional<QString> link = canonizedLinkFromLink(text);
    if (!link)
        fail("canonizedLinkFromLink lost a present link");
    if (!link->isEmpty() && (isWhiteSpaceOrNewline(link->front()) || isWhiteSpaceOrNewline(link->back())))
        fail("canonizedLinkFromLink left white space at an end");
    if (canonizedLinkFromLink(*link) != link)
        fail("canonizedLinkFromLink is not idempotent");
    if (canonizedLinkFromLink(std::nullopt))
        fail("canonizedLinkFromLink made a link from none");
    (void)permanentHash(*link);
    return 0;
}
