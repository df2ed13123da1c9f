// ZORVPICT.SPI under a real Windows loader: copied alone into a folder of its
// own, loaded with LoadLibraryA, and driven through GetProcAddress exactly as
// a host drives it. Usage: picture_host_test <path of ZORVPICT.SPI>
#include <climits>
#include <cstring>

#include "bitmap_builder.h"
#include "host_harness.h"

namespace {

using bitmap_builder::BitmapRecipe;

struct Picture {
    GetPluginInfoFn getPluginInfo;
    IsSupportedFn isSupported;
    GetPictureInfoFn getPictureInfo;
    GetPictureFn getPicture;
};

const uint32_t kMemory = 0x1;

int32_t progressCalls = 0;
int32_t WINAPI AbortingProgress(int32_t, int32_t, int32_t) {
    ++progressCalls;
    return 1;
}

bool SameRecord(const HostPictureInfo& a, const HostPictureInfo& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

HostPictureInfo Sentinel() {
    HostPictureInfo r;
    std::memset(&r, 0xA5, sizeof r);
    return r;
}

// One call of each export with harmless arguments, through a helper that
// measures the stack: the callee must remove all of its arguments.
void CheckCallingConvention(const LoadedPlugin& plugin, const std::string& missing) {
    char buffer[16];
    HostPictureInfo record;
    HLOCAL a = nullptr, b = nullptr;
    uint32_t r = 0;
    auto address = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    HMODULE m = plugin.Module();
    if (!m) return;
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetPluginInfo"), {0, address(buffer), 16}, &r), 12u);
    CHECK_EQ(r, 4u);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "IsSupported"), {address(missing.c_str()), 0}, &r), 8u);
    CHECK_EQ(r, 0u);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetPictureInfo"),
                              {address(missing.c_str()), 0, 0, address(&record)}, &r),
             16u);
    CHECK_EQ(r, 2u);
    CHECK_EQ(StackBytesPopped(GetProcAddress(m, "GetPicture"),
                              {address(missing.c_str()), 0, 0, address(&a), address(&b), 0, 0}, &r),
             28u);
    CHECK_EQ(r, 2u);
}

void CheckIsSupported(const Picture& p, const ScratchFolder& data) {
    bitmap_builder::Bitmap bmp = bitmap_builder::BuildBitmap(BitmapRecipe{});
    std::vector<uint8_t> b1 = bitmap_builder::PackBitmap(bmp.file, 'B');
    std::vector<uint8_t> e1 = bitmap_builder::PackBitmap(bmp.file, 'E');
    std::string b1Path = data.Write("probe_b1.bmp", b1);
    std::string e1Path = data.Write("probe_e1.bmp", e1);
    std::string missing = data.File("no_such_file.bmp");

    // Probe words below 0x10000 carry no data: the file is read by its path.
    for (uint32_t word : {0u, 1u, 0xFFFFu}) {
        CHECK_EQ(p.isSupported(b1Path.c_str(), word), 1);
        CHECK_EQ(p.isSupported(e1Path.c_str(), word), 1);
        CHECK_EQ(p.isSupported(missing.c_str(), word), 0);
    }
    CHECK_EQ(p.isSupported(data.Write("plain.bmp", bmp.file).c_str(), 0), 0);
    std::vector<uint8_t> lower = b1;
    lower[0] = 'b';
    CHECK_EQ(p.isSupported(data.Write("lower.bmp", lower).c_str(), 0), 0);
    CHECK_EQ(p.isSupported(data.Write("nine.bmp", std::vector<uint8_t>(b1.begin(), b1.begin() + 9)).c_str(), 0), 0);
    CHECK_EQ(p.isSupported(data.Write("ten.bmp", std::vector<uint8_t>(b1.begin(), b1.begin() + 10)).c_str(), 0), 1);
    std::vector<uint8_t> zeroPacked = b1, zeroUnpacked = b1;
    PutLe32(zeroPacked, 2, 0);
    PutLe32(zeroUnpacked, 6, 0);
    CHECK_EQ(p.isSupported(data.Write("zero_packed.bmp", zeroPacked).c_str(), 0), 0);
    CHECK_EQ(p.isSupported(data.Write("zero_unpacked.bmp", zeroUnpacked).c_str(), 0), 0);

    // Otherwise the probe word is the address of the leading bytes and the
    // name is not used.
    auto word = [](const std::vector<uint8_t>& v) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(v.data()));
    };
    CHECK_EQ(p.isSupported(missing.c_str(), word(b1)), 1);
    CHECK_EQ(p.isSupported(missing.c_str(), word(e1)), 1);
    CHECK_EQ(p.isSupported(b1Path.c_str(), word(bmp.file)), 0);
    CHECK_EQ(p.isSupported(b1Path.c_str(), word(zeroUnpacked)), 0);

    // The lowest address that counts as one.
    void* low = VirtualAlloc(reinterpret_cast<void*>(0x10000), 4096, MEM_RESERVE | MEM_COMMIT,
                             PAGE_READWRITE);
    if (low == reinterpret_cast<void*>(0x10000)) {
        std::memcpy(low, b1.data(), 10);
        CHECK_EQ(p.isSupported(missing.c_str(), 0x10000u), 1);
        std::memcpy(low, bmp.file.data(), 10);
        CHECK_EQ(p.isSupported(b1Path.c_str(), 0x10000u), 0);
        VirtualFree(low, 0, MEM_RELEASE);
    } else {
        std::printf("note: address 0x10000 not available, that probe is skipped\n");
        if (low) VirtualFree(low, 0, MEM_RELEASE);
    }
}

