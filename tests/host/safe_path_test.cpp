// Output paths from hostile names: the forms a user can predict, and the
// promise (inside the folder, writable everywhere, no two entries on one
// file) over many random hostile archives.
#include "names.h"
#include "safe_path.h"
#include "temp_files.h"
#include "utf8.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        parts.push_back(path.substr(start, slash - start));
    }
    parts.push_back(path.substr(start));
    return parts;
}

bool IsUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        if (!host::utf8::Read(text, at)) return false;
    }
    return true;
}

// Every part of `path` is one that Windows, Linux and macOS all store as a
// plain file or folder of that very name.
void ExpectSafe(const std::string& path, const std::string& name) {
    static const std::regex device(R"((CON|PRN|AUX|NUL|CONIN\$|CONOUT\$|(COM|LPT)([0-9]|¹|²|³)) *(\..*)?)",
                                   std::regex::icase);
    SCOPED_TRACE("name \"" + name + "\" -> \"" + path + "\"");
    ASSERT_TRUE(IsUtf8(path));
    for (const std::string& part : Split(path)) {
        ASSERT_FALSE(part.empty() || part == "." || part == "..");
        ASSERT_LT(part.size(), 255u);
        ASSERT_EQ(part.find_first_of("\\<>:\"|?*\x7F"), std::string::npos);
        for (unsigned char c : part) ASSERT_GE(c, 0x20);
        ASSERT_NE(part.back(), '.');
        ASSERT_NE(part.back(), ' ');
        ASSERT_FALSE(std::regex_match(part, device));
    }
}

// Raw name bytes, as an archive would hold them, made of hostile pieces.
std::string HostileName(std::mt19937& random) {
    static const std::vector<std::string> pieces = {
        "..", ".", "\\", "/", ":", "C:", "CON", "nul", "Com1", ".txt", " ", "<", "*", "?", "\"", "|",
        "\x01", "\x7F", "a", "A", "d", "%", "~2", "\xFF", "\x81",
        "\x82\x81", "\x82\x60",  // full-width a, A
        "\x83\xBF", "\x83\x9F",  // alpha, Alpha
        "\x84\x70", "\x84\x40",  // Cyrillic a, A
        "\x83\x5C", "\x81\x5F",  // katakana SO (trail 0x5C), full-width backslash
    };
    std::string raw;
    while (raw.size() < 12 && random() % 6) raw += pieces[random() % pieces.size()];
    return raw.substr(0, 12);
}

}  // namespace

TEST(SafePath, HostileNamesBecomePredictableSafePaths) {
    const std::pair<std::string, std::string> cases[] = {
        {"..\\..\\WINDOWS\\evil.dll", "WINDOWS/evil.dll"}, {"/etc/passwd", "etc/passwd"},
        {"C:\\boot.ini", "C/boot.ini"}, {"c:x", "cx"}, {"\\\\server\\share\\x", "server/share/x"},
        {"\\\\?\\C:\\x", "_/C_/x"}, {"a/./b/../c", "a/b/c"}, {"dir. /name. . .", "dir/name"},
        {"CON", "CON_"}, {"nul.txt", "nul_.txt"}, {"Com1.a.b", "Com1_.a.b"}, {"lpt9 .x", "lpt9 _.x"},
        {"dir/aux/f", "dir/aux_/f"}, {"conout$", "conout$_"}, {"COM\xC2\xB9", "COM\xC2\xB9_"},
        {"COM10", "COM10"}, {"CON   . .", "CON_"}, {"CON" + std::string(300, ' ') + "x", "CON_"},
        {"a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"}, {"tab\there\x7F", "tab_here_"}, {"\xFF\xFE" "ab", "__ab"},
        {"", "_"}, {"...", "_"}, {"\\/ \\", "_"},
        {std::string(300, 'a'), std::string(host::kMaxPathPartBytes - 1, 'a')},
        // Decoded first: 0x5C as a trail byte is no separator.
        {host::NameToUtf8("\x83\x5C\\x"), "\xE3\x82\xBD/x"},
    };
    for (const auto& [name, expected] : cases) {
        std::string path = host::SafeRelativePath(name);
        EXPECT_EQ(path, expected) << "for \"" << name << '"';
        ExpectSafe(path, name);
    }
    // Cut on a whole character: 76 three-byte characters fit.
    std::string kana;
    for (int i = 0; i < 100; ++i) kana += "\xE3\x81\x82";
    EXPECT_EQ(host::SafeRelativePath(kana), kana.substr(0, 76 * 3));
}

