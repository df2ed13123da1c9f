// The manifest's reader against broken manifests, the hash against known
// digests and xxhsum, and files that reach their name only complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>

#include "archive_builder.h"
#include "atomic_file.h"
#include "manifest.h"
#include "plugin_host.h"
#include "content_hash.h"
#include "test_images.h"

namespace {

namespace fs = std::filesystem;
using writer_test::ScratchFolder;

std::string Json(const writer::Manifest& manifest) { return writer::ManifestToJson(manifest); }

writer::Manifest Parse(const std::string& text) {
    return writer::ManifestFromJson(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A manifest of an extraction: audio, picture facts, a gap and a tail.
std::string ValidManifest(const ScratchFolder& scratch) {
    archive_builder::ArchiveRecipe recipe;
    archive_builder::PwRecipe audio;
    audio.codes = archive_builder::Bytes(10, 1);
    audio.trailing = 2;
    recipe.entries = {{"A.TXT", archive_builder::Bytes(5, 2)}, {"V.PW", archive_builder::MakePwAudio(audio)}};
    recipe.tail = {1, 2, 3};
    writer::Manifest manifest = writer_test::ExtractWithManifest(
        scratch.Write("IN.DAT", archive_builder::BuildArchive(recipe)).string(), scratch.path() / "out");
    return Json(manifest);
}

TEST(Manifest, ReadsBackWhatItWrote) {
    ScratchFolder scratch;
    const std::string text = ValidManifest(scratch);
    EXPECT_EQ(Json(Parse(text)), text);
    EXPECT_EQ(Json(writer::ReadManifestFile(scratch.path() / "out" / writer::kManifestFileName)), text);
}

TEST(Manifest, RefusesBrokenManifestsSayingWhatIsWrong) {
    ScratchFolder scratch;
    const std::string valid = ValidManifest(scratch);
    const struct {
        const char* pattern;  // replaced in the valid manifest
        const char* with;
        const char* message;
    } cases[] = {
        {"\"version\": 1", "\"version\": 2", "version 2"},
        {"\"version\": 1", "\"version\": \"1\"", "version is not a whole number"},
        {"\"format\": \"zorv-manifest\"", "\"format\": \"other\"", "format is not"},
        {"\"path\":\"A.TXT\"", "\"path\":\"../A.TXT\"", "not a plain relative path"},
        {"\"path\":\"A.TXT\"", "\"path\":\"/etc/passwd\"", "not a plain relative path"},
        {"\"path\":\"A.TXT\"", "\"path\":\"C:A.TXT\"", "not a plain relative path"},
        {"\"path\":\"A.TXT\"", "\"path\":\"x\\\\A.TXT\"", "not a plain relative path"},
        {"\"path\":\"A.TXT\"", "\"path\":\"V.wav\"", "a second time"},
        {"\"field\":\"412e545854", "\"field\":\"412e5458", "exactly 12 bytes"},
        {"\"field\":\"412e545854", "\"field\":\"zz2e545854", "hexadecimal"},
        {"\"xxh64\":\"", "\"xxh64\":\"00", "more than 8 bytes"},
        {"\"kind\":\"file\"", "\"kind\":\"text\"", "kind is not one of"},
        {"\"kind\":\"file\"", "\"kind\":\"audio\"", "without its \"audio\" facts"},
        {"\"holds\":\"stored\"", "\"holds\":\"wave\"", "not coded audio"},
        {"\"holds\":\"stored\"", "\"holds\":\"raw\"", "neither \"stored\" nor \"wave\""},
        {"\"size\":5,", "\"size\":6,", "where the entry gives 6"},
        {"\"size\":5,", "\"size\":-5,", "not a whole number"},
        {"\"tail\":\"010203\"", "\"tail\":\"0102\"", "does not add up"},
        {"\"header\":\"5a5256", "\"header\":\"5a5257", "archive's signature"},
        {"\"trailing\":\"e0e1\"", "\"trailing\":\"e0\"", "stored size that is not"},
        {"\"name\":\"A.TXT\",", "\"name\":\"A.TXT\",\"extra\":1,", "unknown member \"extra\""},
        {"\"entries\": [", "\"entries\": [[[[[[[[1]]]]]]],", "entries[0] is not an object"},
        {"\n}\n", "", "not valid JSON"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.pattern);
        const size_t at = valid.find(test.pattern);
        ASSERT_NE(at, std::string::npos);
        const std::string broken = std::string(valid).replace(at, std::strlen(test.pattern), test.with);
        try {
            Parse(broken);
            ADD_FAILURE() << "accepted";
        } catch (const files::ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
        }
    }
    // Count in the header and entries listed must agree.
    const std::string oneLess = std::regex_replace(valid, std::regex(",\n  \\{\"name\":\"V.PW\".*\n"), "\n");
    EXPECT_THROW(Parse(oneLess), files::ToolError);
}

TEST(ContentHash, AgreesWithKnownDigestsAndXxhsum) {
    const struct {
        std::string text;
        const char* digest;
    } known[] = {
        {"", "ef46db3751d8e999"},
        {"abc", "44bc2cf5ad770999"},
    };
    for (const auto& test : known)
        EXPECT_EQ(writer::ContentHashHex(reinterpret_cast<const uint8_t*>(test.text.data()), test.text.size()),
                  test.digest);

    // Every length around the stripe and tail edges, fed in uneven pieces, against the system's tool.
    ScratchFolder scratch;
    test_images::Rng rng(7);
    for (size_t size : {1, 3, 4, 7, 8, 11, 31, 32, 33, 63, 64, 65, 100, 1000, 4097, 1000000}) {
        std::vector<uint8_t> bytes = test_images::MakeNoise(size, size);
        writer::ContentHash pieces;
        for (size_t at = 0; at < size;) {
            size_t piece = std::min<size_t>(size - at, rng.Below(100));
            pieces.Update(bytes.data() + at, piece);
            at += piece;
        }
        const fs::path file = scratch.Write("f", bytes);
        std::string command = "xxhsum -H1 '" + file.string() + "'";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[128] = {};
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
        pclose(pipe);
        EXPECT_EQ(pieces.FinishHex(), std::string(line, 16)) << size;
    }
}

TEST(AtomicFile, TheTargetAppearsOnlyComplete) {
    ScratchFolder scratch;
    const fs::path target = scratch.path() / "out.dat";
    const std::vector<uint8_t> bytes = archive_builder::Bytes(300000, 1);
    {
        writer::AtomicFile abandoned(target);
        abandoned.Write(bytes.data(), bytes.size());
    }
    EXPECT_TRUE(fs::is_empty(scratch.path())) << "an abandoned file left something behind";

    {
        writer::AtomicFile file(target);
        file.Write(bytes.data(), 10);
        file.Write(bytes.data() + 10, bytes.size() - 10);
        EXPECT_FALSE(fs::exists(target));
        file.Commit(false);
    }
    EXPECT_EQ(writer_test::ReadFile(target), bytes);

    writer::AtomicFile again(target);
    again.Write(bytes.data(), 5);
    EXPECT_THROW(again.Commit(false), files::ToolError);
    EXPECT_EQ(writer_test::ReadFile(target), bytes) << "an existing file was replaced without being asked";
    writer::AtomicFile replacing(target);
    replacing.Write(bytes.data(), 5);
    replacing.Commit(true);
    EXPECT_EQ(writer_test::ReadFile(target).size(), 5u);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
}

}  // namespace
