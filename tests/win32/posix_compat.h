// Forced into the shared fixture sources when they are built for Windows:
// the archive builder's temporary folder uses mkdtemp, which the mingw C
// library lacks. The Win32 programs make their own folders and never call
// it; it only has to compile and link.
#pragma once

#include <direct.h>
#include <io.h>

#include <cstdlib>

inline char* mkdtemp(char* pattern) {
    if (_mktemp(pattern) == nullptr) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
