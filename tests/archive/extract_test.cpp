// Extraction by position: delivered bytes, the progress protocol with abort,
// and requests whose cached record no longer matches the file.
#include <array>
#include <functional>

#include "archive_calls.h"

using namespace archive_builder;
using platform_testing::Call;
using platform_testing::CallsMade;
using platform_testing::Live;

namespace {

struct Entries {
    ArchiveRecipe recipe;
    std::vector<std::vector<uint8_t>> delivered;  // what GetFile must hand over for each
};

// Every entry has a position of its own: the empty one is listed at 0, so
// the entry stored right behind it stays reachable.
Entries Sample() {
    PwRecipe mono, stereo, cut;
    mono.codes = Bytes(3000, 1);
    mono.trailing = 3;
    stereo.channels = 2;
    stereo.rate = 44100;
    stereo.codes = Bytes(1001, 2);
    cut.codes = Bytes(10, 3);
    cut.codeCount = 11;
    Entries e;
    e.recipe.entries = {{"PLAIN.BIN", Bytes(5000, 4)}, {"MONO.PW", MakePwAudio(mono)},
                      {"STEREO.PW", MakePwAudio(stereo)}, {"CUT.PW", MakePwAudio(cut)},
                      {"EMPTY", {}}, {"SHADOWED", Bytes(9, 5)}, {"TWELVE.CHARS", Bytes(1, 6)}};
    e.delivered = {e.recipe.entries[0].data, ExpectedWave(e.recipe.entries[1].data),
                   ExpectedWave(e.recipe.entries[2].data), e.recipe.entries[3].data, {}, Bytes(9, 5), Bytes(1, 6)};
    return e;
}

struct Reports {
    std::vector<std::array<intptr_t, 3>> calls;
    int abortAt = -1;
    std::function<void(int32_t)> during;
};

int32_t WINAPI Record(int32_t step, int32_t total, intptr_t userData) {
    Reports* reports = reinterpret_cast<Reports*>(userData);
    reports->calls.push_back({step, total, userData});
    if (reports->during) reports->during(step);
    return step == reports->abortAt ? 1 : 0;
}

void Lookup(const std::string& path) {
    ArchiveEntryRecord record;
    CallGetFileInfo(path, "x", 0, &record);
}

class Extract : public ::testing::Test {
protected:
    Extract() : entries_(Sample()) {
        path_ = folder_.Write("sample.dat", BuildArchive(entries_.recipe));
        other_ = folder_.Write("other.dat", BuildArchive(ArchiveRecipe{}));
        positions_ = EntryPositions(entries_.recipe);
    }
    ArchiveFolder folder_;
    Entries entries_;
    std::string path_, other_;
    std::vector<uint32_t> positions_;
};

}  // namespace

TEST_F(Extract, DeliversEveryEntryAsListed) {
    Listing listing = CallGetArchiveInfo(path_);
    ASSERT_EQ(listing.result, Ok);
    for (size_t i = 0; i < positions_.size(); ++i) {
        SCOPED_TRACE(entries_.recipe.entries[i].name);
        Delivery delivery = CallGetFile(path_, positions_[i]);
        ASSERT_EQ(delivery.result, Ok);
        EXPECT_EQ(delivery.bytes, entries_.delivered[i]);
        EXPECT_EQ(delivery.bytes.size(), listing.records[i].outputSize);
    }
    EXPECT_EQ(CallGetFile(path_, positions_[0] + 1).result, UnsupportedFormat);
}

TEST_F(Extract, ServesOnlyFileToMemory) {
    Reports reports;
    for (uint32_t flags : {0x100u, 0x300u, 0xFFFFFFFEu})
        EXPECT_EQ(CallGetFile(path_, positions_[0], Record, reinterpret_cast<intptr_t>(&reports), flags).result, Ok);
    EXPECT_EQ(reports.calls.size(), 24u);
    reports.calls.clear();
    for (uint32_t flags : {0x0u, 0x1u, 0x101u, 0x200u})
        EXPECT_EQ(CallGetFile(path_, positions_[0], Record, reinterpret_cast<intptr_t>(&reports), flags).result,
                  NotImplemented);
    EXPECT_TRUE(reports.calls.empty());
}

