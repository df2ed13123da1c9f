// Decoder for the LZSS packing used by ZORVAN picture files.
#pragma once

#include <cstdint>

// Unpacks up to `unpackedLength` bytes into `output` from the first
// `packedAvailable` bytes of `packed`. Returns the number of bytes produced:
// `unpackedLength` for a complete stream, fewer if the packed bytes end first
// (a token whose bytes are not all present is not decoded). Output bytes past
// the returned count are unspecified, but nothing is written outside
// [0, unpackedLength) and nothing is read outside [0, packedAvailable).
// Pure and thread-safe: no allocation, no shared state.
uint32_t LzssDecoder(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                     uint32_t packedAvailable);

// The same decoder built for the other register width (32-bit words on a
// 64-bit build and the reverse), whose copy paths differ, so that one machine
// checks the code that both the 32-bit and the 64-bit builds run. Defined in
// lzss_decoder_other_width.cpp, which only test programs build: the modules
// do not contain it.
uint32_t LzssDecoderOtherWordWidth(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                                   uint32_t packedAvailable);
