#include "lzss_decoder.h"

#include "lzss_decoder_words.h"

uint32_t LzssDecoder(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                     uint32_t packedAvailable) {
  return lzss_words::Decode<lzss_words::NativeWord>(output, unpackedLength, packed, packedAvailable);
}