// A picture delivered whole, in both modes, as the host receives it.
void CheckPicture(const Picture& p, const ScratchFolder& data, const std::string& name,
                  const BitmapRecipe& recipe, size_t infoPartSize, char letter = 'B') {
    bitmap_builder::Bitmap bmp = bitmap_builder::BuildBitmap(recipe);
    CHECK_EQ(bmp.infoPart.size(), infoPartSize);
    std::vector<uint8_t> packed = bitmap_builder::PackBitmap(bmp.file, letter);
    std::string path = data.Write(name, packed);

    HostPictureInfo expected = {};
    expected.width = recipe.width;
    expected.height = recipe.height < 0 ? -recipe.height : recipe.height;
    expected.colorDepth = recipe.bitCount;

    struct Mode {
        const char* source;
        int32_t length;
        uint32_t flags;
        const char* label;
    } modes[] = {
        {path.c_str(), 0, 0, "file"},
        // In file mode the length is not consulted, and only bit 0 of the flags counts.
        {path.c_str(), 12345, 0xFFFFFFFEu, "file, odd length and flags"},
        {reinterpret_cast<const char*>(packed.data()), static_cast<int32_t>(packed.size()), kMemory,
         "memory"},
        {reinterpret_cast<const char*>(packed.data()), static_cast<int32_t>(packed.size()),
         kMemory | 0x380u, "memory, other bits set"},
    };
    for (const Mode& mode : modes) {
        int before = harness::Failures();
        HostPictureInfo record = Sentinel();
        CHECK_EQ(p.getPictureInfo(mode.source, mode.length, mode.flags, &record), 0);
        CHECK(SameRecord(record, expected));

        HLOCAL info = SentinelHandle(), bits = SentinelHandle();
        progressCalls = 0;
        CHECK_EQ(p.getPicture(mode.source, mode.length, mode.flags, &info, &bits, AbortingProgress,
                              0x1234),
                 0);
        CHECK_EQ(progressCalls, 0);
        CHECK(info != SentinelHandle() && bits != SentinelHandle());
        if (info != SentinelHandle() && bits != SentinelHandle()) {
            CHECK_EQ(GlobalSize(info), infoPartSize);
            CHECK_EQ(GlobalSize(bits), bmp.bits.size());
            CHECK(TakeHandle(info) == bmp.infoPart);
            CHECK(TakeHandle(bits) == bmp.bits);
        }
        if (harness::Failures() != before) std::printf("  in %s, %s mode\n", name.c_str(), mode.label);
    }
}

void CheckPictures(const Picture& p, const ScratchFolder& data) {
    BitmapRecipe s;
    CheckPicture(p, data, "rgb24.bmp", s, 40);
    CheckPicture(p, data, "rgb24_e1.bmp", s, 40, 'E');
    s = BitmapRecipe{};
    s.height = -4;  // top-down: the record says 4, the info part keeps -4
    s.bitCount = 8;
    CheckPicture(p, data, "pal8_topdown.bmp", s, 1064);
    s.colorsUsed = 16;
    CheckPicture(p, data, "pal8_16.bmp", s, 104);
    s = BitmapRecipe{};
    s.bitCount = 1;
    CheckPicture(p, data, "pal1.bmp", s, 48);
    s.bitCount = 4;
    CheckPicture(p, data, "pal4.bmp", s, 104);
    for (uint16_t depth : {16, 32}) {
        s = BitmapRecipe{};
        s.bitCount = depth;
        CheckPicture(p, data, "rgb_plain.bmp", s, 40);
        s.compression = 3;
        CheckPicture(p, data, "rgb_masks.bmp", s, 52);
    }
    // bfOffBits is not trusted: a gap behind the table belongs to the bits.
    s = BitmapRecipe{};
    s.bitCount = 8;
    s.colorsUsed = 2;
    s.gap = 6;
    s.offBits = 9999;
    CheckPicture(p, data, "gap.bmp", s, 48);
    // Big enough for long matches and many groups.
    s = BitmapRecipe{};
    s.width = 320;
    s.height = 200;
    CheckPicture(p, data, "large24.bmp", s, 40);
    s.bitCount = 8;
    CheckPicture(p, data, "large8.bmp", s, 1064);
}

