// Eight host threads list, look up, extract and abort at random on three
// archives while another thread keeps replacing one of them on disk. Every
// answer must be one that some content of the file justifies, and nothing
// may be left behind. Bounded by a count of calls and a deadline, so that
// it stays short under the sanitizers.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>

#include "archive_calls.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

using namespace archive_builder;

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 2000;
constexpr auto kTimeLimit = std::chrono::seconds(5);

struct Item {
    Entry entry;
    bool audio;
};
Item Plain(const char* name, std::vector<uint8_t> data) { return {{name, std::move(data)}, false}; }
Item Audio(const char* name, const PwRecipe& recipe) { return {{name, MakePwAudio(recipe)}, true}; }
PwRecipe Codes(size_t count, uint32_t seed, uint16_t channels = 1, size_t trailing = 0) {
    PwRecipe recipe;
    recipe.codes = Bytes(count, seed);
    recipe.channels = channels;
    recipe.rate = channels == 1 ? 22050 : 44100;
    recipe.trailing = trailing;
    return recipe;
}

// What GetFile must find at a position: the first record there in
// directory order, and the bytes it delivers.
struct Expected {
    uint32_t packedSize, outputSize;
    bool audio;
    std::vector<uint8_t> bytes;
};
bool SameShape(const Expected* a, const Expected* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return a->packedSize == b->packedSize && a->outputSize == b->outputSize && a->audio == b->audio;
}

// One content of an archive file, as a correct reader sees it.
struct Version {
    std::vector<uint8_t> file;
    std::vector<ArchiveEntryRecord> listing;
    std::map<uint32_t, Expected> byPosition;
};

Version Describe(const char* signature, const std::vector<Item>& items) {
    Version v;
    ArchiveRecipe recipe;
    recipe.signature = signature;
    std::vector<std::vector<uint8_t>> delivered;
    std::vector<uint32_t> outputs;
    for (const Item& item : items) {
        recipe.entries.push_back(item.entry);
        delivered.push_back(item.audio ? ExpectedWave(item.entry.data) : item.entry.data);
        outputs.push_back(static_cast<uint32_t>(delivered.back().size()));
    }
    v.file = BuildArchive(recipe);
    v.listing = ExpectedListing(recipe, outputs);
    for (size_t i = 0; i < items.size(); ++i)  // emplace keeps the first of a position
        v.byPosition.emplace(v.listing[i].position, Expected{v.listing[i].packedSize, outputs[i],
                                                             items[i].audio, delivered[i]});
    return v;
}

// An archive with every content it may have while the test runs; the names
// and positions asked for cover all of them, plus some that none holds.
struct Archive {
    std::string path;
    std::vector<Version> versions;
    std::vector<std::string> names{"NO.SUCH"};
    std::vector<uint32_t> positions{1};

    Archive(ArchiveFolder& folder, const char* name, std::vector<Version> contents)
        : versions(std::move(contents)) {
        path = folder.Write(name, versions[0].file);
        for (const Version& v : versions) {
            for (const ArchiveEntryRecord& r : v.listing) names.push_back(r.fileName);
            for (const auto& p : v.byPosition) positions.push_back(p.first);
        }
    }
};

