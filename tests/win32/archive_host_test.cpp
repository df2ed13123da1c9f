// ZORVPACK.SPI under a real Windows loader: copied alone into a folder of its
// own, loaded with LoadLibraryA, and driven through GetProcAddress exactly as
// a host drives it. Usage: archive_host_test <path of ZORVPACK.SPI>
#include <cstring>
#include <map>

#include "archive_builder.h"
#include "host_harness.h"

namespace {

namespace ab = archive_builder;

const int32_t Ok = 0, Aborted = 1, Unsupported = 2, ReadError = 6, NotImplemented = -1;
const uint32_t kMemory = 0x1, kIgnoreCase = 0x80, kDestInMemory = 0x100;

struct Pack {
    GetPluginInfoFn getPluginInfo;
    IsSupportedFn isSupported;
    GetArchiveInfoFn getArchiveInfo;
    GetFileInfoFn getFileInfo;
    GetFileFn getFile;
};

// An archive written to disk with what the host should get from it.
struct Fixture {
    ab::ArchiveRecipe recipe;
    std::vector<std::vector<uint8_t>> delivered;  // per entry: bytes GetFile gives
    std::vector<uint32_t> positions;
    std::string path;
};

void Add(Fixture& f, const std::string& name, const std::vector<uint8_t>& data, bool audio) {
    ab::Entry e;
    e.name = name;
    e.data = data;
    f.recipe.entries.push_back(e);
    f.delivered.push_back(audio ? ab::ExpectedWave(data) : data);
}

std::vector<uint8_t> AllCodes(size_t count) {
    std::vector<uint8_t> codes(count);
    for (size_t i = 0; i < count; ++i) codes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return codes;
}

void Finish(Fixture& f, const ScratchFolder& data, const std::string& name) {
    f.positions = ab::EntryPositions(f.recipe);
    f.path = data.Write(name, ab::BuildArchive(f.recipe));
}

// Plain entries, an empty one, a 12-character name, mono and stereo audio,
// entries that only look like audio, duplicate names and a small last entry
// right before the directory.
Fixture MakeArchiveA(const ScratchFolder& data) {
    Fixture f;
    f.recipe.signature = "ZRV01";
    Add(f, "README.TXT", ab::Bytes(300, 1), false);
    Add(f, "EMPTY.BIN", {}, false);
    Add(f, "TWELVECHARS1", ab::Bytes(1000, 2), false);
    ab::PwRecipe mono;
    mono.codes = AllCodes(1000);
    Add(f, "VOICE.PW", ab::MakePwAudio(mono), true);
    ab::PwRecipe stereo;
    stereo.channels = 2;
    stereo.codes = AllCodes(2001);
    stereo.trailing = 5;  // bytes behind the codes are neither converted nor copied
    Add(f, "STEREO.PW", ab::MakePwAudio(stereo), true);
    ab::PwRecipe cut;
    cut.codes = AllCodes(100);
    cut.codeCount = 500;  // more codes announced than stored: a plain entry
    Add(f, "CUT.PW", ab::MakePwAudio(cut), false);
    std::vector<uint8_t> notData = ab::MakePwAudio(mono);
    std::memcpy(notData.data() + 38, "DATA", 4);
    Add(f, "NOTDATA.PW", notData, false);
    Add(f, "DUP.BIN", ab::Bytes(50, 3), false);
    Add(f, "DUP.BIN", ab::Bytes(60, 4), false);
    Add(f, "SMALL.BIN", ab::Bytes(10, 5), false);
    Finish(f, data, "first.dat");
    return f;
}

Fixture MakeArchiveB(const ScratchFolder& data) {
    Fixture f;
    f.recipe.signature = "ZRV03";
    Add(f, "B1.BIN", ab::Bytes(5000, 6), false);
    ab::PwRecipe slow;
    slow.rate = 11025;
    slow.codes = AllCodes(3000);
    Add(f, "B2.PW", ab::MakePwAudio(slow), true);
    Add(f, "B3.BIN", ab::Bytes(1, 7), false);
    Add(f, "EMPTY2", {}, false);
    Finish(f, data, "second.dat");
    return f;
}

// Empty entries first, between two entries, several in a row and last. Each
// is listed at position 0, so every entry with bytes keeps a position of its
// own.
Fixture MakeArchiveWithEmpties(const ScratchFolder& data) {
    Fixture f;
    f.recipe.signature = "ZRV00";
    Add(f, "E1", {}, false);
    Add(f, "A.BIN", ab::Bytes(70, 8), false);
    Add(f, "E2", {}, false);
    ab::PwRecipe voice;
    voice.codes = AllCodes(300);
    Add(f, "B.PW", ab::MakePwAudio(voice), true);
    Add(f, "E3", {}, false);
    Add(f, "E4", {}, false);
    Add(f, "C.BIN", ab::Bytes(3, 9), false);
    Add(f, "E5", {}, false);
    Finish(f, data, "empties.dat");
    return f;
}

// The record the host must see for entry i.
HostEntryInfo ExpectedRecord(const Fixture& f, size_t i) {
    HostEntryInfo r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.method, "ZorvPack", 8);
    r.position = f.positions[i];
    r.packedSize = static_cast<uint32_t>(f.recipe.entries[i].data.size());
    r.outputSize = static_cast<uint32_t>(f.delivered[i].size());
    std::string name = f.recipe.entries[i].name.substr(0, 12);
    std::memcpy(r.fileName, name.data(), name.size());
    return r;
}

