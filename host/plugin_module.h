// Finding and loading the two plug-in modules the way a viewer does: on
// Windows the .SPI files beside the program, through LoadLibrary and
// GetProcAddress; elsewhere the native builds of the same modules, through
// dlopen, each in its own symbol scope because both export the same names.
#pragma once

#include <stdexcept>
#include <string>

namespace host {

// Anything the host cannot do with a plug-in or a file: the message is for
// the user, without the program's name.
struct HostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class PluginKind { Picture, Archive };

class PluginModule {
public:
    // Loads the module of `kind` ("ZORVPICT.SPI" / "ZORVPACK.SPI" on Windows,
    // "libzorvpict.so" / "libzorvpack.so" elsewhere) from the first folder
    // that holds it: natively "native/" beside the program (the layout of
    // dist/ and of the build tree), then the program's own folder. HostError,
    // naming every place looked at, when none does.
    explicit PluginModule(PluginKind kind);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // The export of that name; HostError when the module lacks it.
    void* Export(const char* name) const;

private:
    void* module_ = nullptr;
    std::string path_;
};

}  // namespace host
