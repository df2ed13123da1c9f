// Small file helpers shared by the fixture builders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace temp_files {

// $TMPDIR, or /tmp when it is unset.
std::string TempFolder();

// Writes all of `bytes` to `fd` and closes it; false when it came up short.
bool WriteAllAndClose(int fd, const std::vector<uint8_t>& bytes);

}  // namespace temp_files
