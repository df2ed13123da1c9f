// Recognising archives: the header rules, the directory bounds, and what the
// host sees through IsSupported and GetPluginInfo.
#include <dlfcn.h>

#include "archive_calls.h"
#include "archive_probe.h"

using namespace archive_builder;

namespace {

// A three-entry archive whose directory ends the file.
std::vector<uint8_t> ThreeEntries(const std::string& signature = "ZRV01") {
    ArchiveRecipe recipe;
    recipe.signature = signature;
    recipe.entries = {{"a.txt", Bytes(10, 1)}, {"b.txt", Bytes(20, 2)}, {"c.txt", Bytes(30, 3)}};
    return BuildArchive(recipe);
}

struct ProbeCase {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t expected;
    uint32_t count;  // checked on Ok
};

std::vector<ProbeCase> ProbeCases() {
    std::vector<ProbeCase> cases;
    for (const char* signature : {"ZRV00", "ZRV01", "ZRV03"})
        cases.push_back({signature, ThreeEntries(signature), Ok, 3});
    for (const char* signature : {"ZRV02", "ZRV10", "zrv01", "ZRX01"})
        cases.push_back({signature, ThreeEntries(signature), UnsupportedFormat, 0});
    auto patched = [](size_t offset, uint8_t value) {
        std::vector<uint8_t> bytes = ThreeEntries();
        bytes[offset] = value;
        return bytes;
    };
    cases.push_back({"byte 7 is free", patched(7, 0xFF), Ok, 3});
    cases.push_back({"byte 5 not 0x1A", patched(5, 0x1B), UnsupportedFormat, 0});
    cases.push_back({"byte 6 not 0", patched(6, 0x01), UnsupportedFormat, 0});

    std::vector<uint8_t> bytes = ThreeEntries();
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    auto header = [&](uint16_t count, uint32_t offset) {
        std::vector<uint8_t> copy = bytes;
        SetHeader(copy, count, offset);
        return copy;
    };
    cases.push_back({"directory ends the file", header(3, size - 48), Ok, 3});
    cases.push_back({"directory one byte past the end", header(3, size - 47), UnsupportedFormat, 0});
    cases.push_back({"offset near 2^32 does not wrap", header(1, 0xFFFFFFF0u), UnsupportedFormat, 0});
    cases.push_back({"directory over the header", header(1, 0), Ok, 1});
    cases.push_back({"empty at the end of the file", header(0, size), Ok, 0});
    cases.push_back({"empty past the end of the file", header(0, size + 1), UnsupportedFormat, 0});
    cases.push_back({"15 bytes", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 15), ReadError, 0});
    cases.push_back({"16 bytes, empty", header(0, 16), Ok, 0});
    cases.back().bytes.resize(16);
    cases.push_back({"no bytes", {}, ReadError, 0});
    return cases;
}

}  // namespace

TEST(Probe, HeaderRulesAndDirectoryBounds) {
    ArchiveFolder folder;
    int n = 0;
    for (const ProbeCase& c : ProbeCases()) {
        SCOPED_TRACE(c.what);
        std::string path = folder.Write("case" + std::to_string(n++) + ".dat", c.bytes);
        uint32_t count = 0xDEAD;
        EXPECT_EQ(ProbeArchive(path.c_str(), &count), c.expected);
        EXPECT_EQ(count, c.expected == Ok ? c.count : 0xDEADu);
        // The probe word is never looked at, whatever it holds.
        for (uintptr_t probeWord : {uintptr_t{0}, uintptr_t{0x1234}, reinterpret_cast<uintptr_t>(&count)})
            EXPECT_EQ(IsSupported(path.c_str(), probeWord), c.expected == Ok ? 1 : 0);
        // GetArchiveInfo refuses whatever fails the probe as not its format.
        if (c.expected != Ok) {
            EXPECT_EQ(CallGetArchiveInfo(path).result, UnsupportedFormat);
        }
    }
    EXPECT_EQ(platform_testing::Live().files, 0);
}

TEST(Probe, UnreadableFiles) {
    ArchiveFolder folder;
    EXPECT_EQ(ProbeArchive(folder.Path("missing.dat").c_str(), nullptr), ReadError);
    EXPECT_EQ(ProbeArchive(folder.path().c_str(), nullptr), ReadError);  // a folder
    EXPECT_EQ(IsSupported(folder.Path("missing.dat").c_str(), 0), 0);
    EXPECT_EQ(IsSupported(nullptr, 0), 0);
}

TEST(PluginInfo, TheFourStrings) {
    const char* expected[4] = {"00AM", "ZORVAN DAT Archive Extractor ", "*.dat", "ZORVAN DAT Archive"};
    for (int32_t i = 0; i < 4; ++i) {
        char buffer[128] = {};
        int32_t length = GetPluginInfo(i, buffer, sizeof buffer);
        EXPECT_EQ(length, static_cast<int32_t>(std::strlen(buffer)));
        EXPECT_EQ(std::strncmp(buffer, expected[i], std::strlen(expected[i])), 0) << buffer;
    }
    char buffer[8] = "#######";
    EXPECT_EQ(GetPluginInfo(4, buffer, 8), 0);
    EXPECT_STREQ(buffer, "#######");
}

// The native library the tests' host would load: the five exports and no
// other symbol of ours.
TEST(ModuleFile, ExportsTheFiveEntryPoints) {
    void* module = dlopen(ZORV_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* name : {"GetPluginInfo", "IsSupported", "GetArchiveInfo", "GetFileInfo", "GetFile"})
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    for (const char* name : {"ExtractEntry", "DllMain", "PwDecodeTable", "directoryCache"})
        EXPECT_EQ(dlsym(module, name), nullptr) << name;
    auto info = reinterpret_cast<decltype(&GetPluginInfo)>(dlsym(module, "GetPluginInfo"));
    char version[8] = {};
    EXPECT_EQ(info(0, version, sizeof version), 4);
    EXPECT_STREQ(version, "00AM");
    dlclose(module);
}
