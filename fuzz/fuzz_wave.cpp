// The WAVE reader on arbitrary bytes: it refuses with a ToolError or returns
// audio no larger than the bytes could hold; what it returns encodes to the
// nearest codes, and the WAVE the archive module would make of that entry
// (in either chunk layout it makes) reads back to the decoded samples and
// encodes to the same codes again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive_builder.h"
#include "pw_decode_table.h"
#include "pw_encoder.h"
#include "wave_file.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The archive module's image of a coded-audio entry, with the format chunk
// length it may carry in place of the entry's own.
std::vector<uint8_t> ModuleImage(const std::vector<uint8_t>& entry, uint32_t formatLength) {
    std::vector<uint8_t> wave = archive_builder::ExpectedWave(entry);
    archive_builder::PutLe32(&wave[16], formatLength);
    return wave;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);  // exactly sized, so any over-read is seen
    writer::PcmAudio audio;
    try {
        audio = writer::ReadWave(file.data(), file.size());
    } catch (const files::ToolError&) {
        return 0;
    }
    Check(audio.channels == 1 || audio.channels == 2);
    Check(audio.samples.size() % audio.channels == 0 && audio.samples.size() <= size);

    const std::vector<uint8_t> entry = writer::EncodePwAudio(audio);
    Check(entry.size() == kPwHeaderSize + audio.samples.size());
    std::vector<int16_t> decoded;
    for (size_t k = 0; k < audio.samples.size(); ++k) {
        const int sample = audio.samples[k], code = entry[46 + k];
        Check(code == writer::NearestPwCode(audio.samples[k]));
        const int distance = std::abs(PwDecodeTable[code] - sample);
        Check((code == 0 || std::abs(PwDecodeTable[code - 1] - sample) >= distance) &&
              (code == 255 || std::abs(PwDecodeTable[code + 1] - sample) >= distance));
        decoded.push_back(PwDecodeTable[code]);
    }

    // The entry's own format length, 18, and the odd one our module's images
    // may carry.
    for (uint32_t formatLength : {18u, 16u}) {
        const std::vector<uint8_t> wave = ModuleImage(entry, formatLength);
        const writer::PcmAudio back = writer::ReadWave(wave.data(), wave.size());
        Check(back.channels == audio.channels && back.sampleRate == audio.sampleRate && back.samples == decoded);
        Check(back.notes.empty());
        Check(writer::EncodePwAudio(back, entry.data()) == entry);
    }
    return 0;
}