// A failing call answers `code` and leaves the host's record and slots as
// they were, in whichever modes apply.
void ExpectFailure(const Picture& p, const char* source, int32_t length, uint32_t flags,
                   int32_t infoCode, int32_t pictureCode, const char* label) {
    int before = harness::Failures();
    HostPictureInfo record = Sentinel();
    CHECK_EQ(p.getPictureInfo(source, length, flags, &record), infoCode);
    if (infoCode != 0) CHECK(SameRecord(record, Sentinel()));
    HLOCAL info = SentinelHandle(), bits = SentinelHandle();
    CHECK_EQ(p.getPicture(source, length, flags, &info, &bits, nullptr, 0), pictureCode);
    if (pictureCode != 0) {
        CHECK(info == SentinelHandle());
        CHECK(bits == SentinelHandle());
    } else {
        TakeHandle(info);
        TakeHandle(bits);
    }
    if (harness::Failures() != before) std::printf("  in failure case: %s\n", label);
}

// The same damaged picture from a file and from memory.
void ExpectFailureBoth(const Picture& p, const ScratchFolder& data, const std::string& name,
                       const std::vector<uint8_t>& file, int32_t infoCode, int32_t pictureCode) {
    std::string path = data.Write(name, file);
    ExpectFailure(p, path.c_str(), 0, 0, infoCode, pictureCode, name.c_str());
    ExpectFailure(p, reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()),
                  kMemory, infoCode, pictureCode, (name + " in memory").c_str());
}

void CheckFailures(const Picture& p, const ScratchFolder& data) {
    const int32_t Unsupported = 2, NoMemory = 4;
    bitmap_builder::Bitmap bmp = bitmap_builder::BuildBitmap(BitmapRecipe{});
    std::vector<uint8_t> good = bitmap_builder::PackBitmap(bmp.file);

    // A missing file is not ours (2), not a read error.
    ExpectFailure(p, data.File("missing.bmp").c_str(), 0, 0, Unsupported, Unsupported, "missing file");
    ExpectFailureBoth(p, data, "plain.bmp", bmp.file, Unsupported, Unsupported);

    // A file one byte short of its stream; the memory image of it lacks the
    // stream's last byte, so the picture cannot be completed either.
    std::vector<uint8_t> cut(good.begin(), good.end() - 1);
    ExpectFailureBoth(p, data, "short_by_one.bmp", cut, Unsupported, Unsupported);
    // Memory images too short to hold a header.
    for (int32_t length : {0, 1, 9})
        ExpectFailure(p, reinterpret_cast<const char*>(good.data()), length, kMemory, Unsupported,
                      Unsupported, "memory image under 10 bytes");

    // An unpacked image too small to hold the two headers.
    std::vector<uint8_t> tiny(bmp.file.begin(), bmp.file.begin() + 53);
    ExpectFailureBoth(p, data, "tiny.bmp", bitmap_builder::PackBitmap(tiny), Unsupported,
                      Unsupported);
    // A colour table count that reaches far past the image.
    BitmapRecipe pal;
    pal.bitCount = 8;
    bitmap_builder::Bitmap huge = bitmap_builder::BuildBitmap(pal);
    PutLe32(huge.file, 14 + 32, 0x40000001u);
    ExpectFailureBoth(p, data, "huge_table.bmp", bitmap_builder::PackBitmap(huge.file), Unsupported,
                      Unsupported);
    // A header announcing more than its stream could ever produce.
    std::vector<uint8_t> boast = good;
    PutLe32(boast, 6, 0x7FFFFFF0u);
    ExpectFailureBoth(p, data, "boast.bmp", boast, Unsupported, Unsupported);

    // A height with no positive counterpart cannot be described; the picture
    // itself is delivered as it stands.
    bitmap_builder::Bitmap lowest = bitmap_builder::BuildBitmap(BitmapRecipe{});
    PutLe32(lowest.file, 14 + 8, 0x80000000u);
    ExpectFailureBoth(p, data, "lowest_height.bmp", bitmap_builder::PackBitmap(lowest.file),
                      Unsupported, 0);

    // A picture of no pixels at all: described, but its empty bits part
    // cannot be delivered as a locked block.
    BitmapRecipe empty;
    empty.width = 0;
    empty.height = 0;
    ExpectFailureBoth(p, data, "no_pixels.bmp",
                      bitmap_builder::PackBitmap(bitmap_builder::BuildBitmap(empty).file), 0,
                      NoMemory);
}

