// What the stand-in offers tests beyond Windows: counters of live
// resources and fault injection. Not available in the Windows build.
#pragma once

#include "win32_standin.h"

namespace platform_testing {

enum class Call { Alloc, Lock, Open, Size, Seek, Read, Count_ };

enum class FaultMode {
    Fail,   // the call reports failure (null, INVALID_*, FALSE with nothing read)
    Short,  // reads: one byte fewer than asked; seeks: land one byte early
};

struct LiveCounts {
    long blocks;  // global blocks allocated and not freed
    long locks;   // sum of lock counts of movable blocks
    long files;   // open file handles
    bool operator==(const LiveCounts& o) const {
        return blocks == o.blocks && locks == o.locks && files == o.files;
    }
};

STANDIN_API LiveCounts Live();

// Calls of each kind made since the last ResetFaults(); fault sweeps count a
// clean run first and then fail each call in turn.
STANDIN_API long CallsMade(Call kind);

// Makes the nth call of `kind` from now (1-based) misbehave as `mode`.
// Only one fault is armed at a time.
STANDIN_API void InjectFault(Call kind, long nth, FaultMode mode = FaultMode::Fail);

// Disarms the fault and zeroes the call counters.
STANDIN_API void ResetFaults();

// Frees and unlocks of handles the stand-in never issued, or double frees.
STANDIN_API long MisuseCount();

}  // namespace platform_testing
