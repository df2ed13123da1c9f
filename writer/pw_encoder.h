// ZORVAN's coded audio from 16-bit samples: the 46-byte header, then one
// code per sample, each the code whose decoded value is nearest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tool_error.h"
#include <vector>

#include "wave_file.h"
#include "zorvan_format.h"

namespace writer {

// The code whose table value is nearest to `sample`; a sample that is a
// table value gives its own code back. A sample exactly midway between two
// table values takes the one nearer to zero, so that silence stays silence
// and a signal and its negation get mirrored codes.
uint8_t NearestPwCode(int16_t sample);

// Codes for `count` samples, each NearestPwCode of its sample.
void EncodePwCodes(uint8_t* codes, const int16_t* samples, size_t count);

// A whole coded-audio entry: "PW10", a u32, "PCM1", "fmt ", the format chunk
// length, format tag, channels, rate, byte rate, block align, bits and extra
// length, "data", the code count N, the N codes, then `trailing`.
//
// Without `originalHeader` the fields are those of 8-bit PCM with an 18-byte
// format body, which the archive plug-in turns into a plain 16-bit WAVE
// whose chunk lengths add up: format length 18, tag 1, byte rate = rate x
// channels, block align = channels, bits 8, extra length 0, and the u32 at 4
// the entry's length minus 8.
//
// With `originalHeader` (the 46 bytes of the entry this one replaces), the
// fields a WAVE does not carry are kept from it: the u32 at 4, format
// length, format tag, byte rate, block align, bits and extra length;
// channels, rate and N come from `audio`. Fields derived from what changed
// follow it: a u32 at 4 that held the entry's length minus 8 is updated, and
// byte rate and block align are recomputed (in the original's bytes per
// sample) when the channels or the rate differ. Re-encoding the audio an
// entry decodes to, with its header and trailing bytes, gives the entry back.
//
// Throws files::ToolError for channels other than 1 or 2, a sample count that is
// not a whole number of frames, an original header without the coded-audio
// tags, more than kMostPwCodes samples or an entry beyond 4 GiB.
std::vector<uint8_t> EncodePwAudio(const PcmAudio& audio, const uint8_t* originalHeader = nullptr,
                                   const std::vector<uint8_t>& trailing = {});

}  // namespace writer
