#include "path_case.h"

#include <cstdint>
#include <optional>

#include "utf8_text.h"

namespace files {

namespace {

uint32_t FoldCodePoint(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;             // full-width Latin
    if (c == 0x03C2) return 0x03A3;                               // final sigma
    if (c >= 0x03B1 && c <= 0x03C9) return c - 0x20;             // Greek
    if (c >= 0x0430 && c <= 0x044F) return c - 0x20;             // Cyrillic
    if (c >= 0x0450 && c <= 0x045F) return c - 0x50;             // Cyrillic, with Ё
    if (c >= 0x2170 && c <= 0x217F) return c - 0x10;             // Roman numerals
    return c;
}

}  // namespace

std::string FoldPathForFileSystem(std::string_view utf8Path) {
    std::string folded;
    folded.reserve(utf8Path.size());
    for (size_t at = 0; at < utf8Path.size();) {
        const size_t start = at;
        if (std::optional<uint32_t> codePoint = utf8::Read(utf8Path, at)) {
            utf8::Append(folded, FoldCodePoint(*codePoint));
        } else {
            folded += utf8Path[start];
            at = start + 1;
        }
    }
    return folded;
}

}  // namespace files
