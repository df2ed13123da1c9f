// The host's view of the two plug-ins in the browser: each plug-in is a
// WebAssembly module of its own, as each is a DLL of its own, so a call
// crosses from this module to that one through the worker's JavaScript
// (plugin_bridge.js). This file stands in for host/plugin_module.cpp: the
// exports it returns have the plug-ins' own signatures, so host/ calls them
// exactly as it calls a loaded DLL.
#include <cstring>
#include <string>

#include "plugin_frame.h"
#include "plugin_module.h"

// Implemented in plugin_bridge.js: copy the arguments into the plug-in's
// memory, call its export there, and bring back what it hands over (blocks
// are copied into blocks of this module's stand-in, which the host then
// owns and frees as usual).
extern "C" {
int32_t zorv_bridge_call(int32_t module, int32_t function, const void* source, int32_t length, uint32_t flags,
                         uint32_t position, void* out1, void* out2);
}

namespace {

enum Module : int32_t { Picture = 0, Archive = 1 };
enum Function : int32_t { IsSupported, GetPicture, GetPictureInfo, GetArchiveInfo, GetFile };

// Progress callbacks cannot cross to the other module; the worker has no
// one to report to while a call runs anyway.
int32_t WINAPI PictureIsSupported(const char* path, uintptr_t probeWord) {
    return zorv_bridge_call(Picture, IsSupported, path, 0, 0, 0, reinterpret_cast<void*>(probeWord), nullptr);
}

int32_t WINAPI PictureGet(const char* source, int32_t length, uint32_t flags, HGLOBAL* info, HGLOBAL* bits,
                          ProgressCallback, intptr_t) {
    return zorv_bridge_call(Picture, GetPicture, source, length, flags, 0, info, bits);
}

int32_t WINAPI PictureGetInfo(const char* source, int32_t length, uint32_t flags, PictureInfoRecord* record) {
    return zorv_bridge_call(Picture, GetPictureInfo, source, length, flags, 0, record, nullptr);
}

int32_t WINAPI ArchiveIsSupported(const char* path, uintptr_t) {
    return zorv_bridge_call(Archive, IsSupported, path, 0, 0, 0, nullptr, nullptr);
}

int32_t WINAPI ArchiveGetInfo(const char* source, int32_t length, uint32_t flags, HGLOBAL* list) {
    return zorv_bridge_call(Archive, GetArchiveInfo, source, length, flags, 0, list, nullptr);
}

int32_t WINAPI ArchiveGetFile(const char* source, uint32_t position, HGLOBAL* destination, uint32_t flags,
                              ProgressCallback, intptr_t) {
    return zorv_bridge_call(Archive, GetFile, source, 0, flags, position, destination, nullptr);
}

struct BridgedExport {
    const char* name;
    void* function;
};

const BridgedExport kPictureExports[] = {{"IsSupported", reinterpret_cast<void*>(PictureIsSupported)},
                                  {"GetPicture", reinterpret_cast<void*>(PictureGet)},
                                  {"GetPictureInfo", reinterpret_cast<void*>(PictureGetInfo)}};
const BridgedExport kArchiveExports[] = {{"IsSupported", reinterpret_cast<void*>(ArchiveIsSupported)},
                                  {"GetArchiveInfo", reinterpret_cast<void*>(ArchiveGetInfo)},
                                  {"GetFile", reinterpret_cast<void*>(ArchiveGetFile)}};

}  // namespace

namespace host {

PluginModule::PluginModule(PluginKind kind)
    : module_(const_cast<BridgedExport*>(kind == PluginKind::Picture ? kPictureExports : kArchiveExports)),
      path_(kind == PluginKind::Picture ? "zorvpict" : "zorvpack") {}

PluginModule::~PluginModule() = default;

void* PluginModule::Export(const char* name) const {
    const auto* exports = static_cast<const BridgedExport*>(module_);
    for (size_t i = 0; i < 3; ++i)
        if (std::strcmp(exports[i].name, name) == 0) return exports[i].function;
    throw files::ToolError(path_ + " has no export " + name);
}

}  // namespace host
