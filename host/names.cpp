// Placeholder until the code page table lands: ASCII only, every other byte
// escaped.
#include "names.h"

#include <cstdio>

namespace host {

std::string NameToUtf8(std::string_view raw) {
    std::string text;
    for (unsigned char c : raw) {
        if (c < 0x80 && c != '%') {
            text += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            text += escape;
        }
    }
    return text;
}

std::optional<std::string> Utf8ToName(std::string_view utf8) {
    std::string raw;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) return std::nullopt;
        if (c == '%' && i + 2 < utf8.size()) {
            raw += static_cast<char>(std::stoi(std::string(utf8.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            raw += static_cast<char>(c);
        }
    }
    return raw;
}

}  // namespace host
