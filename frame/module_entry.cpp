// The module entry notification, shared by both plug-ins; each module's
// ModuleAttach/ModuleDetach say what it keeps between calls. On Windows the
// loader calls DllMain directly (the modules link no C runtime start-up
// code), so it is the only code that runs at load.
#include "plugin_frame.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        ModuleAttach();
    } else if (reason == DLL_PROCESS_DETACH) {
        ModuleDetach();
    }
    return TRUE;
}

PLATFORM_MODULE_ENTRY(DllMain)