bool SameRecord(const HostEntryInfo& a, const HostEntryInfo& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The bytes GetFile delivers for a position: those of the first entry in
// directory order that starts there (an empty entry shares its position
// with the next one).
const std::vector<uint8_t>& DeliveredAt(const Fixture& f, uint32_t position) {
    for (size_t i = 0; i < f.positions.size(); ++i)
        if (f.positions[i] == position) return f.delivered[i];
    static const std::vector<uint8_t> none;
    return none;
}

// ---- progress callbacks --------------------------------------------------------

struct Report {
    int32_t step, total, userData;
};
struct ProgressLog {
    std::vector<Report> reports;
    int32_t abortAt = -1;  // answer nonzero at this step
};
ProgressLog* activeLog = nullptr;

int32_t WINAPI LoggingProgress(int32_t step, int32_t total, int32_t userData) {
    activeLog->reports.push_back({step, total, userData});
    return step == activeLog->abortAt ? 1 : 0;
}

// ---- checks -------------------------------------------------------------------

void CheckCallingConvention(const LoadedPlugin& plugin, const std::string& archive) {
    HMODULE m = plugin.Module();
    char buffer[16];
    HostEntryInfo record;
    HLOCAL slot = nullptr;
    uint32_t r = 0;
    auto address = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    uint32_t path = address(archive.c_str());
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetPluginInfo"), {0, address(buffer), 16}, &r), 12u);
    CHECK_EQ(r, 4u);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "IsSupported"), {path, 0}, &r), 8u);
    CHECK_EQ(r, 1u);
    // Modes the module refuses at once, so nothing else happens.
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetArchiveInfo"), {path, 0, kMemory, address(&slot)}, &r), 16u);
    CHECK_EQ(static_cast<int32_t>(r), NotImplemented);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetFileInfo"),
                              {path, 0, address("X"), kMemory, address(&record)}, &r),
             20u);
    CHECK_EQ(static_cast<int32_t>(r), NotImplemented);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetFile"), {path, 16, address(&slot), 0, 0, 0}, &r), 24u);
    CHECK_EQ(static_cast<int32_t>(r), NotImplemented);
    CHECK(slot == nullptr);
}

void CheckIsSupported(const Pack& p, const ScratchFolder& data, const Fixture& a, const Fixture& b) {
    // The probe word is never read: even a bogus address is harmless.
    for (uint32_t word : {0u, 0xFFFFu, 0x10000u, 0xFFFFFFF0u}) {
        CHECK_EQ(p.isSupported(a.path.c_str(), word), 1);
        CHECK_EQ(p.isSupported(b.path.c_str(), word), 1);
    }
    std::vector<uint8_t> bytes = ab::BuildArchive(a.recipe);
    CHECK_EQ(p.isSupported(data.Write("fifteen.dat", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 15)).c_str(), 0), 0);
    std::vector<uint8_t> wrong = bytes;
    wrong[4] = '2';
    CHECK_EQ(p.isSupported(data.Write("zrv02.dat", wrong).c_str(), 0), 0);
    CHECK_EQ(p.isSupported(data.File("missing.dat").c_str(), 0), 0);
}

