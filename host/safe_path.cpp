#include "safe_path.h"

#include "path_case.h"
#include "utf8.h"

#include <array>
#include <vector>

namespace host {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// What a Windows file system refuses in a name, separators aside.
bool IsRefused(uint32_t codePoint) {
    switch (codePoint) {
        case '<': case '>': case ':': case '"': case '|': case '?': case '*':
            return true;
        default:
            return codePoint < 0x20 || codePoint == 0x7F;
    }
}

// Windows opens a device, not a file, for these stems, whatever the
// extension; the superscript digits count as digits there too.
bool IsDeviceName(std::string_view stem) {
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string upper;
    for (char c : stem) upper += AsciiUpper(c);
    static const std::array<std::string_view, 6> kNamed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view name : kNamed) {
        if (upper == name) return true;
    }
    if (upper.size() < 4) return false;
    std::string_view prefix = std::string_view(upper).substr(0, 3);
    if (prefix != "COM" && prefix != "LPT") return false;
    std::string_view digit = std::string_view(upper).substr(3);
    static const std::array<std::string_view, 3> kSuperscripts = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
    for (std::string_view superscript : kSuperscripts) {
        if (digit == superscript) return true;
    }
    return false;
}

// One part of a path made safe, or "" when nothing of it is left.
std::string CleanPart(std::string_view part) {
    std::string clean;
    for (size_t at = 0; at < part.size();) {
        size_t start = at;
        std::optional<uint32_t> codePoint = utf8::Read(part, at);
        std::string_view character = "_";
        if (!codePoint) ++at;
        else if (!IsRefused(*codePoint)) character = part.substr(start, at - start);
        // One byte spared for the '_' a device name gets.
        if (clean.size() + character.size() > kMaxPathPartBytes - 1) break;
        clean += character;
    }
    while (!clean.empty() && (clean.back() == '.' || clean.back() == ' ')) clean.pop_back();
    std::string_view stem = std::string_view(clean).substr(0, clean.find('.'));
    if (!stem.empty() && IsDeviceName(stem)) clean.insert(stem.size(), "_");
    return clean;
}

std::string Join(const std::string& parent, const std::string& part) {
    return parent.empty() ? part : parent + '/' + part;
}

// "A.TXT" -> "A~2.TXT"; a leading dot starts no extension: ".cfg" -> ".cfg~2".
std::string WithSuffix(const std::string& part, unsigned long number) {
    std::string suffix = '~' + std::to_string(number);
    size_t dot = part.rfind('.');
    if (dot == std::string::npos || dot == 0) return part + suffix;
    return part.substr(0, dot) + suffix + part.substr(dot);
}


}  // namespace

std::string SafeRelativePath(std::string_view utf8Name) {
    std::string name(utf8Name);
    if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') name.erase(1, 1);
    std::string path;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string part = CleanPart(std::string_view(name).substr(start, end - start));
        if (!part.empty()) path = Join(path, part);
        start = end + 1;
    }
    return path.empty() ? "_" : path;
}

std::string FoldCase(std::string_view utf8Path) { return files::FoldPathForFileSystem(utf8Path); }

std::string OutputPlanner::Assign(std::string_view utf8Name) {
    std::string path = SafeRelativePath(utf8Name);
    std::string parent;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        parent = ResolveFolder(parent, path.substr(start, slash - start));
    }
    return PlaceFile(parent, path.substr(start));
}

std::string OutputPlanner::ResolveFolder(const std::string& parent, const std::string& part) {
    std::string requested = FoldCase(Join(parent, part));
    auto known = folderFor_.find(requested);
    if (known != folderFor_.end()) return known->second;
    std::string folder;
    for (unsigned long number = 1;; ++number) {
        std::string candidate = Join(parent, number == 1 ? part : WithSuffix(part, number));
        auto [place, isNew] = taken_.try_emplace(FoldCase(candidate), Planned{true, candidate});
        if (isNew || place->second.isFolder) {
            folder = place->second.spelling;
            break;
        }
    }
    folderFor_.emplace(requested, folder);
    return folder;
}

std::string OutputPlanner::PlaceFile(const std::string& parent, const std::string& part) {
    // Every number below the remembered one was taken, and stays taken.
    unsigned long& next = nextSuffix_[FoldCase(Join(parent, part))];
    for (unsigned long number = next > 1 ? next : 1;; ++number) {
        std::string candidate = Join(parent, number == 1 ? part : WithSuffix(part, number));
        if (taken_.try_emplace(FoldCase(candidate), Planned{false, candidate}).second) {
            next = number + 1;
            return candidate;
        }
    }
}

}  // namespace host
