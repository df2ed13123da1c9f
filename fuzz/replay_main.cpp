// Replays fuzz inputs through a target without libFuzzer, so that the
// ordinary test run (any compiler, any sanitizer) checks every input that
// once failed. Arguments: files or folders of inputs.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReplayFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int Replay(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    if (!S_ISDIR(info.st_mode)) return ReplayFile(path) ? 1 : 0;
    int count = 0;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") count += Replay(path + "/" + name);
        }
        closedir(dir);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) count += Replay(argv[i]);
    std::printf("replayed %d inputs\n", count);
    return 0;
}