bool NameMatches(const ArchiveEntryRecord& record, const std::string& name, bool ignoreCase) {
    std::string stored = record.fileName;
    if (stored.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (ignoreCase ? std::toupper(stored[i]) != std::toupper(name[i]) : stored[i] != name[i]) return false;
    return true;
}

bool ListedAs(const Archive& a, const Listing& listing) {
    if (listing.result != Ok) return false;
    return std::any_of(a.versions.begin(), a.versions.end(), [&](const Version& v) {
        return std::equal(v.listing.begin(), v.listing.end(), listing.records.begin(), listing.records.end(),
                          SameRecord);
    });
}

// Ok only with the first record of that name in some version; a name that
// some version lacks may be missing.
bool FoundAs(const Archive& a, const std::string& name, bool ignoreCase, int32_t result,
             const ArchiveEntryRecord& record) {
    for (const Version& v : a.versions) {
        auto first = std::find_if(v.listing.begin(), v.listing.end(),
                                  [&](const ArchiveEntryRecord& r) { return NameMatches(r, name, ignoreCase); });
        if (first == v.listing.end() ? result == UnsupportedFormat : result == Ok && SameRecord(record, *first))
            return true;
    }
    return false;
}

// Ok only with the whole delivery of the entry at that position in some
// version. A record cached from one version while the file holds another is
// trusted as long as the stored bytes agree with it, so the versions'
// entries decide the rest: a position that some version lacks may be
// UnsupportedFormat, and entries that differ in size or kind may be ReadError.
bool DeliveredAs(const Archive& a, uint32_t position, const Delivery& delivery) {
    std::vector<const Expected*> found;
    for (const Version& v : a.versions) {
        auto it = v.byPosition.find(position);
        found.push_back(it == v.byPosition.end() ? nullptr : &it->second);
    }
    auto any = [&](auto predicate) { return std::any_of(found.begin(), found.end(), predicate); };
    switch (delivery.result) {
    case Ok:
        return any([&](const Expected* e) { return e != nullptr && e->bytes == delivery.bytes; });
    case UnsupportedFormat:
        return any([](const Expected* e) { return e == nullptr; });
    case ReadError:
        return any([&](const Expected* e) { return !SameShape(e, found[0]); });
    default:
        return false;
    }
}

struct Reports {
    int abortAt;  // -1: never
    int count = 0;
    bool inOrder = true;
};

int32_t WINAPI Report(int32_t step, int32_t total, intptr_t userData) {
    Reports* reports = reinterpret_cast<Reports*>(userData);
    reports->inOrder = reports->inOrder && step == reports->count && total == 7;
    ++reports->count;
    return step == reports->abortAt ? 1 : 0;
}

struct Tally {
    std::atomic<long> calls{0}, delivered{0}, aborted{0}, refused{0};
};

void Work(const std::vector<Archive>& archives, uint32_t seed, std::chrono::steady_clock::time_point deadline,
          std::atomic<bool>& failed, Tally& tally) {
    std::mt19937 random(seed);
    for (int i = 0; i < kCallsPerThread && !failed && std::chrono::steady_clock::now() < deadline; ++i) {
        const Archive& a = archives[std::min<size_t>(random() % 4, 2)];  // half the calls on the rewritten one
        std::string problem;
        switch (random() % 4) {
        case 0:
            if (!ListedAs(a, CallGetArchiveInfo(a.path))) problem = "listing";
            break;
        case 1: {
            std::string name = a.names[random() % a.names.size()];
            bool ignoreCase = random() % 2 != 0;
            if (ignoreCase) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            ArchiveEntryRecord record;
            int32_t result = CallGetFileInfo(a.path, name.c_str(), ignoreCase ? uint32_t{IgnoreCase} : 0u, &record);
            if (!FoundAs(a, name, ignoreCase, result, record)) problem = "lookup of " + name;
            break;
        }
        default: {  // extraction, half of them aborted at a random report
            uint32_t position = a.positions[random() % a.positions.size()];
            Reports reports{random() % 2 != 0 ? static_cast<int>(random() % 8) : -1};
            Delivery delivery = CallGetFile(a.path, position, Report, reinterpret_cast<intptr_t>(&reports));
            bool fine = reports.inOrder;
            if (delivery.result == Aborted) {
                fine = fine && reports.abortAt >= 0 && reports.count == reports.abortAt + 1;
                ++tally.aborted;
            } else {
                fine = fine && DeliveredAs(a, position, delivery) &&
                       (delivery.result != Ok || (reports.abortAt < 0 && reports.count == 8));
                ++(delivery.result == Ok ? tally.delivered : tally.refused);
            }
            if (!fine)
                problem = "extraction at " + std::to_string(position) + " gave " + std::to_string(delivery.result) +
                          " after " + std::to_string(reports.count) + " reports";
        }
        }
        ++tally.calls;
        if (!problem.empty()) {
            failed = true;
            ADD_FAILURE() << a.path << ": " << problem << " (thread seed " << seed << ")";
        }
    }
}

}  // namespace

