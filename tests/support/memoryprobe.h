#pragma once

// How much resident memory a piece of work takes, for the tests that bound it.

#include <QtGlobal>

// Under AddressSanitizer every allocation carries red zones, freed blocks
// wait in a quarantine and shadow memory grows with what is touched, so the
// same work takes a few times more resident memory; bounds are scaled by this.
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_TEST_UNDER_ASAN 1
#endif
#endif

#ifdef CORVANE_TEST_UNDER_ASAN
inline constexpr long long kMemoryBoundFactor = 3;
#else
inline constexpr long long kMemoryBoundFactor = 1;
#endif

namespace corvane::test {

// How far the resident size rose above its level at construction. The
// kernel's peak (VmHWM) is reset to the present size first, so earlier
// tests in the same process do not count; where the reset is refused, the
// growth is measured from the earlier peak (and so reads low).
class PeakGrowth
{
public:
    PeakGrowth();
    bool wasReset() const { return m_reset; }
    qint64 kb() const;

private:
    bool m_reset = false;
    qint64 m_start = 0;
};

} // namespace corvane::test
