// One rule for what an entry is: the kinds a manifest records, the kind
// ClassifyEntry gives by the sizes the archive plug-in lists, and the size
// the plug-in delivers each entry at all agree, over entries made to sit
// on either side of every condition (tags, code counts, picture lengths).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "plugin_host.h"
#include "zorvan_format.h"

namespace {

using archive_builder::Entry;

std::vector<uint8_t> NearAudio(std::mt19937& random) {
    archive_builder::PwRecipe recipe;
    recipe.codes.resize(random() % 40);
    recipe.codeCount = random() % 4 == 0 ? static_cast<int64_t>(recipe.codes.size() + random() % 3) - 1 : -1;
    recipe.trailing = random() % 3;
    std::vector<uint8_t> bytes = archive_builder::MakePwAudio(recipe);
    switch (random() % 6) {
    case 0: bytes[random() % 16] ^= 0x20; break;                           // a tag broken
    case 1: bytes.resize(random() % (bytes.size() + 1)); break;          // cut short
    case 2: bytes[38] = 'D'; break;                                       // "Data"
    default: break;
    }
    return bytes;
}

std::vector<uint8_t> NearPicture(std::mt19937& random) {
    std::vector<uint8_t> bytes(random() % 24, 0x55);
    if (bytes.size() >= 2) bytes[0] = random() % 2 ? 'B' : 'E', bytes[1] = random() % 5 ? '1' : '2';
    for (size_t at = 2; at < bytes.size() && at < 10; ++at) bytes[at] = random() % 3 == 0 ? 0 : random() & 0xFF;
    return bytes;
}

TEST(EntryKind, ManifestListingAndPluginAgree) {
    std::mt19937 random(20261209);
    writer_test::ScratchFolder scratch;
    int seen[3] = {};
    for (int round = 0; round < 8; ++round) {
        archive_builder::ArchiveRecipe recipe;
        for (int i = 0; i < 40; ++i)
            recipe.entries.push_back(Entry{"E" + std::to_string(i), i % 2 ? NearAudio(random) : NearPicture(random)});
        const std::vector<uint8_t> archive = archive_builder::BuildArchive(recipe);
        const std::string path = scratch.Write("A" + std::to_string(round) + ".DAT", archive).string();

        const std::vector<writer_test::ListedEntry> listed = writer_test::ListArchive(path);
        ASSERT_EQ(listed.size(), recipe.entries.size());
        std::vector<writer::ListedEntry> listing;
        for (size_t i = 0; i < listed.size(); ++i) {
            const std::vector<uint8_t>& data = recipe.entries[i].data;
            std::vector<uint8_t> head(data.begin(), data.begin() + std::min<size_t>(data.size(), kPwHeaderSize));
            head.resize(kPwHeaderSize);  // room to read; only the stored part counts
            const uint32_t stored = listed[i].packedSize;
            EXPECT_EQ(listed[i].outputSize, DeliveredSize(head.data(), stored)) << "round " << round << " entry " << i;
            listing.push_back({stored, ClassifyEntry(head.data(), stored, listed[i].outputSize)});
            ++seen[static_cast<int>(listing.back().kind)];
        }
        const writer::Manifest fromListing = writer::DescribeArchive(path, listing);
        const writer::Manifest fromBytes = writer::DescribeArchive(path);
        for (size_t i = 0; i < listing.size(); ++i) {
            EXPECT_EQ(fromListing.entries[i].kind, listing[i].kind) << "round " << round << " entry " << i;
            EXPECT_EQ(fromBytes.entries[i].kind, listing[i].kind) << "round " << round << " entry " << i;
        }

        // A listing the bytes do not bear out is refused, never recorded,
        // by an error about the archive.
        const auto refusal = [&](const std::vector<writer::ListedEntry>& claimed) {
            try {
                writer::DescribeArchive(path, claimed);
            } catch (const files::ToolError& error) {
                EXPECT_EQ(error.Path(), path);
                return error.Reason();
            }
            return std::string("accepted");
        };
        std::vector<writer::ListedEntry> wrongSize = listing;
        wrongSize.back().storedSize += 1;
        EXPECT_EQ(refusal(wrongSize), "the plug-in lists other entries than the archive's directory holds");
        for (size_t i = 0; i < listing.size(); ++i) {
            if (listing[i].kind != EntryKind::File) continue;
            std::vector<writer::ListedEntry> wrongKind = listing;
            wrongKind[i].kind = i % 2 ? EntryKind::Audio : EntryKind::Picture;
            EXPECT_EQ(refusal(wrongKind).rfind("the archive changed while it was read: ", 0), 0u) << "entry " << i;
            break;
        }
    }
    for (int count : seen) EXPECT_GT(count, 20) << "every kind, many times";
}

}  // namespace
