// Built into test programs only, never into the module.
#include "lzss_decoder.h"
#include "lzss_decoder_words.h"

uint32_t LzssDecoderOtherWordWidth(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                                   uint32_t packedAvailable) {
  return lzss_words::Decode<lzss_words::OtherWord>(output, unpackedLength, packed, packedAvailable);
}