TEST(Stress, EightThreadsOnThreeArchivesWhileOneIsRewritten) {
    ArchiveFolder folder;
    PwRecipe cut = Codes(10, 8);
    cut.codeCount = 11;  // claims more codes than it holds: plain
    std::vector<Archive> archives;
    archives.emplace_back(folder, "still.dat",
                          std::vector<Version>{Describe("ZRV00", {
                              Plain("A.BIN", Bytes(4000, 1)), Audio("MONO.PW", Codes(2000, 2, 1, 3)),
                              Plain("EMPTY", {}), Plain("SHADOWED", Bytes(9, 3)),  // same position
                              Plain("TWELVE.CHARS", Bytes(700, 4)), Plain("A.BIN", Bytes(50, 5))})});
    archives.emplace_back(folder, "other.dat",
                          std::vector<Version>{Describe("ZRV03", {
                              Audio("STEREO.PW", Codes(1001, 6, 2)), Plain("CUT.PW", MakePwAudio(cut)),
                              Plain("B.BIN", Bytes(6000, 7)), Audio("TINY.PW", Codes(1, 9))})});
    // Both contents place their common entries alike, so a record cached from
    // one reads a whole entry of the other: delivered when size and kind
    // agree, refused otherwise. EXTRA.PW lies where the first has its directory.
    archives.emplace_back(folder, "moving.dat", std::vector<Version>{
        Describe("ZRV01", {Plain("SAME.BIN", Bytes(3000, 11)), Plain("NOTES.TXT", Bytes(2500, 12)),
                           Audio("VOICE.PW", Codes(1500, 14)), Audio("SHORTER.PW", Codes(1200, 16)),
                           Plain("TURNS.PW", Bytes(846, 18))}),
        Describe("ZRV01", {Plain("SAME.BIN", Bytes(3000, 11)), Plain("NOTES.NEW", Bytes(2500, 13)),
                           Audio("VOICE.PW", Codes(1500, 15, 2)), Audio("SHORTER.PW", Codes(1100, 17, 1, 100)),
                           Audio("TURNS.PW", Codes(800, 19)), Audio("EXTRA.PW", Codes(700, 20))})});
    const Archive& moving = archives[2];

    // Start from an empty cache, so that unloading at the end accounts for it.
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    const platform_testing::LiveCounts before = platform_testing::Live();
    const long misuse = platform_testing::MisuseCount();

    std::atomic<bool> stop{false}, failed{false};
    std::atomic<long> rewrites{0};
    // A new file renamed over the path: readers that opened the old one keep
    // reading it whole, so every open sees exactly one version.
    std::thread rewriter([&] {
        for (size_t n = 1; !stop || n < 3; ++n, ++rewrites) {
            folder.Write("moving.dat", moving.versions[n % 2].file);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    Tally tally;
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    std::vector<std::thread> workers;
    for (uint32_t t = 0; t < kThreads; ++t)
        workers.emplace_back(Work, std::cref(archives), 7919 * (t + 1), deadline, std::ref(failed), std::ref(tally));
    for (std::thread& worker : workers) worker.join();
    stop = true;
    rewriter.join();
    std::printf("%ld calls: %ld delivered, %ld aborted, %ld refused; %ld rewrites\n", tally.calls.load(),
                tally.delivered.load(), tally.aborted.load(), tally.refused.load(), rewrites.load());

    EXPECT_GT(tally.delivered.load(), 0);
    EXPECT_TRUE(CacheLockIsFree());
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    const platform_testing::LiveCounts after = platform_testing::Live();
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.locks, before.locks);
    EXPECT_EQ(after.files, before.files);
    EXPECT_EQ(platform_testing::MisuseCount(), misuse);
}
