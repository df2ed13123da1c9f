// Placeholder: splits on separators and drops dangerous parts only.
#include "safe_path.h"

namespace host {

std::string SafeRelativePath(std::string_view utf8Name) {
    std::string path, part;
    auto flush = [&] {
        if (!part.empty() && part != "." && part != "..") path += (path.empty() ? "" : "/") + part;
        part.clear();
    };
    for (char c : utf8Name) {
        if (c == '/' || c == '\\') flush();
        else part += (c == ':' ? '_' : c);
    }
    flush();
    return path.empty() ? "_" : path;
}

std::string OutputPlanner::Assign(std::string_view utf8Name) {
    std::string path = SafeRelativePath(utf8Name);
    taken_[path] = false;
    return path;
}

}  // namespace host
