// Reading RIFF WAVE files into 16-bit samples, for the audio encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace writer {

struct PcmAudio {
    uint16_t channels = 0;    // 1 or 2
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;  // interleaved
    // What the reader did that the user should know, e.g. "converted 24-bit
    // PCM to 16-bit".
    std::vector<std::string> notes;
};

// A file that cannot be read as audio we accept: damaged, compressed, more
// than two channels. The message says which, for the user.
struct WaveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Walks the chunks (unknown ones skipped, pad bytes honoured) and takes
// 16-bit PCM as it is; 8-, 24- and 32-bit PCM and 32-bit float are converted
// to 16 bits (rounded, clipped), with a note. Also reads the WAVE images the
// archive plug-in makes, whose format chunk length may disagree with their
// fixed layout.
PcmAudio ReadWave(const uint8_t* data, size_t size);

}  // namespace writer