TEST_F(Extract, ReportsEightStepsWithTheHostsValue) {
    Reports reports;
    intptr_t userData = reinterpret_cast<intptr_t>(&reports);
    ASSERT_EQ(CallGetFile(path_, positions_[1], Record, userData).result, Ok);
    ASSERT_EQ(reports.calls.size(), 8u);
    for (intptr_t step = 0; step < 8; ++step)
        EXPECT_EQ(reports.calls[step], (std::array<intptr_t, 3>{step, 7, userData}));
    reports.calls.clear();
    EXPECT_EQ(CallGetFile(path_, 3).result, UnsupportedFormat);
    EXPECT_EQ(CallGetFile(path_, 3, Record, userData).result, UnsupportedFormat);
    EXPECT_EQ(reports.calls.size(), 3u);
}

// Abort at each report: nothing delivered or left behind; a directory loaded
// before the abort stays cached.
TEST_F(Extract, AbortsAtEveryReport) {
    for (int step = 0; step < 8; ++step) {
        SCOPED_TRACE("abort at " + std::to_string(step));
        CallGetArchiveInfo(other_);
        const auto before = Live();
        Reports reports;
        reports.abortAt = step;
        EXPECT_EQ(CallGetFile(path_, positions_[2], Record, reinterpret_cast<intptr_t>(&reports)).result, Aborted);
        EXPECT_EQ(reports.calls.size(), static_cast<size_t>(step + 1));
        EXPECT_TRUE(CacheLockIsFree());
        EXPECT_EQ(OpensDuring(Lookup, path_), step == 0 ? 1 : 0);
        CallGetArchiveInfo(other_);
        EXPECT_EQ(Live(), before);
    }
}

TEST_F(Extract, EntryPastTheEndIsRefusedBeforeAllocating) {
    ArchiveRecipe recipe;
    recipe.entries = {{"HUGE", Bytes(60, 1), 0x7FFF0000}};
    std::string path = folder_.Write("huge.dat", BuildArchive(recipe));
    ASSERT_EQ(CallGetArchiveInfo(path).result, Ok);
    platform_testing::ResetFaults();
    EXPECT_EQ(CallGetFile(path, 16).result, ReadError);
    EXPECT_EQ(CallsMade(Call::Alloc), 0);
}

// Sums of sizes wrap at 2^32: the wrapped position is found, and of two
// entries at one position (here a wrapped one and an empty one, both at 0)
// the first in directory order.
TEST_F(Extract, PositionsThatWrapAndRepeat) {
    ArchiveRecipe recipe;
    recipe.entries = {{"BIG", Bytes(60, 1), 0xFFFFFFF0u}, {"WRAP", Bytes(20, 2)}, {"E", {}}, {"F", Bytes(5, 3)}};
    std::vector<uint8_t> bytes = BuildArchive(recipe);
    std::string path = folder_.Write("wrap.dat", bytes);
    ExpectListing(CallGetArchiveInfo(path), ExpectedListing(recipe));
    EXPECT_EQ(CallGetFile(path, 0).bytes, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20));
    EXPECT_EQ(CallGetFile(path, 20).bytes, std::vector<uint8_t>(bytes.begin() + 20, bytes.begin() + 25));
    EXPECT_EQ(CallGetFile(path, 16).result, ReadError);
}

// Empty entries first, between two entries, several in a row and last: each
// is listed and found at 0 and delivered empty, and every other entry is
// delivered by its listed position with its own bytes.
TEST_F(Extract, EmptyEntriesAnywhereLeaveEveryEntryReachable) {
    ArchiveRecipe recipe;
    PwRecipe voice;
    voice.codes = Bytes(300, 7);
    recipe.entries = {{"E1", {}}, {"A.BIN", Bytes(70, 1)}, {"E2", {}}, {"B.PW", MakePwAudio(voice)},
                      {"E3", {}}, {"E4", {}}, {"E5", {}}, {"C.BIN", Bytes(3, 2)}, {"E6", {}}};
    std::string path = folder_.Write("empties.dat", BuildArchive(recipe));
    std::vector<uint32_t> outputs;
    for (const Entry& e : recipe.entries)
        outputs.push_back(e.name == "B.PW" ? static_cast<uint32_t>(ExpectedWave(e.data).size()) : e.Size());
    Listing listing = CallGetArchiveInfo(path);
    ExpectListing(listing, ExpectedListing(recipe, outputs));
    for (size_t i = 0; i < recipe.entries.size(); ++i) {
        const Entry& entry = recipe.entries[i];
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(listing.records[i].position == 0, entry.data.empty());
        Delivery delivery = CallGetFile(path, listing.records[i].position);
        ASSERT_EQ(delivery.result, Ok);
        EXPECT_EQ(delivery.bytes, entry.name == "B.PW" ? ExpectedWave(entry.data) : entry.data);
        ArchiveEntryRecord record;
        ASSERT_EQ(CallGetFileInfo(path, entry.name.c_str(), 0, &record), Ok);
        EXPECT_TRUE(SameRecord(record, listing.records[i]));
    }
}

