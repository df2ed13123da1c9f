// Invariants that code relies on without testing them in the shipped
// modules, where they cost speed and can only hold. Sanitizer and fuzz builds
// define ZORV_CHECK_INVARIANTS, and there a broken one stops the program at
// once, naming itself, instead of letting memory be corrupted quietly.
#pragma once

#ifdef ZORV_CHECK_INVARIANTS
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void InvariantBroken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define ZORV_INVARIANT(condition) \
    ((condition) ? static_cast<void>(0) : InvariantBroken(#condition, __FILE__, __LINE__))
#else
// Not evaluated, but still compiled, so a condition cannot rot unseen.
#define ZORV_INVARIANT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif
