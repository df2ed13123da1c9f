// The processor features the audio code paths choose between at run time:
// the byte-permute instructions of AVX-512 (VBMI), with which the archive
// plug-in expands codes and the writer finds them, 64 samples a step.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

// Asked once; the answer never changes while the program runs.
inline bool HasVbmi() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    }();
    return has;
}
#endif
