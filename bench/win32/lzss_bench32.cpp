// 32-bit figures for the picture decoder: LzssDecoder, compiled with the
// module's flags, against a plain ring-window decoder and memcpy, on three
// streams packed by the test encoder. Prints MB/s of output and ratios.
// Usage: lzss_bench32 [path of ZORVPICT.SPI]
//   With the module, also times GetPicture of the real DLL in memory mode on
//   the 24-bit picture wrapped as a packed bitmap (decode plus the copy into
//   the host's handles).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timer.h"
#include "bitmap_builder.h"
#include "host_harness.h"
#include "lzss_decoder.h"
#include "lzss_test_codec.h"
#include "test_images.h"

namespace {

// The baseline, lzss_test::LzssPlainDecode, is the format's algorithm as
// written, ring window and all, one byte at a time.

struct Stream {
    const char* name;
    double target;  // wanted speed-up over the plain decoder, 32-bit
    std::vector<uint8_t> raw;
    std::vector<uint8_t> packed;
};

double MBps(size_t bytes, double seconds) { return bytes / seconds / 1e6; }

volatile uint32_t sink;

}  // namespace

int main(int argc, char** argv) {
    using namespace test_images;
    std::vector<Stream> streams;
    streams.push_back({"24-bit picture", 1.8, MakeTruecolorPicture(kBenchWidth, kBenchHeight), {}});
    streams.push_back({"8-bit palette", 6.0, MakePalettePicture(kBenchWidth, kBenchHeight), {}});
    streams.push_back({"noise", 10.0, MakeNoise(size_t{kBenchWidth} * kBenchHeight, 0xC0FFEE), {}});
    for (Stream& s : streams) s.packed = lzss_test::LzssEncode(s.raw.data(), s.raw.size());

    std::printf("LZSS decoder, 32-bit build (MB/s of output, median of runs)\n");
    std::printf("%-15s %9s %9s %9s %9s %9s %8s %7s %s\n", "stream", "unpacked", "packed", "fast",
                "plain", "memcpy", "fast/pl", "target", "fast/memcpy");
    bool allMet = true;
    for (const Stream& s : streams) {
        const uint32_t size = static_cast<uint32_t>(s.raw.size());
        const uint32_t available = static_cast<uint32_t>(s.packed.size());
        std::vector<uint8_t> out(size), plainOut(size);
        double fast = MedianSeconds([&] { sink = LzssDecoder(out.data(), size, s.packed.data(), available); });
        double plain = MedianSeconds([&] { sink = lzss_test::LzssPlainDecode(plainOut.data(), size, s.packed.data(), available); });
        double copy = MedianSeconds([&] {
            std::memcpy(out.data(), s.raw.data(), size);
            sink = out[size / 2];
        });
        // Both decoders must give the original back.
        LzssDecoder(out.data(), size, s.packed.data(), available);
        if (out != s.raw || plainOut != s.raw) {
            std::printf("%s: decoded output differs from the original\n", s.name);
            return 1;
        }
        double ratio = plain / fast;
        allMet = allMet && ratio >= s.target;
        std::printf("%-15s %9u %9u %9.0f %9.0f %9.0f %7.2fx %6.1fx %.2f\n", s.name, size, available,
                    MBps(size, fast), MBps(size, plain), MBps(size, copy), ratio, s.target,
                    copy / fast);
    }
    std::printf("speed-up targets %s\n", allMet ? "met" : "NOT met");

    if (argc >= 2) {
        // The deliverable itself, as a host calls it.
        LoadedPlugin plugin(argv[1], "zorvpict_bench");
        auto getPicture = plugin.Export<GetPictureFn>("GetPicture");
        if (getPicture) {
            const Stream& s = streams[0];
            std::vector<uint8_t> bmp(54 + s.raw.size(), 0);
            bmp[0] = 'B';
            bmp[1] = 'M';
            PutLe32(bmp, 14, 40);
            PutLe32(bmp, 18, kBenchWidth);
            PutLe32(bmp, 22, kBenchHeight);
            bmp[26] = 1;
            bmp[28] = 24;
            std::memcpy(bmp.data() + 54, s.raw.data(), s.raw.size());
            std::vector<uint8_t> file = bitmap_builder::PackBitmap(bmp);
            int32_t result = -99;
            double t = MedianSeconds([&] {
                HLOCAL info = nullptr, bits = nullptr;
                result = getPicture(reinterpret_cast<const char*>(file.data()),
                                    static_cast<int32_t>(file.size()), 1, &info, &bits, nullptr, 0);
                if (info) GlobalFree(info);
                if (bits) GlobalFree(bits);
            });
            std::printf("ZORVPICT.SPI GetPicture, memory mode, %s: %.0f MB/s of output (result %d)\n",
                        s.name, MBps(bmp.size(), t), result);
        }
    }
    return 0;
}