// The listing: (count + 1) records of 428 bytes, the last all zero, in an
// unlocked movable block.
void CheckListing(const Pack& p, const Fixture& f) {
    HLOCAL list = SentinelHandle();
    CHECK_EQ(p.getArchiveInfo(f.path.c_str(), 0, 0, &list), Ok);
    if (list == SentinelHandle()) return;
    size_t count = f.recipe.entries.size();
    CHECK_EQ(GlobalSize(list), (count + 1) * sizeof(HostEntryInfo));
    std::vector<uint8_t> bytes = TakeHandle(list);
    if (bytes.size() != (count + 1) * sizeof(HostEntryInfo)) return;
    auto records = reinterpret_cast<const HostEntryInfo*>(bytes.data());
    for (size_t i = 0; i < count; ++i) {
        bool same = SameRecord(records[i], ExpectedRecord(f, i));
        CHECK(same);
        if (!same)
            std::printf("  record %u (%s) of %s\n", unsigned(i), f.recipe.entries[i].name.c_str(),
                        f.path.c_str());
    }
    HostEntryInfo zero;
    std::memset(&zero, 0, sizeof zero);
    CHECK(SameRecord(records[count], zero));
}

void CheckListingFailures(const Pack& p, const ScratchFolder& data, const Fixture& a) {
    HLOCAL list = SentinelHandle();
    CHECK_EQ(p.getArchiveInfo(a.path.c_str(), 0, kMemory, &list), NotImplemented);
    CHECK_EQ(p.getArchiveInfo(a.path.c_str(), 0, kMemory | kDestInMemory, &list), NotImplemented);
    CHECK_EQ(p.getArchiveInfo(data.File("missing.dat").c_str(), 0, 0, &list), Unsupported);
    CHECK_EQ(p.getArchiveInfo(data.Write("text.dat", ab::Bytes(100, 9)).c_str(), 0, 0, &list), Unsupported);
    CHECK(list == SentinelHandle());

    // An empty archive lists as one zero record.
    ab::ArchiveRecipe empty;
    empty.signature = "ZRV00";
    std::string emptyPath = data.Write("empty.dat", ab::BuildArchive(empty));
    CHECK_EQ(p.getArchiveInfo(emptyPath.c_str(), 0, 0, &list), Ok);
    if (list != SentinelHandle()) CHECK(TakeHandle(list) == std::vector<uint8_t>(428, 0));
    HostEntryInfo record;
    std::memset(&record, 0xA5, sizeof record);
    HostEntryInfo untouched = record;
    CHECK_EQ(p.getFileInfo(emptyPath.c_str(), 0, "README.TXT", 0, &record), Unsupported);
    CHECK(SameRecord(record, untouched));
}

// Every entry found by name carries the position it is extracted by.
void CheckEveryRecordByName(const Pack& p, const Fixture& f) {
    for (size_t i = 0; i < f.recipe.entries.size(); ++i) {
        HostEntryInfo record;
        CHECK_EQ(p.getFileInfo(f.path.c_str(), 0, f.recipe.entries[i].name.c_str(), 0, &record), Ok);
        CHECK(SameRecord(record, ExpectedRecord(f, i)));
        CHECK_EQ(record.position == 0, f.recipe.entries[i].data.empty());
    }
}

void CheckFileInfo(const Pack& p, const ScratchFolder& data, const Fixture& a) {
    HostEntryInfo sentinel;
    std::memset(&sentinel, 0xA5, sizeof sentinel);
    for (size_t i = 0; i < a.recipe.entries.size(); ++i) {
        const std::string& name = a.recipe.entries[i].name;
        if (name == "DUP.BIN" && i != 7) continue;  // the first of two is found
        HostEntryInfo record = sentinel;
        CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, name.c_str(), 0, &record), Ok);
        CHECK(SameRecord(record, ExpectedRecord(a, i)));
    }
    // Letter case counts unless the host asks otherwise.
    HostEntryInfo record = sentinel;
    CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, "voice.pw", 0, &record), Unsupported);
    CHECK(SameRecord(record, sentinel));
    CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, "voice.pw", kIgnoreCase, &record), Ok);
    CHECK(SameRecord(record, ExpectedRecord(a, 3)));
    record = sentinel;
    CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, "Twelvechars1", kIgnoreCase | 0x200, &record), Ok);
    CHECK(SameRecord(record, ExpectedRecord(a, 2)));

    record = sentinel;
    CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, "NOPE.BIN", kIgnoreCase, &record), Unsupported);
    CHECK_EQ(p.getFileInfo(a.path.c_str(), 0, "README.TXT", kMemory, &record), NotImplemented);
    // Without the listing's probe a missing file is a read error here.
    CHECK_EQ(p.getFileInfo(data.File("missing.dat").c_str(), 0, "README.TXT", 0, &record), ReadError);
    CHECK(SameRecord(record, sentinel));
}

