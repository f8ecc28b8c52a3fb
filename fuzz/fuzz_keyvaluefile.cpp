// Key-value files of the cloud folder, as other machines and programs may
// leave them: readKeyValueFile on arbitrary bytes. A file that reads must
// hold only records with an integer "clock", and writing what was read and
// reading it again must give the same dictionary.
#include "sync/keyvaluefile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corvane::sync;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const KeyValueFileContent content = readKeyValueFile(bytes);
    if (!content.ok()) {
        if (!content.dictionary.isEmpty()) {
            std::fprintf(stderr, "fuzz_keyvaluefile: a refused file with records\n");
            std::abort();
        }
        return 0;
    }
    for (const KeyValueRecord &entry : content.dictionary)
        if (entry.value(record::kClock).typeId() != QMetaType::LongLong) {
            std::fprintf(stderr, "fuzz_keyvaluefile: a record without an integer clock\n");
            std::abort();
        }
    const KeyValueFileContent again = readKeyValueFile(writeKeyValueFile(content.dictionary));
    if (!again.ok() || again.dictionary.size() != content.dictionary.size()) {
        std::fprintf(stderr, "fuzz_keyvaluefile: what was read does not read back\n");
        std::abort();
    }
    return 0;
}
