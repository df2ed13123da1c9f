// Placeholder until the reader lands.
#include "wave_file.h"

namespace writer {

PcmAudio ReadWave(const uint8_t*, size_t) { throw WaveError("WAVE reading not built yet"); }

}  // namespace writer
