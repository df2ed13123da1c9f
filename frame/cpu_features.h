// The processor features the audio code paths choose between at run time:
// the byte-permute instructions of AVX-512 (VBMI), with which the archive
// plug-in expands codes and the writer finds them, 64 samples a step.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>

#include <atomic>
#include <cstdint>

namespace cpu_features {

// Asked of the processor once. A plain atomic rather than a function-local
// static: the plug-ins carry no thread-safe initialisation guards, and two
// threads that both ask store the same answer.
enum : uint8_t { VbmiUnknown, VbmiAbsent, VbmiPresent };
inline std::atomic<uint8_t> vbmiSupport{VbmiUnknown};

// The instructions exist, and the system saves the vector registers they
// use across thread switches (the opmask, upper-256 and high-16 ZMM states,
// besides the SSE and AVX ones).
inline bool ProcessorRunsVbmi() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE)) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    if (!(ebx & bit_AVX512F) || !(ebx & bit_AVX512BW) || !(ecx & bit_AVX512VBMI)) return false;
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const unsigned zmmStates = 0xE6;  // SSE, AVX, opmask, ZMM0-15 upper halves, ZMM16-31
    return (low & zmmStates) == zmmStates;
}

}  // namespace cpu_features

inline bool HasVbmi() {
    uint8_t known = cpu_features::vbmiSupport.load(std::memory_order_relaxed);
    if (known == cpu_features::VbmiUnknown) {
        known = cpu_features::ProcessorRunsVbmi() ? cpu_features::VbmiPresent : cpu_features::VbmiAbsent;
        cpu_features::vbmiSupport.store(known, std::memory_order_relaxed);
    }
    return known == cpu_features::VbmiPresent;
}
#endif
