// ZORVPICT.SPI must never read past the memory image a host gives it. Each
// image is placed so that its last byte lies just before a PAGE_NOACCESS
// page (and, for some, its first byte just after one): a read beyond it
// faults, which ends the program with a CRASH line and a failed test.
// Usage: picture_guard_test <path of ZORVPICT.SPI>
#include <cstring>

#include "bitmap_builder.h"
#include "host_harness.h"
#include "test_images.h"

namespace {

using bitmap_builder::BitmapRecipe;

const uint32_t kMemory = 0x1;
const int32_t Ok = 0, Unsupported = 2, NoMemory = 4;

// Pages of readable memory fenced by an inaccessible page on each side.
class GuardedRegion {
public:
    explicit GuardedRegion(size_t capacity) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        usable_ = (capacity + page_ - 1) / page_ * page_;
        if (usable_ == 0) usable_ = page_;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, usable_ + 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        CHECK(base_ != nullptr);
        if (!base_) return;
        DWORD old;
        CHECK(VirtualProtect(base_, page_, PAGE_NOACCESS, &old) != 0);
        CHECK(VirtualProtect(base_ + page_ + usable_, page_, PAGE_NOACCESS, &old) != 0);
    }
    ~GuardedRegion() {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;

    // The first `length` bytes of `bytes`, ending right at the back guard.
    const uint8_t* AtEnd(const uint8_t* bytes, size_t length) {
        uint8_t* at = base_ + page_ + usable_ - length;
        std::memcpy(at, bytes, length);
        return at;
    }
    // The bytes starting right behind the front guard.
    const uint8_t* AtStart(const uint8_t* bytes, size_t length) {
        std::memcpy(base_ + page_, bytes, length);
        return base_ + page_;
    }
    bool Ready() const { return base_ != nullptr; }

private:
    size_t page_ = 4096;
    size_t usable_ = 0;
    uint8_t* base_ = nullptr;
};

struct Picture {
    IsSupportedFn isSupported;
    GetPictureInfoFn getPictureInfo;
    GetPictureFn getPicture;
};

// Both operations on one placed image. Whatever they answer must be a code
// the picture module can give, and a delivered picture must be consistent:
// info part and bits together make up the unpacked image behind its
// 14-byte file header. Returns GetPicture's answer.
int32_t Exercise(const Picture& p, const uint8_t* image, size_t length, int32_t* infoResult,
                 std::vector<uint8_t>* infoPart = nullptr, std::vector<uint8_t>* bits = nullptr) {
    const char* source = reinterpret_cast<const char*>(image);
    HostPictureInfo record;
    int32_t r1 = p.getPictureInfo(source, static_cast<int32_t>(length), kMemory, &record);
    if (infoResult) *infoResult = r1;
    CHECK(r1 == Ok || r1 == Unsupported || r1 == NoMemory);

    HLOCAL infoHandle = SentinelHandle(), bitsHandle = SentinelHandle();
    int32_t r2 = p.getPicture(source, static_cast<int32_t>(length), kMemory, &infoHandle,
                              &bitsHandle, nullptr, 0);
    CHECK(r2 == Ok || r2 == Unsupported || r2 == NoMemory);
    if (r2 == Ok) {
        std::vector<uint8_t> i = TakeHandle(infoHandle), b = TakeHandle(bitsHandle);
        if (length >= 10) CHECK_EQ(i.size() + b.size() + 14, size_t{GetLe32(image + 6)});
        if (infoPart) *infoPart = std::move(i);
        if (bits) *bits = std::move(b);
    } else {
        CHECK(infoHandle == SentinelHandle() && bitsHandle == SentinelHandle());
    }
    return r2;
}

struct Sample {
    const char* name;
    bitmap_builder::Bitmap bmp;
    std::vector<uint8_t> packed;
};

Sample MakeSample(const char* name, const BitmapRecipe& recipe) {
    Sample s{name, bitmap_builder::BuildBitmap(recipe), {}};
    s.packed = bitmap_builder::PackBitmap(s.bmp.file);
    return s;
}

std::vector<Sample> MakeSamples() {
    std::vector<Sample> samples;
    BitmapRecipe s;
    samples.push_back(MakeSample("rgb24 5x3", s));
    s.bitCount = 8;
    s.width = 16;
    s.height = -8;
    samples.push_back(MakeSample("pal8 16x8 top-down", s));
    s = BitmapRecipe{};
    s.bitCount = 16;
    s.compression = 3;
    samples.push_back(MakeSample("rgb16 masks", s));
    s = BitmapRecipe{};
    s.bitCount = 1;
    s.width = 33;
    s.height = 5;
    samples.push_back(MakeSample("pal1 33x5", s));
    s = BitmapRecipe{};
    s.width = 100;
    s.height = 60;
    samples.push_back(MakeSample("rgb24 100x60", s));
    return samples;
}

// Valid pictures, placed against either guard, come out whole.
void CheckValid(const Picture& p, const std::vector<Sample>& samples) {
    for (const Sample& s : samples) {
        int before = harness::Failures();
        GuardedRegion region(s.packed.size());
        if (!region.Ready()) return;
        for (int side = 0; side < 2; ++side) {
            harness::SetContext("valid picture %s, guard %s", s.name, side == 0 ? "behind" : "in front");
            const uint8_t* image = side == 0 ? region.AtEnd(s.packed.data(), s.packed.size())
                                             : region.AtStart(s.packed.data(), s.packed.size());
            int32_t infoResult = -99;
            std::vector<uint8_t> info, bits;
            CHECK_EQ(Exercise(p, image, s.packed.size(), &infoResult, &info, &bits), Ok);
            CHECK_EQ(infoResult, Ok);
            CHECK(info == s.bmp.infoPart);
            CHECK(bits == s.bmp.bits);
        }
        if (harness::Failures() != before) std::printf("  valid picture %s\n", s.name);
    }
}

// Every prefix of a picture: the stream runs out, which is a damaged
// picture, and nothing past the prefix may be touched.
void CheckTruncated(const Picture& p, const std::vector<Sample>& samples) {
    for (const Sample& s : samples) {
        int before = harness::Failures();
        GuardedRegion region(s.packed.size());
        if (!region.Ready()) return;
        size_t size = s.packed.size();
        // All prefixes of the small ones; of the large one a spread and the
        // last stretch, where the decoder is closest to finishing.
        size_t step = size > 2000 ? 13 : 1;
        for (size_t length = 0; length < size; ++length) {
            if (step > 1 && length % step != 0 && length + 200 < size && length > 64) continue;
            harness::SetContext("%s cut to %u of %u bytes", s.name, unsigned(length), unsigned(size));
            const uint8_t* image = region.AtEnd(s.packed.data(), length);
            int32_t infoResult = -99;
            CHECK_EQ(Exercise(p, image, length, &infoResult), Unsupported);
            CHECK_EQ(infoResult, Unsupported);
            if (harness::Failures() != before) {
                std::printf("  truncated %s at %u of %u bytes\n", s.name, unsigned(length),
                            unsigned(size));
                break;
            }
        }
    }
}

// Random damage anywhere, the header included: any allowed answer, never a
// read past the image.
void CheckDamaged(const Picture& p, const std::vector<Sample>& samples) {
    test_images::Rng rng(0x5EED1234);
    size_t largest = 0;
    for (const Sample& s : samples) largest = std::max(largest, s.packed.size());
    GuardedRegion region(largest);
    if (!region.Ready()) return;
    int delivered = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        const Sample& s = samples[rng.Below(static_cast<uint32_t>(samples.size()))];
        std::vector<uint8_t> damaged = s.packed;
        int flips = 1 + static_cast<int>(rng.Below(4));
        for (int f = 0; f < flips; ++f) {
            // Mostly the stream, sometimes the header's lengths.
            size_t at = rng.Below(8) == 0 ? 2 + rng.Below(8) : rng.Below(static_cast<uint32_t>(damaged.size()));
            damaged[at] ^= static_cast<uint8_t>(1 + rng.Below(255));
        }
        // Sometimes also cut short.
        size_t length = damaged.size();
        if (rng.Below(4) == 0) length = rng.Below(static_cast<uint32_t>(length));
        int before = harness::Failures();
        harness::SetContext("damaged %s, round %d", s.name, round);
        int32_t r = Exercise(p, region.AtEnd(damaged.data(), length), length, nullptr);
        (r == Ok ? delivered : refused)++;
        if (harness::Failures() != before) {
            std::printf("  damaged %s, round %d\n", s.name, round);
            break;
        }
    }
    std::printf("damaged images: %d delivered, %d refused\n", delivered, refused);
}

