#include "temp_files.h"

#include <unistd.h>

#include <cstdlib>

namespace temp_files {

std::string TempFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

bool WriteAllAndClose(int fd, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        auto n = write(fd, bytes.data() + written, static_cast<unsigned>(bytes.size() - written));
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(fd);
    return written == bytes.size();
}

}  // namespace temp_files
