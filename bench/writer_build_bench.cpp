// Building an archive of many small files, against `tar -cf` of the same
// folder: a new archive from the folder, and the rebuild of the folder with
// its manifest (which reads and hashes every file). Runs interleaved, in a
// folder under /dev/shm so that the disk's noise stays out; prints medians.
// Usage: writer_build_bench [runs] [files]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "bench_timing.h"
#include "content_hash.h"
#include "rebuild.h"
#include "source_file.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> AsciiName(const std::string& name) { return name; }

void Build(const writer::RebuildPlan& plan, const fs::path& target) {
    writer::AtomicFile file(target);
    std::vector<std::string> notes;
    writer::BuildArchive(plan, file, {}, &notes);
    file.Commit(true);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    const int count = argc > 2 ? std::atoi(argv[2]) : 65535;
    std::string pattern = (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                          "/zorv-build-bench-XXXXXX";
    if (!mkdtemp(&pattern[0])) return 1;
    const fs::path root = pattern, in = root / "in";
    fs::create_directory(in);

    // 0 to 200 bytes each, as the archive plug-in's small-entry fixture.
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%05d.BIN", i);
        std::string bytes(static_cast<size_t>(i * 37 % 201), static_cast<char>(i));
        std::ofstream(in / name, std::ios::binary) << bytes;
    }
    const fs::path reference = root / "ref.dat";
    Build(writer::PlanFolderArchive(in, writer::ArchiveSignature::Zrv01, AsciiName, {}), reference);
    writer::Manifest manifest = writer::DescribeArchive(reference);
    for (writer::ManifestEntry& entry : manifest.entries) {
        std::vector<uint8_t> bytes = writer::ReadWholeFile(in / entry.name, 1 << 20);
        entry.file = writer::WrittenFile{entry.name, bytes.size(), writer::ContentHashHex(bytes.data(), bytes.size())};
    }
    writer::WriteManifestFile(in, manifest);

    const std::string tar = "tar -cf '" + (root / "out.tar").string() + "' -C '" + in.string() + "' .";
    std::vector<double> tarTimes, buildTimes, rebuildTimes;
    for (int run = 0; run < runs; ++run) {
        tarTimes.push_back(Seconds([&] {
            if (std::system(tar.c_str()) != 0) std::exit(1);
        }));
        fs::remove(root / "out.tar");
        buildTimes.push_back(Seconds([&] {
            Build(writer::PlanFolderArchive(in, writer::ArchiveSignature::Zrv01, AsciiName, {}), root / "out.dat");
        }));
        fs::remove(root / "out.dat");
        rebuildTimes.push_back(Seconds([&] {
            writer::RebuildPlan plan =
                writer::PlanRebuild(in, writer::ReadManifestFile(in / writer::kManifestFileName), AsciiName, {});
            if (!plan.Exact()) std::exit(2);
            Build(plan, root / "out.dat");
        }));
        if (run == 0 && writer::ReadWholeFile(root / "out.dat", 1 << 30) != writer::ReadWholeFile(reference, 1 << 30))
            return 3;
        fs::remove(root / "out.dat");
    }
    fs::remove_all(root);

    const double tarMedian = Median(tarTimes);
    std::printf("%d files, %d runs interleaved, medians:\n", count, runs);
    std::printf("  tar -cf                     %.3f s\n", tarMedian);
    std::printf("  new archive from the folder %.3f s  (%.2fx tar)\n", Median(buildTimes),
                Median(buildTimes) / tarMedian);
    std::printf("  rebuild with the manifest   %.3f s  (%.2fx tar)\n", Median(rebuildTimes),
                Median(rebuildTimes) / tarMedian);
    return 0;
}