struct DecodeJob {
    const Picture* p;
    const std::vector<uint8_t>* packed;
    const bitmap_builder::Bitmap* expected;
    int rounds;
    int failures;
};

DWORD WINAPI DecodeRepeatedly(void* arg) {
    auto* job = static_cast<DecodeJob*>(arg);
    for (int i = 0; i < job->rounds; ++i) {
        HLOCAL info = nullptr, bits = nullptr;
        int32_t r = job->p->getPicture(reinterpret_cast<const char*>(job->packed->data()),
                                       static_cast<int32_t>(job->packed->size()), kMemory, &info,
                                       &bits, nullptr, 0);
        if (r != 0 || !info || !bits) {
            ++job->failures;
            continue;
        }
        if (GlobalSize(info) != job->expected->infoPart.size() ||
            GlobalSize(bits) != job->expected->bits.size())
            ++job->failures;
        else {
            auto* i8 = static_cast<uint8_t*>(GlobalLock(info));
            auto* b8 = static_cast<uint8_t*>(GlobalLock(bits));
            if (std::memcmp(i8, job->expected->infoPart.data(), job->expected->infoPart.size()) ||
                std::memcmp(b8, job->expected->bits.data(), job->expected->bits.size()))
                ++job->failures;
            GlobalUnlock(info);
            GlobalUnlock(bits);
        }
        GlobalFree(info);
        GlobalFree(bits);
    }
    return 0;
}

// The module keeps no state: calls on several threads at once each get
// their own picture.
void CheckThreads(const Picture& p) {
    BitmapRecipe s;
    s.width = 200;
    s.height = 150;
    bitmap_builder::Bitmap bmps[2] = {bitmap_builder::BuildBitmap(s), {}};
    s.bitCount = 8;
    bmps[1] = bitmap_builder::BuildBitmap(s);
    std::vector<uint8_t> packed[2] = {bitmap_builder::PackBitmap(bmps[0].file),
                                      bitmap_builder::PackBitmap(bmps[1].file)};
    DecodeJob jobs[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        jobs[i] = DecodeJob{&p, &packed[i % 2], &bmps[i % 2], 40, 0};
        threads[i] = CreateThread(nullptr, 0, DecodeRepeatedly, &jobs[i], 0, nullptr);
        CHECK(threads[i] != nullptr);
    }
    for (int i = 0; i < 4; ++i) {
        if (!threads[i]) continue;
        CHECK_EQ(WaitForSingleObject(threads[i], 120000), WAIT_OBJECT_0);
        CloseHandle(threads[i]);
        CHECK_EQ(jobs[i].failures, 0);
    }
}

void Run(const char* modulePath) {
    LoadedPlugin plugin(modulePath, "zorvpict");
    if (!plugin.Module()) return;
    CheckExportsAndImports(plugin.Module(),
                           {"GetPluginInfo", "IsSupported", "GetPictureInfo", "GetPicture"});
    Picture p;
    p.getPluginInfo = plugin.Export<GetPluginInfoFn>("GetPluginInfo");
    p.isSupported = plugin.Export<IsSupportedFn>("IsSupported");
    p.getPictureInfo = plugin.Export<GetPictureInfoFn>("GetPictureInfo");
    p.getPicture = plugin.Export<GetPictureFn>("GetPicture");
    if (!p.getPluginInfo || !p.isSupported || !p.getPictureInfo || !p.getPicture) return;

    std::string description =
        CheckInfoStrings(p.getPluginInfo, "00IN", "ZORVAN BMP Import Filter", "*.bmp",
                         "ZORVAN BMP Graphics");
    CheckVersionResource(plugin.FilePath(), 0, 4, 0, 4, description);

    ScratchFolder data("zorvpict_data");
    CheckCallingConvention(plugin, data.File("missing.bmp"));
    CheckIsSupported(p, data);
    CheckPictures(p, data);
    CheckFailures(p, data);
    CheckThreads(p);
    // Nothing the plug-in did may have put files beside it.
    CHECK_EQ(plugin.FolderEntries(), 1u);
}

}  // namespace

int main(int argc, char** argv) { return harness::RunOnModule(argc, argv, "ZORVPICT.SPI", Run); }
