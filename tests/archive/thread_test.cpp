// Several host threads list, look up and extract from two archives at once;
// every answer must be the one a lone thread gets.
#include <atomic>

#include "archive_calls.h"

using namespace archive_builder;

namespace {

struct Archive {
    ArchiveRecipe recipe;
    std::string path;
    std::vector<ArchiveEntryRecord> listing;
    std::vector<std::vector<uint8_t>> delivered;
};

Archive Make(ArchiveFolder& folder, const std::string& name, uint32_t seed) {
    Archive a;
    PwRecipe voice;
    voice.channels = static_cast<uint16_t>(1 + seed % 2);
    voice.codes = Bytes(2000 + seed, seed);
    for (uint32_t i = 0; i < 6; ++i)
        a.recipe.entries.push_back({"F" + std::to_string(seed) + "_" + std::to_string(i), Bytes(300 * i + seed, seed + i)});
    a.recipe.entries.push_back({"VOICE.PW", MakePwAudio(voice)});
    a.path = folder.Write(name, BuildArchive(a.recipe));
    std::vector<uint32_t> outputs;
    for (const Entry& e : a.recipe.entries) {
        outputs.push_back(e.Size());
        a.delivered.push_back(e.data);
    }
    outputs.back() = 46 + 2 * static_cast<uint32_t>(voice.codes.size());
    a.delivered.back() = ExpectedWave(a.recipe.entries.back().data);
    a.listing = ExpectedListing(a.recipe, outputs);
    return a;
}

}  // namespace

TEST(Threads, ListLookUpAndExtractFromTwoArchivesAtOnce) {
    ArchiveFolder folder;
    const Archive archives[2] = {Make(folder, "one.dat", 1), Make(folder, "two.dat", 2)};
    CallGetArchiveInfo(archives[0].path);
    const auto before = platform_testing::Live();
    std::atomic<int> delivered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const Archive& a = archives[(t + i) % 2];
                size_t k = static_cast<size_t>(t * 3 + i) % a.listing.size();
                switch ((t + i) % 3) {
                case 0:
                    ExpectListing(CallGetArchiveInfo(a.path), a.listing);
                    break;
                case 1: {
                    ArchiveEntryRecord record;
                    EXPECT_EQ(CallGetFileInfo(a.path, a.listing[k].fileName, 0, &record), Ok);
                    EXPECT_TRUE(SameRecord(record, a.listing[k]));
                    break;
                }
                default:
                    break;
                }
                Delivery delivery = CallGetFile(a.path, a.listing[k].position);
                EXPECT_EQ(delivery.result, Ok);
                EXPECT_TRUE(delivery.bytes == a.delivered[k]) << a.path << " entry " << k;
                ++delivered;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(delivered.load(), 100);
    CallGetArchiveInfo(archives[0].path);  // the cache holds one archive, as before
    EXPECT_EQ(platform_testing::Live(), before);
}
