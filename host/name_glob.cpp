#include "name_glob.h"

#include <cstdint>
#include <vector>

#include "utf8.h"

namespace host {
namespace {

// Code points; a byte that starts no well-formed character stands for
// itself, as a lone surrogate (never a real character), so that every name
// can be matched.
std::vector<char32_t> Decode(std::string_view text) {
    std::vector<char32_t> out;
    for (size_t at = 0; at < text.size();) {
        if (std::optional<uint32_t> codePoint = utf8::Read(text, at))
            out.push_back(*codePoint);
        else
            out.push_back(0xDC00 + static_cast<unsigned char>(text[at++]));
    }
    return out;
}

// Letter case as a user means it in a pattern: ASCII, full-width Latin,
// Greek and Cyrillic capitals to small letters. Patterns only, never paths:
// whether two paths are one file is files::FoldPathForFileSystem's question.
char32_t FoldNameForGlob(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;                   // full-width Latin
    if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) return c + 32;    // Greek
    if (c >= 0x0410 && c <= 0x042F) return c + 32;                   // Cyrillic
    if (c == 0x0401) return 0x0451;                                  // Yo
    return c;
}

// Matches the set starting after '[' at p[at]; sets *end to the index after
// its ']'. False with *end == 0 when the set is not closed.
bool InSet(const std::vector<char32_t>& p, size_t at, char32_t c, size_t* end) {
    bool negate = at < p.size() && (p[at] == '!' || p[at] == '^');
    size_t i = negate ? at + 1 : at;
    bool found = false;
    for (bool first = true; i < p.size() && (first || p[i] != ']'); first = false) {
        char32_t low = FoldNameForGlob(p[i]);
        char32_t high = low;
        if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
            high = FoldNameForGlob(p[i + 2]);
            i += 3;
        } else {
            i += 1;
        }
        if (c >= low && c <= high) found = true;
    }
    if (i >= p.size()) {
        *end = 0;
        return false;
    }
    *end = i + 1;
    return found != negate;
}

}  // namespace

bool GlobMatch(std::string_view patternText, std::string_view nameText) {
    const std::vector<char32_t> p = Decode(patternText);
    const std::vector<char32_t> n = Decode(nameText);
    size_t pi = 0, ni = 0;
    // Where to resume after the last '*': its pattern index and the name
    // index it has swallowed up to.
    size_t starP = SIZE_MAX, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size()) {
            char32_t c = FoldNameForGlob(n[ni]);
            if (p[pi] == '*') {
                starP = pi++;
                starN = ni;
                continue;
            }
            if (p[pi] == '?') {
                ++pi, ++ni;
                continue;
            }
            if (p[pi] == '[') {
                size_t end = 0;
                bool in = InSet(p, pi + 1, c, &end);
                if (end != 0) {
                    if (in) {
                        pi = end, ++ni;
                        continue;
                    }
                } else if (c == '[') {  // unclosed: a plain '['
                    ++pi, ++ni;
                    continue;
                }
            } else if (FoldNameForGlob(p[pi]) == c) {
                ++pi, ++ni;
                continue;
            }
        }
        if (starP == SIZE_MAX) return false;
        pi = starP + 1;
        ni = ++starN;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace host