TEST(SafePath, PlannerSuffixesCollisionsAndKeepsFilesAndFoldersApart) {
    const std::pair<std::string, std::string> plan[] = {
        {"A.TXT", "A.TXT"},         {"a.txt", "a~2.txt"},     {"A.txt", "A~3.txt"},
        {"a~2.TXT", "a~2~2.TXT"},   {"d", "d"},               {"d\\x", "d~2/x"},
        {"D\\y", "d~2/y"},          {"d~2", "d~2~2"},         {"sub\\f", "sub/f"},
        {"SUB", "SUB~2"},           {"sub\\F", "sub/F~2"},    {"SUB\\G\\h", "sub/G/h"},
        {"sub/g", "sub/g~2"},       {"\xEF\xBD\x81", "\xEF\xBD\x81"},  // full-width a
        {"\xEF\xBC\xA1", "\xEF\xBC\xA1~2"},                             // full-width A
        {"\xCE\xB1", "\xCE\xB1"},   {"\xCE\x91", "\xCE\x91~2"},         // alpha, Alpha
        {"\xD1\x91", "\xD1\x91"},   {"\xD0\x81", "\xD0\x81~2"},         // io, IO
        {"\xE2\x85\xB0", "\xE2\x85\xB0"}, {"\xE2\x85\xA0", "\xE2\x85\xA0~2"},  // Roman one
        {".cfg", ".cfg"},           {".CFG", ".CFG~2"},       {"", "_"},
        {"..", "_~2"},              {"con", "con_"},          {"CON_", "CON_~2"},
    };
    host::OutputPlanner planner;
    for (const auto& [name, expected] : plan) EXPECT_EQ(planner.Assign(name), expected) << "for \"" << name << '"';

    // Many entries of one name stay cheap and numbered in order.
    host::OutputPlanner many;
    std::string last;
    for (int i = 0; i < 65535; ++i) last = many.Assign("x.bin");
    EXPECT_EQ(last, "x~65535.bin");
    EXPECT_EQ(many.Assign("X~7.BIN"), "X~7~2.BIN");
}

// A Windows file system compares names by their upper case; glibc's
// towupper stands in for its table over every character of the code page.
TEST(SafePath, FoldsCaseLikeUpperCasingEveryCodePageCharacter) {
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    std::string saved = previous ? previous : "C";
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "C.UTF-8"));
    std::set<uint32_t> folded;  // characters, some of which have two codes
    for (int code = 0x20; code < 0x10000; ++code) {
        std::string raw = code < 0x100 ? std::string(1, char(code)) : std::string{char(code >> 8), char(code)};
        std::string text = host::NameToUtf8(raw);
        size_t at = 0;
        std::optional<uint32_t> character = host::utf8::Read(text, at);
        if (text.find('%') != std::string::npos || at != text.size() || !character) continue;
        std::string upper;
        host::utf8::Append(upper, static_cast<uint32_t>(std::towupper(static_cast<wint_t>(*character))));
        ASSERT_EQ(host::FoldCase(text), upper) << "code " << std::hex << code;
        if (upper != text) folded.insert(*character);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(folded.size(), 26u + 26 + 24 + 33 + 10);  // ASCII, full-width, Greek, Cyrillic, Roman
}

// Random hostile archives: every path is safe and predictable, no two
// entries share a file, no file stands where a folder is planned; and on a
// real file system each path is created as a new file inside the output
// folder, with nothing appearing beside it.
TEST(SafePath, RandomHostileArchivesStayInsideAndNeverShareAFile) {
    fs::path scratch = fs::path(temp_files::TempFolder()) / ("zorv_safe_path_" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch / "out");
    std::ofstream(scratch / "keep") << "untouched";

    std::mt19937 random(12);
    for (int archive = 0; archive < 40; ++archive) {
        std::vector<std::string> names(archive == 0 ? 3000 : 1 + random() % 3000);
        for (std::string& name : names) name = host::NameToUtf8(HostileName(random));
        host::OutputPlanner planner, again;
        std::set<std::string> files, folders;
        for (const std::string& name : names) {
            std::string path = planner.Assign(name);
            ASSERT_EQ(again.Assign(name), path) << "not predictable";
            ExpectSafe(path, name);
            ASSERT_TRUE(files.insert(host::FoldCase(path)).second) << "two entries on " << path;
            std::vector<std::string> parts = Split(path);
            std::string folder;
            for (size_t i = 0; i + 1 < parts.size(); ++i) {
                folder += (i ? "/" : "") + parts[i];
                folders.insert(host::FoldCase(folder));
            }
            if (archive == 0) {
                fs::path target = scratch / "out" / fs::u8path(path);
                fs::create_directories(target.parent_path());
                int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
                ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
                close(fd);
            }
        }
        for (const std::string& file : files) ASSERT_FALSE(folders.count(file)) << file << " is file and folder";
        if (archive == 0) {
            size_t found = 0;
            for (const auto& item : fs::recursive_directory_iterator(scratch / "out")) found += item.is_regular_file();
            EXPECT_EQ(found, names.size());
        }
    }
    std::set<std::string> beside;
    for (const auto& item : fs::directory_iterator(scratch)) beside.insert(item.path().filename());
    EXPECT_EQ(beside, (std::set<std::string>{"keep", "out"}));
    fs::remove_all(scratch);
}
