// Listing and lookup by name, and the one-archive directory cache behind them.
#include "archive_calls.h"

using namespace archive_builder;
using platform_testing::Call;
using platform_testing::CallsMade;

namespace {

// Every kind of entry a listing must describe, in one archive.
ArchiveRecipe MixedArchive() {
    PwRecipe mono;
    mono.codes = Bytes(300, 11);
    mono.trailing = 5;
    PwRecipe stereo;
    stereo.channels = 2;
    stereo.codes = Bytes(200, 12);
    PwRecipe cut;
    cut.codes = Bytes(100, 13);
    cut.codeCount = 500;
    // An entry shorter than a header whose following bytes complete one:
    // what lies behind an entry must not make it audio.
    std::vector<uint8_t> header = MakePwAudio(mono);
    ArchiveRecipe recipe;
    recipe.entries = {
        {"README.TXT", Bytes(100, 1)},
        {"TWELVECHARS!", Bytes(50, 2)},
        {"EMPTY.BIN", {}},
        {"VOICE.PW", MakePwAudio(mono)},
        {"STEREO.PW", MakePwAudio(stereo)},
        {"readme.txt", Bytes(20, 3)},
        {"README.TXT", Bytes(21, 4)},
        {"CUT.PW", MakePwAudio(cut)},
        {"SHORT.PW", std::vector<uint8_t>(header.begin(), header.begin() + 30)},
        {"NEXT.BIN", std::vector<uint8_t>(header.begin() + 30, header.end())},
        {"ZERO2", {}},
        {"tail.bin", Bytes(3, 5)},
    };
    return recipe;
}

std::vector<ArchiveEntryRecord> MixedListing() {
    ArchiveRecipe recipe = MixedArchive();
    std::vector<uint32_t> outputs;
    for (const Entry& e : recipe.entries) outputs.push_back(e.Size());
    outputs[3] = 46 + 600;
    outputs[4] = 46 + 400;
    return ExpectedListing(recipe, outputs);
}

void List(const std::string& path) { CallGetArchiveInfo(path); }
void Lookup(const std::string& path) {
    ArchiveEntryRecord record;
    CallGetFileInfo(path, "x", 0, &record);
}

}  // namespace

TEST(Listing, DescribesEveryEntryByteForByte) {
    ArchiveFolder folder;
    std::string path = folder.Write("mixed.dat", BuildArchive(MixedArchive()));
    ExpectListing(CallGetArchiveInfo(path), MixedListing());
    ExpectListing(CallGetArchiveInfo(path, 0xFFFFFFFEu), MixedListing());  // other bits ignored
    EXPECT_EQ(CallGetArchiveInfo(path, SourceInMemory).result, NotImplemented);
}

TEST(Listing, SmallLastEntryEndingTheFileLoads) {
    ArchiveRecipe recipe;
    recipe.directoryInFirstEntry = true;
    recipe.entries = {{"DIR", {}}, {"A.PW", Bytes(60, 1)}, {"B", Bytes(3, 2)}};
    ArchiveFolder folder;
    std::string path = folder.Write("short.dat", BuildArchive(recipe));
    ExpectListing(CallGetArchiveInfo(path), ExpectedListing(recipe));
    EXPECT_EQ(CallGetFile(path, 16 + 48 + 60).bytes, Bytes(3, 2));
}

TEST(Listing, EmptyArchive) {
    ArchiveFolder folder;
    std::string path = folder.Write("empty.dat", BuildArchive(ArchiveRecipe{}));
    ExpectListing(CallGetArchiveInfo(path), {});
    ArchiveEntryRecord record;
    EXPECT_EQ(CallGetFileInfo(path, "", 0, &record), UnsupportedFormat);
    EXPECT_EQ(CallGetFile(path, 16).result, UnsupportedFormat);
}

