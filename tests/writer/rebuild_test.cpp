// Folder -> archive and archive -> extract -> rebuild, checked only through
// the archive plug-in's exports and the bytes of the original archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "archive_builder.h"
#include "atomic_file.h"
#include "bitmap_builder.h"
#include "plugin_host.h"
#include "rebuild.h"
#include "test_pictures.h"

namespace {

namespace fs = std::filesystem;
using archive_builder::Bytes;
using archive_builder::Entry;
using writer_test::ScratchFolder;

// The placeholder name table is ASCII; the real one lands with the CLI.
std::optional<std::string> AsciiNames(const std::string& utf8) {
    for (unsigned char c : utf8)
        if (c >= 0x80) return std::nullopt;
    return utf8;
}

std::vector<uint8_t> PackedPicture(int32_t width, int32_t height, uint16_t bits, char letter) {
    return bitmap_builder::PackBitmap(bitmap_builder::BuildBitmap({width, height, bits}).file, letter);
}

std::vector<uint8_t> CodedAudio(uint16_t channels, uint32_t formatLength, uint16_t extra, size_t codes,
                                size_t trailing) {
    archive_builder::PwRecipe recipe;
    recipe.channels = channels;
    recipe.formatLength = formatLength;
    recipe.extraLength = extra;
    recipe.codes = Bytes(codes, static_cast<uint32_t>(codes + trailing));
    recipe.trailing = trailing;
    return archive_builder::MakePwAudio(recipe);
}

// Junk between the entries' data and the directory, as some archives hold.
void InsertGap(std::vector<uint8_t>& archive, const std::vector<uint8_t>& junk) {
    const uint32_t directory = archive_builder::DirectoryOffset(archive);
    archive.insert(archive.begin() + directory, junk.begin(), junk.end());
    archive_builder::PutLe32(archive.data() + 10, directory + static_cast<uint32_t>(junk.size()));
}

// Every kind of entry and name, empty entries anywhere, and every byte of
// the layout that only the manifest can carry.
std::vector<uint8_t> EveryKindOfArchive(bool withAudio) {
    archive_builder::ArchiveRecipe recipe;
    recipe.signature = "ZRV03";
    recipe.byte7 = 0x77;
    recipe.entries = {
        Entry{"EMPTY0.TXT", {}},
        Entry{"PLAIN.TXT", Bytes(300, 1)},
        Entry{"TWELVECHARS!", Bytes(5, 2)},
        Entry{std::string("AB\0junk!", 8), Bytes(7, 3)},  // bytes after the terminator
        Entry{"\x83\x5C\x83\x67.BIN", Bytes(64, 4)},        // two-byte characters, 0x5C inside
        Entry{"..\\UP.TXT", Bytes(3, 5)},                   // names that must be made safe
        Entry{"CON", Bytes(9, 6)},
        Entry{"A:B|C?.TXT", Bytes(9, 7)},
        Entry{"DIR\\SUB.TXT", Bytes(11, 8)},
        Entry{"SAME.TXT", Bytes(12, 9)},
        Entry{"same.txt", Bytes(13, 10)},
        Entry{"SAME.TXT", Bytes(14, 11)},
        Entry{"EMPTY1", {}},
        Entry{"EMPTY2", {}},
        Entry{"PIC8.BMP", PackedPicture(13, 9, 8, 'B')},
        Entry{"PIC24.BMP", PackedPicture(7, -5, 24, 'E')},
        Entry{"PW10", Bytes(4, 12)},  // starts like audio, too short to be any
    };
    if (withAudio) {
        recipe.entries.push_back(Entry{"MONO.PW", CodedAudio(1, 18, 0, 500, 0)});
        recipe.entries.push_back(Entry{"STEREO.PW", CodedAudio(2, 16, 3, 400, 5)});  // odd header, bytes after
        recipe.entries.push_back(Entry{"ODD.PW", CodedAudio(1, 20, 1, 0, 3)});        // no codes at all
        std::vector<uint8_t> shortAudio = CodedAudio(1, 18, 0, 10, 0);
        shortAudio.resize(50);  // says 10 codes, holds 4: delivered as stored
        recipe.entries.push_back(Entry{"SHORT.PW", shortAudio});
    }
    recipe.entries.push_back(Entry{"EMPTY9", {}});
    recipe.tail = Bytes(33, 13);
    std::vector<uint8_t> archive = archive_builder::BuildArchive(recipe);
    InsertGap(archive, Bytes(21, 14));
    return archive;
}

writer::RebuildPlan Plan(const fs::path& folder) {
    return writer::PlanRebuild(folder, writer::ReadManifestFile(folder / writer::kManifestFileName), AsciiNames, {});
}

std::vector<uint8_t> Build(const writer::RebuildPlan& plan, std::vector<std::string>* notes = nullptr) {
    writer::VectorSink sink;
    std::vector<std::string> ignored;
    writer::BuildArchive(plan, sink, {}, notes ? notes : &ignored);
    return sink.bytes;
}

void ExpectRoundTrip(const std::vector<uint8_t>& original) {
    ScratchFolder scratch;
    const fs::path archive = scratch.Write("IN.DAT", original);
    const fs::path out = scratch.path() / "out";
    writer::Manifest manifest = writer_test::ExtractWithManifest(archive.string(), out);
    ASSERT_TRUE(manifest.notExact.empty()) << manifest.notExact.front();
    writer::RebuildPlan plan = Plan(out);
    EXPECT_TRUE(plan.Exact());
    EXPECT_EQ(writer::PlanReport(plan, false).back(),
              std::to_string(manifest.entries.size()) + " unchanged, 0 changed, 0 added, 0 left out: the original "
                                                        "archive, byte for byte");
    EXPECT_EQ(Build(plan), original);
}

TEST(Rebuild, UnchangedFolderGivesTheArchiveBackByteForByte) {
    ExpectRoundTrip(EveryKindOfArchive(false));
}

TEST(Rebuild, UnchangedFolderWithCodedAudioGivesTheArchiveBackByteForByte) {
    if (!writer_test::HaveAudioEncoder()) GTEST_SKIP() << "needs the coded-audio encoder";
    ExpectRoundTrip(EveryKindOfArchive(true));
}

TEST(Rebuild, ChangedFilesAreEncodedAsTheirEntriesWere) {
    archive_builder::ArchiveRecipe recipe;
    recipe.entries = {Entry{"PIC1.BMP", PackedPicture(9, 4, 8, 'E')}, Entry{"PIC2.BMP", PackedPicture(5, 3, 24, 'B')},
                      Entry{"TEXT.TXT", Bytes(40, 1)}, Entry{"GONE.TXT", Bytes(40, 2)}};
    const bool audio = writer_test::HaveAudioEncoder();
    if (audio) recipe.entries.push_back(Entry{"VOICE.PW", CodedAudio(2, 16, 3, 200, 7)});
    const std::vector<uint8_t> original = archive_builder::BuildArchive(recipe);
    ScratchFolder scratch;
    const fs::path out = scratch.path() / "out";
    writer_test::ExtractWithManifest(scratch.Write("IN.DAT", original).string(), out);

    // A palette PNG over the first picture, an RGB PNG beside the second.
    const test_pictures::Source palette = test_pictures::MakeSource({3, 8, 40, false, false, 6, 5, 1});
    const test_pictures::Source rgb = test_pictures::MakeSource({2, 8, 999, false, false, 4, 3, 2});
    scratch.Write("out/PIC1.BMP", palette.png);
    scratch.Write("out/PIC2.png", rgb.png);
    scratch.Write("out/TEXT.TXT", Bytes(41, 3));
    fs::remove(out / "GONE.TXT");
    scratch.Write("out/NEW.DAT", Bytes(5, 4));
    scratch.Write("out/.hidden", Bytes(5, 5));
    // A new WAVE for the voice, of table values, over the extracted one's header.
    std::vector<uint8_t> wave;
    if (audio) {
        wave = writer_test::ReadFile(out / "VOICE.wav");
        for (size_t i = 46, k = 0; i + 1 < wave.size(); i += 2, ++k)
            archive_builder::PutLe16(&wave[i], static_cast<uint16_t>(archive_builder::ExpectedSample(k * 7 & 255)));
        scratch.Write("out/VOICE.wav", wave);
    }

    writer::RebuildPlan plan = Plan(out);
    EXPECT_FALSE(plan.Exact());
    EXPECT_EQ(plan.Count(writer::PlanAction::Change), audio ? 4u : 3u);
    EXPECT_EQ(plan.Count(writer::PlanAction::Remove), 1u);
    EXPECT_EQ(plan.Count(writer::PlanAction::Add), 1u);
    const std::vector<std::string> report = writer::PlanReport(plan, false);
    const std::vector<std::string> expected = {
        "change\tPIC1.BMP\tchanged: packed from the PNG it now holds",
        "change\tPIC2.BMP\t(PIC2.png)\tpacked from 'PIC2.png'",
        "change\tTEXT.TXT\tchanged: stored as it is",
        "remove\tGONE.TXT\tleft out: its file 'GONE.TXT' is gone",
    };
    EXPECT_EQ(std::vector<std::string>(report.begin(), report.begin() + 4), expected);
    EXPECT_EQ(report.back(), std::string(audio ? "0 unchanged, 4 changed" : "0 unchanged, 3 changed") +
                                 ", 1 added, 1 left out: not the original archive byte for byte (entries differ)");
    EXPECT_EQ(report[report.size() - 2], "ignore\t'.hidden': a hidden file");

    const fs::path rebuilt = scratch.Write("OUT.DAT", Build(plan));
    std::vector<uint8_t> bytes = writer_test::ReadFile(rebuilt);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
              std::vector<uint8_t>(original.begin(), original.begin() + 8));
    std::vector<writer_test::ListedEntry> listing = writer_test::ListArchive(rebuilt.string());
    ASSERT_EQ(listing.size(), audio ? 5u : 4u);
    EXPECT_EQ(listing.back().name, "NEW.DAT") << "added files come last";
    EXPECT_EQ(writer_test::GetEntry(rebuilt.string(), listing[2].position), Bytes(41, 3));
    EXPECT_EQ(writer_test::GetEntry(rebuilt.string(), listing.back().position), Bytes(5, 4));

