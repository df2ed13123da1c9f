// ZORVAN's coded audio (PwAudio): a 46-byte header in the shape of a WAVE
// header, then one 8-bit companded code per sample. The module never hands
// such an entry out as stored; it expands it into a 16-bit RIFF WAVE image.
#pragma once

#include <cstdint>

#include "pw_decode_table.h"
#include "zorvan_format.h"

// With a null destination: the WAVE length, 46 + 2N (32-bit, wrapping),
// reading only the code count. With a destination: writes the whole
// 46 + 2N byte image and returns 0; the caller guarantees that the
// destination holds 46 + 2N bytes and the source 46 + N.
uint32_t ConvertPwAudio(uint8_t* destination, const uint8_t* source);

// Codes to 16-bit little-endian samples, one table lookup each. ConvertPwAudio
// uses a vector path where the processor has one and this for the rest.
void ExpandPwCodesPortable(uint8_t* out, const uint8_t* codes, uint32_t count);

// The one verdict that listing and extraction share, so the size the
// listing records is the size extraction fills. `head` holds the entry's
// first min(46, packedSize) bytes. An entry is converted only when
// IsDeliveredAsWave says so; every other entry is delivered as stored.
// Returns true for audio; *outputSize receives the delivered length.
bool ClassifyEntry(const uint8_t* head, uint32_t packedSize, uint32_t* outputSize);
