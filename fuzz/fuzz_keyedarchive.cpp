// Keyed archives (binary property lists in NSKeyedArchiver form) as found in
// the data folders of the earlier format: readKeyedArchive on arbitrary
// bytes, with the default limits and with tight ones, so both the reading
// and the limit checks are exercised.
#include "feeds/legacy/keyedarchive.h"

#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

void read(QByteArrayView bytes, const KeyedArchiveLimits &limits)
{
    const KeyedArchiveResult result = readKeyedArchive(bytes, limits);
    if (!result.ok() && result.root.isValid()) {
        std::fprintf(stderr, "fuzz_keyedarchive: a failed read with a root\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    read(bytes, KeyedArchiveLimits{});
    KeyedArchiveLimits tight;
    tight.maxDepth = 4;
    tight.maxObjects = 16;
    tight.maxValues = 32;
    tight.maxPayloadBytes = 256;
    read(bytes, tight);
    return 0;
}
