// Finding and loading the two plug-in modules the way a viewer does: on
// Windows the .SPI files beside the program, through LoadLibrary and
// GetProcAddress; elsewhere the native builds of the same modules, through
// dlopen, each in its own symbol scope because both export the same names.
#pragma once

#include <string>

#include "tool_error.h"

namespace host {

enum class PluginKind { Picture, Archive };

class PluginModule {
public:
    // Loads the module of `kind` ("ZORVPICT.SPI" / "ZORVPACK.SPI" on Windows,
    // "libzorvpict.so" / "libzorvpack.so" elsewhere) from the first folder
    // that holds it: natively "native/" beside the program (the layout of
    // dist/ and of the build tree), then the program's own folder. ToolError,
    // naming every place looked at, when none does.
    explicit PluginModule(PluginKind kind);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // The export of that name; ToolError when the module lacks it.
    void* Export(const char* name) const;

private:
    void* module_ = nullptr;
    std::string path_;
};

}  // namespace host
