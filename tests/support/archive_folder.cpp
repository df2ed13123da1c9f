// The archive tests' private folder, apart from the builders so that the
// Win32 test programs can use the builders without POSIX folder calls.
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "archive_builder.h"
#include "temp_files.h"

namespace archive_builder {

ArchiveFolder::ArchiveFolder() {
    std::string pattern = temp_files::TempFolder() + "/zorvpack-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

ArchiveFolder::~ArchiveFolder() {
    for (const std::string& name : names_) unlink(Path(name).c_str());
    rmdir(path_.c_str());
}

std::string ArchiveFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = Path(name);
    // Replaced, not overwritten in place: a new file under the same name.
    std::string temporary = path + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + temporary);
    if (!temp_files::WriteAllAndClose(fd, bytes) || rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
    names_.push_back(name);
    return path;
}

}  // namespace archive_builder
