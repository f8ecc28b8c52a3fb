// A fetched document through the whole feed reading path: repair, the XML
// reader and the RSS/RDF/Atom state machine, then each record's date and
// item hash as a refresh computes them.
#include "feeds/reading/feeddocumentreader.h"

#include "base/itemdate.h"
#include "base/stringhash.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_feedparser: %s\n", what);
    std::abort();
}

// A fixed "now", so an input reads the same on every run.
const Date kNow = 1709294400; // 2024-03-01 12:00 UTC

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FeedDocumentReader::Options options;
    options.pausePerElement = false;
    options.now = kNow;
    // A cut-off no date falls behind, so every item is dated while read and still kept.
    options.earliestDate = -std::numeric_limits<double>::infinity();
    FeedDocumentReader reader(options);
    const bool ok = reader.read(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (ok && reader.sawHtml())
        fail("a read that stopped at html reported success");

    for (const ItemRecord &record : reader.records()) {
        const Date date = dateForDictionary(record, kNow);
        // Dates ahead of now are moved back to it or into the last hour.
        if (date > kNow)
            fail("an item dated after now");
        if (calculateHash(record) < 0)
            fail("a negative item hash");
        const ItemRecord converted = FeedDocumentReader::convertAtomToRSS(record);
        if (calculateHash(converted) < 0)
            fail("a negative item hash after the Atom conversion");
    }
    (void)reader.channelName();
    (void)reader.mainLink();
    (void)reader.channelImageUrl();
    (void)reader.errorString();
    return 0;
}
