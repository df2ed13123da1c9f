// The manifest reader on arbitrary bytes: it refuses with a ToolError or
// accepts, never anything else, and what it accepts it writes back to a
// manifest that reads to the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writer::Manifest manifest;
    try {
        manifest = writer::ManifestFromJson(data, size);
    } catch (const files::ToolError&) {
        return 0;
    }
    const std::string text = writer::ManifestToJson(manifest);
    writer::Manifest again = writer::ManifestFromJson(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (writer::ManifestToJson(again) != text) std::abort();
    return 0;
}
