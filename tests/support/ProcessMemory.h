#pragma once
// The test process's own memory, for the tests that hold hostile clients to a bound.

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

// The resident memory from which growth is measured, or -1 where it cannot be: memory freed
// earlier goes back to the system first, or reusing it would hide new use.
inline long StartMeasuring() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";  // resets the peak
    return clear.flush() ? MemoryKb("VmRSS:") : -1;
}

}  // namespace tq::testing
