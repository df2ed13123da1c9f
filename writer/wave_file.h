// Reading RIFF WAVE files into 16-bit samples, for the audio encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tool_error.h"
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

// "RIFF" and "WAVE" in the first 12 bytes: a file ReadWave takes up.
bool LooksLikeWave(const uint8_t* data, size_t size);

// Walks the chunks (unknown ones skipped, pad bytes honoured, a missing
// final pad tolerated) and reads "fmt " and "data". 16-bit PCM is taken as
// it is, mono or stereo, any rate; 8-bit PCM (unsigned) becomes (v - 128) x
// 256; 24- and 32-bit PCM and 32-bit float (1.0 = 32768) are rounded to the
// nearest 16-bit value, halves away from zero, and clipped; each conversion
// leaves a note. The extensible format is read by its PCM or float
// sub-format. Also reads the WAVE images the archive plug-in makes, whose
// format chunk length may disagree with their fixed layout.
//
// Refused with a files::ToolError: anything not RIFF/WAVE, compressed or unknown
// formats, no channels or more than two, a block align that disagrees with
// channels x bytes, chunks that run past the end of the file, and a data
// chunk shorter than it declares (a truncated file: its audio would end
// early without the user noticing). Bytes at the end of the data that make
// no whole frame are dropped with a note. Nothing is read past `size`, and
// the samples never take more than twice the bytes present.
PcmAudio ReadWave(const uint8_t* data, size_t size);

}  // namespace writer
