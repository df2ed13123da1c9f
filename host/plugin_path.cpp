#include "plugin_path.h"

#ifdef _WIN32
#include "platform.h"
#include "plugin_module.h"
#include "wide_text.h"
#endif

namespace host {

#ifdef _WIN32
namespace {

// The wide path in the ANSI code page, or false when a character does not
// survive the trip (it would name another file, or none).
bool ToAnsi(const std::wstring& wide, std::string& ansi) {
    if (wide.empty()) return false;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    ansi.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        &ansi[0], n, nullptr, &lossy);
    return !lossy && ansi.size() < MAX_PATH;
}

}  // namespace

std::string PathForPlugin(const std::string& utf8Path) {
    std::wstring wide = files::Utf8ToWide(utf8Path);
    std::string ansi;
    if (ToAnsi(wide, ansi)) return ansi;
    DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n > 0) {
        std::wstring shortPath(n, L'\0');
        n = GetShortPathNameW(wide.c_str(), &shortPath[0], n);
        shortPath.resize(n);
        if (n > 0 && ToAnsi(shortPath, ansi)) return ansi;
    }
    throw files::ToolError(
        "the plug-ins cannot open this path: it is too long, or holds characters outside the "
        "system code page and has no short name")
        .About(utf8Path);
}
#else
std::string PathForPlugin(const std::string& utf8Path) { return utf8Path; }
#endif

}  // namespace host
