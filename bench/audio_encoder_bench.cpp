// The audio encoder against memcpy of its output (the N code bytes), on
// 16 M samples by default: runs interleaved round by round, medians
// compared. Plain timing, so the same program builds natively and for
// 32-bit Windows. Usage: audio_encoder_bench [rounds] [millions of samples]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_timing.h"
#include "pw_encoder.h"

namespace {

size_t sampleCount = size_t{16} << 20;

// Stereo voice-like audio: a few partials under a slow envelope, plus a
// little noise, as a recorded line holds.
std::vector<int16_t> VoiceLike() {
    std::vector<int16_t> samples(sampleCount);
    uint32_t noise = 12345;
    for (size_t i = 0; i < sampleCount; ++i) {
        const double t = static_cast<double>(i / 2) / 22050;
        const double envelope = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 1.3 * t);
        const double tone = std::sin(2 * 3.14159265 * 220 * t) + 0.5 * std::sin(2 * 3.14159265 * 660 * t + (i & 1));
        noise = noise * 1664525u + 1013904223u;
        samples[i] = static_cast<int16_t>(12000 * envelope * tone + static_cast<int>(noise >> 24) - 128);
    }
    return samples;
}

// Every 16-bit value equally likely: the table's worst case for caches.
std::vector<int16_t> Noise() {
    std::vector<int16_t> samples(sampleCount);
    uint32_t state = 2463534242u;
    for (int16_t& s : samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        s = static_cast<int16_t>(state);
    }
    return samples;
}

volatile uint8_t sink;

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    if (argc > 2) sampleCount = size_t{static_cast<unsigned>(std::max(1, std::atoi(argv[2])))} << 20;
    const std::vector<int16_t> voice = VoiceLike(), noise = Noise();
    std::vector<uint8_t> codes(sampleCount, 1), copySource(sampleCount, 3), copyTarget(sampleCount, 2);
    writer::PcmAudio audio{2, 22050, voice, {}};

    std::vector<double> voiceRuns, noiseRuns, entryRuns, copyRuns, freshCopyRuns;
    for (int round = 0; round <= rounds; ++round) {  // round 0 warms up and is dropped
        const double v = Seconds([&] { writer::EncodePwCodes(codes.data(), voice.data(), sampleCount); });
        sink = codes[sampleCount / 2];
        const double n = Seconds([&] { writer::EncodePwCodes(codes.data(), noise.data(), sampleCount); });
        sink = codes[sampleCount / 3];
        const double e = Seconds([&] { sink = writer::EncodePwAudio(audio)[sampleCount / 5]; });
        const double c = Seconds([&] { std::memcpy(copyTarget.data(), copySource.data(), sampleCount); });
        sink = copyTarget[sampleCount / 7];
        const double f = Seconds([&] { sink = std::vector<uint8_t>(copySource)[sampleCount / 5]; });
        if (round == 0) continue;
        voiceRuns.push_back(v);
        noiseRuns.push_back(n);
        entryRuns.push_back(e);
        copyRuns.push_back(c);
        freshCopyRuns.push_back(f);
    }

    // Every code checked once, outside the timing.
    writer::EncodePwCodes(codes.data(), noise.data(), sampleCount);
    for (size_t i = 0; i < sampleCount; i += 4099)
        if (codes[i] != writer::NearestPwCode(noise[i])) {
            std::printf("wrong code at %zu\n", i);
            return 1;
        }

    const double copy = Median(copyRuns);
    std::printf("Audio encoder, %zu M samples, %d interleaved rounds, medians (%d-bit build)\n", sampleCount >> 20,
                rounds, static_cast<int>(8 * sizeof(void*)));
    std::printf("%-42s %9s %10s %14s\n", "", "ms", "MB/s out", "vs memcpy");
    auto row = [&](const char* what, double seconds) {
        std::printf("%-42s %9.2f %10.0f %13.2fx\n", what, seconds * 1e3, sampleCount / seconds / 1e6, copy / seconds);
    };
    row("memcpy of the output", copy);
    row("EncodePwCodes, voice-like stereo", Median(voiceRuns));
    row("EncodePwCodes, uniform noise", Median(noiseRuns));
    row("EncodePwAudio, voice-like (new entry)", Median(entryRuns));
    // A new entry is fresh memory, which the system must map page by page:
    // compare it also with a copy into fresh memory.
    std::printf("%-42s %9.2f %10s %13.2fx\n", "  vs a copy into a new vector", Median(freshCopyRuns) * 1e3, "",
                Median(freshCopyRuns) / Median(entryRuns));
    std::printf("target: encoder >= 0.50x of memcpy\n");
    return 0;
}
