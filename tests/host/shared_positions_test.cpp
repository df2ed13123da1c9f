// Which entries an archive lists at another's position: the quick answer
// for rising positions and the sorted one agree with the rule itself on
// random listings, hostile ones included.
#include <gtest/gtest.h>

#include <random>

#include "archive_contents.h"

namespace {

// The rule as stated: the first earlier entry at the same position, unless both are empty.
std::optional<uint32_t> SharesWith(const std::vector<host::ArchiveEntry>& entries, size_t j) {
    for (size_t i = 0; i < j; ++i)
        if (entries[i].position == entries[j].position)
            return entries[i].storedSize != 0 || entries[j].storedSize != 0 ? std::optional<uint32_t>(i)
                                                                           : std::nullopt;
    return std::nullopt;
}

}  // namespace

TEST(SharedPositions, AgreeWithTheRuleOnRandomListings) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<host::ArchiveEntry> entries(random() % 12);
        const bool rising = random() % 2 == 0;
        uint32_t next = 16;
        for (host::ArchiveEntry& e : entries) {
            e.storedSize = random() % 3 == 0 ? 0 : 1 + random() % 5;
            if (rising) {
                e.position = e.storedSize == 0 && random() % 4 != 0 ? 0 : next;
                next += e.storedSize;
            } else {
                e.position = random() % 4 == 0 ? 0 : 16 + random() % 4;
            }
        }
        std::vector<host::ArchiveEntry> marked = entries;
        host::MarkSharedPositions(marked);
        for (size_t j = 0; j < entries.size(); ++j)
            ASSERT_EQ(marked[j].sharesPositionWith, SharesWith(entries, j)) << "round " << round << ", entry " << j;
    }
}
