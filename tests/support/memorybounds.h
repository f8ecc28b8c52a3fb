#pragma once

// Memory bounds the tests assert hold for the normal build. Under
// AddressSanitizer every allocation carries red zones, freed blocks wait in
// a quarantine and shadow memory grows with what is touched, so the same
// work takes a few times more resident memory; bounds are scaled by this.
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
