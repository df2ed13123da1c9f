// Entry names against glibc's own converter: every code, every character,
// and random names both ways.
#include "names.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <random>
#include <set>

namespace {

// One glibc conversion, e.g. from "CP932" to "UTF-8".
class Iconv {
public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) ADD_FAILURE() << "iconv has no " << from;
    }
    ~Iconv() {
        if (handle_ != reinterpret_cast<iconv_t>(-1)) iconv_close(handle_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // The whole input converted, or nullopt when iconv refuses any of it.
    std::optional<std::string> operator()(std::string in) const {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char out[64];
        char* inPtr = in.data();
        char* outPtr = out;
        size_t inLeft = in.size(), outLeft = sizeof out;
        if (iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft) {
            return std::nullopt;
        }
        return std::string(out, outPtr);
    }

private:
    iconv_t handle_;
};

const Iconv& Decoder() {
    static const Iconv decoder("UTF-8", "CP932");
    return decoder;
}
const Iconv& Encoder() {
    static const Iconv encoder("CP932", "UTF-8");
    return encoder;
}

std::string Escape(uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%%%02X", byte);
    return text;
}

// NameToUtf8's promise, built on iconv alone: characters as iconv decodes
// them; escaped, the bytes of what does not decode, controls and '%'.
// *exact tells whether every pair comes back from iconv as the same code.
std::string ReferenceDecode(const std::string& raw, bool* exact = nullptr) {
    if (exact) *exact = true;
    std::string text;
    for (size_t at = 0; at < raw.size();) {
        uint8_t byte = static_cast<uint8_t>(raw[at]);
        if (auto single = Decoder()(raw.substr(at, 1))) {
            bool visible = byte >= 0x20 && byte != 0x7F && byte != '%';
            text += visible ? *single : Escape(byte);
            at += 1;
        } else if (auto pair = at + 1 < raw.size() ? Decoder()(raw.substr(at, 2)) : std::nullopt) {
            if (exact && Encoder()(*pair) != raw.substr(at, 2)) *exact = false;
            text += *pair;
            at += 2;
        } else {
            text += Escape(byte);
            at += 1;
        }
    }
    return text;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) bytes += static_cast<char>(v);
    return bytes;
}

}  // namespace

TEST(Names, DecodesEveryOneAndTwoByteCodeAsIconvDoes) {
    for (int first = 0; first < 256; ++first) {
        std::string single = Bytes({first});
        ASSERT_EQ(host::NameToUtf8(single), ReferenceDecode(single)) << "byte " << first;
        for (int second = 0; second < 256; ++second) {
            std::string pair = Bytes({first, second});
            ASSERT_EQ(host::NameToUtf8(pair), ReferenceDecode(pair)) << "bytes " << first << ' ' << second;
        }
    }
}

TEST(Names, EncodesEveryCharacterAsIconvDoes) {
    std::set<std::string> characters;
    for (int first = 0; first < 256; ++first) {
        if (auto single = Decoder()(Bytes({first}))) {
            characters.insert(*single);
            continue;
        }
        for (int second = 0; second < 256; ++second) {
            if (auto pair = Decoder()(Bytes({first, second}))) characters.insert(*pair);
        }
    }
    EXPECT_GT(characters.size(), 9000u);
    for (const std::string& character : characters) {
        ASSERT_EQ(host::Utf8ToName(character), Encoder()(character)) << character;
    }
    // Nothing outside the table: iconv's one-way mappings (such as the yen
    // sign to 0x5C) would not decode back to what was asked for.
    for (char32_t codePoint = 0x80; codePoint < 0x10000; ++codePoint) {
        if (codePoint >= 0xD800 && codePoint < 0xE000) continue;
        std::string text = codePoint < 0x800
            ? Bytes({0xC0 | int(codePoint >> 6), 0x80 | int(codePoint & 0x3F)})
            : Bytes({0xE0 | int(codePoint >> 12), 0x80 | int(codePoint >> 6 & 0x3F), 0x80 | int(codePoint & 0x3F)});
        if (!characters.count(text)) {
            ASSERT_FALSE(host::Utf8ToName(text)) << std::hex << codePoint;
        }
    }
    for (std::string notUtf8 : {"\xC0\xAF", "\xED\xA0\x80", "\xE3\x81", "\xF4\x90\x80\x80", "\xFF"}) {
        EXPECT_FALSE(host::Utf8ToName("a" + notUtf8)) << "accepted malformed UTF-8";
    }
    EXPECT_FALSE(host::Utf8ToName("\xF0\x9F\x98\x80")) << "accepted a character past the BMP";
}

// The escapes a user sees, and why: a trail byte 0x5C stays inside its
// character; the rest is what the reference above promises.
TEST(Names, EscapesAreVisibleAndReversible) {
    EXPECT_EQ(host::NameToUtf8("\x83\x5C" "\\x.BIN"), "\xE3\x82\xBD\\x.BIN");  // "ソ\x.BIN"
    EXPECT_EQ(host::NameToUtf8("100%.txt"), "100%25.txt");
    EXPECT_EQ(host::NameToUtf8(Bytes({0x81, 0x20, 0x80, 0x1B, 0x81})), "%81 %80%1B%81");
    // A duplicate decodes as iconv decodes it and encodes as the preferred pair.
    EXPECT_EQ(host::NameToUtf8(Bytes({0xED, 0x40})), "\xE7\xBA\x8A");
    EXPECT_EQ(host::Utf8ToName("\xE7\xBA\x8A"), Bytes({0xFA, 0x5C}));
    EXPECT_EQ(host::Utf8ToName("%ed%40 50% off%"), Bytes({0xED, 0x40, ' ', '5', '0', '%', ' ', 'o', 'f', 'f', '%'}));
}

TEST(Names, RandomNamesComeBack) {
    std::mt19937 random(932);
    // Bytes that matter most: lead bytes of every range, 0x5C, '%', controls.
    const std::string interesting = Bytes({0x81, 0x87, 0x9F, 0xE0, 0xED, 0xEE, 0xEF, 0xF0, 0xFA, 0xFC, 0x5C,
                                           0x25, 0x40, 0x7F, 0x80, 0xA0, 0xFD, 0x00, 0x0A, 0x41});
    for (int round = 0; round < 200000; ++round) {
        std::string raw(random() % 13, '\0');
        for (char& c : raw) {
            c = random() % 2 ? interesting[random() % interesting.size()] : static_cast<char>(random());
        }
        std::string text = host::NameToUtf8(raw);
        bool exact = false;
        ASSERT_EQ(text, ReferenceDecode(raw, &exact));
        std::optional<std::string> back = host::Utf8ToName(text);
        ASSERT_TRUE(back) << text;
        // A name holding a duplicate comes back in the preferred codes.
        if (exact) {
            ASSERT_EQ(*back, raw) << text;
        }
        for (unsigned char c : text) ASSERT_TRUE(c >= 0x20 && c != 0x7F) << "control in " << text;
    }
}