// Every entry in listing order, as a host extracts it, with the exact
// sequence of progress reports.
void CheckExtraction(const Pack& p, const Fixture& f) {
    for (size_t i = 0; i < f.recipe.entries.size(); ++i) {
        uint32_t position = f.positions[i];
        const std::vector<uint8_t>& expected = DeliveredAt(f, position);
        int before = harness::Failures();
        for (uint32_t flags : {kDestInMemory, kDestInMemory | 0x200u | kIgnoreCase}) {
            ProgressLog log;
            activeLog = &log;
            HLOCAL slot = SentinelHandle();
            CHECK_EQ(p.getFile(f.path.c_str(), position, &slot, flags, LoggingProgress, 0x7EA7), Ok);
            CHECK_EQ(log.reports.size(), 8u);
            for (size_t k = 0; k < log.reports.size(); ++k) {
                CHECK_EQ(log.reports[k].step, static_cast<int32_t>(k));
                CHECK_EQ(log.reports[k].total, 7);
                CHECK_EQ(log.reports[k].userData, 0x7EA7);
            }
            if (slot == SentinelHandle()) continue;
            // An empty entry is an empty block, not a failure.
            CHECK_EQ(GlobalSize(slot), expected.size());
            CHECK(TakeHandle(slot) == expected);
        }
        // No callback at all.
        HLOCAL slot = SentinelHandle();
        CHECK_EQ(p.getFile(f.path.c_str(), position, &slot, kDestInMemory, nullptr, 0), Ok);
        if (slot != SentinelHandle()) CHECK(TakeHandle(slot) == expected);
        if (harness::Failures() != before)
            std::printf("  entry %u (%s) of %s\n", unsigned(i), f.recipe.entries[i].name.c_str(),
                        f.path.c_str());
    }
}

// The audio entries arrive as 16-bit WAVE images with recomputed fields.
void CheckWaveHeaders(const Pack& p, const Fixture& a) {
    struct {
        size_t entry;
        uint16_t channels;
        uint32_t codes;
    } cases[] = {{3, 1, 1000}, {4, 2, 2001}};
    for (const auto& c : cases) {
        HLOCAL slot = nullptr;
        CHECK_EQ(p.getFile(a.path.c_str(), a.positions[c.entry], &slot, kDestInMemory, nullptr, 0), Ok);
        if (!slot) continue;
        std::vector<uint8_t> wave = TakeHandle(slot);
        CHECK_EQ(wave.size(), 46 + 2 * size_t{c.codes});
        if (wave.size() < 46) continue;
        const uint8_t* w = wave.data();
        CHECK(std::memcmp(w, "RIFF", 4) == 0 && std::memcmp(w + 8, "WAVE", 4) == 0);
        CHECK_EQ(GetLe32(w + 4), 38 + 2 * c.codes);
        CHECK_EQ(w[22] | (w[23] << 8), int(c.channels));
        CHECK_EQ(GetLe32(w + 28), 22050u * 2 * c.channels);
        CHECK_EQ(w[32] | (w[33] << 8), 2 * c.channels);
        CHECK_EQ(w[34] | (w[35] << 8), 16);
        CHECK_EQ(GetLe32(w + 42), 2 * c.codes);
        // Code k of the fixture is k * 7 + (k >> 8); code 0 comes first.
        CHECK_EQ(static_cast<int16_t>(w[46] | (w[47] << 8)), int16_t(-32768));
    }
}

