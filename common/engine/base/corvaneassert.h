#pragma once

// Programming errors (a call on the wrong thread, a missing override) are
// checked with CORVANE_ASSERT and a fixed text. Debug builds and the test
// suites abort so the fault cannot go unnoticed; release builds log the text
// and carry on, since a bar that is always on should not die over it.

namespace corvane {

[[noreturn]] void assertionAbort(const char *text, const char *file, int line);
void assertionLog(const char *text, const char *file, int line);

// True when failed assertions abort (debug builds, or CORVANE_ASSERT_ABORT=1).
bool assertionsAbort();

} // namespace corvane

#define CORVANE_ASSERT(cond, text)                                                                  \
    do {                                                                                            \
        if (!(cond)) [[unlikely]] {                                                                 \
            if (::corvane::assertionsAbort())                                                       \
                ::corvane::assertionAbort((text), __FILE__, __LINE__);                              \
            ::corvane::assertionLog((text), __FILE__, __LINE__);                                    \
        }                                                                                           \
    } while (false)
