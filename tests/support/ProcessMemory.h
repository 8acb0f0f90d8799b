#pragma once
// The test process's own memory, for the tests that hold hostile clients to a bound.

#include <gtest/gtest.h>
#include <malloc.h>

#include <fstream>
#include <string>

namespace tq::testing {

// The process's resident memory ("VmRSS:") or its peak since StartMeasuring() ("VmHWM:"), in kB;
// -1 where the system does not tell.
inline long MemoryKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == field) {
            long kb = -1;
            status >> kb;
            return kb;
        }
    return -1;
}

// AddressSanitizer's allocator pads every block and keeps freed ones in quarantine, so the
// resident memory of a sanitizer build says nothing of what a server holds: memory bounds are
// checked in the normal build only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedAllocator = true;
#else
constexpr bool kSanitizedAllocator = false;
#endif
#else
constexpr bool kSanitizedAllocator = false;
#endif

// The resident memory from which growth is measured, or -1 where it cannot be: memory freed
// earlier goes back to the system first, or reusing it would hide new use (and in a sanitizer
// build, above).
inline long StartMeasuring() {
    if (kSanitizedAllocator)
        return -1;
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";  // resets the peak
    return clear.flush() ? MemoryKb("VmRSS:") : -1;
}

// The peak resident memory since `before` (StartMeasuring()) grew by less than `mostKb`. In a
// sanitizer build the test says why there is no bound and counts as skipped, once the rest of it
// has passed (a failure elsewhere in it still fails it).
inline void ExpectResidentGrowthBelow(long before, long mostKb) {
    if (before > 0) {
        const long grown = MemoryKb("VmHWM:") - before;
        EXPECT_LT(grown, mostKb) << "resident memory grew by " << grown << " kB";
    } else if (kSanitizedAllocator) {
        GTEST_SKIP() << "the resident memory bound: AddressSanitizer's allocator pads and "
                        "quarantines every block (checked in the normal build)";
    }
}

}  // namespace tq::testing