    const std::vector<uint8_t> pic1 = writer_test::GetEntry(rebuilt.string(), listing[0].position);
    EXPECT_EQ(pic1[0], 'E') << "the signature the entry had";
    test_pictures::ExpectShows(writer_test::GetPictureOf(pic1), palette, 8);
    test_pictures::ExpectShows(writer_test::GetPictureOf(writer_test::GetEntry(rebuilt.string(), listing[1].position)),
                               rgb, 24);
    if (audio) {
        EXPECT_EQ(writer_test::GetEntry(rebuilt.string(), listing[3].position), wave);
    }
}

TEST(Rebuild, RefusesBeforeWritingWhatItCannotBuildRight) {
    archive_builder::ArchiveRecipe recipe;
    recipe.entries = {Entry{"PIC.BMP", PackedPicture(4, 4, 24, 'B')}, Entry{"A.TXT", Bytes(4, 1)}};
    ScratchFolder scratch;
    const fs::path out = scratch.path() / "out";
    writer_test::ExtractWithManifest(scratch.Write("IN.DAT", archive_builder::BuildArchive(recipe)).string(), out);
    const test_pictures::Source rgb = test_pictures::MakeSource({2, 8, 9, false, false, 4, 4, 3});

    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> writes;
        const char* message;
    } cases[] = {
        {"picture and its PNG both changed", {{"PIC.BMP", Bytes(9, 1)}, {"PIC.png", rgb.png}}, "both"},
        {"a picture replaced by text", {{"PIC.BMP", Bytes(9, 1)}}, "neither a packed picture"},
        {"an added name too long", {{"MUCH-TOO-LONG.TXT", Bytes(1, 1)}}, "at most 12"},
        {"an added name taken", {{"a.txt", Bytes(1, 1)}}, "is taken by 'A.TXT'"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScratchFolder copy;
        fs::copy(out, copy.path() / "out", fs::copy_options::recursive);
        for (const auto& write : test.writes) copy.Write("out/" + write.first, write.second);
        try {
            Plan(copy.path() / "out");
            ADD_FAILURE() << "planned";
        } catch (const files::ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
        }
    }
}