void CheckExtractionFailures(const Pack& p, const Fixture& a) {
    uint32_t position = a.positions[0];
    // Modes other than "from a path into memory": nothing happens at all.
    for (uint32_t flags : {0u, 0x1u, 0x101u, 0x200u, 0x80u}) {
        ProgressLog log;
        activeLog = &log;
        HLOCAL slot = SentinelHandle();
        CHECK_EQ(p.getFile(a.path.c_str(), position, &slot, flags, LoggingProgress, 1), NotImplemented);
        CHECK(slot == SentinelHandle());
        CHECK(log.reports.empty());
    }
    // Abort at each report: nothing delivered, no report after it.
    for (int32_t abortAt = 0; abortAt <= 7; ++abortAt) {
        ProgressLog log;
        log.abortAt = abortAt;
        activeLog = &log;
        HLOCAL slot = SentinelHandle();
        CHECK_EQ(p.getFile(a.path.c_str(), a.positions[3], &slot, kDestInMemory, LoggingProgress, 5),
                 Aborted);
        CHECK(slot == SentinelHandle());
        CHECK_EQ(log.reports.size(), static_cast<size_t>(abortAt + 1));
    }
    // A position no entry has: not found after reports 0, 1 and 2.
    ProgressLog log;
    activeLog = &log;
    HLOCAL slot = SentinelHandle();
    CHECK_EQ(p.getFile(a.path.c_str(), position + 1, &slot, kDestInMemory, LoggingProgress, 0),
             Unsupported);
    CHECK(slot == SentinelHandle());
    CHECK_EQ(log.reports.size(), 3u);
}

// A host that lists another archive from inside a progress report, on the
// same thread: the lock admits it, and the outer call still delivers the
// entry it was asked for.
struct Reentry {
    const Pack* p;
    const Fixture* other;
    int32_t innerResult = -99;
};
int32_t WINAPI ReenteringProgress(int32_t step, int32_t, int32_t userData) {
    auto* r = reinterpret_cast<Reentry*>(static_cast<uintptr_t>(static_cast<uint32_t>(userData)));
    if (step == 4) {
        HLOCAL list = nullptr;
        r->innerResult = r->p->getArchiveInfo(r->other->path.c_str(), 0, 0, &list);
        if (list) GlobalFree(list);
    }
    return 0;
}

void CheckReentry(const Pack& p, const Fixture& a, const Fixture& b) {
    Reentry r{&p, &b};
    HLOCAL slot = nullptr;
    int32_t userData = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&r));
    CHECK_EQ(p.getFile(a.path.c_str(), a.positions[4], &slot, kDestInMemory, ReenteringProgress, userData), Ok);
    CHECK_EQ(r.innerResult, Ok);
    if (slot) CHECK(TakeHandle(slot) == a.delivered[4]);
    // And the module answers for the first archive again afterwards.
    HLOCAL again = nullptr;
    CHECK_EQ(p.getFile(a.path.c_str(), a.positions[0], &again, kDestInMemory, nullptr, 0), Ok);
    if (again) CHECK(TakeHandle(again) == a.delivered[0]);
}

// Several threads list, look up and extract from two archives at once;
// alternating archives makes every call reload the shared directory.
struct Worker {
    const Pack* p;
    const Fixture* archives[2];
    int id;
    int rounds;
    int delivered = 0;
    int wrong = 0;
};

int32_t WINAPI CountingProgress(int32_t step, int32_t total, int32_t userData) {
    auto* count = reinterpret_cast<LONG*>(static_cast<uintptr_t>(static_cast<uint32_t>(userData)));
    if (total != 7 || step != *count) *count = 1000;  // out of order
    else ++*count;
    return 0;
}

