// Reading and writing UTF-8 one character at a time, strictly: names come
// from files nobody checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace files::utf8 {

// Reads the character at `at` and moves past it; nullopt (and `at` left as
// it was) when the bytes there are not a well-formed character: overlong
// forms, surrogates and values past U+10FFFF are refused.
inline std::optional<uint32_t> Read(std::string_view text, size_t& at) {
    uint8_t first = static_cast<uint8_t>(text[at]);
    size_t length;
    uint32_t codePoint, minimum;
    if (first < 0x80) {
        ++at;
        return first;
    } else if (first >= 0xC2 && first <= 0xDF) {
        length = 2, codePoint = first & 0x1F, minimum = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3, codePoint = first & 0x0F, minimum = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4, codePoint = first & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        uint8_t next = static_cast<uint8_t>(text[at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return std::nullopt;
    }
    at += length;
    return codePoint;
}

// Appends a Unicode scalar value (no surrogate, at most U+10FFFF).
inline void Append(std::string& text, uint32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | codePoint >> 6);
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | codePoint >> 12);
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | codePoint >> 18);
        text += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace files::utf8

