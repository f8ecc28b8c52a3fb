// Fixer::fixData on arbitrary bytes. Besides the sanitizers' checks: the
// repair looks only at ASCII tokens, so the byte repair must agree with the
// text repair of the same bytes read as Latin-1 (which maps every byte to
// one character and back), and it only ever inserts "amp;" after ampersands.
#include "feeds/reading/fixer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_fixer: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray fixed = corvane::Fixer::fixData(input);
    const QString fixedText = corvane::Fixer::fixString(QString::fromLatin1(input));
    if (fixedText.toLatin1() != fixed)
        fail("fixData and fixString disagree");

    // Removing every inserted "amp;" gives the input back.
    qsizetype in = 0;
    qsizetype out = 0;
    while (out < fixed.size()) {
        if (in < input.size() && fixed[out] == input[in]) {
            if (input[in] == '&' && fixed.size() - out > 4 && fixed.sliced(out + 1, 4) == "amp;"
                && input.sliced(in + 1, std::min<qsizetype>(4, input.size() - in - 1)) != "amp;") {
                // An inserted "amp;" behind this ampersand.
                out += 5;
                ++in;
                continue;
            }
            ++in;
            ++out;
            continue;
        }
        fail("fixData changed more than bare ampersands");
    }
    if (in != input.size())
        fail("fixData dropped bytes");
    return 0;
}
