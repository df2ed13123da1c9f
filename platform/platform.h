// The kernel services both plug-ins use. On Windows they are the real ones;
// elsewhere a small stand-in library provides the same names with the
// behaviour the plug-ins rely on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define PLUGIN_EXPORT extern "C"
// DllMain is the loader's own entry point on Windows.
#define PLATFORM_MODULE_ENTRY(entry)
#else
#include "win32_standin.h"
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
// Without a loader notification, library constructors stand in for
// process attach and detach.
#define PLATFORM_MODULE_ENTRY(entry)                                        \
    __attribute__((constructor)) static void PlatformAttach_() {            \
        entry(nullptr, DLL_PROCESS_ATTACH, nullptr);                        \
    }                                                                       \
    __attribute__((destructor)) static void PlatformDetach_() {             \
        entry(nullptr, DLL_PROCESS_DETACH, nullptr);                        \
    }
#endif