TEST(Rebuild, LayoutsItCannotReproduceAreSaidPlainlyAndStillBuildARightArchive) {
    archive_builder::ArchiveRecipe recipe;
    recipe.directoryInFirstEntry = true;
    recipe.entries = {Entry{"DIR", {}}, Entry{"A.TXT", Bytes(20, 1)}, Entry{"B.TXT", Bytes(30, 2)}};
    ScratchFolder scratch;
    const fs::path out = scratch.path() / "out";
    writer::Manifest manifest =
        writer_test::ExtractWithManifest(scratch.Write("IN.DAT", archive_builder::BuildArchive(recipe)).string(), out);
    ASSERT_EQ(manifest.notExact.size(), 1u);
    EXPECT_NE(manifest.notExact[0].find("inside the entries' data"), std::string::npos);

    writer::RebuildPlan plan = Plan(out);
    EXPECT_FALSE(plan.Exact());
    const fs::path rebuilt = scratch.Write("OUT.DAT", Build(plan));
    std::vector<writer_test::ListedEntry> listing = writer_test::ListArchive(rebuilt.string());
    ASSERT_EQ(listing.size(), 3u);
    for (size_t i = 1; i < 3; ++i)
        EXPECT_EQ(writer_test::GetEntry(rebuilt.string(), listing[i].position), recipe.entries[i].data);
}

