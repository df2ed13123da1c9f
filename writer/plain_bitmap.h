// Plain bitmap files packed as they are: only once known to be ones the
// picture plug-in delivers as they are meant (a 40-byte info header, a
// depth and compression that go together, the pixels directly behind the
// colour table or masks, and all rows present).
#pragma once

#include <cstddef>
#include <cstdint>

namespace writer {

// "BM" at its start.
bool LooksLikePlainBitmap(const uint8_t* data, size_t size);

// Throws files::ToolError, saying why, unless the plug-in delivers this bitmap
// file as it is meant; returns its bit count.
uint16_t CheckPlainBitmap(const uint8_t* data, size_t size);

}  // namespace writer