// The probe reads the 10 header bytes at the probe word and nothing more.
void CheckProbeWord(const Picture& p, const std::vector<Sample>& samples) {
    GuardedRegion region(4096);
    if (!region.Ready()) return;
    const std::vector<uint8_t>& good = samples[0].packed;
    auto word = [](const uint8_t* at) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at)); };
    const char* noFile = "Z:\\no\\such\\folder\\picture.bmp";
    harness::SetContext("probe word and header-only images");
    CHECK_EQ(p.isSupported(noFile, word(region.AtEnd(good.data(), 10))), 1);
    CHECK_EQ(p.isSupported(noFile, word(region.AtStart(good.data(), 10))), 1);
    std::vector<uint8_t> bad(good.begin(), good.begin() + 10);
    bad[1] = '2';
    CHECK_EQ(p.isSupported(noFile, word(region.AtEnd(bad.data(), 10))), 0);
    std::vector<uint8_t> zero(good.begin(), good.begin() + 10);
    PutLe32(zero, 6, 0);
    CHECK_EQ(p.isSupported(noFile, word(region.AtEnd(zero.data(), 10))), 0);
    // A header alone, and less than a header, as memory images.
    int32_t infoResult = -99;
    CHECK_EQ(Exercise(p, region.AtEnd(good.data(), 10), 10, &infoResult), Unsupported);
    CHECK_EQ(infoResult, Unsupported);
    CHECK_EQ(Exercise(p, region.AtEnd(good.data(), 9), 9, &infoResult), Unsupported);
    CHECK_EQ(infoResult, Unsupported);
}

void Run(const char* modulePath) {
    LoadedPlugin plugin(modulePath, "zorvpict_guard");
    if (!plugin.Module()) return;
    Picture p;
    p.isSupported = plugin.Export<IsSupportedFn>("IsSupported");
    p.getPictureInfo = plugin.Export<GetPictureInfoFn>("GetPictureInfo");
    p.getPicture = plugin.Export<GetPictureFn>("GetPicture");
    if (!p.isSupported || !p.getPictureInfo || !p.getPicture) return;

    std::vector<Sample> samples = MakeSamples();
    CheckProbeWord(p, samples);
    CheckValid(p, samples);
    CheckTruncated(p, samples);
    CheckDamaged(p, samples);
}

}  // namespace

int main(int argc, char** argv) { return harness::RunOnModule(argc, argv, "ZORVPICT.SPI", Run); }
