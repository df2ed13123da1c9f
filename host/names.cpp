#include "names.h"

#include "utf8.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace host {
namespace {

#include "cp932_table.inc"

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscape(std::string& text, uint8_t byte) {
    text += '%';
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
}

// The pair's character, or kNoCharacter.
uint16_t PairCharacter(uint8_t lead, uint8_t trail) {
    uint8_t row = kLeadRow[lead];
    if (row == 0xFF || trail < kFirstTrail || trail > kLastTrail) return kNoCharacter;
    return kDoubleByte[row][trail - kFirstTrail];
}

bool IsPreferredPair(uint16_t code) {
    for (const CodeRange& range : kNonPreferredPairs) {
        if (code >= range.first && code <= range.last) return false;
    }
    return true;
}

bool IsControl(uint16_t codePoint) { return codePoint < 0x20 || codePoint == 0x7F; }

// Unicode -> code page 932, built once from the decoding table: every single
// byte's character and every preferred pair's character, sorted.
using CodeFor = std::pair<uint16_t, uint16_t>;  // character, code (pairs >= 0x100)

std::vector<CodeFor> BuildEncodingTable() {
    std::vector<CodeFor> table;
    for (unsigned byte = 0; byte < 256; ++byte) {
        if (kSingleByte[byte] != kNoCharacter) table.emplace_back(kSingleByte[byte], byte);
    }
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
            uint16_t character = PairCharacter(lead, trail);
            uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
            if (character != kNoCharacter && IsPreferredPair(code)) table.emplace_back(character, code);
        }
    }
    std::sort(table.begin(), table.end());
    return table;
}

std::optional<uint16_t> CodeOf(uint32_t codePoint) {
    static const std::vector<CodeFor> table = BuildEncodingTable();
    if (codePoint >= kNoCharacter) return std::nullopt;
    auto found = std::lower_bound(table.begin(), table.end(),
                                  CodeFor(static_cast<uint16_t>(codePoint), 0));
    if (found == table.end() || found->first != codePoint) return std::nullopt;
    return found->second;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string NameToUtf8(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (size_t at = 0; at < raw.size();) {
        uint8_t byte = static_cast<uint8_t>(raw[at]);
        uint16_t single = kSingleByte[byte];
        if (single != kNoCharacter) {
            if (IsControl(single) || single == '%') AppendEscape(text, byte);
            else utf8::Append(text, single);
            ++at;
            continue;
        }
        uint8_t trail = at + 1 < raw.size() ? static_cast<uint8_t>(raw[at + 1]) : 0;
        uint16_t pair = at + 1 < raw.size() ? PairCharacter(byte, trail) : kNoCharacter;
        if (pair == kNoCharacter) {
            AppendEscape(text, byte);
            ++at;
        } else {
            utf8::Append(text, pair);
            at += 2;
        }
    }
    return text;
}

std::optional<std::string> Utf8ToName(std::string_view text) {
    std::string raw;
    raw.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (text[at] == '%' && text.size() - at >= 3 && HexValue(text[at + 1]) >= 0 &&
            HexValue(text[at + 2]) >= 0) {
            raw += static_cast<char>(HexValue(text[at + 1]) << 4 | HexValue(text[at + 2]));
            at += 3;
            continue;
        }
        std::optional<uint32_t> codePoint = utf8::Read(text, at);
        if (!codePoint) return std::nullopt;
        std::optional<uint16_t> code = CodeOf(*codePoint);
        if (!code) return std::nullopt;
        if (*code > 0xFF) raw += static_cast<char>(*code >> 8);
        raw += static_cast<char>(*code & 0xFF);
    }
    return raw;
}

}  // namespace host