// Hidden paths (a part that starts with a dot, at any depth) and links are
// left out and said; a link is never followed, to a file or to a folder.
TEST(Build, HiddenPathsAndLinksAreLeftOutAndSaid) {
    ScratchFolder scratch;
    for (const char* path : {"in/A.TXT", "in/.top", "in/.git/config", "in/.git/refs/HEAD", "in/SUB/.cache/X",
                             "in/SUB/B.TXT", "outside/SECRET.TXT"})
        scratch.Write(path, Bytes(3, 1));
    fs::create_directory_symlink(scratch.path() / "outside", scratch.path() / "in" / "LINKDIR");
    fs::create_symlink(scratch.path() / "outside" / "SECRET.TXT", scratch.path() / "in" / "LINK.TXT");
    const writer::RebuildPlan plan =
        writer::PlanFolderArchive(scratch.path() / "in", writer::ArchiveSignature::Zrv01, AsciiNames, {});
    std::vector<std::string> names;
    for (const writer::PlanItem& item : plan.items) names.push_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "SUB\\B.TXT"}));
    std::vector<std::string> ignored = plan.ignored;
    std::sort(ignored.begin(), ignored.end());
    EXPECT_EQ(ignored, (std::vector<std::string>{"'.git/config': in a hidden folder",
                                                 "'.git/refs/HEAD': in a hidden folder", "'.top': a hidden file",
                                                 "'LINK.TXT': a symbolic link, never followed",
                                                 "'LINKDIR': a symbolic link, never followed",
                                                 "'SUB/.cache/X': in a hidden folder"}));
}

TEST(Build, AFolderBecomesAnArchiveThePluginListsAndExtracts) {
    ScratchFolder scratch;
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"A.TXT", Bytes(100, 1)}, {"EMPTY", {}}, {"SUB/B.BIN", Bytes(70000, 2)}, {"Z.PIC", PackedPicture(3, 3, 8, 'B')}};
    for (const auto& file : files) scratch.Write("in/" + file.first, file.second);
    writer::RebuildPlan plan =
        writer::PlanFolderArchive(scratch.path() / "in", writer::ArchiveSignature::Zrv00, AsciiNames, {});
    const fs::path target = scratch.path() / "OUT.DAT";
    {
        writer::AtomicFile file(target);
        std::vector<std::string> notes;
        writer::BuildArchive(plan, file, {}, &notes);
        file.Commit(false);
    }
    EXPECT_EQ(writer_test::ReadFile(target)[4], '0');
    std::vector<writer_test::ListedEntry> listing = writer_test::ListArchive(target.string());
    ASSERT_EQ(listing.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::string name = files[i].first;
        std::replace(name.begin(), name.end(), '/', '\\');
        EXPECT_EQ(listing[i].name, name);
        EXPECT_EQ(writer_test::GetEntry(target.string(), listing[i].position), files[i].second) << name;
    }

    // Written into the folder itself, the archive never becomes its own entry.
    fs::copy_file(target, scratch.path() / "in" / "OUT.DAT");
    writer::BuildOptions into;
    into.output = scratch.path() / "in" / "." / "OUT.DAT";
    writer::RebuildPlan again = writer::PlanFolderArchive(scratch.path() / "in", writer::ArchiveSignature::Zrv00,
                                                          AsciiNames, into);
    EXPECT_EQ(again.items.size(), files.size());
    EXPECT_EQ(again.ignored, std::vector<std::string>{"'OUT.DAT': the archive being written"});

    // Refused before a byte is written: a name too long, too many entries, 4 GiB.
    scratch.Write("in/LONGER-THAN-12.TXT", {});
    EXPECT_THROW(writer::PlanFolderArchive(scratch.path() / "in", writer::ArchiveSignature::Zrv00, AsciiNames, {}),
                 files::ToolError);
    writer::VectorSink sink;
    const writer::NameField name = writer::MakeNameField("X", "X");
    std::vector<writer::ArchiveEntry> tooMany(65536, writer::ArchiveEntry{name, 0, [](writer::ByteSink&) {}, "X"});
    EXPECT_THROW(writer::WriteArchive(sink, writer::DefaultLayout(writer::ArchiveSignature::Zrv01), tooMany),
                 files::ToolError);
    std::vector<writer::ArchiveEntry> tooBig(2, writer::ArchiveEntry{name, 0xFFFFFFF0u, [](writer::ByteSink&) {}, "X"});
    EXPECT_THROW(writer::WriteArchive(sink, writer::DefaultLayout(writer::ArchiveSignature::Zrv01), tooBig),
                 files::ToolError);
    EXPECT_TRUE(sink.bytes.empty());
}

}  // namespace
