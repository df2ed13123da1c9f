// Entry selection by pattern, and the output names derived from entry names.
#include <gtest/gtest.h>

#include "archive_contents.h"
#include "name_glob.h"

namespace {

TEST(NameGlob, MatchesLikeAShellIgnoringCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*", "", true},
        {"*.pw", "SE01.PW", true},
        {"se??.PW", "se01.pw", true},
        {"se?.pw", "se01.pw", false},
        {"*01*", "SE01.PW", true},
        {"*.bmp", "CG01.BMP.BAK", false},
        {"*a*b*c", "xxaxxbxxcxxc", true},  // the last star has to retry
        {"*a*b*c", "xxaxxbxx", false},
        {"[a-c]*", "Bgm", true},
        {"[!a-c]*", "Bgm", false},
        {"[^x]?", "yz", true},
        {"[]]", "]", true},                // a ']' first in a set is a member
        {"[ab", "[ab", true},              // an unclosed set is plain text
        {"sub\\*", "SUB\\A.TXT", true},    // the folder separator is an ordinary character
        {"\xe7\xb5\xb5?", "\xe7\xb5\xb5\xe7\x94\xbb", true},  // '?' is one character, not one byte
        {"\xef\xbc\xa1*", "\xef\xbd\x81" "bc", true},           // full-width A matches full-width a
        {"\xce\x91", "\xce\xb1", true},                       // Greek capital alpha, small alpha
        {"%80*", "%80%FF.BIN", true},
        {"*.txt", "\x80.txt", true},                          // invalid UTF-8 is still matched
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::GlobMatch(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
}

TEST(NameGlob, AudioAndPictureNamesTakeTheirNewExtension) {
    EXPECT_EQ(host::ReplaceExtension("SE01.PW", ".wav"), "SE01.wav");
    EXPECT_EQ(host::ReplaceExtension("BGM", ".wav"), "BGM.wav");
    EXPECT_EQ(host::ReplaceExtension(".PW", ".wav"), ".PW.wav");
    EXPECT_EQ(host::ReplaceExtension("A.B\\C", ".wav"), "A.B\\C.wav");
    EXPECT_EQ(host::ReplaceExtension("A.B/C.D", ".png"), "A.B/C.png");
}

// An entry named like the tool's own file beside the entries never takes
// its path, in any letter case.
TEST(NameGlob, NoEntryTakesTheReservedFile) {
    std::vector<host::ArchiveEntry> entries(2);
    entries[0].name = "zorv-manifest.json";
    entries[1].name = "ZORV-MANIFEST.JSON";
    std::vector<host::OutputPaths> paths =
        host::PlanOutputPaths(entries, {true, false, "zorv-manifest.json"});
    EXPECT_EQ(paths[0].file, "zorv-manifest~2.json");
    EXPECT_EQ(paths[1].file, "ZORV-MANIFEST~3.JSON");
}

}  // namespace