TEST(GetFileInfo, FindsTheFirstMatchingName) {
    ArchiveFolder folder;
    std::string path = folder.Write("mixed.dat", BuildArchive(MixedArchive()));
    const std::vector<ArchiveEntryRecord> listing = MixedListing();
    struct Case {
        const char* name;
        uint32_t flags;
        int expected;  // index in the listing, -1: not found
    };
    const Case cases[] = {
        {"README.TXT", 0, 0},          {"readme.txt", 0, 5},           {"Readme.Txt", 0, -1},
        {"readme.txt", IgnoreCase, 0}, {"Readme.Txt", IgnoreCase, 0},  {"twelvechars!", IgnoreCase, 1},
        {"TWELVECHARS!", 0, 1},        {"TWELVECHARS!X", 0, -1},       {"TWELVECHARS", 0, -1},
        {"short.pw", IgnoreCase, 8},   {"ZERO2", 0x7E, 10},            {"", IgnoreCase, -1},
        {"tail.bin", 0x7F7E, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
        ArchiveEntryRecord record;
        int32_t result = CallGetFileInfo(path, c.name, c.flags, &record);
        EXPECT_EQ(result, c.expected < 0 ? UnsupportedFormat : Ok);
        if (c.expected >= 0) {
            EXPECT_TRUE(SameRecord(record, listing[c.expected]));
        }
    }
    ArchiveEntryRecord record;
    EXPECT_EQ(GetFileInfo(path.c_str(), 0, "README.TXT", SourceInMemory, &record), NotImplemented);
    EXPECT_EQ(CallGetFileInfo(path, nullptr, 0, &record), UnsupportedFormat);
}

TEST(DirectoryCache, LoadsOnlyForAnotherPath) {
    ArchiveFolder folder;
    std::vector<uint8_t> bytes = BuildArchive(MixedArchive());
    std::string a = folder.Write("a.dat", bytes);
    std::string upper = folder.Write("A.dat", bytes);
    std::string b = folder.Write("b.dat", bytes);
    // Each listing probes (one open); a load adds one more.
    EXPECT_EQ(OpensDuring(List, a), 2);
    EXPECT_EQ(OpensDuring(List, a), 1);
    EXPECT_EQ(OpensDuring(Lookup, a), 0);
    EXPECT_EQ(OpensDuring(List, upper), 2);
    EXPECT_EQ(OpensDuring(Lookup, a), 1);
    EXPECT_EQ(OpensDuring(Lookup, b), 1);
    EXPECT_EQ(OpensDuring(Lookup, a), 1);
    ExpectListing(CallGetArchiveInfo(a), MixedListing());
}

TEST(DirectoryCache, FailedLoadLeavesThePreviousArchive) {
    ArchiveFolder folder;
    std::string a = folder.Write("a.dat", BuildArchive(MixedArchive()));
    ExpectListing(CallGetArchiveInfo(a), MixedListing());
    std::string b = folder.Write("b.dat", Bytes(100, 1));
    ArchiveEntryRecord record;
    EXPECT_EQ(CallGetFileInfo(b, "README.TXT", 0, &record), UnsupportedFormat);
    EXPECT_EQ(CallGetFileInfo(folder.Path("none.dat"), "README.TXT", 0, &record), ReadError);
    EXPECT_EQ(CallGetArchiveInfo(folder.Path("none.dat")).result, UnsupportedFormat);
    EXPECT_EQ(OpensDuring(Lookup, a), 0);
    EXPECT_EQ(CallGetFileInfo(a, "README.TXT", 0, &record), Ok);
}

TEST(DirectoryCache, PeekPastTheEndFailsTheLoad) {
    // The last entry claims 100 bytes and begins 10 bytes before the end.
    ArchiveRecipe recipe;
    recipe.directoryInFirstEntry = true;
    recipe.entries = {{"DIR", {}}, {"A", Bytes(70, 1)}, {"CUT", Bytes(10, 2), 100}};
    ArchiveFolder folder;
    std::string a = folder.Write("a.dat", BuildArchive(MixedArchive()));
    std::string cut = folder.Write("cut.dat", BuildArchive(recipe));
    ExpectListing(CallGetArchiveInfo(a), MixedListing());
    EXPECT_EQ(CallGetArchiveInfo(cut).result, ReadError);
    EXPECT_EQ(OpensDuring(Lookup, a), 0);
    // An empty entry needs no peek, wherever it lies.
    recipe.entries.back() = {"NIL", {}, 0};
    recipe.entries.push_back({"NIL2", {}, 0});
    cut = folder.Write("cut.dat", BuildArchive(recipe));
    EXPECT_EQ(CallGetArchiveInfo(cut).records.size(), 4u);
}

TEST(DirectoryCache, TrustsTheCachedPath) {
    ArchiveFolder folder;
    std::string path = folder.Write("a.dat", BuildArchive(MixedArchive()));
    ExpectListing(CallGetArchiveInfo(path), MixedListing());
    ArchiveRecipe other;
    other.entries = {{"OTHER", Bytes(5, 1)}};
    folder.Write("a.dat", BuildArchive(other));
    ExpectListing(CallGetArchiveInfo(path), MixedListing());  // still passes the probe
    unlink(path.c_str());
    ArchiveEntryRecord record;
    EXPECT_EQ(CallGetFileInfo(path, "STEREO.PW", 0, &record), Ok);
    EXPECT_EQ(CallGetArchiveInfo(path).result, UnsupportedFormat);
}

TEST(DirectoryCache, EmptyPathBeforeAnyLoad) {
    ModuleDetach();
    ModuleAttach();
    ArchiveEntryRecord record;
    platform_testing::ResetFaults();
    EXPECT_EQ(CallGetFileInfo("", "A", 0, &record), UnsupportedFormat);
    EXPECT_EQ(CallsMade(Call::Open), 0);
}

// Paths longer than the platform's classic limit are cached whole: two that
// differ only in their last character are two archives.
TEST(DirectoryCache, LongPathsAreKeptWhole) {
    ArchiveFolder folder;
    std::string stem(240, 'p');
    ArchiveRecipe one, two;
    one.entries = {{"ONE", Bytes(7, 1)}};
    two.entries = {{"TWO", Bytes(9, 2)}};
    std::string first = folder.Write(stem + "1.dat", BuildArchive(one));
    std::string second = folder.Write(stem + "2.dat", BuildArchive(two));
    ASSERT_GT(first.size(), 260u);
    ExpectListing(CallGetArchiveInfo(first), ExpectedListing(one));
    ExpectListing(CallGetArchiveInfo(second), ExpectedListing(two));
    EXPECT_EQ(OpensDuring(Lookup, second), 0);
}

// No slot or record to fill: refused before the file is opened or the cache
// is touched, the same rule as the picture module's.
TEST(ArchiveExports, NullSlotOrRecordIsRefusedUntouched) {
    ArchiveFolder folder;
    std::string path = folder.Write("mixed.dat", BuildArchive(MixedArchive()));
    const platform_testing::LiveCounts before = platform_testing::Live();
    platform_testing::ResetFaults();
    EXPECT_EQ(GetArchiveInfo(path.c_str(), 0, 0, nullptr), NotImplemented);
    EXPECT_EQ(GetFileInfo(path.c_str(), 0, "README.TXT", 0, nullptr), NotImplemented);
    EXPECT_EQ(GetFile(path.c_str(), 16, nullptr, DestInMemory, nullptr, 0), NotImplemented);
    EXPECT_EQ(CallsMade(Call::Open), 0);
    EXPECT_EQ(CallsMade(Call::Alloc), 0);
    EXPECT_EQ(platform_testing::Live(), before);
    EXPECT_TRUE(CacheLockIsFree());
}