// The file changed on disk after it was listed: whatever no longer agrees
// with the cached record is a read error, never an overrun.
TEST_F(Extract, StaleCacheIsAReadError) {
    struct Rewrite {
        const char* what;
        size_t entry;
        std::function<void(std::vector<uint8_t>&)> change;
        int32_t expected;
    };
    auto audio = [](uint32_t count, size_t size) {
        PwRecipe recipe;
        recipe.codes = Bytes(count, 9);
        std::vector<uint8_t> bytes = MakePwAudio(recipe);
        bytes.resize(size, 0x77);
        return bytes;
    };
    const Rewrite rewrites[] = {
        {"audio became plain", 1, [](std::vector<uint8_t>& e) { e[0] = 'X'; }, ReadError},
        {"fewer codes", 1, [](std::vector<uint8_t>& e) { PutLe32(&e[42], 2999); }, ReadError},
        {"plain became audio", 0, [&](std::vector<uint8_t>& e) { e = audio(4954 / 2, 5000); }, ReadError},
        {"plain became longer audio", 0, [&](std::vector<uint8_t>& e) { e = audio(4000, 5000); }, ReadError},
        {"same kinds, other bytes", 0, [](std::vector<uint8_t>& e) { e[7] ^= 1; }, Ok},
    };
    for (const Rewrite& r : rewrites) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(CallGetArchiveInfo(other_).result, Ok);
        ASSERT_EQ(CallGetArchiveInfo(path_).result, Ok);
        ArchiveRecipe changed = entries_.recipe;
        r.change(changed.entries[r.entry].data);
        ASSERT_EQ(changed.entries[r.entry].data.size(), entries_.recipe.entries[r.entry].data.size());
        folder_.Write("sample.dat", BuildArchive(changed));
        Delivery delivery = CallGetFile(path_, positions_[r.entry]);
        EXPECT_EQ(delivery.result, r.expected);
        folder_.Write("sample.dat", BuildArchive(entries_.recipe));
    }
    // A file cut short since the listing.
    ASSERT_EQ(CallGetFile(path_, positions_[2]).result, Ok);
    std::vector<uint8_t> bytes = BuildArchive(entries_.recipe);
    bytes.resize(positions_[2] + 100);
    folder_.Write("sample.dat", bytes);
    EXPECT_EQ(CallGetFile(path_, positions_[2]).result, ReadError);
}

// A host that lists another archive from inside a report replaces the cache
// under the running extraction, which still delivers what was asked for.
TEST_F(Extract, ReentrantCallbackReplacingTheCache) {
    ArchiveRecipe otherRecipe;
    otherRecipe.entries = {{"X", Bytes(7000, 8)}};
    std::string other = folder_.Write("b.dat", BuildArchive(otherRecipe));
    for (int step = 0; step < 8; ++step) {
        SCOPED_TRACE("re-entered at " + std::to_string(step));
        ASSERT_EQ(CallGetArchiveInfo(path_).result, Ok);
        Reports reports;
        reports.during = [&](int32_t at) {
            if (at == step) ExpectListing(CallGetArchiveInfo(other), ExpectedListing(otherRecipe));
        };
        Delivery delivery = CallGetFile(path_, positions_[1], Record, reinterpret_cast<intptr_t>(&reports));
        EXPECT_EQ(delivery.result, Ok);
        EXPECT_EQ(delivery.bytes, entries_.delivered[1]);
    }
}