DWORD WINAPI WorkerMain(void* arg) {
    auto* w = static_cast<Worker*>(arg);
    for (int round = 0; round < w->rounds; ++round) {
        const Fixture& f = *w->archives[(w->id + round) % 2];
        HLOCAL list = nullptr;
        if (w->p->getArchiveInfo(f.path.c_str(), 0, 0, &list) != Ok || !list) {
            ++w->wrong;
            continue;
        }
        if (GlobalSize(list) != (f.recipe.entries.size() + 1) * sizeof(HostEntryInfo)) ++w->wrong;
        std::vector<HostEntryInfo> records(f.recipe.entries.size());
        auto* locked = static_cast<const HostEntryInfo*>(GlobalLock(list));
        if (locked && !records.empty()) std::memcpy(records.data(), locked, records.size() * sizeof(HostEntryInfo));
        GlobalUnlock(list);
        GlobalFree(list);

        for (size_t i = 0; i < records.size(); ++i) {
            if (!SameRecord(records[i], ExpectedRecord(f, i))) ++w->wrong;
            HostEntryInfo byName;
            if (w->p->getFileInfo(f.path.c_str(), 0, f.recipe.entries[i].name.c_str(), 0, &byName) != Ok)
                ++w->wrong;
            LONG reports = 0;
            HLOCAL slot = nullptr;
            int32_t r = w->p->getFile(f.path.c_str(), records[i].position, &slot, kDestInMemory,
                                      CountingProgress,
                                      static_cast<int32_t>(reinterpret_cast<uintptr_t>(&reports)));
            const std::vector<uint8_t>& expected = DeliveredAt(f, records[i].position);
            if (r != Ok || !slot || reports != 8 || GlobalSize(slot) != expected.size() ||
                (GlobalFlags(slot) & GMEM_LOCKCOUNT) != 0) {
                ++w->wrong;
            } else if (!expected.empty()) {
                auto* bytes = static_cast<const uint8_t*>(GlobalLock(slot));
                if (!bytes || std::memcmp(bytes, expected.data(), expected.size()) != 0) ++w->wrong;
                GlobalUnlock(slot);
            }
            if (slot) GlobalFree(slot);
            ++w->delivered;
        }
    }
    return 0;
}

void CheckThreads(const Pack& p, const Fixture& a, const Fixture& b) {
    const int kThreads = 4;
    Worker workers[kThreads];
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        workers[i].p = &p;
        workers[i].archives[0] = &a;
        workers[i].archives[1] = &b;
        workers[i].id = i;
        workers[i].rounds = 12;
        threads[i] = CreateThread(nullptr, 0, WorkerMain, &workers[i], 0, nullptr);
        CHECK(threads[i] != nullptr);
    }
    int delivered = 0;
    for (int i = 0; i < kThreads; ++i) {
        if (!threads[i]) continue;
        CHECK_EQ(WaitForSingleObject(threads[i], 300000), WAIT_OBJECT_0);
        CloseHandle(threads[i]);
        CHECK_EQ(workers[i].wrong, 0);
        delivered += workers[i].delivered;
    }
    std::printf("threads: %d entries extracted by %d threads\n", delivered, kThreads);
}

void Run(const char* modulePath) {
    LoadedPlugin plugin(modulePath, "zorvpack");
    if (!plugin.Module()) return;
    CheckExportsAndImports(plugin.Module(), {"GetPluginInfo", "IsSupported", "GetArchiveInfo",
                                             "GetFileInfo", "GetFile"});
    Pack p;
    p.getPluginInfo = plugin.Export<GetPluginInfoFn>("GetPluginInfo");
    p.isSupported = plugin.Export<IsSupportedFn>("IsSupported");
    p.getArchiveInfo = plugin.Export<GetArchiveInfoFn>("GetArchiveInfo");
    p.getFileInfo = plugin.Export<GetFileInfoFn>("GetFileInfo");
    p.getFile = plugin.Export<GetFileFn>("GetFile");
    if (!p.getPluginInfo || !p.isSupported || !p.getArchiveInfo || !p.getFileInfo || !p.getFile)
        return;

    std::string description = CheckInfoStrings(p.getPluginInfo, "00AM", "ZORVAN DAT Archive Extractor",
                                               "*.dat", "ZORVAN DAT Archive");
    CheckVersionResource(plugin.FilePath(), 0, 5, 0, 5, description);

    ScratchFolder data("zorvpack_data");
    Fixture a = MakeArchiveA(data);
    Fixture b = MakeArchiveB(data);
    CheckCallingConvention(plugin, a.path);
    CheckIsSupported(p, data, a, b);
    CheckListing(p, a);
    CheckListing(p, b);
    CheckListing(p, a);
    CheckListingFailures(p, data, a);
    CheckFileInfo(p, data, a);
    CheckExtraction(p, a);
    CheckExtraction(p, b);
    Fixture empties = MakeArchiveWithEmpties(data);
    CheckListing(p, empties);
    CheckEveryRecordByName(p, empties);
    CheckExtraction(p, empties);
    CheckWaveHeaders(p, a);
    CheckExtractionFailures(p, a);
    CheckReentry(p, a, b);
    CheckThreads(p, a, b);
    CHECK_EQ(plugin.FolderEntries(), 1u);
}

}  // namespace

int main(int argc, char** argv) { return harness::RunOnModule(argc, argv, "ZORVPACK.SPI", Run); }
