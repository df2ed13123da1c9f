// ZORVAN's coded audio from 16-bit samples: the 46-byte header, then one
// code per sample, each the code whose decoded value is nearest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wave_file.h"

namespace writer {

constexpr size_t kPwHeaderBytes = 46;

// The code whose table value is nearest to `sample`; a sample that is a
// table value gives its own code back.
uint8_t NearestPwCode(int16_t sample);

// Codes for `count` samples.
void EncodePwCodes(uint8_t* codes, const int16_t* samples, size_t count);

// A whole coded-audio entry. With `originalHeader` (46 bytes of the entry
// this one replaces), every header field the WAVE does not carry is kept
// from it; channels, rate and the code count come from `audio`. `trailing`
// bytes are stored after the codes, as the original entry held them.
std::vector<uint8_t> EncodePwAudio(const PcmAudio& audio, const uint8_t* originalHeader = nullptr,
                                   const std::vector<uint8_t>& trailing = {});

}  // namespace writer
